// Frame decoding: an Output frame line carrying the largest chunk (65,536
// bytes, 87,384 characters of Base64 text), counted in bytes of line text;
// short terminal and output lines; the same long line through an independent JSON parser for
// comparison, when it is installed; and the heap a 12 MiB line costs on top of the line itself,
// counted by the allocation hooks below.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <random>
#include <string>

#include "bridge/bridge_frame.h"
#include "common/base64_encode.h"
#include "common/limits.h"

#if defined(VELMOT_BENCH_WITH_BOOST_JSON)
#include <boost/json.hpp>
#endif

#if defined(__GLIBC__)
#include <malloc.h>

// Live and peak heap bytes of the whole benchmark binary, as the allocator
// sizes the blocks. Only the peak benchmark reads them.
namespace {
std::atomic<std::size_t> g_live_bytes{0};
std::atomic<std::size_t> g_peak_bytes{0};

void count_allocation(void* p) {
    const std::size_t live =
        g_live_bytes.fetch_add(malloc_usable_size(p), std::memory_order_relaxed) +
        malloc_usable_size(p);
    std::size_t peak = g_peak_bytes.load(std::memory_order_relaxed);
    while (live > peak && !g_peak_bytes.compare_exchange_weak(peak, live)) {
    }
}
}  // namespace

// Kept out of line: inlined, one compiler mistakes the malloc/free pairing
// inside them for a mismatch with the callers' new and delete.
[[gnu::noinline]] void* operator new(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    count_allocation(p);
    return p;
}

[[gnu::noinline]] void operator delete(void* p) noexcept {
    if (p == nullptr) return;
    g_live_bytes.fetch_sub(malloc_usable_size(p), std::memory_order_relaxed);
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}
#endif

namespace {

std::string base64_of_random_bytes(std::size_t size) {
    std::mt19937 rng(7);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(rng() & 0xFF);
    return velmot::base64_encode(bytes);
}

std::string output_line(const std::string& base64) {
    return R"({"kind":"plugin_cli_output","protocol_version":1,"channel":"stdout","bytes_base64":")" +
           base64 + "\"}";
}

// The lines below hold no escapes, so decoding leaves them as they were and
// the same line can be decoded again and again.
void BM_FrameDecodeLargestChunk(benchmark::State& state) {
    std::string line = output_line(base64_of_random_bytes(velmot::kMaxChunkBytes));
    for (auto _ : state) {
        auto frame = velmot::decode_frame(line);
        benchmark::DoNotOptimize(frame);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
    state.counters["line_bytes"] = static_cast<double>(line.size());
}
BENCHMARK(BM_FrameDecodeLargestChunk);

void BM_FrameDecodeShortLine(benchmark::State& state) {
    // A terminal frame, and an output frame of one short line of text.
    std::string line = state.range(0) == 0
                           ? R"({"kind":"plugin_cli_terminal","protocol_version":1,"exit_code":0})"
                           : output_line(base64_of_random_bytes(28));
    for (auto _ : state) {
        auto frame = velmot::decode_frame(line);
        benchmark::DoNotOptimize(frame);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_FrameDecodeShortLine)->Arg(0)->Arg(1);

#if defined(VELMOT_BENCH_WITH_BOOST_JSON)
void BM_FrameOtherParserLargestChunk(benchmark::State& state) {
    const std::string line = output_line(base64_of_random_bytes(velmot::kMaxChunkBytes));
    for (auto _ : state) {
        auto value = boost::json::parse(line);
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_FrameOtherParserLargestChunk);
#endif

#if defined(__GLIBC__)
// The heap one decode takes beyond the line it reads, for the longest line
// a body can hold: the goal is one copy of the text plus a small constant.
void BM_FramePeakHeapLongestLine(benchmark::State& state) {
    const bool escaped = state.range(0) != 0;
    // A body of one line: the line, its line feed, nothing else.
    const std::size_t budget = velmot::kMaxContentLength - 1 - output_line("").size();
    std::string base64 = base64_of_random_bytes(budget / 4 * 3);
    if (escaped) {  // every solidus written as "\/", as some writers do
        std::string with_escapes;
        for (const char c : base64) {
            if (c == '/') with_escapes += '\\';
            with_escapes += c;
        }
        with_escapes.resize(budget);
        if (with_escapes.back() == '\\') with_escapes.pop_back();
        base64 = std::move(with_escapes);
    }
    const std::string line = output_line(base64);
    // Decoding writes escaped strings over themselves: each round decodes a
    // fresh copy, made before the count starts.
    std::string copy = line;
    if (!velmot::decode_frame(copy)) state.SkipWithError("the line does not decode");
    std::size_t extra = 0;
    for (auto _ : state) {
        copy = line;
        const std::size_t before = g_live_bytes.load();
        g_peak_bytes.store(before);
        auto frame = velmot::decode_frame(copy);
        extra = g_peak_bytes.load() - before;
        benchmark::DoNotOptimize(frame);
    }
    state.counters["line_bytes"] = static_cast<double>(line.size());
    state.counters["peak_extra_heap_bytes"] = static_cast<double>(extra);
    state.counters["extra_per_line_byte"] =
        static_cast<double>(extra) / static_cast<double>(line.size());
}
BENCHMARK(BM_FramePeakHeapLongestLine)->Arg(0)->Arg(1)->Iterations(3);
#endif

}  // namespace
