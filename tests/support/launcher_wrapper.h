// Running the launcher under a checking tool in tests. When the environment
// variable VELMOT_TEST_WRAPPER holds a command prefix (words separated by
// spaces, the first one the tool's path), a launcher child is started as
// "<prefix...> <link> <arguments...>" instead of directly.
//
// The launcher takes its identity from argv[0], which a wrapping tool cannot
// choose, so <link> is a symbolic link to the launcher (or to the build of it
// that VELMOT_TEST_WRAPPED_LAUNCHER names, if set, else to the build of it
// made for memcheck, where there is one) whose file name is
// that of the intended argv[0], in a directory private to the test process
// and removed when it exits. A child that is not the launcher, whose argv[0]
// has no file name to give a link, or whose standard error is closed, is
// started unwrapped.
#pragma once

#include "support/child_process.h"

namespace velmot::testing {

inline constexpr char kTestWrapperVariable[] = "VELMOT_TEST_WRAPPER";
inline constexpr char kWrappedLauncherVariable[] = "VELMOT_TEST_WRAPPED_LAUNCHER";

// `plan` itself when no wrapper is set or it does not apply.
ChildPlan with_test_wrapper(const ChildPlan& plan);

// In a build for another machine (VELMOT_CHILD_EMULATOR, the emulator's
// command prefix), a child whose executable is an ELF file, which is then one
// built for the target, is started through the emulator, with its argv[0]
// passed on as it is (qemu-user's "-0"). An empty argv cannot be passed
// through, so the child then sees its own path as argv[0]. Elsewhere, `plan`.
ChildPlan with_emulator(const ChildPlan& plan);

}  // namespace velmot::testing
