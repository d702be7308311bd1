// The process benchmark's driver: starts the launcher, the bare client and
// the floor client in turn against a running canned bridge and reports what
// each run cost.
//
// Usage:
//   run_driver --header
//   run_driver --scenario NAME --response FILE --port PORT --launcher PATH
//              --bare PATH --floor PATH --runs N --sink null|pipe [--warmup N]
//
// Before timing, a forked checker decodes the frames of FILE (the response
// the bridge replays) and requires the launcher's standard output and
// standard error to equal the decoded chunks, byte for byte, and its exit
// status to be the terminal frame's; the bare and floor clients must each
// reproduce the raw body. Then the rounds run: launcher, bare client, floor
// client, launcher, ... so that any drift hits all three alike. With the pipe
// sink both streams go to pipes that the driver drains; every timed run's
// status and byte counts are checked again.
//
// One row per call: median wall time of each client, the medians of the
// round-by-round ratios launcher / bare and launcher / floor with their
// quartiles, median CPU time and minor page faults, and the peak RSS that
// wait4 reports. A child's RSS as the kernel reports it never reads below the
// peak RSS of the process that spawned it (posix_spawn shares the spawner's
// memory until exec, and the kernel carries that memory's peak across exec),
// so the driver keeps its own small, does the heavy checking in a forked
// child, and prints its own peak RSS (`drv`), the lower bound of every RSS
// figure.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

enum class Sink { Null, Pipe };

struct Options {
    std::string scenario;
    std::string response;
    std::string launcher;
    std::string bare;
    std::string floor;
    unsigned port = 0;
    unsigned runs = 0;
    unsigned warmup = 3;
    Sink sink = Sink::Null;
};

// What a correct run produces, taken from the response file's frames.
struct Expected {
    std::uint64_t stdout_bytes = 0;
    std::uint64_t stderr_bytes = 0;
    std::uint64_t body_bytes = 0;
    std::uint64_t longest_line = 0;
    int status = -1;
};

struct Run {
    int status = -1;  // the exit status, or 256 + signal number
    double wall_us = 0;
    double cpu_us = 0;
    long max_rss_kib = 0;
    long minor_faults = 0;
    std::uint64_t stdout_bytes = 0;
    std::uint64_t stderr_bytes = 0;
};

// Output of one run kept in full, for the check.
struct Capture {
    std::string out;
    std::string err;
};

struct Client {
    std::string path;
    std::vector<std::string> argv;
};

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "run_driver: %s\n", what);
    std::exit(1);
}

std::optional<unsigned> parse_unsigned(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

// ---------------------------------------------------------------- spawning

double now_us() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

double micros(const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec);
}

int null_fd() {
    static const int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (fd < 0) die("cannot open /dev/null");
    return fd;
}

// Reads both pipes until both are at end of file, counting (and, when
// `capture` is given, keeping) what arrives.
void drain(int out_fd, int err_fd, Run& run, Capture* capture) {
    static char buffer[64 * 1024];
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (::poll(fds, 2, -1) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                fds[i].fd = -1;
                continue;
            }
            (i == 0 ? run.stdout_bytes : run.stderr_bytes) += static_cast<std::uint64_t>(n);
            if (capture != nullptr) (i == 0 ? capture->out : capture->err).append(buffer, n);
        }
    }
}

// Starts `client` once with the two bridge variables as its whole
// environment and waits for it. Standard input is the null device; standard
// output and error go to the null device or to pipes read here.
Run run_client(const Client& client, char* const* env, Sink sink, Capture* capture) {
    std::vector<char*> argv;
    for (const std::string& arg : client.argv)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, null_fd(), 0);
    if (sink == Sink::Pipe) {
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) die("pipe");
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    } else {
        posix_spawn_file_actions_adddup2(&actions, null_fd(), 1);
        posix_spawn_file_actions_adddup2(&actions, null_fd(), 2);
    }

    Run run;
    const double start = now_us();
    pid_t pid = 0;
    if (::posix_spawn(&pid, client.path.c_str(), &actions, nullptr, argv.data(), env) != 0)
        die("posix_spawn failed");
    if (sink == Sink::Pipe) {
        ::close(out[1]);
        ::close(err[1]);
        drain(out[0], err[0], run, capture);
        ::close(out[0]);
        ::close(err[0]);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0)
        if (errno != EINTR) die("wait4");
    run.wall_us = now_us() - start;
    posix_spawn_file_actions_destroy(&actions);

    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 256 + WTERMSIG(status);
    run.cpu_us = micros(usage.ru_utime) + micros(usage.ru_stime);
    run.max_rss_kib = usage.ru_maxrss;
    run.minor_faults = usage.ru_minflt;
    return run;
}

