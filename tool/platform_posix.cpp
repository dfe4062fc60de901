// The platform layer on Linux and the other Unix systems.
#include "platform.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// The build asks for 64-bit offsets: a 32-bit system opens files past 2 GiB.
static_assert(sizeof(off_t) == 8);

bool guard_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // The lowest free number: this one, as those below it are open.
        const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null != fd)
            return false;
    }
    return true;
}

open_file_handle open_file(const native_char *path) {
    // O_NONBLOCK: a FIFO without a writer, or a device, must not hold up the
    // open; what was opened is checked next. O_NOCTTY: a terminal named here
    // must not become the controlling one.
    constexpr int flags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const int fd = open(path, O_RDWR | flags);
    if (fd >= 0)
        return {fd, true};
    return {open(path, O_RDONLY | flags), false};
}

bool lock_for_rewrite(int fd) {
#ifdef F_OFD_SETLK
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET; // from 0 to the end, however far it grows
    if (fcntl(fd, F_OFD_SETLK, &whole) == 0)
        return true;
    // Held by another; any other failure means no such locks here (an old
    // kernel, a network file system without a lock service).
    return errno != EAGAIN && errno != EACCES;
#else
    (void)fd;
    return true;
#endif
}

int open_for_reading(const native_char *path) {
    return open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

std::optional<regular_file> regular_file_of(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0)
        return std::nullopt;
    // st_blocks counts units of 512 bytes, whatever the file system's block.
    const auto size = static_cast<std::uint64_t>(st.st_size);
    return regular_file{size, static_cast<std::uint64_t>(st.st_blocks) * 512 < size};
}

namespace {

// A call repeated for as long as a signal handler interrupts it.
template <class Call> ssize_t uninterrupted(Call call) {
    ssize_t n;
    do
        n = call();
    while (n < 0 && errno == EINTR);
    return n;
}

} // namespace

std::optional<std::size_t> read_at(int fd, void *bytes, std::size_t size, std::uint64_t offset) {
    return move_all(size, [&](std::size_t done) {
        return uninterrupted([&] {
            return pread(fd, static_cast<char *>(bytes) + done, size - done,
                         static_cast<off_t>(offset + done));
        });
    });
}

bool write_at(int fd, const void *bytes, std::size_t size, std::uint64_t offset) {
    const auto moved = move_all(size, [&](std::size_t done) {
        return uninterrupted([&] {
            return pwrite(fd, static_cast<const char *>(bytes) + done, size - done,
                          static_cast<off_t>(offset + done));
        });
    });
    return moved && *moved == size;
}

namespace {

std::uint64_t seek_to(int fd, std::uint64_t offset, std::uint64_t end, int whence,
                      std::uint64_t unknown) {
    const off_t found = lseek(fd, static_cast<off_t>(offset), whence);
    if (found >= 0)
        return std::min(static_cast<std::uint64_t>(found), end);
    return errno == ENXIO ? end : unknown; // ENXIO: nothing but holes from `offset` on
}

} // namespace

std::uint64_t data_from(int fd, std::uint64_t offset, std::uint64_t end) {
    return seek_to(fd, offset, end, SEEK_DATA, offset);
}

std::uint64_t hole_from(int fd, std::uint64_t offset, std::uint64_t end) {
    return seek_to(fd, offset, end, SEEK_HOLE, end);
}

