#include "run_program.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

program_under_test read_target() {
    const char *file = std::getenv("GRKPAGE_TARGET");
    if (!file || !*file)
        throw std::runtime_error(
            "GRKPAGE_TARGET is not set: run the tests with tests/run, or set it "
            "to one of the files in the build's tests/targets/");
    std::ifstream in(file);
    if (!in)
        throw std::runtime_error(std::string("cannot read ") + file + " (GRKPAGE_TARGET)");
    program_under_test target;
    target.file = file;
    for (std::string line; std::getline(in, line);) {
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "program")
            target.program = value;
        else if (key == "runner")
            target.runner.push_back(value);
        else if (key == "seam")
            target.seam = value;
        else if (key == "helper")
            target.helper = value;
        else if (key == "needs" && value == "32-bit")
            target.needs_32_bit = true;
        else if (!key.empty() && !key.starts_with('#'))
            throw std::runtime_error(target.file + ": unknown line: " + line);
    }
    if (target.program.empty())
        throw std::runtime_error(target.file + " names no program");
    return target;
}

} // namespace

const program_under_test &under_test() {
    static const program_under_test target = read_target();
    return target;
}

std::string describe_program_under_test() {
    const auto &target = under_test();
    std::string words = target.program;
    if (!target.runner.empty()) {
        words += " under";
        for (const auto &word : target.runner)
            words += " " + word;
    }
    return words + " (" + target.file + ")";
}

bool runs_windows_program() {
    return under_test().program.ends_with(".exe");
}

bool runs_emulated() {
    return !runs_windows_program() && !under_test().runner.empty();
}

namespace {

// scripts/runs-32-bit's answer: nothing where the machine runs 32-bit
// programs, or the line that says why not.
const std::optional<std::string> &why_32_bit_is_refused() {
    static const std::optional<std::string> why = []() -> std::optional<std::string> {
        FILE *probe = popen(GRKPAGE_RUNS_32_BIT " 2>/dev/null", "r");
        if (!probe)
            throw std::runtime_error("cannot run " GRKPAGE_RUNS_32_BIT);
        std::string said;
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, probe))
            said += buffer;
        if (pclose(probe) == 0)
            return std::nullopt;
        while (!said.empty() && said.back() == '\n')
            said.pop_back();
        return said;
    }();
    return why;
}

} // namespace

bool machine_runs_32_bit() {
    return !why_32_bit_is_refused();
}

std::optional<std::string> why_the_program_cannot_run() {
    const auto &target = under_test();
    if (!target.needs_32_bit)
        return std::nullopt;
    if (const auto &why = why_32_bit_is_refused())
        return why;
    if (!target.runner.empty() && access(target.runner.front().c_str(), X_OK) != 0)
        return "no " + target.runner.front() + " here to run a 32-bit program (not installed)";
    return std::nullopt;
}

namespace {

[[noreturn]] void child(const std::vector<std::string> &args, const run_options &options, int out,
                        int err) {
    setpgid(0, 0); // a group of its own, so that a timeout ends its wrapper's children too
    const int in = open("/dev/null", O_RDONLY);
    if (in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
        _exit(126);
    close_range(3, ~0u, 0); // nothing of the test runner's is the program's
    for (const int fd : options.closed)
        close(fd);
    // Whatever the test runner left ignored or blocked is not the program's
    // to inherit; both are kept across exec.
    for (int signal = 1; signal < NSIG; ++signal)
        std::signal(signal, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    std::signal(SIGXFSZ, options.sigxfsz_ignored ? SIG_IGN : SIG_DFL);
    const rlimit no_core{0, 0}; // SIGQUIT and SIGABRT leave no core file behind
    setrlimit(RLIMIT_CORE, &no_core);
    if (options.file_size) {
        const rlimit limit{*options.file_size, *options.file_size};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(126);
    }
    if (options.address_space) {
        const rlimit limit{*options.address_space, *options.address_space};
        if (setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(126);
    }
    const bool windows = runs_windows_program();
    if (windows) {
        setenv("WINEPREFIX", GRKPAGE_WINEPREFIX, 1);
        setenv("WINEDEBUG", "-all", 1);
        setenv("LANG", "C.UTF-8", 1); // names reach the program as UTF-16 from UTF-8
    }
    if (options.unprivileged && geteuid() == 0) {
        if (windows) // wine insists on a prefix of the user's own
            setenv("WINEPREFIX", GRKPAGE_NOBODY_WINEPREFIX, 1);
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(126);
    }
    if (!options.wrapper.empty()) // the leak checker cannot run under ptrace
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    for (const auto &setting : options.environment)
        putenv(const_cast<char *>(setting.c_str()));
    std::vector<std::string> words = options.wrapper;
    words.insert(words.end(), under_test().runner.begin(), under_test().runner.end());
    words.push_back(options.instead.empty() ? under_test().program : options.instead);
    words.insert(words.end(), args.begin(), args.end());
    if (options.on_terminal) { // script runs a shell command: each word quoted
        std::string command;
        for (const auto &word : words) {
            command += command.empty() ? "'" : " '";
            for (const char c : word)
                command += c == '\'' ? std::string("'\\''") : std::string(1, c);
            command += "'";
        }
        words = {"script", "-qec", command, "/dev/null"};
    }
    std::vector<char *> argv;
    for (const auto &w : words)
        argv.push_back(const_cast<char *>(w.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    const std::string why = "cannot start " + describe_program_under_test() + ": " + argv[0] +
                            ": " + std::strerror(errno) + "\n";
    static_cast<void>(!write(2, why.data(), why.size()));
    _exit(127);
}

} // namespace

run_result run_program(const std::vector<std::string> &args, const run_options &options) {
    under_test(); // read before the child needs it
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    if (options.stderr_full) { // filled now, and never read: a write to it blocks
        fcntl(err[1], F_SETFL, O_NONBLOCK);
        const char filler[4096] = {};
        while (write(err[1], filler, sizeof filler) > 0) {
        }
        fcntl(err[1], F_SETFL, 0);
    }
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0)
        child(args, options, out[1], err[1]);
    setpgid(pid, pid); // as the child does: whichever comes first

    close(out[1]);
    close(err[1]);
    if (options.meanwhile)
        options.meanwhile();

    run_result result;
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {options.stderr_full ? -1 : err[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int open_pipes = options.stderr_full ? 1 : 2;
    while (open_pipes > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            kill(-pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_pipes;
            }
        }
    }
    for (auto &fd : fds)
        if (fd.fd >= 0)
            close(fd.fd);
    if (options.stderr_full)
        close(err[0]);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    // qemu says so when a signal ends the program it runs; the program itself
    // said nothing.
    if (runs_emulated() && result.err.starts_with("qemu: uncaught target signal"))
        result.err.erase(0, result.err.find('\n') + 1);
    if (WIFEXITED(wstatus))
        result.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus))
        result.signal = WTERMSIG(wstatus);
    return result;
}
