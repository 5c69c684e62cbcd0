// Times a program's start-up and shut-down, several runs in a row:
//   start-up:  from just before exec to the first answered request on its
//              port (a request every millisecond until one is answered);
//   shut-down: from SIGTERM to the end of the process (waitpid), after it
//              has run for --settle-ms.
//
//   start_stop --probe ADDR:PORT (--text T | --hex H | --snmp-get COMMUNITY:OID)
//              [--expect TEXT] [--runs N] [--settle-ms M] [--timeout-s S]
//              [--log FILE] -- PROGRAM [ARGS...]
//
// Prints a line per run and then
//   startstop runs=N ok=N start_ms_median=A start_ms_min=B start_ms_max=C
//             stop_ms_median=D stop_ms_min=E stop_ms_max=F exit_codes=...
// Exits 1 when a run was never answered or did not end within --timeout-s.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "bench_common.h"

namespace {

struct Options {
    sockaddr_in probe{};
    std::string request;
    bool snmp = false;
    std::string expect;
    int runs = 5;
    int settleMs = 500;
    int timeoutS = 20;
    std::string log = "/dev/null";
    std::vector<char*> command;
};

void usage()
{
    std::fprintf(stderr,
                 "usage: start_stop --probe ADDR:PORT (--text T | --hex H | --snmp-get COMMUNITY:OID)\n"
                 "                  [--expect TEXT] [--runs N] [--settle-ms M] [--timeout-s S] [--log FILE]\n"
                 "                  -- PROGRAM [ARGS...]\n");
    std::exit(2);
}

Options parse(int argc, char** argv)
{
    Options o;
    bool haveProbe = false;
    bool haveRequest = false;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&] { return bench::optionValue(arg, i, argc, argv); };
        if (arg == "--") {
            ++i;
            break;
        }
        if (bench::takeRequestOption(arg, i, argc, argv, o.request, o.snmp)) {
            haveRequest = true;
        } else if (arg == "--probe") {
            o.probe = bench::parseEndpoint(next());
            haveProbe = true;
        } else if (arg == "--expect") {
            o.expect = next();
        } else if (arg == "--runs") {
            o.runs = static_cast<int>(bench::parseLong(arg, next()));
        } else if (arg == "--settle-ms") {
            o.settleMs = static_cast<int>(bench::parseLong(arg, next()));
        } else if (arg == "--timeout-s") {
            o.timeoutS = static_cast<int>(bench::parseLong(arg, next()));
        } else if (arg == "--log") {
            o.log = next();
        } else {
            usage();
        }
    }
    for (; i < argc; ++i)
        o.command.push_back(argv[i]);
    o.command.push_back(nullptr);
    if (!haveProbe || !haveRequest || o.command.size() < 2)
        usage();
    if (o.runs < 1 || o.runs > 100 || o.settleMs < 0 || o.settleMs > 60000 || o.timeoutS < 1 || o.timeoutS > 300)
        bench::fail("start_stop: option out of range");
    return o;
}

