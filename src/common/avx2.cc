#include "common/avx2.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>

namespace velmot {
namespace {

constexpr unsigned kXmmAndYmmState = 0x6;

bool detect_avx2() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    if ((ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0) return false;
    unsigned xcr0 = 0, xcr0_high = 0;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0_high) : "c"(0));
    if ((xcr0 & kXmmAndYmmState) != kXmmAndYmmState) return false;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
    return (ebx & bit_AVX2) != 0;
}

}  // namespace

bool avx2_available() {
    static const bool available = detect_avx2();
    return available;
}

}  // namespace velmot

#else

namespace velmot {

bool avx2_available() {
    return false;
}

}  // namespace velmot

#endif
