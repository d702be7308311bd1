// Base64 decoding of output chunks: the largest chunk a frame may carry
// (65,536 bytes, 87,384 characters of text) and a typical short line.
// Throughput is counted in bytes of Base64 text.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "common/base64.h"
#include "common/base64_encode.h"

namespace {

std::string encode(const std::string& bytes) {
    return velmot::base64_encode(bytes);
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
