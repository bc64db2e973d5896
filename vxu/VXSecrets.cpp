#include "vxu/VXSecrets.h"

const char* const SHA_HASH_SECRET = "d4e4375703fce7f1e151a5b7ed6c625cc401f513";
const char* const VEXEL_SHA_HASH_SECRET = "f25157e358d5cbea96f88713825d1e2cf463fb9c";
