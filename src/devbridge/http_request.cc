#include "devbridge/http_request.h"

#include "devbridge/devbridge_limits.h"

namespace velmot::devbridge {

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kHeadEnd = "\r\n\r\n";

bool is_token_byte(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool is_token(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (!is_token_byte(c)) return false;
    }
    return true;
}

// Field values may hold visible bytes, spaces, tabs and any byte from 0x80.
bool is_field_value(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t') || byte == 0x7F) return false;
    }
    return true;
}

std::string_view trim_blanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string lower(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

// Splits off the text before the first `separator`; empty when there is none.
std::string_view take_until(std::string_view& text, char separator) {
    const std::size_t at = text.find(separator);
    if (at == std::string_view::npos) return {};
    const std::string_view before = text.substr(0, at);
    text.remove_prefix(at + 1);
    return before;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A number of digits in `base` (10 or 16), nothing else; values above `cap`
// come back as cap + 1, so that no length can overflow.
std::optional<std::size_t> bounded_number(std::string_view digits, int base, std::size_t cap) {
    if (digits.empty()) return std::nullopt;
    std::size_t value = 0;
    for (const char c : digits) {
        const int digit = base == 16 ? hex_digit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (digit < 0) return std::nullopt;
        value = value * static_cast<std::size_t>(base) + static_cast<std::size_t>(digit);
        if (value > cap) value = cap + 1;
    }
    return value;
}

}  // namespace

std::size_t HttpHead::count(std::string_view name) const {
    std::size_t n = 0;
    for (const auto& field : fields)
        n += field.first == name ? 1 : 0;
    return n;
}

std::optional<std::string_view> HttpHead::value(std::string_view name) const {
    for (const auto& field : fields) {
        if (field.first == name) return field.second;
    }
    return std::nullopt;
}

HttpRequestReader::Step HttpRequestReader::refuse(int status) {
    refusal_ = status;
    phase_ = Phase::Done;
    raw_.clear();
    raw_.shrink_to_fit();
    return Step::Refused;
}

HttpRequestReader::Step HttpRequestReader::take(std::string_view bytes) {
    if (refusal_ != 0) return Step::Refused;
    switch (phase_) {
        case Phase::Head: {
            const std::size_t from = raw_.size() < 3 ? 0 : raw_.size() - 3;
            raw_.append(bytes);
            const std::size_t end = raw_.find(kHeadEnd, from);
            if (end == std::string::npos) {
                return raw_.size() > kMaxHeadBytes ? refuse(431) : Step::NeedMore;
            }
            if (end > kMaxHeadBytes) return refuse(431);
            if (parse_head(std::string_view(raw_).substr(0, end)) == Step::Refused) {
                return Step::Refused;
            }
            raw_.erase(0, end + kHeadEnd.size());
            phase_ = Phase::HeadDone;
            return Step::HeadReady;
        }
        case Phase::HeadDone:
        case Phase::Chunked:
            raw_.append(bytes);
            return phase_ == Phase::Chunked ? step_chunks() : Step::NeedMore;
        case Phase::Length: {
            const std::size_t used = bytes.size() < wanted_ ? bytes.size() : wanted_;
            body_.append(bytes.substr(0, used));
            wanted_ -= used;
            if (wanted_ > 0) return Step::NeedMore;
            phase_ = Phase::Done;
            return Step::BodyReady;
        }
        case Phase::Done:
            break;
    }
    return Step::BodyReady;
}

HttpRequestReader::Step HttpRequestReader::parse_head(std::string_view text) {
    std::string_view line = text.substr(0, text.find(kLineEnd));
    text.remove_prefix(line.size() < text.size() ? line.size() + kLineEnd.size() : text.size());
    head_.method = std::string(take_until(line, ' '));
    head_.target = std::string(take_until(line, ' '));
    if (!is_token(head_.method) || head_.target.empty() || line.find(' ') != line.npos) {
        return refuse(400);
    }
    if (line != "HTTP/1.1") return refuse(line.substr(0, 5) == "HTTP/" ? 505 : 400);
    while (!text.empty()) {
        line = text.substr(0, text.find(kLineEnd));
        text.remove_prefix(line.size() < text.size() ? line.size() + kLineEnd.size() : text.size());
        if (head_.fields.size() == kMaxHeaderFields) return refuse(431);
        const std::string_view name = take_until(line, ':');
        const std::string_view value = trim_blanks(line);
        if (!is_token(name) || !is_field_value(value)) return refuse(400);
        head_.fields.emplace_back(lower(name), value);
    }
    return Step::HeadReady;
}

HttpRequestReader::Step HttpRequestReader::read_body() {
    if (refusal_ != 0) return Step::Refused;
    if (head_.count("content-encoding") > 0) return refuse(415);
    const std::size_t lengths = head_.count("content-length");
    const std::size_t encodings = head_.count("transfer-encoding");
    if (encodings > 0) {
        if (lengths > 0) return refuse(400);
        if (encodings > 1 || lower(*head_.value("transfer-encoding")) != "chunked") {
            return refuse(501);
        }
        phase_ = Phase::Chunked;
        return step_chunks();
    }
    if (lengths > 1) return refuse(400);
    const auto length =
        lengths == 0 ? std::optional<std::size_t>(0)
                     : bounded_number(*head_.value("content-length"), 10, kMaxRequestBodyBytes);
    if (!length) return refuse(400);
    if (*length > kMaxRequestBodyBytes) return refuse(413);
    wanted_ = *length;
    body_.reserve(wanted_);
    phase_ = Phase::Length;
    std::string early = std::move(raw_);
    raw_ = std::string();
    return take(early);
}

// Chunks are decoded into the body as soon as each is complete, and the
// bytes they took are dropped, so the undecoded rest never holds more than
// one chunk's line and data.
HttpRequestReader::Step HttpRequestReader::step_chunks() {
    for (;;) {
        const std::size_t line_end = raw_.find(kLineEnd, parsed_);
        if (line_end == std::string::npos) {
            const bool too_long = raw_.size() - parsed_ > kMaxChunkLineBytes;
            return too_long ? refuse(in_trailer_ ? 431 : 400) : Step::NeedMore;
        }
        if (in_trailer_) {
            if (line_end == parsed_) {
                phase_ = Phase::Done;
                raw_.clear();
                return Step::BodyReady;
            }
            parsed_ = line_end + kLineEnd.size();
            if (parsed_ > kMaxHeadBytes) return refuse(431);
            continue;
        }
        std::string_view size_line = std::string_view(raw_).substr(parsed_, line_end - parsed_);
        size_line = trim_blanks(size_line.substr(0, size_line.find(';')));
        const auto size = bounded_number(size_line, 16, kMaxRequestBodyBytes);
        if (!size || line_end - parsed_ > kMaxChunkLineBytes) return refuse(400);
        if (body_.size() + *size > kMaxRequestBodyBytes) return refuse(413);
        const std::size_t data = line_end + kLineEnd.size();
        if (*size == 0) {
            in_trailer_ = true;
            parsed_ = data;
            continue;
        }
        if (raw_.size() < data + *size + kLineEnd.size()) return Step::NeedMore;
        if (std::string_view(raw_).substr(data + *size, kLineEnd.size()) != kLineEnd) {
            return refuse(400);
        }
        body_.append(raw_, data, *size);
        raw_.erase(0, data + *size + kLineEnd.size());
        parsed_ = 0;
    }
}

}  // namespace velmot::devbridge
