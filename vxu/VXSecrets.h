// The shared secrets of the request signatures: 40 lowercase hexadecimal
// digits each, known to the web service. SHA_HASH_SECRET signs the
// dictionary uploads (statistics, the instrument's uploads);
// VEXEL_SHA_HASH_SECRET signs sign-in and sign-out. They are only ever
// digested: nothing prints, logs or mails them.
#ifndef VXU_VXSECRETS_H
#define VXU_VXSECRETS_H

extern const char* const SHA_HASH_SECRET;
extern const char* const VEXEL_SHA_HASH_SECRET;

#endif
