#include "doctor/name_on_path.h"

#include <sys/stat.h>

#include <cstdlib>
#include <optional>
#include <vector>

#include "common/system_calls.h"
#include "doctor/explanation.h"
#include "doctor/quote.h"

namespace velmot::doctor {
namespace {

constexpr std::string_view kLauncherFile = "velmot-plugin-cli-client";

bool is_invocation_name(std::string_view file_name) {
    return file_name == "velmot" || file_name.starts_with("velmot-");
}

std::string_view file_name_of(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view folder_of(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? "." : path.substr(0, slash);
}

// Where the link at `path` points, as written in it.
std::optional<std::string> link_target(const std::string& path) {
    std::string target(4096, '\0');
    const ssize_t size = sys::readlink(path.c_str(), target.data(), target.size());
    if (size < 0 || static_cast<std::size_t>(size) == target.size()) return std::nullopt;
    target.resize(static_cast<std::size_t>(size));
    return target;
}

// The launcher the doctor was installed with: the file beside its own.
std::optional<std::string> launcher_beside_doctor() {
    const std::optional<std::string> self = link_target("/proc/self/exe");
    if (!self) return std::nullopt;
    std::string launcher = std::string(folder_of(*self)) + "/" + std::string(kLauncherFile);
    struct stat facts;
    if (sys::stat(launcher.c_str(), &facts) != 0 || !S_ISREG(facts.st_mode)) return std::nullopt;
    return launcher;
}

// What one place where the shell looks holds.
enum class Entry { Missing, Dangling, NotExecutable, Program };

// As a shell's search: a file that exists once links are followed, is no
// folder, and may be executed by someone; `file` gets its identity.
Entry look_at(const std::string& candidate, struct stat& file) {
    struct stat own;
    if (sys::lstat(candidate.c_str(), &own) != 0) return Entry::Missing;
    if (sys::stat(candidate.c_str(), &file) != 0) return Entry::Dangling;
    const bool executable = (file.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
    return S_ISDIR(file.st_mode) || !executable ? Entry::NotExecutable : Entry::Program;
}

bool same_file(const struct stat& a, const std::string& path) {
    struct stat b;
    return sys::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// ", a link to TARGET" for a link, else nothing.
std::string link_part(const std::string& file) {
    const std::optional<std::string> target = link_target(file);
    return target ? ", a link to " + quoted(*target) : std::string();
}

// The places the shell tries for `name`: the name itself when it holds a
// "/", else the name in each folder of PATH, an empty folder being the
// current one.
std::vector<std::string> places_for(std::string_view name) {
    if (name.find('/') != std::string_view::npos) return {std::string(name)};
    std::vector<std::string> places;
    const char* path = std::getenv("PATH");
    if (path == nullptr) return places;
    std::string_view rest = path;
    while (true) {
        const std::size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        places.push_back(std::string(folder.empty() ? "." : folder) + "/" + std::string(name));
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
    }
    return places;
}

// The link that fixes it: replacing `replace`, or a new one in the user's own
// bin folder or, for every user, beside the launcher.
std::string fix(std::string_view name, const std::optional<std::string>& launcher,
                const std::optional<std::string>& replace) {
    const std::string target = launcher.value_or("/usr/bin/" + std::string(kLauncherFile));
    if (replace) return doctor_line({"fix: ln -sf ", target, " ", *replace});
    return doctor_line({"fix: ln -s ", target, " ~/.local/bin/", name,
                        " (your own bin folder, which must be on PATH), or, for every user, ln -s ",
                        kLauncherFile, " ", folder_of(target), "/", name});
}

}  // namespace

std::string check_name_on_path(std::string_view name) {
    if (!is_invocation_name(file_name_of(name))) return {};
    const std::optional<std::string> launcher = launcher_beside_doctor();
    const std::string who = quoted(name) + ": ";
    std::optional<std::string> unusable;  // the first dangling link or file that cannot run
    for (const std::string& place : places_for(name)) {
        struct stat file;
        const Entry entry = look_at(place, file);
        if (entry == Entry::Missing) continue;
        if (entry != Entry::Program) {
            if (!unusable) unusable = place;
            continue;
        }
        const std::string found = who + "the shell runs " + quoted(place) + link_part(place);
        if (!launcher) {
            return doctor_line({found, "; no launcher beside the doctor to compare it with"});
        }
        if (same_file(file, *launcher)) return doctor_line({found, ", this launcher"});
        return doctor_line({found, ", which is another program, not this launcher (",
                            quoted(*launcher), ")"}) +
               fix(name, launcher, place);
    }
    std::string why = name.find('/') == std::string_view::npos
                          ? "not on PATH, so the shell answers \"command not found\""
                          : "the shell finds no program there";
    if (unusable) {
        struct stat file;
        why += ": " + quoted(*unusable) + link_part(*unusable) +
               (look_at(*unusable, file) == Entry::Dangling ? ", which does not exist"
                                                            : ", which is no executable file");
    }
    return doctor_line({who, why}) + fix(name, launcher, unusable);
}

}  // namespace velmot::doctor
