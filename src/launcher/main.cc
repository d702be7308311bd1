// The process entry: prepare the standard descriptors and SIGPIPE, run the
// sequence, and turn its outcome into the exit status. Every failure, whatever
// its cause, ends with one fixed line on standard error and status 70.

#include "common/exit_codes.h"
#include "common/process_setup.h"
#include "launcher/run.h"

int main(int argc, char** argv) {
    // Without its standard descriptors the launcher could not even report a
    // failure; 70 is the status every other unusable start ends with.
    if (!velmot::prepare_process())
        return velmot::exit_code(velmot::LauncherExit::TransportFailure);
    return velmot::finish_run(velmot::run(velmot::ArgumentVector(argc, argv)));
}
