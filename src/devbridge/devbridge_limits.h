// Fixed limits and statuses of the development bridge. The wire limits it
// shares with the launcher (body size, chunk size, argument limits) live in
// common/limits.h; these are the bridge's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velmot::devbridge {

// The one path the bridge serves; the endpoint it advertises ends in it.
inline constexpr std::string_view kEndpointPath = "/plugin-cli";

// Requests handled at once (each runs a command), and connections the
// bridge holds in all: being read, waiting for a handler or being handled.
// Beyond that, clients wait in the kernel's listen queue.
inline constexpr std::size_t kMaxConcurrentRequests = 16;
inline constexpr std::size_t kMaxOpenConnections = 256;

// A request's head (request line and header fields) and the number of its
// header fields, and the line that announces one chunk of a chunked body.
inline constexpr std::size_t kMaxHeadBytes = 16 * 1024;
inline constexpr std::size_t kMaxHeaderFields = 100;
inline constexpr std::size_t kMaxChunkLineBytes = 1024;

// A request body larger than this is refused before it is parsed. The
// launcher's largest body, 64 arguments of 4096 characters each written in
// at most six bytes (a control character's escape), is about 1.5 MiB.
inline constexpr std::size_t kMaxRequestBodyBytes = 2 * 1024 * 1024;

// Time a whole request, head and body, may take to arrive from the moment
// its connection is accepted, and a single send of the response may block
// (a launcher whose output is held by a pager reads slowly).
inline constexpr int kRequestArrivalMs = 5'000;
// A connection that has sent nothing this long after it was accepted is
// closed: a launcher sends its request as soon as it is connected.
inline constexpr int kFirstByteMs = 1'000;
// A reply must be over within kReplyStallMs of its start plus the time its
// bytes sent so far take at kMinReplyBytesPerSecond: a launcher whose output
// goes to a pager may read slowly, but one that stops reading is dropped.
inline constexpr int kReplyStallMs = 60'000;
inline constexpr std::size_t kMinReplyBytesPerSecond = 64 * 1024;

// When a command's client has gone, the command's process group gets
// SIGTERM and this long before SIGKILL.
inline constexpr int kAbandonGraceMs = 1'000;
// Once a command itself has ended, what it left running may hold its
// output pipes open; they are read this much longer, then closed.
inline constexpr int kPipeGraceMs = 500;

// Room kept free at the end of the body for the frame that closes it: a
// failure frame's code and message are cut to these lengths, so that even
// a message escaped to six bytes a character fits.
inline constexpr std::size_t kMaxFailureCodeBytes = 64;
inline constexpr std::size_t kMaxFailureMessageBytes = 256;
inline constexpr std::size_t kClosingFrameReserve = 2'048;

// On shutdown, running commands get SIGTERM and this long to end before
// they are killed; replies still being sent then have kStopFlushMs more,
// but never past the stop's deadline, counted from its start.
inline constexpr int kShutdownGraceMs = 3'000;
inline constexpr int kStopDeadlineMs = 4'500;
inline constexpr int kStopFlushMs = 1'000;

// Buffers from this size on get memory of their own from the system, which
// goes back to it when they are freed.
inline constexpr int kLargeBufferBytes = 256 * 1024;

// Random bytes in an access token; the token is their hexadecimal text.
inline constexpr std::size_t kTokenBytes = 32;

// Exit statuses the bridge reports for commands that did not run to their
// own end, following the shell's conventions.
inline constexpr std::uint8_t kStatusBridgeFailure = 125;
inline constexpr std::uint8_t kStatusNotExecutable = 126;
inline constexpr std::uint8_t kStatusNotFound = 127;
// A command ended by a signal reports 128 plus the signal's number.
inline constexpr int kSignalStatusBase = 128;

}  // namespace velmot::devbridge
