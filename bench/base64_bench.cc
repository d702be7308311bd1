// Base64 decoding of output chunks: the largest chunk a frame may carry
// (65,536 bytes, 87,384 characters of text) and a typical short line.
// Throughput is counted in bytes of Base64 text.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "common/base64.h"

namespace {

std::string encode(const std::string& bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t bits = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            const auto byte = k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u;
            bits = bits << 8 | byte;
        }
        for (std::size_t k = 0; k < 4; ++k) {
            text += k <= n ? kAlphabet[(bits >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return text;
}

std::string random_bytes(std::size_t size) {
    std::mt19937 rng(42);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(rng() & 0xFF);
    return bytes;
}

// Decoding happens in the text's own storage, so each iteration first copies
// the text into a buffer that stays allocated; the copy is part of the time.
void BM_Base64Decode(benchmark::State& state) {
    const std::string text = encode(random_bytes(static_cast<std::size_t>(state.range(0))));
    std::string work = text;
    for (auto _ : state) {
        std::memcpy(work.data(), text.data(), text.size());
        auto decoded = velmot::base64_decode_in_place(work);
        benchmark::DoNotOptimize(decoded);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Base64Decode)->Arg(60)->Arg(65'536);

}  // namespace
