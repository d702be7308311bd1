// What the doctor saw of the bridge's reply before the body: the status line
// and the two headers that tell a bridge's reply from another program's. A
// port left over from a bridge that stopped may now belong to any server; its
// reply breaks the bridge's rules, but the fix is new variables, not a report
// to the host application's developers.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmot::doctor {

struct ReplyHead {
    std::string status_line;  // without its line end; empty until one arrived
    std::optional<std::string> server;
    std::optional<std::string> content_type;
    bool status_seen = false;
};

// Takes the next line of the head, line end included: the first is the
// status line, the rest are headers.
void add_head_line(ReplyHead& head, std::string_view line);

// Why the reply looks like another program's rather than a bridge's: a
// status line that is not HTTP/1.1, a Server header naming a program that is
// no bridge, a Content-Type that frames never come in (HTML and the like),
// each quoted, joined by ", ". Empty when nothing speaks against a bridge.
std::string foreign_evidence(const ReplyHead& head);

}  // namespace velmot::doctor
