#include "support/launcher_wrapper.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "support/temp_dir.h"

namespace velmot::testing {
namespace {

std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> out;
    while (!text.empty()) {
        const std::size_t space = std::min(text.find(' '), text.size());
        if (space > 0) out.emplace_back(text.substr(0, space));
        text.remove_prefix(std::min(space + 1, text.size()));
    }
    return out;
}

// The last component of `path` that is neither empty nor "."; none when that
// is ".." or there is none.
std::optional<std::string> file_name(std::string_view path) {
    std::optional<std::string> last;
    while (!path.empty()) {
        const std::size_t slash = std::min(path.find('/'), path.size());
        const std::string_view component = path.substr(0, slash);
        path.remove_prefix(std::min(slash + 1, path.size()));
        if (!component.empty() && component != ".") last = std::string(component);
    }
    if (last == "..") return std::nullopt;
    return last;
}

#ifdef VELMOT_CHILD_EMULATOR
bool is_elf_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    constexpr char kMagic[] = {0x7f, 'E', 'L', 'F'};
    char magic[sizeof kMagic] = {};
    const bool elf = ::read(fd, magic, sizeof magic) == sizeof magic &&
                     std::memcmp(magic, kMagic, sizeof magic) == 0;
    ::close(fd);
    return elf;
}
#endif

// A link named `name` to `target` in the process's private directory; the
// same name always points at the same launcher, so an existing link is kept.
std::optional<std::string> link_named(const std::string& name, const std::string& target) {
    static const TempDir links;
    const std::string at = links.path() + "/" + name;
    if (::symlink(target.c_str(), at.c_str()) != 0 && errno != EEXIST) return std::nullopt;
    return at;
}

}  // namespace

ChildPlan with_test_wrapper(const ChildPlan& plan) {
    const char* wrapper = std::getenv(kTestWrapperVariable);
    // The tool reports on standard error and cannot start without it.
    if (wrapper == nullptr || plan.executable != VELMOT_LAUNCHER_PATH || plan.argv.empty() ||
        plan.err.kind == StreamSetup::Kind::Closed) {
        return plan;
    }
    const std::vector<std::string> prefix = words(wrapper);
    const std::optional<std::string> name = file_name(plan.argv[0]);
    if (prefix.empty() || !name) return plan;
    const char* substitute = std::getenv(kWrappedLauncherVariable);
#ifdef VELMOT_WRAPPED_LAUNCHER_PATH
    if (substitute == nullptr) substitute = VELMOT_WRAPPED_LAUNCHER_PATH;
#endif
    const std::optional<std::string> link =
        link_named(*name, substitute != nullptr ? substitute : plan.executable);
    if (!link) return plan;

    ChildPlan wrapped = plan;
    wrapped.executable = prefix[0];
    wrapped.argv = prefix;
    wrapped.argv.push_back(*link);
    wrapped.argv.insert(wrapped.argv.end(), plan.argv.begin() + 1, plan.argv.end());
    return wrapped;
}

ChildPlan with_emulator(const ChildPlan& plan) {
#ifdef VELMOT_CHILD_EMULATOR
    if (!is_elf_file(plan.executable)) return plan;
    ChildPlan emulated = plan;
    emulated.argv = words(VELMOT_CHILD_EMULATOR);
    emulated.executable = emulated.argv[0];
    if (!plan.argv.empty()) emulated.argv.insert(emulated.argv.end(), {"-0", plan.argv[0]});
    emulated.argv.push_back(plan.executable);
    if (!plan.argv.empty())
        emulated.argv.insert(emulated.argv.end(), plan.argv.begin() + 1, plan.argv.end());
    return emulated;
#else
    return plan;
#endif
}

}  // namespace velmot::testing
