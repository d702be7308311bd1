// Reading one HTTP/1.1 request as its bytes arrive, within fixed bounds, so
// that no client can make the bridge hold more than a small head and one
// bounded body: the head (request line and header fields) is at most
// kMaxHeadBytes with at most kMaxHeaderFields fields, and the body, sent
// with Content-Length or chunked, at most kMaxRequestBodyBytes once
// decoded. A request that breaks a rule gets the HTTP status that says so.
//
// The head is read first; the caller decides whether it wants the body
// (`read_body`) or refuses the request on the head alone.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmot::devbridge {

struct HttpHead {
    std::string method;
    std::string target;
    // Names in lower case, values without the white space around them, in
    // the order they came.
    std::vector<std::pair<std::string, std::string>> fields;

    std::size_t count(std::string_view name) const;
    // The value of the first field called `name`, if any.
    std::optional<std::string_view> value(std::string_view name) const;
};

class HttpRequestReader {
  public:
    enum class Step {
        NeedMore,   // everything so far is fine; more bytes are needed
        HeadReady,  // the head is complete: see head()
        BodyReady,  // the body is complete: see body()
        Refused,    // see refusal()
    };

    // Takes the next bytes from the connection. Before the head is complete
    // and while the body is read, returns how far the request has come;
    // between HeadReady and read_body() the bytes are only kept.
    Step take(std::string_view bytes);
    // Starts reading the body by the head's framing, with the bytes already
    // taken after the head.
    Step read_body();

    const HttpHead& head() const { return head_; }
    std::string& body() { return body_; }
    // The HTTP status for a refused request: 400, 413, 415, 431, 501 or 505.
    int refusal() const { return refusal_; }

  private:
    enum class Phase { Head, HeadDone, Length, Chunked, Done };

    Step refuse(int status);
    Step parse_head(std::string_view text);
    Step step_body();
    Step step_chunks();

    Phase phase_ = Phase::Head;
    std::string raw_;
    std::size_t parsed_ = 0;   // bytes of raw_ already read into head_ or body_
    std::size_t wanted_ = 0;   // Length: body bytes still to come
    bool in_trailer_ = false;  // Chunked: past the last chunk
    HttpHead head_;
    std::string body_;
    int refusal_ = 0;
};

}  // namespace velmot::devbridge
