// The doctor's --trace: the whole exchange on standard error as it happens,
// the request with the token's value replaced by its length, the reply's
// status line and headers, and one line per frame. Text from the bridge and
// the command line is escaped; the replayed output itself is not touched.
#pragma once

namespace velmot::doctor {

// From now on, the exchange is traced.
void start_trace();

}  // namespace velmot::doctor