int duplicate(int fd) {
    return fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

bool close_file(int fd) {
    return close(fd) == 0;
}

std::vector<std::string> names_from(const native_char *argument) {
    return {argument};
}

std::string shown_name(const native_char *path) {
    return path;
}

void write_error(const std::string &message) {
    std::fwrite(message.data(), 1, message.size(), stderr);
}

bool write_output(const std::string &text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

bool flush_output() {
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

namespace {

volatile std::sig_atomic_t noted = 0;

extern "C" void note_interrupt(int signal) {
    noted = signal;
}

// Every signal whose default action ends the process, but those the program
// raises on itself by a fault (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP,
// SIGSYS), which must end it at once, and SIGXFSZ, which is ignored.
// SIGABRT is among them: abort() ends the process even when it is caught.
constexpr int terminating[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGABRT, SIGUSR1,   SIGUSR2,
    SIGPIPE,   SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF,
#ifdef SIGIO
    SIGIO,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGEMT
    SIGEMT,
#endif
#ifdef SIGLOST
    SIGLOST,
#endif
};

void defer(int signal) {
    struct sigaction now {
    }, was{};
    now.sa_handler = note_interrupt;
    sigemptyset(&now.sa_mask);
    now.sa_flags = SA_RESTART;
    // A signal ignored on entry (nohup, a background job) stays ignored: one
    // call each, and a second only for those, which are few. Meanwhile every
    // signal is blocked, and putting SIG_IGN back drops one that came.
    if (sigaction(signal, &now, &was) == 0 && was.sa_handler == SIG_IGN)
        sigaction(signal, &was, nullptr);
}

// Calls `each` with every signal that defer_interrupts() looks at.
template <class Each> void for_each_terminating(Each each) {
    for (const int signal : terminating)
        each(signal);
#ifdef SIGRTMIN
    // The real-time signals end the process too.
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        each(signal);
#endif
}

// At its soft value a CPU limit sends SIGXCPU, which is held like any other
// signal; at its hard value the kernel sends SIGKILL, which nothing survives.
// Where the two are equal, as bash's ulimit -t sets them, the soft limit is
// lowered to a third of the hard one. Putting the file in hand back takes less
// CPU time than its rewrite has taken so far, on any content (at most 0.94
// times, bench/rollback), which is at most the time used up to SIGXCPU: the
// other two thirds leave room for it twice over. The kernel takes a soft limit
// of 0 for 1 s, so 1 s is the least.
void leave_room_under_cpu_limit() {
    rlimit cpu{};
    if (getrlimit(RLIMIT_CPU, &cpu) != 0 || cpu.rlim_cur != cpu.rlim_max ||
        cpu.rlim_max == RLIM_INFINITY || cpu.rlim_max < 2)
        return;
    cpu.rlim_cur = std::max<rlim_t>(cpu.rlim_max / 3, 1);
    setrlimit(RLIMIT_CPU, &cpu);
}

} // namespace

bool defer_interrupts() {
    // Past the limit a write fails with EFBIG, which the rewrite rolls back.
    std::signal(SIGXFSZ, SIG_IGN);
    sigset_t all, was;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &was);
    for_each_terminating(defer);
    sigprocmask(SIG_SETMASK, &was, nullptr);
    leave_room_under_cpu_limit();
    return true;
}

void obey_interrupts_at_once() {
    for_each_terminating([](int signal) {
        struct sigaction was {};
        if (sigaction(signal, nullptr, &was) == 0 && was.sa_handler == note_interrupt)
            std::signal(signal, SIG_DFL);
    });
}

int pending_interrupt() {
    return noted;
}

void obey_interrupt(int which) {
    std::signal(which, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, which);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(which);
    _exit(128 + which); // not reached: the signal ends the process
}

// Fresh memory costs a page fault per page, and with 4 KiB pages the faults
// take longer than filling the memory; 2 MiB pages make them vanish. Only a
// hint: where the system has no such pages, nothing changes.
void prefer_huge_pages([[maybe_unused]] void *start, [[maybe_unused]] std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t huge_page = 2 * 1024 * 1024;
    const auto first = reinterpret_cast<std::uintptr_t>(start);
    const auto aligned = (first + huge_page - 1) & ~(huge_page - 1);
    if (size >= huge_page && aligned - first < size)
        madvise(reinterpret_cast<void *>(aligned), size - (aligned - first), MADV_HUGEPAGE);
#endif
}
