#include "run_program.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

std::string program_path() {
    const char *override = std::getenv("GRKPAGE_PROGRAM");
    return override && *override ? override : GRKPAGE_PROGRAM;
}

bool runs_windows_program() {
    return program_path().ends_with(".exe");
}

namespace {

std::string wine_loader() {
    const char *override = std::getenv("GRKPAGE_WINE");
    return override && *override ? override : GRKPAGE_WINE;
}

} // namespace

std::optional<std::string> why_the_program_cannot_run() {
    if (!runs_windows_program())
        return std::nullopt;
    static const std::optional<std::string> why = []() -> std::optional<std::string> {
        const std::string loader = wine_loader();
        if (access(loader.c_str(), X_OK) != 0)
            return "no wine loader at " + loader + " (wine32:i386, for the 32-bit program)";
        if (std::system((loader + " --version >/dev/null 2>&1").c_str()) != 0)
            return loader + " does not run here: this machine refuses 32-bit programs";
        return std::nullopt;
    }();
    return why;
}

// The emulator that runs a program built for another processor, as words:
// $GRKPAGE_EMULATOR when set, or the cross build's own.
std::vector<std::string> emulator() {
    const char *override = std::getenv("GRKPAGE_EMULATOR");
    const std::string_view all = override && *override ? override : GRKPAGE_EMULATOR;
    std::vector<std::string> words;
    for (std::size_t at = 0; at < all.size();) {
        const std::size_t end = std::min(all.find(' ', at), all.size());
        if (end > at)
            words.emplace_back(all.substr(at, end - at));
        at = end + 1;
    }
    return words;
}

bool runs_emulated() {
    return !runs_windows_program() && !emulator().empty();
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
    const std::string tested = program_path();
    std::vector<std::string> runner =
        windows ? std::vector<std::string>{wine_loader()}
                : (runs_emulated() ? emulator() : std::vector<std::string>{});
    runner.push_back(tested);
    std::vector<char *> argv;
    for (const auto &w : options.wrapper)
        argv.push_back(const_cast<char *>(w.c_str()));
    for (const auto &w : runner)
        argv.push_back(const_cast<char *>(w.c_str()));
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    const std::string why =
        std::string("cannot run ") + argv[0] + ": " + std::strerror(errno) + "\n";
    static_cast<void>(!write(2, why.data(), why.size()));
    _exit(127);
}

} // namespace

run_result run_program(const std::vector<std::string> &args, const run_options &options) {
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