// ---------------------------------------------------------------- checking

std::optional<std::string> read_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string bytes;
    char buffer[64 * 1024];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, n);
    ::close(fd);
    if (n < 0) return std::nullopt;
    return bytes;
}

int base64_value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Decodes the canonical, padded text that make_responses writes.
std::optional<std::string> base64_decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::uint32_t bits = 0;
        int pads = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const int value = text[i + k] == '=' ? (++pads, 0) : base64_value(text[i + k]);
            if (value < 0) return std::nullopt;
            bits = bits << 6 | static_cast<std::uint32_t>(value);
        }
        for (int k = 0; k < 3 - pads; ++k)
            bytes += static_cast<char>(bits >> (16 - 8 * k) & 0xFF);
    }
    return bytes;
}

// The text between `key` and the next double quote in `line`.
std::optional<std::string_view> string_member(std::string_view line, std::string_view key) {
    const std::size_t at = line.find(key);
    if (at == std::string_view::npos) return std::nullopt;
    const std::size_t from = at + key.size();
    const std::size_t to = line.find('"', from);
    if (to == std::string_view::npos) return std::nullopt;
    return line.substr(from, to - from);
}

std::optional<int> integer_member(std::string_view line, std::string_view key) {
    const std::size_t at = line.find(key);
    if (at == std::string_view::npos) return std::nullopt;
    std::size_t end = at + key.size();
    while (end < line.size() && line[end] >= '0' && line[end] <= '9')
        ++end;
    const auto value = parse_unsigned(line.substr(at + key.size(), end - at - key.size()));
    if (!value || *value > 255) return std::nullopt;
    return static_cast<int>(*value);
}

// Decodes the frames of the response the bridge replays: the frame layout
// is the one make_responses writes, nothing more general.
std::optional<Expected> decode_response(std::string_view response, Capture& decoded,
                                        std::string_view& body) {
    const std::size_t head_end = response.find("\r\n\r\n");
    if (head_end == std::string_view::npos) return std::nullopt;
    body = response.substr(head_end + 4);
    Expected expected;
    expected.body_bytes = body.size();
    for (std::size_t at = 0; at < body.size();) {
        const std::size_t end = std::min(body.find('\n', at), body.size() - 1) + 1;
        const std::string_view line = body.substr(at, end - at);
        at = end;
        expected.longest_line = std::max<std::uint64_t>(expected.longest_line, line.size());
        if (line.find("\"plugin_cli_terminal\"") != std::string_view::npos) {
            const std::optional<int> status = integer_member(line, "\"exit_code\":");
            if (!status) return std::nullopt;
            expected.status = *status;
            continue;
        }
        const auto text = string_member(line, "\"bytes_base64\":\"");
        const auto channel = string_member(line, "\"channel\":\"");
        const auto chunk = text ? base64_decode(*text) : std::nullopt;
        if (!chunk || !channel) return std::nullopt;
        (*channel == "stderr" ? decoded.err : decoded.out) += *chunk;
    }
    expected.stdout_bytes = decoded.out.size();
    expected.stderr_bytes = decoded.err.size();
    if (expected.status < 0) return std::nullopt;
    return expected;
}

bool same(const char* what, std::string_view got, std::string_view want) {
    if (got == want) return true;
    const auto diff = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
    std::fprintf(stderr,
                 "run_driver: %s differs: %zu bytes, %zu expected, first difference at %zu\n", what,
                 got.size(), want.size(), static_cast<std::size_t>(diff.first - got.begin()));
    return false;
}

