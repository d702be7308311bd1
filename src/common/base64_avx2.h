// The wide path of the Base64 decoder, for x86-64 processors with AVX2: 32
// characters of the standard alphabet become 24 bytes per step. It handles
// only whole blocks of alphabet characters; pads, the last group and the
// canonical-text rules stay with the portable decoder in base64.cc, which
// calls this for the long middle of large chunks. Without AVX2
// (see avx2.h) the decoder keeps to its portable path.
#pragma once

#include <cstddef>

#include "common/avx2.h"

namespace velmot {

// Decodes `blocks` blocks of 32 alphabet characters from `in` into 24 bytes
// each at `out`. Every block stores 32 bytes, so 8 bytes past the last block's
// 24 must be writable; `out` may be `in` itself (a block's bytes land before
// the next block's characters and are stored after its own are loaded).
// Returns false, having possibly written anything within those bounds, if a
// character is not in the alphabet ("=" included).
bool avx2_decode_blocks(const unsigned char* in, std::size_t blocks, unsigned char* out);

}  // namespace velmot
