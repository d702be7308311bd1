// The response reader on a socket pair whose writing end the test controls.
// With a packet socket every piece arrives in a receive of its own, so the
// tests choose exactly where the reply is cut between receives: inside a
// UTF-8 sequence, between CR and LF, between the header section and the
// body. The replies carry terminal frames only, which write nothing.

#include "bridge/response_reader.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "common/failure_note.h"
#include "common/limits.h"
#include "common/unique_fd.h"

namespace velmot {
namespace {

enum class Transport { Packets, Stream };
// Reset: the writing end is closed with a byte of the reader's still unread
// there, which makes the reader's next receive fail once it has taken
// everything sent.
enum class AfterReply { Close, KeepOpen, Reset };

// Hands `pieces` to `read_response`, each as one packet (at most one read
// buffer long) or all as one stream. A reader that waits for more than it
// was sent fails after a few seconds instead of hanging.
InvocationResult read_reply(const std::vector<std::string>& pieces,
                            Transport transport = Transport::Packets,
                            AfterReply after = AfterReply::Close) {
    int fds[2];
    const int type = transport == Transport::Packets ? SOCK_SEQPACKET : SOCK_STREAM;
    EXPECT_EQ(::socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, fds), 0);
    UniqueFd reader_end(fds[0]);
    UniqueFd writer_end(fds[1]);
    const timeval limit{5, 0};
    EXPECT_EQ(::setsockopt(reader_end.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit), 0);
    if (after == AfterReply::Reset) {
        EXPECT_EQ(::send(reader_end.get(), "?", 1, MSG_NOSIGNAL), 1);
    }
    std::thread writer([&] {
        for (const std::string& piece : pieces) {
            if (transport == Transport::Packets) {
                EXPECT_LE(piece.size(), kReadBufferBytes);
            }
            std::string_view left = piece;
            while (!left.empty()) {
                const ssize_t sent =
                    ::send(writer_end.get(), left.data(), left.size(), MSG_NOSIGNAL);
                if (sent <= 0) return;  // the reader has finished early
                left.remove_prefix(static_cast<std::size_t>(sent));
            }
        }
        if (after == AfterReply::Close) ::shutdown(writer_end.get(), SHUT_WR);
        if (after == AfterReply::Reset) writer_end.reset();
    });
    const InvocationResult result = read_response(reader_end.get());
    reader_end.reset();
    writer.join();
    return result;
}

const std::string kTerminal5 =
    "{\"kind\":\"plugin_cli_terminal\",\"protocol_version\":1,\"exit_code\":5}";

std::string reply(std::string_view status_line, std::string_view headers, std::string_view body) {
    return std::string(status_line) + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n" + std::string(headers) + "\r\n" + std::string(body);
}

// Multi-byte characters in the reason phrase, in an ignored header, around
// the Content-Length value and after the frame, so every kind of cut lands
// inside some sequence.
const std::string kRichReply =
    reply("HTTP/1.1 200 \xc3\x9c\xe2\x82\xac\xf0\x9f\x98\x80", "X-Note: \xe2\x80\x83\xc3\xa9\r\n",
          kTerminal5 + "\xe3\x80\x80\xc2\x85\r\n");

TEST(ResponseReader, AnyCutBetweenTwoReceivesReadsTheSame) {
    for (std::size_t cut = 1; cut < kRichReply.size(); ++cut) {
        SCOPED_TRACE(cut);
        EXPECT_EQ(read_reply({kRichReply.substr(0, cut), kRichReply.substr(cut)}), 5);
    }
}

TEST(ResponseReader, OneByteReceivesReadTheSame) {
    std::vector<std::string> bytes;
    for (const char c : kRichReply)
        bytes.emplace_back(1, c);
    EXPECT_EQ(read_reply(bytes), 5);
}

TEST(ResponseReader, InvalidUtf8FailsWhereverItIsCut) {
    // An encoded surrogate: three bytes that each look acceptable alone.
    const std::string bad = reply("HTTP/1.1 200 OK", "X-Note: \xed\xa0\x80\r\n", kTerminal5 + "\n");
    for (std::size_t cut = 1; cut < bad.size(); ++cut) {
        SCOPED_TRACE(cut);
        EXPECT_EQ(read_reply({bad.substr(0, cut), bad.substr(cut)}), std::nullopt);
    }
}

TEST(ResponseReader, SequenceCutShortAtLineEndFails) {
    EXPECT_EQ(read_reply({reply("HTTP/1.1 200 OK", "", kTerminal5 + "\xe2\x82\n")}), std::nullopt);
    EXPECT_EQ(read_reply({reply("HTTP/1.1 200 \xe2\x82", "", kTerminal5 + "\n")}), std::nullopt);
}

// The body ends at Content-Length: nothing more is received, so a bridge
// that keeps the connection open is not waited for, and bytes beyond the
// length that are still to come are never read.
TEST(ResponseReader, BodyEndsWithoutWaitingForTheBridge) {
    const std::string whole = reply("HTTP/1.1 200 OK", "", kTerminal5 + "\n");
    EXPECT_EQ(read_reply({whole}, Transport::Packets, AfterReply::KeepOpen), 5);
    EXPECT_EQ(read_reply({whole, "more"}, Transport::Packets, AfterReply::KeepOpen), 5);
    const std::string empty_body = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
    EXPECT_EQ(read_reply({empty_body}, Transport::Packets, AfterReply::KeepOpen), std::nullopt);
}

// A status line or header line may be 65,536 bytes long, line feed included,
// and the header section may hold 1,024 lines; one byte or one line more
// fails the run.
TEST(ResponseReader, HeadLineAndHeaderCountBounds) {
    const auto padded = [](std::string line, std::size_t size) {
        line.append(size - line.size() - 2, 'p');
        return line + "\r\n";
    };
    const std::string body = kTerminal5 + "\n";
    const std::string length = "Content-Length: " + std::to_string(body.size()) + "\r\n";
    for (const std::size_t extra : {0, 1}) {
        SCOPED_TRACE(extra);
        const InvocationResult expected = extra == 0 ? InvocationResult(5) : std::nullopt;
        const std::string status = padded("HTTP/1.1 200 OK ", kMaxHeadLineBytes + extra);
        EXPECT_EQ(read_reply({status + length + "\r\n" + body}, Transport::Stream), expected);
        const std::string header = padded("X-Long: ", kMaxHeadLineBytes + extra);
        EXPECT_EQ(read_reply({"HTTP/1.1 200 OK\r\n" + header + length + "\r\n" + body},
                             Transport::Stream),
                  expected);
        std::string headers = length;
        for (std::size_t i = 1; i < kMaxHeaderLines + extra; ++i)
            headers += "X-Many: 1\r\n";
        EXPECT_EQ(read_reply({"HTTP/1.1 200 OK\r\n" + headers + "\r\n" + body}, Transport::Stream),
                  expected);
    }
}

// A receive that fails inside a body line fails the run for the bytes so far
// if they are not UTF-8, whether the line has grown beyond the reader's
// first storage or not, and for the receive otherwise.
TEST(ResponseReader, ReceiveFailingInsideALineNamesBytesThatAreNotUtf8) {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 99999\r\n\r\n";
    for (const std::size_t before : {10, 20'000, 40'000}) {
        for (const bool valid : {true, false}) {
            SCOPED_TRACE(before);
            clear_failure_note();
            const std::string line =
                "[\"x" + std::string(before, 'a') + (valid ? "\xc3\xa9" : "\xff") + "a";
            EXPECT_EQ(read_reply({head + line}, Transport::Stream, AfterReply::Reset),
                      std::nullopt);
            EXPECT_EQ(failure_note().reason,
                      valid ? FailureReason::ReceiveFailed : FailureReason::NotUtf8);
        }
    }
    clear_failure_note();
}

// A line of the largest body, read across many receives, with a two-byte
// character straddling receive boundaries throughout.
TEST(ResponseReader, LongestLineIsReadWhole) {
    std::string line = kTerminal5.substr(0, kTerminal5.size() - 1) + ",\"pad\":\"x";
    const std::size_t pad_end = kMaxContentLength - 3;
    while (line.size() + 2 <= pad_end)
        line += "\xc3\xa9";
    while (line.size() < pad_end)
        line += 'x';
    line += "\"}\n";
    ASSERT_EQ(line.size(), kMaxContentLength);
    const std::string whole = reply("HTTP/1.1 200 OK", "", line);
    EXPECT_EQ(read_reply({whole}, Transport::Stream), 5);
    std::string broken = whole;
    broken[broken.size() - 1000] = '\xc3';
    EXPECT_EQ(read_reply({broken}, Transport::Stream), std::nullopt);
}

}  // namespace
}  // namespace velmot
