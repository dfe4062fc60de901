#include "platform.hpp"

#include <algorithm>
#include <cstdio>

#ifdef _WIN32
#include <atomic>
#include <climits>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Calls `step` with the number of bytes moved so far until `size` bytes have
// moved or a step moves none (the end of the file); nothing if a step fails.
template <class Step> std::optional<std::size_t> move_all(std::size_t size, Step step) {
    std::size_t done = 0;
    while (done < size) {
        const auto n = step(done);
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

} // namespace

#ifdef _WIN32

open_file_handle open_file(const native_char *path) {
    // _O_NOINHERIT: no program this one starts should hold the file open.
    constexpr int flags = _O_BINARY | _O_NOINHERIT;
    int fd = _wsopen(path, _O_RDWR | flags, _SH_DENYNO);
    if (fd >= 0)
        return {fd, true};
    return {_wsopen(path, _O_RDONLY | flags, _SH_DENYNO), false};
}

std::optional<std::uint64_t> regular_file_size(int fd) {
    struct _stati64 st {};
    if (_fstati64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG || st.st_size < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

namespace {

// The C runtime has no positioned read or write: seek with a 64-bit offset,
// which the 32-bit program needs for files past 2 GiB, then transfer.
bool seek(int fd, std::uint64_t offset) {
    return offset <= static_cast<std::uint64_t>(LLONG_MAX) &&
           _lseeki64(fd, static_cast<long long>(offset), SEEK_SET) >= 0;
}

// One call moves at most INT_MAX bytes.
unsigned chunk(std::size_t left) {
    return static_cast<unsigned>(std::min<std::size_t>(left, INT_MAX));
}

} // namespace

std::optional<std::size_t> read_at(int fd, void *bytes, std::size_t size, std::uint64_t offset) {
    if (!seek(fd, offset))
        return std::nullopt;
    return move_all(size, [&](std::size_t done) {
        return _read(fd, static_cast<char *>(bytes) + done, chunk(size - done));
    });
}

bool write_at(int fd, const void *bytes, std::size_t size, std::uint64_t offset) {
    if (!seek(fd, offset))
        return false;
    const auto moved = move_all(size, [&](std::size_t done) {
        return _write(fd, static_cast<const char *>(bytes) + done, chunk(size - done));
    });
    return moved && *moved == size;
}

// Holes are not looked for: they read as zeros, which are converted like any
// other bytes that stay the same.
std::uint64_t data_from(int, std::uint64_t offset, std::uint64_t) {
    return offset;
}

std::uint64_t hole_from(int, std::uint64_t, std::uint64_t end) {
    return end;
}

int duplicate(int fd) {
    return _dup(fd);
}

bool close_file(int fd) {
    return _close(fd) == 0;
}

namespace {

std::atomic<int> noted{0};

// Runs on a thread of its own.
BOOL WINAPI note_interrupt(DWORD event) {
    noted = static_cast<int>(event) + 1;
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE;
    // Closing the console, logging off or shutting down ends the process as
    // soon as this returns: wait instead, so that the main thread can put the
    // file in hand back and end the process itself. Windows ends it anyway
    // after a few seconds.
    Sleep(INFINITE);
    return TRUE;
}

std::wstring utf16(const std::string &text) {
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

} // namespace

std::string shown_name(const native_char *path) {
    const int length = static_cast<int>(std::char_traits<wchar_t>::length(path));
    const int n = WideCharToMultiByte(CP_UTF8, 0, path, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, path, length, out.data(), n, nullptr, nullptr);
    return out;
}

// A console shows the name in any script when it is handed UTF-16; anything
// else (a pipe, a file) gets UTF-8, through the C library so that line ends
// come out as CR LF like every other console program's.
void write_error(const std::string &message) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        const std::wstring wide = utf16(message);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::fwrite(message.data(), 1, message.size(), stderr);
    std::fflush(stderr);
}

void defer_interrupts() {
    SetConsoleCtrlHandler(note_interrupt, TRUE);
}

int pending_interrupt() {
    return noted;
}

// What a console program that Ctrl-C ends exits with.
void obey_interrupt(int) {
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

#else

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

std::optional<std::uint64_t> regular_file_size(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
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

std::string shown_name(const native_char *path) {
    return path;
}

void write_error(const std::string &message) {
    std::fwrite(message.data(), 1, message.size(), stderr);
}

namespace {

volatile std::sig_atomic_t noted = 0;

extern "C" void note_interrupt(int signal) {
    noted = signal;
}

} // namespace

void defer_interrupts() {
    // Past the limit a write fails with EFBIG, which the rewrite rolls back.
    std::signal(SIGXFSZ, SIG_IGN);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction was {};
        // An interrupt ignored on entry (nohup, a background job) stays ignored.
        if (sigaction(signal, nullptr, &was) != 0 || was.sa_handler == SIG_IGN)
            continue;
        struct sigaction now {};
        now.sa_handler = note_interrupt;
        sigemptyset(&now.sa_mask);
        now.sa_flags = SA_RESTART;
        sigaction(signal, &now, nullptr);
    }
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

#endif

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
