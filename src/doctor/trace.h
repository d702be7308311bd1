// The doctor's view of the exchange as it happens: the reply's head is kept,
// so that the explanation can tell a bridge's reply from another program's,
// and with --trace the whole exchange goes to standard error: the request
// with the token's value replaced by its length, the reply's status line and
// headers, and one line per frame. Text from the bridge and the command line
// is escaped; the replayed output itself is not touched.
#pragma once

#include "doctor/reply_head.h"

namespace velmot::doctor {

// From now on, the reply's head is kept, and with `trace` the exchange is
// printed.
void watch_reply(bool trace);

// The head of the reply watched so far; empty before one arrives.
const ReplyHead& reply_head();

}  // namespace velmot::doctor
