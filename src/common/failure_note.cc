#include "common/failure_note.h"

namespace velmot {
namespace {

// One record per thread: the launcher has one thread and one failure at a
// time, but the development bridge validates plug-in ids on several worker
// threads at once through the same code, and each must see only its own
// failure. Constant-initialized and trivially destructible, so no thread pays
// for it before it fails; the initial-exec model makes every access one
// thread-pointer-relative load or store, with no call to look the record up.
[[gnu::tls_model("initial-exec")]] constinit thread_local FailureNote g_note{};

bool noted() noexcept {
    return g_note.reason != FailureReason::None;
}

}  // namespace

void note_failure(FailureReason reason) noexcept {
    if (!noted()) g_note.reason = reason;
}

void note_failure_at(FailureReason reason, std::uint64_t offset) noexcept {
    if (noted()) return;
    g_note.reason = reason;
    g_note.offset = offset;
}

void note_failure_step(FailureStep step) noexcept {
    if (noted() && g_note.step == FailureStep::Unknown) g_note.step = step;
}

void note_failure_line(std::uint64_t line) noexcept {
    if (noted() && g_note.line == kNoPosition) g_note.line = line;
}

void note_failure_value(std::uint64_t value) noexcept {
    if (noted() && g_note.value == kNoPosition) g_note.value = value;
}

void note_failure_member(std::string_view member) noexcept {
    if (noted() && g_note.member.empty()) g_note.member = member;
}

const FailureNote& failure_note() noexcept {
    return g_note;
}

void clear_failure_note() noexcept {
    g_note = FailureNote{};
}

}  // namespace velmot