// The launcher and the two reference clients.
struct Clients {
    Client launcher;
    Client bare;
    Client floor;
};

// A reference client passes on the raw body and status 0.
bool reproduces_body(const Client& client, char* const* env, std::string_view body,
                     const char* what) {
    Capture raw;
    const Run run = run_client(client, env, Sink::Pipe, &raw);
    if (run.status != 0) std::fprintf(stderr, "run_driver: %s exit status %d\n", what, run.status);
    return same(what, raw.out, body) && run.status == 0;
}

// The checker's work, in a forked child so that the driver itself never
// holds the response: returns the expectations or reports what differed.
std::optional<Expected> check_outputs(const Options& options, const Clients& clients,
                                      char* const* env) {
    const std::optional<std::string> response = read_file(options.response);
    if (!response) die("cannot read the response file");
    Capture decoded;
    std::string_view body;
    const std::optional<Expected> expected = decode_response(*response, decoded, body);
    if (!expected) die("the response file is not one make_responses wrote");

    Capture got;
    const Run run = run_client(clients.launcher, env, Sink::Pipe, &got);
    bool ok = same("launcher stdout", got.out, decoded.out);
    ok = same("launcher stderr", got.err, decoded.err) && ok;
    if (run.status != expected->status) {
        std::fprintf(stderr, "run_driver: launcher exit status %d, %d expected\n", run.status,
                     expected->status);
        ok = false;
    }
    ok = reproduces_body(clients.bare, env, body, "bare client stdout") && ok;
    ok = reproduces_body(clients.floor, env, body, "floor client stdout") && ok;
    if (!ok) return std::nullopt;
    return expected;
}

Expected checked_expectations(const Options& options, const Clients& clients, char* const* env) {
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0) die("pipe");
    const pid_t pid = ::fork();
    if (pid < 0) die("fork");
    if (pid == 0) {
        const std::optional<Expected> expected = check_outputs(options, clients, env);
        if (expected && ::write(channel[1], &*expected, sizeof *expected) == sizeof *expected)
            ::_exit(0);
        ::_exit(1);
    }
    ::close(channel[1]);
    Expected expected;
    const bool received = ::read(channel[0], &expected, sizeof expected) == sizeof expected;
    ::close(channel[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) die("waitpid");
    if (!received || status != 0) die("check failed; nothing was timed");
    return expected;
}

// ---------------------------------------------------------------- timing

void require(const Run& run, int status, std::uint64_t out_bytes, std::uint64_t err_bytes,
             Sink sink, const char* who) {
    const bool counts_ok =
        sink == Sink::Null || (run.stdout_bytes == out_bytes && run.stderr_bytes == err_bytes);
    if (run.status == status && counts_ok) return;
    std::fprintf(stderr, "run_driver: %s: status %d, %llu/%llu bytes; wanted %d, %llu/%llu\n", who,
                 run.status, static_cast<unsigned long long>(run.stdout_bytes),
                 static_cast<unsigned long long>(run.stderr_bytes), status,
                 static_cast<unsigned long long>(out_bytes),
                 static_cast<unsigned long long>(err_bytes));
    std::exit(1);
}

double quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    const double position = q * static_cast<double>(values.size() - 1);
    const auto low = static_cast<std::size_t>(position);
    const std::size_t high = std::min(low + 1, values.size() - 1);
    const double fraction = position - static_cast<double>(low);
    return values[low] + (values[high] - values[low]) * fraction;
}

struct Series {
    std::vector<double> wall_us;
    std::vector<double> cpu_us;
    std::vector<double> faults;
    long peak_rss_kib = 0;

    void add(const Run& run) {
        wall_us.push_back(run.wall_us);
        cpu_us.push_back(run.cpu_us);
        faults.push_back(static_cast<double>(run.minor_faults));
        peak_rss_kib = std::max(peak_rss_kib, run.max_rss_kib);
    }
};

