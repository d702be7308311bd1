// Fuzzes the invocation's identity and arguments. The input is split at NUL
// bytes into an argument vector (argv[0] first), which goes through
// `invocation_name`, `invocation_plugin` and `collect_arguments` as in a run.
// Every verdict is checked against a plain re-reading of the rules: the file
// name of argv[0], the plug-in id's characters and length, the argument
// count, UTF-8 validity and the character limit. The UTF-8 helpers the rules
// rest on are held against a byte-by-byte validator on every entry.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/limits.h"
#include "common/utf8.h"
#include "fuzz_check.h"
#include "launcher/invocation.h"
#include "reference_utf8.h"

namespace {

using velmot::fuzz::check;
using velmot::fuzz::reference_is_utf8;
using velmot::fuzz::reference_scalars;

// The last component that is neither empty nor "."; none for "..".
std::optional<std::string_view> expected_name(std::string_view path) {
    std::optional<std::string_view> last;
    while (!path.empty()) {
        const std::size_t slash = std::min(path.find('/'), path.size());
        const std::string_view component = path.substr(0, slash);
        path.remove_prefix(std::min(slash + 1, path.size()));
        if (!component.empty() && component != ".") last = component;
    }
    if (!last || *last == ".." || !reference_is_utf8(*last)) return std::nullopt;
    return last;
}

bool id_start(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}
bool id_char(char c) {
    return id_start(c) || c == '.' || c == '_' || c == '-';
}

// nullopt: refused; an empty optional inside: the core.
std::optional<std::optional<std::string_view>> expected_identity(std::string_view name) {
    if (name == "velmot") return std::optional<std::string_view>{};
    if (!name.starts_with("velmot-")) return std::nullopt;
    const std::string_view id = name.substr(7);
    if (id == "plugin-cli-client" || id.empty() || id.size() > velmot::kMaxPluginIdBytes) {
        return std::nullopt;
    }
    if (!id_start(id[0]) || !std::all_of(id.begin(), id.end(), id_char)) return std::nullopt;
    return std::optional<std::string_view>{id};
}

bool expected_arguments_pass(const std::vector<std::string>& entries) {
    if (entries.size() > velmot::kMaxArguments + 1) return false;
    return std::all_of(entries.begin() + 1, entries.end(), [](const std::string& entry) {
        return reference_is_utf8(entry) &&
               reference_scalars(entry) <= velmot::kMaxArgumentCharacters;
    });
}

void check_utf8(std::string_view entry) {
    const bool valid = velmot::is_valid_utf8(entry);
    check(valid == reference_is_utf8(entry), "UTF-8 validity matches");
    if (valid) check(velmot::count_scalars(entry) == reference_scalars(entry), "scalar count");
    for (std::size_t i = 0; i < entry.size(); ++i) {
        check(velmot::utf8_sequence_length(entry.substr(i)) ==
                  velmot::fuzz::reference_sequence_length(entry.substr(i)),
              "sequence length matches");
    }
}

void check_identity(const velmot::ArgumentVector& args, const std::vector<std::string>& entries) {
    const std::optional<std::string_view> name = velmot::invocation_name(args);
    const std::optional<std::string_view> want_name = expected_name(entries[0]);
    check(name == want_name, "invocation name matches the last path component");
    if (!name) return;
    const std::optional<velmot::InvocationIdentity> identity = velmot::invocation_plugin(*name);
    const auto want = expected_identity(*name);
    check(identity.has_value() == want.has_value(), "identity verdict matches");
    if (identity) check(identity->plugin_id == *want, "plug-in id matches");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> entries;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    for (;;) {
        const std::size_t nul = rest.find('\0');
        entries.emplace_back(rest.substr(0, nul));
        if (nul == std::string_view::npos) break;
        rest.remove_prefix(nul + 1);
    }
    std::vector<const char*> argv;
    for (const std::string& entry : entries)
        argv.push_back(entry.c_str());
    argv.push_back(nullptr);
    const velmot::ArgumentVector args(static_cast<int>(entries.size()), argv.data());

    for (const std::string& entry : entries)
        check_utf8(entry);
    check_identity(args, entries);
    const auto arguments = velmot::collect_arguments(args);
    check(arguments.has_value() == expected_arguments_pass(entries), "argument verdict matches");
    if (!arguments) return 0;
    check(arguments->size() == entries.size() - 1, "every argument is forwarded");
    for (std::size_t i = 0; i < arguments->size(); ++i) {
        check((*arguments)[i] == entries[i + 1], "arguments are forwarded unchanged");
    }
    return 0;
}
