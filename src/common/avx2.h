// Whether this processor runs the launcher's AVX2 paths: the long middle of
// large Base64 chunks and long runs of the byte scan. The processor (and
// whether the system saves the wide registers) is asked once, on first use,
// never at start-up. Always false on other architectures.
#pragma once

namespace velmot {

bool avx2_available();

}  // namespace velmot
