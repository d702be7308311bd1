// Runs the built launcher (or any executable) as a child process for tests:
// a chosen argv (argv[0] any bytes), a chosen environment, and standard
// output and standard error each captured through a pipe of its own, closed,
// or set to a descriptor the test supplies. Output is read as it arrives, so
// a test can wait for the first chunk before letting the bridge go on, and
// the exact bytes and the wait status are returned at the end.
//
// Nothing here sleeps: every wait is a poll on the child's pipes, bounded by
// a generous guard that kills a child that hangs and fails the test.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace velmot::testing {

struct StreamSetup {
    enum class Kind { Capture, Closed, Descriptor };
    Kind kind = Kind::Capture;
    int fd = -1;  // for Descriptor: duplicated onto the stream in the child

    static StreamSetup capture() { return {Kind::Capture, -1}; }
    static StreamSetup closed() { return {Kind::Closed, -1}; }
    static StreamSetup descriptor(int fd) { return {Kind::Descriptor, fd}; }
};

struct ChildPlan {
    std::string executable = VELMOT_LAUNCHER_PATH;
    std::vector<std::string> argv;  // argv[0] included
    std::vector<std::string> env;   // "NAME=value" entries, the whole environment
    StreamSetup out = StreamSetup::capture();
    StreamSetup err = StreamSetup::capture();
    std::chrono::seconds guard{60};
};

struct ChildResult {
    std::string out;
    std::string err;
    int wait_status = -1;

    bool exited() const;
    int exit_code() const;  // -1 unless exited normally
};

class ChildProcess {
  public:
    explicit ChildProcess(const ChildPlan& plan);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    // Waits until standard output has delivered at least `count` bytes in
    // all, or has ended; returns everything it delivered so far.
    const std::string& read_out_until(std::size_t count);

    // Waits until the child has been stopped by a signal; false if it ended
    // instead.
    bool wait_stopped();

    // Waits until the child sleeps inside the system call `number` (as
    // /proc shows it), so that a signal is sure to interrupt that call.
    // False if the guard runs out first. A child run by an emulator makes the
    // host's system calls, whose numbers differ from the target's, so there
    // any system call it sleeps in counts.
    bool wait_blocked_in(long number);

    // Reads both captured streams to their end and reaps the child.
    ChildResult finish();

  private:
    bool pump();  // one poll round; false when nothing is open any more
    void await_exit();
    int guard_left_ms() const;
    void kill_and_fail(const char* why);

    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    int pid_fd_ = -1;
    std::string out_;
    std::string err_;
    int wait_status_ = -1;
    bool reaped_ = false;
    std::chrono::steady_clock::time_point deadline_;
};

ChildResult run_child(const ChildPlan& plan);

}  // namespace velmot::testing