// The goals the launcher is held to, per scenario: a start-up bound against
// the bare client where the response is one short line, a bound against the
// floor client where the design's receives and writes dominate.
std::string judge(const std::string& scenario, double bare_ratio, double floor_ratio, long rss_kib,
                  const Expected& expected) {
    const char* against = "floor";
    double ratio = floor_ratio;
    double max_ratio = 0;
    long max_rss_kib = 0;
    if (scenario == "small") {
        against = "bare";
        ratio = bare_ratio;
        max_ratio = 1.05;
        max_rss_kib = 1536;
    } else if (scenario == "lines") {
        max_ratio = 1.25;
    } else if (scenario == "big") {
        max_ratio = 1.10;
        max_rss_kib = static_cast<long>((expected.longest_line + 1023) / 1024) + 1024;
    } else {
        return "-";
    }
    char verdict[96];
    int length = std::snprintf(verdict, sizeof verdict, "time<=%.2fx%s %s", max_ratio, against,
                               ratio <= max_ratio ? "met" : "MISSED");
    if (max_rss_kib > 0 && length > 0)
        std::snprintf(verdict + length, sizeof verdict - static_cast<std::size_t>(length),
                      ", RSS<=%ldKiB %s", max_rss_kib, rss_kib <= max_rss_kib ? "met" : "MISSED");
    return verdict;
}

void print_header() {
    std::printf(
        "%-8s %-4s %4s %8s %8s %8s %6s %13s %6s %13s %8s %8s %8s %5s %5s %5s %5s %5s %5s %5s  %s\n",
        "scenario", "sink", "runs", "l_ms", "b_ms", "f_ms", "x_bare", "bare_q1-q3", "x_flr",
        "floor_q1-q3", "l_cpu_ms", "b_cpu_ms", "f_cpu_ms", "l_flt", "b_flt", "f_flt", "l_KiB",
        "b_KiB", "f_KiB", "drv", "goal");
}

// The driver's own peak resident set, from its memory map alone. (getrusage
// would also count the memory of the process it was started from, since the
// kernel carries the old image's peak across exec.) Read with a small buffer
// so that reading it does not raise it.
long own_peak_rss_kib() {
    char status[4096];
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    const ssize_t size = fd < 0 ? -1 : ::read(fd, status, sizeof status);
    if (fd >= 0) ::close(fd);
    if (size <= 0) return -1;
    const std::string_view text(status, static_cast<std::size_t>(size));
    const std::string_view key = "VmHWM:";
    const std::size_t at = text.find(key);
    if (at == std::string_view::npos) return -1;
    std::size_t from = at + key.size();
    while (from < text.size() && (text[from] == ' ' || text[from] == '\t'))
        ++from;
    std::size_t to = from;
    while (to < text.size() && text[to] >= '0' && text[to] <= '9')
        ++to;
    const std::optional<unsigned> kib = parse_unsigned(text.substr(from, to - from));
    return kib ? static_cast<long>(*kib) : -1;
}

struct Measured {
    Series launcher;
    Series bare;
    Series floor;
    std::vector<double> bare_ratios;   // launcher / bare, round by round
    std::vector<double> floor_ratios;  // launcher / floor, round by round
};

void print_row(const Options& options, const Measured& m, const Expected& expected,
               long driver_kib) {
    const auto ms = [](const std::vector<double>& us) { return quantile(us, 0.5) / 1e3; };
    const double bare_ratio = quantile(m.bare_ratios, 0.5);
    const double floor_ratio = quantile(m.floor_ratios, 0.5);
    std::printf(
        "%-8s %-4s %4u %8.3f %8.3f %8.3f %6.3f %6.3f-%6.3f %6.3f %6.3f-%6.3f %8.3f %8.3f %8.3f "
        "%5.0f %5.0f %5.0f %5ld %5ld %5ld %5ld  %s\n",
        options.scenario.c_str(), options.sink == Sink::Pipe ? "pipe" : "null", options.runs,
        ms(m.launcher.wall_us), ms(m.bare.wall_us), ms(m.floor.wall_us), bare_ratio,
        quantile(m.bare_ratios, 0.25), quantile(m.bare_ratios, 0.75), floor_ratio,
        quantile(m.floor_ratios, 0.25), quantile(m.floor_ratios, 0.75), ms(m.launcher.cpu_us),
        ms(m.bare.cpu_us), ms(m.floor.cpu_us), quantile(m.launcher.faults, 0.5),
        quantile(m.bare.faults, 0.5), quantile(m.floor.faults, 0.5), m.launcher.peak_rss_kib,
        m.bare.peak_rss_kib, m.floor.peak_rss_kib, driver_kib,
        judge(options.scenario, bare_ratio, floor_ratio, m.launcher.peak_rss_kib, expected)
            .c_str());
}