bool answered(const Options& o, const char* data, ssize_t n)
{
    const std::string reply(data, static_cast<std::size_t>(n));
    if (o.snmp) {
        bool exception = false;
        std::string value;
        return bench::snmpFirstValue(reply, exception, value);
    }
    return o.expect.empty() || reply.find(o.expect) != std::string::npos;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Run {
    bool ok = false;
    double startMs = 0;
    double stopMs = 0;
    int exitCode = -1;
};

// Ends a child that did not behave, and reaps it.
void killChild(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

Run runOnce(const Options& o)
{
    Run run;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        bench::fail(std::string("socket: ") + std::strerror(errno));

    const std::int64_t t0 = bench::nowNs();
    const pid_t pid = fork();
    if (pid < 0)
        bench::fail(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        const int out = open(o.log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
        }
        const int in = open("/dev/null", O_RDONLY);
        if (in >= 0)
            dup2(in, STDIN_FILENO);
        execvp(o.command[0], o.command.data());
        std::fprintf(stderr, "exec %s: %s\n", o.command[0], std::strerror(errno));
        _exit(127);
    }

    // Ask every millisecond until the first answer.
    const std::int64_t deadline = t0 + static_cast<std::int64_t>(o.timeoutS) * 1000000000;
    char buffer[65536];
    bool up = false;
    while (!up && bench::nowNs() < deadline) {
        sendto(fd, o.request.data(), o.request.size(), 0, reinterpret_cast<const sockaddr*>(&o.probe),
               sizeof o.probe);
        const std::int64_t askedAt = bench::nowNs();
        while (bench::nowNs() - askedAt < 1000000) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 1) > 0) {
                const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (n >= 0 && answered(o, buffer, n)) {
                    run.startMs = static_cast<double>(bench::nowNs() - t0) / 1e6;
                    up = true;
                    break;
                }
            }
        }
        int status = 0;
        if (!up && waitpid(pid, &status, WNOHANG) == pid) {
            std::fprintf(stderr, "start_stop: %s ended before answering (status %d)\n", o.command[0], status);
            close(fd);
            return run;
        }
    }
    close(fd);
    if (!up) {
        std::fprintf(stderr, "start_stop: %s did not answer within %d s\n", o.command[0], o.timeoutS);
        killChild(pid);
        return run;
    }

    bench::sleepUntil(bench::nowNs() + static_cast<std::int64_t>(o.settleMs) * 1000000);

    // A pidfd becomes readable when the process ends: the end is seen at
    // once, and the wait stays bounded.
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    const std::int64_t t1 = bench::nowNs();
    kill(pid, SIGTERM);
    int status = 0;
    for (;;) {
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            poll(&p, 1, 100);
        } else {
            timespec pause{0, 100000};
            nanosleep(&pause, nullptr);
        }
        if (waitpid(pid, &status, WNOHANG) == pid)
            break;
        if (bench::nowNs() - t1 > static_cast<std::int64_t>(o.timeoutS) * 1000000000) {
            std::fprintf(stderr, "start_stop: %s did not end within %d s of SIGTERM\n", o.command[0], o.timeoutS);
            killChild(pid);
            if (pidfd >= 0)
                close(pidfd);
            return run;
        }
    }
    const std::int64_t t2 = bench::nowNs();
    if (pidfd >= 0)
        close(pidfd);
    run.stopMs = static_cast<double>(t2 - t1) / 1e6;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.ok = true;
    return run;
}

}  // namespace

int main(int argc, char** argv)
{
    const Options o = parse(argc, argv);
    std::vector<double> starts;
    std::vector<double> stops;
    std::string codes;
    int ok = 0;
    for (int i = 0; i < o.runs; ++i) {
        const Run run = runOnce(o);
        std::printf("run %d ok=%d start_ms=%.2f stop_ms=%.2f exit=%d\n", i + 1, run.ok ? 1 : 0, run.startMs,
                    run.stopMs, run.exitCode);
        std::fflush(stdout);
        if (!codes.empty())
            codes += ",";
        codes += std::to_string(run.exitCode);
        if (run.ok) {
            ++ok;
            starts.push_back(run.startMs);
            stops.push_back(run.stopMs);
        }
        // Let the port and the namespace settle before the next start.
        timespec pause{0, 200000000};
        nanosleep(&pause, nullptr);
    }
    auto minOf = [](const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); };
    auto maxOf = [](const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); };
    std::printf("startstop runs=%d ok=%d start_ms_median=%.2f start_ms_min=%.2f start_ms_max=%.2f "
                "stop_ms_median=%.2f stop_ms_min=%.2f stop_ms_max=%.2f exit_codes=%s\n",
                o.runs, ok, median(starts), minOf(starts), maxOf(starts), median(stops), minOf(stops), maxOf(stops),
                codes.c_str());
    return ok == o.runs ? 0 : 1;
}
