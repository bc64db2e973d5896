// Storage of instruction objects.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_instr_pool.h"

namespace {

// Blocks of every size class and beyond are aligned and apart, and keep
// their bytes while others come and go.
TEST(InstrPoolTest, BlocksAreAlignedApartAndKeepTheirBytes) {
  struct Block {
    unsigned char* p;
    size_t size;
  };
  std::vector<Block> blocks;
  for (size_t i = 0; i < 4000; i++) {
    size_t size = 1 + (i * 7) % 300;  // past the largest class too
    auto* p = static_cast<unsigned char*>(chip_instr_alloc(size));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << size;
    std::memset(p, static_cast<int>(i & 0xff), size);
    blocks.push_back({p, size});
  }
  // Every other block back, then as many again: still nothing overlaps.
  for (size_t i = 0; i < blocks.size(); i += 2) chip_instr_free(blocks[i].p, blocks[i].size);
  for (size_t i = 0; i < blocks.size(); i += 2) {
    blocks[i].p = static_cast<unsigned char*>(chip_instr_alloc(blocks[i].size));
    std::memset(blocks[i].p, static_cast<int>(i & 0xff), blocks[i].size);
  }
  for (size_t i = 0; i < blocks.size(); i++) {
    for (size_t k = 0; k < blocks[i].size; k++) ASSERT_EQ(blocks[i].p[k], i & 0xff) << i;
  }
  for (const Block& b : blocks) chip_instr_free(b.p, b.size);
  chip_instr_free(nullptr, 16);  // ignored
}

// An instruction deleted through its base class goes back to the list of
// its own size, where the next instruction of that size finds it (under
// AddressSanitizer every instruction is a heap block of its own, and a
// wrong size given back is reported there).
TEST(InstrPoolTest, InstructionsGoBackToTheirOwnSizeThroughTheBaseClass) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "instructions are heap blocks under AddressSanitizer";
#endif
  class Small : public Chip_Instr {
   public:
    void execute(Chip_VM*, Chip_VM_Shred*) override {}
  };
  class Large : public Chip_Instr {
   public:
    void execute(Chip_VM*, Chip_VM_Shred*) override {}
    double operands[20] = {};
  };
  Chip_Instr* small = new Small;
  Chip_Instr* large = new Large;
  void* small_at = small;
  void* large_at = large;
  delete small;
  delete large;
  Chip_Instr* large_again = new Large;
  Chip_Instr* small_again = new Small;
  EXPECT_EQ(static_cast<void*>(large_again), large_at);
  EXPECT_EQ(static_cast<void*>(small_again), small_at);
  delete small_again;
  delete large_again;
}

}  // namespace