void time_rounds(const Options& options, const Clients& clients, char* const* env,
                 const Expected& expected) {
    Measured m;
    m.bare_ratios.reserve(options.runs);
    m.floor_ratios.reserve(options.runs);
    for (unsigned i = 0; i < options.warmup + options.runs; ++i) {
        const Run l = run_client(clients.launcher, env, options.sink, nullptr);
        require(l, expected.status, expected.stdout_bytes, expected.stderr_bytes, options.sink,
                "launcher");
        const Run b = run_client(clients.bare, env, options.sink, nullptr);
        require(b, 0, expected.body_bytes, 0, options.sink, "bare client");
        const Run f = run_client(clients.floor, env, options.sink, nullptr);
        require(f, 0, expected.body_bytes, 0, options.sink, "floor client");
        if (i < options.warmup) continue;
        m.launcher.add(l);
        m.bare.add(b);
        m.floor.add(f);
        m.bare_ratios.push_back(l.wall_us / b.wall_us);
        m.floor_ratios.push_back(l.wall_us / f.wall_us);
    }
    print_row(options, m, expected, own_peak_rss_kib());
}

// ---------------------------------------------------------------- options

std::optional<Options> parse_options(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view name = argv[i];
        const std::string value = argv[i + 1];
        std::optional<unsigned> number = parse_unsigned(value);
        if (name == "--scenario")
            options.scenario = value;
        else if (name == "--response")
            options.response = value;
        else if (name == "--launcher")
            options.launcher = value;
        else if (name == "--bare")
            options.bare = value;
        else if (name == "--floor")
            options.floor = value;
        else if (name == "--port" && number && *number > 0 && *number < 65536)
            options.port = *number;
        else if (name == "--runs" && number && *number > 0)
            options.runs = *number;
        else if (name == "--warmup" && number)
            options.warmup = *number;
        else if (name == "--sink" && (value == "null" || value == "pipe"))
            options.sink = value == "pipe" ? Sink::Pipe : Sink::Null;
        else
            return std::nullopt;
    }
    if (argc % 2 == 0 || options.scenario.empty() || options.response.empty() ||
        options.launcher.empty() || options.bare.empty() || options.floor.empty() ||
        options.port == 0 || options.runs == 0)
        return std::nullopt;
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--header") {
        print_header();
        return 0;
    }
    const std::optional<Options> options = parse_options(argc, argv);
    if (!options) {
        std::fprintf(
            stderr,
            "usage: run_driver --scenario NAME --response FILE --port PORT --launcher PATH\n"
            "                  --bare PATH --floor PATH --runs N --sink null|pipe [--warmup N]\n"
            "       run_driver --header\n");
        return 2;
    }
    std::string endpoint =
        "VELMOT_INTERNAL_PLUGIN_CLI_ENDPOINT=http://127.0.0.1:" + std::to_string(options->port) +
        "/plugin-cli";
    std::string token = "VELMOT_INTERNAL_PLUGIN_CLI_TOKEN=bench-token";
    char* env[] = {endpoint.data(), token.data(), nullptr};
    // Started as a plug-in command with two arguments, the way a user would.
    const Clients clients{{options->launcher, {"velmot-notes", "list", "--all"}},
                          {options->bare, {"bare_client"}},
                          {options->floor, {"floor_client"}}};

    const Expected expected = checked_expectations(*options, clients, env);
    time_rounds(*options, clients, env, expected);
    return 0;
}
