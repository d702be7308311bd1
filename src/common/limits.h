// Every fixed limit of the launcher and its bridge protocol, in one place.
// They are constants, never configuration.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmot {

// The one protocol version the launcher speaks, sent in every request and
// required in every frame.
inline constexpr std::uint8_t kProtocolVersion = 1;

// Forwarded arguments.
inline constexpr std::size_t kMaxArguments = 64;
inline constexpr std::size_t kMaxArgumentCharacters = 4096;

// Plug-in ids, the part of the invocation name after "velmot-".
inline constexpr std::size_t kMaxPluginIdBytes = 128;

// Connection time limits, in milliseconds.
inline constexpr int kConnectTimeoutMs = 3'000;
inline constexpr int kReceiveTimeoutMs = 300'000;
inline constexpr int kSendTimeoutMs = 10'000;

// The request body buffer starts this large and grows as needed.
inline constexpr std::size_t kRequestBodyInitialCapacity = 128;

// The response: the most one receive asks for, and the largest body.
inline constexpr std::size_t kReadBufferBytes = 8'192;
inline constexpr std::uint64_t kMaxContentLength = 12ull * 1024 * 1024;

// Bounds on the status line and header section, so that a misbehaving bridge
// cannot make the launcher hold unbounded memory before the body starts.
inline constexpr std::size_t kMaxHeadLineBytes = 65'536;
inline constexpr std::size_t kMaxHeaderLines = 1'024;

// Frames.
inline constexpr std::size_t kMaxFrameNesting = 127;
inline constexpr std::size_t kMaxChunkBytes = 65'536;

// Standard output is line-buffered through a buffer of this size.
inline constexpr std::size_t kStdoutBufferBytes = 1'024;

}  // namespace velmot
