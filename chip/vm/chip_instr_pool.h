// Storage of instruction objects.
//
// Compiling a program makes a few small instruction objects per line, and
// releasing its code deletes them again; through the general heap each of
// them costs as much as emitting it. Instructions therefore take their
// storage from free lists of their own, one per size class of 16 bytes up to
// 256 bytes (larger ones go to the general heap). A list is refilled by
// cutting a chunk into blocks of its class; freed blocks go back to their
// list and serve the next instruction of that size, so the storage held is
// that of the most instructions alive at once, and compiling again and
// again does not grow it. The lists are shared by every thread under a spin
// lock (compiling and releasing code rarely overlap). AddressSanitizer builds
// use the general heap, so that a use of a deleted instruction is caught.
#ifndef CHIP_CHIP_INSTR_POOL_H
#define CHIP_CHIP_INSTR_POOL_H

#include <cstddef>

// Storage for an instruction of `size` bytes, aligned for any operand.
void* chip_instr_alloc(size_t size);
// Gives back what chip_instr_alloc(size) returned (null is ignored).
void chip_instr_free(void* block, size_t size);

#endif
