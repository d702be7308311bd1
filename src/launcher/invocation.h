// What the launcher forwards: the invocation's identity, decided by the file
// name it was started under ("velmot" for the core, "velmot-<plugin id>" for a
// plug-in), and the arguments after argv[0], unchanged.
//
// Everything returned here is a view into the process's argument vector,
// which lives, unmodified, for the whole run.
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace velmot {

// The process's argument vector as given to main: at most argc entries,
// ending early at the first null entry.
class ArgumentVector {
  public:
    ArgumentVector(int argc, const char* const* argv) noexcept;
    std::size_t size() const noexcept { return entries_.size(); }
    std::string_view operator[](std::size_t i) const noexcept { return entries_[i]; }

  private:
    std::span<const char* const> entries_;
};

// Core invocations have no plug-in id.
struct InvocationIdentity {
    std::optional<std::string_view> plugin_id;
};

// The file name of argv[0] with "/" as the only separator: repeated and
// trailing slashes and "." components are ignored; "..", "/", "." and the
// empty text have none. The file name must be valid UTF-8.
std::optional<std::string_view> invocation_name(const ArgumentVector& args);

// "velmot" is the core; "velmot-" and an id of 1 to 128 bytes of a-z, 0-9,
// ".", "_", "-" (starting with a letter or digit) is that plug-in. The
// executable's own name, velmot-plugin-cli-client, is refused. The id is a
// view into `name`.
std::optional<InvocationIdentity> invocation_plugin(std::string_view name);

// Every entry after argv[0]: valid UTF-8, at most 64 of them, each at most
// 4096 characters.
std::optional<std::vector<std::string_view>> collect_arguments(const ArgumentVector& args);

}  // namespace velmot
