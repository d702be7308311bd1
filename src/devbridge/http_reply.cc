#include "devbridge/http_reply.h"

namespace velmot::devbridge {

namespace {

std::string_view reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 413:
            return "Content Too Large";
        case 415:
            return "Unsupported Media Type";
        case 431:
            return "Request Header Fields Too Large";
        case 501:
            return "Not Implemented";
        case 505:
            return "HTTP Version Not Supported";
        default:
            return "Error";
    }
}

}  // namespace

std::string reply_head(int status, std::string_view content_type, std::size_t body_bytes,
                       std::string_view extra_fields) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " ";
    head.append(reason(status)).append("\r\nContent-Type: ").append(content_type);
    head.append("\r\nContent-Length: ").append(std::to_string(body_bytes));
    head.append("\r\nConnection: close\r\n").append(extra_fields).append("\r\n");
    return head;
}

std::string refusal_reply(int status, std::string_view why, std::string_view extra_fields) {
    std::string reply = reply_head(status, "text/plain", why.size() + 1, extra_fields);
    reply.append(why).push_back('\n');
    return reply;
}

}  // namespace velmot::devbridge
