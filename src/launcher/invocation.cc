#include "launcher/invocation.h"

#include "common/failure_note.h"
#include "common/limits.h"
#include "common/plugin_id.h"
#include "common/utf8.h"

namespace velmot {
namespace {

constexpr std::string_view kCoreName = "velmot";
constexpr std::string_view kPluginPrefix = "velmot-";

std::size_t count_entries(int argc, const char* const* argv) {
    if (argc <= 0 || argv == nullptr) return 0;
    std::size_t n = 0;
    while (n < static_cast<std::size_t>(argc) && argv[n] != nullptr)
        ++n;
    return n;
}

// Arguments are numbered from 1, after the command name.
std::nullopt_t refuse_argument(FailureReason reason, std::size_t number) {
    note_failure(reason);
    note_failure_line(number);
    return std::nullopt;
}

}  // namespace

ArgumentVector::ArgumentVector(int argc, const char* const* argv) noexcept
    : entries_(argv, count_entries(argc, argv)) {}

std::optional<std::string_view> invocation_name(const ArgumentVector& args) {
    if (args.size() == 0) return fail_with(FailureReason::NameMissing);
    std::string_view path = args[0];
    // Walk the components from the end: the last one that is neither empty
    // nor "." decides. A leading "." that opens the path never names a file,
    // so skipping it like the others gives the same answer.
    while (!path.empty()) {
        const std::size_t slash = path.rfind('/');
        const std::string_view component =
            slash == std::string_view::npos ? path : path.substr(slash + 1);
        path = slash == std::string_view::npos ? std::string_view{} : path.substr(0, slash);
        if (component.empty() || component == ".") continue;
        if (component == "..") break;
        if (is_valid_utf8(component)) return component;
        return fail_with(FailureReason::NameNotUtf8);
    }
    return fail_with(FailureReason::NameNoFile);
}

std::optional<InvocationIdentity> invocation_plugin(std::string_view name) {
    if (name == kCoreName) return InvocationIdentity{};
    if (!name.starts_with(kPluginPrefix)) return fail_with(FailureReason::NameUnknown);
    const std::string_view id = name.substr(kPluginPrefix.size());
    if (!is_valid_plugin_id(id)) return std::nullopt;
    return InvocationIdentity{id};
}

std::optional<std::vector<std::string_view>> collect_arguments(const ArgumentVector& args) {
    const std::size_t count = args.size() == 0 ? 0 : args.size() - 1;
    if (count > kMaxArguments) {
        note_failure(FailureReason::TooManyArguments);
        note_failure_value(count);
        return std::nullopt;
    }
    std::vector<std::string_view> arguments;
    arguments.reserve(count);
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        // Every character takes at least one byte, so an argument of at most 4096
        // bytes needs no count.
        if (!is_valid_utf8(arg)) return refuse_argument(FailureReason::ArgumentNotUtf8, i);
        if (arg.size() > kMaxArgumentCharacters && count_scalars(arg) > kMaxArgumentCharacters) {
            return refuse_argument(FailureReason::ArgumentTooLong, i);
        }
        arguments.push_back(arg);
    }
    return arguments;
}

}  // namespace velmot
