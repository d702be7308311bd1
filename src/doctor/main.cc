// velmot_doctor: runs an invocation exactly as the launcher started under
// the same name would (same variables, same request, same replayed output,
// same exit status) and, when the run fails, says on standard error which
// step failed, which rule was broken, where, and what to do next. Before the
// run it says where the user's shell finds the name. Without a command it
// checks the variables and the connection, and asks the bridge an answer to
// a request that names no command. It shares all of the
// launcher's code; only the explaining is its own. Its name does not start
// with "velmot-", so it can never shadow a plug-in.

#include <unistd.h>

#include <string>
#include <string_view>

#include "common/descriptor_io.h"
#include "common/exit_codes.h"
#include "common/failure_note.h"
#include "common/process_setup.h"
#include "common/std_streams.h"
#include "doctor/check.h"
#include "doctor/explanation.h"
#include "doctor/name_on_path.h"
#include "doctor/trace.h"
#include "launcher/run.h"

namespace {

constexpr std::string_view kUsage =
    "usage: velmot_doctor [--trace] [NAME [ARG...]]\n"
    "       velmot_doctor --help | --version\n"
    "\n"
    "With NAME, runs the command exactly as the launcher started as NAME would\n"
    "(velmot, or velmot-<plugin id>), with the same variables, request, output and\n"
    "exit status, and when the run fails, explains on standard error which step\n"
    "failed, which rule was broken, where, and what to do next. First it says\n"
    "where your shell finds NAME on PATH, and whether that is this launcher.\n"
    "Without NAME, checks VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT and\n"
    "VELMOT_INTERNAL_PLUGIN_CLI_TOKEN, connects, and sends a request that names no\n"
    "command, so that nothing runs; the token counts as checked only when the\n"
    "bridge refuses it.\n"
    "\n"
    "  --trace    also print the exchange on standard error: the request (the\n"
    "             token's value replaced), the reply's head, one line per frame\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "Exit status with NAME: the launcher's (the command's status, 70 after a\n"
    "failure, 101 when standard error cannot be written). Without NAME: 0 when no\n"
    "problem was found, 1 when one was. 2: a usage error.\n";

// The command name the run was given, for the explanation.
std::string_view g_invocation;

void explain_failure() {
    (void)velmot::write_stderr(velmot::doctor::explain(velmot::failure_note(), g_invocation,
                                                       velmot::doctor::reply_head()));
}

int usage_error(std::string_view option) {
    (void)velmot::write_all(STDERR_FILENO, "velmot_doctor: unknown option " + std::string(option) +
                                               "\n" + std::string(kUsage));
    return velmot::exit_code(velmot::ToolExit::UsageError);
}

// Help and version go straight to standard output, and fail like any
// command whose output cannot be written.
int print(std::string_view text) {
    return velmot::exit_code(velmot::write_all(STDOUT_FILENO, text) ? velmot::ToolExit::Success
                                                                    : velmot::ToolExit::Failure);
}

}  // namespace

int main(int argc, char** argv) {
    if (!velmot::prepare_process())
        return velmot::exit_code(velmot::LauncherExit::TransportFailure);
    bool trace = false;
    int first = 1;
    for (; first < argc; ++first) {
        const std::string_view arg = argv[first];
        if (arg == "--help") return print(kUsage);
        if (arg == "--version") return print("velmot_doctor " VELMOT_VERSION "\n");
        if (arg == "--trace") {
            trace = true;
            continue;
        }
        if (arg == "--") {
            ++first;
            break;
        }
        if (arg.size() > 1 && arg.starts_with('-')) return usage_error(arg);
        break;
    }
    if (first >= argc) return velmot::doctor::check_setup();
    g_invocation = argv[first];
    (void)velmot::write_stderr(velmot::doctor::check_name_on_path(g_invocation));
    velmot::doctor::watch_reply(trace);
    // The invocation starts at NAME, which the run takes as its argv[0].
    const velmot::ArgumentVector args(argc - first, argv + first);
    return velmot::finish_run(velmot::run(args), explain_failure);
}
