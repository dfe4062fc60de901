// The platform layer on Windows, through the C runtime and the console API.
#include "platform.hpp"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#ifdef GRKPAGE_SEAM
#include "seam.hpp" // a test build: any call through SEAM can be made to fail
#else
#define SEAM(call) call
#endif

bool guard_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        // -1: no such descriptor; -2: one that the C runtime holds without a
        // handle behind it, as for a program started with no standard streams.
        const intptr_t handle = _get_osfhandle(fd);
        if (handle != -1 && handle != -2)
            continue;
        const int null = _wsopen(L"NUL", fd == 0 ? _O_RDONLY : _O_WRONLY, _SH_DENYNO);
        if (null < 0)
            return false;
        if (null != fd) {
            const bool moved = _dup2(null, fd) == 0;
            _close(null);
            if (!moved)
                return false;
        }
    }
    return true;
}

open_file_handle open_file(const native_char *path) {
    // _O_NOINHERIT: no program this one starts should hold the file open.
    // _SH_DENYWR: while it is rewritten, no other program may write to it (a
    // second grkpage among them), and others may still read it.
    constexpr int flags = _O_BINARY | _O_NOINHERIT;
    int fd = SEAM(_wsopen)(path, _O_RDWR | flags, _SH_DENYWR);
    if (fd >= 0)
        return {fd, true};
    // Another program has it open for writing, or does not let others write:
    // it is not to be touched now.
    if (_doserrno == ERROR_SHARING_VIOLATION)
        return {-1, false};
    return {SEAM(_wsopen)(path, _O_RDONLY | flags, _SH_DENYNO), false};
}

bool lock_for_rewrite(int) {
    return true;
}

// Through CreateFileW, which opens a folder too (FILE_FLAG_BACKUP_SEMANTICS),
// so that what was opened is checked after, as on Unix, and a folder is told
// from a file that cannot be opened.
int open_for_reading(const native_char *path) {
    const HANDLE handle =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0)
        CloseHandle(handle);
    return fd;
}

// Holes are not looked for (see data_from), so no file is taken for sparse.
std::optional<regular_file> regular_file_of(int fd) {
    struct _stati64 st {};
    if (SEAM(_fstati64)(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG || st.st_size < 0)
        return std::nullopt;
    // The C runtime calls anything on a disk a regular file, a folder too.
    BY_HANDLE_FILE_INFORMATION info{};
    if (!SEAM(GetFileInformationByHandle)(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return regular_file{static_cast<std::uint64_t>(st.st_size), false};
}

namespace {

// The C runtime has no positioned read or write: seek with a 64-bit offset,
// which the 32-bit program needs for files past 2 GiB, then transfer.
bool seek(int fd, std::uint64_t offset) {
    return offset <= static_cast<std::uint64_t>(LLONG_MAX) &&
           SEAM(_lseeki64)(fd, static_cast<long long>(offset), SEEK_SET) >= 0;
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
        return SEAM(_read)(fd, static_cast<char *>(bytes) + done, chunk(size - done));
    });
}

bool write_at(int fd, const void *bytes, std::size_t size, std::uint64_t offset) {
    if (!seek(fd, offset))
        return false;
    const auto moved = move_all(size, [&](std::size_t done) {
        return SEAM(_write)(fd, static_cast<const char *>(bytes) + done, chunk(size - done));
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
    return SEAM(_dup)(fd);
}

bool close_file(int fd) {
    return SEAM(_close)(fd) == 0;
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

std::vector<std::wstring> names_from(const native_char *argument) {
    const std::wstring pattern = argument;
    const std::size_t last = pattern.find_last_of(L"\\/:") + 1; // 0 when there is none
    if (pattern.find_first_of(L"*?", last) == std::wstring::npos)
        return {pattern};
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search =
        FindFirstFileExW(argument, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search != INVALID_HANDLE_VALUE) {
        do // files only, as Command Prompt's for takes them
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(pattern.substr(0, last) + found.cFileName);
        while (FindNextFileW(search, &found));
        FindClose(search);
    }
    if (names.empty())
        return {pattern};
    std::sort(names.begin(), names.end());
    return names;
}

std::string shown_name(const native_char *path) {
    const int length = static_cast<int>(std::char_traits<wchar_t>::length(path));
    const int n = WideCharToMultiByte(CP_UTF8, 0, path, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, path, length, out.data(), n, nullptr, nullptr);
    return out;
}

namespace {

// A console shows the name in any script when it is handed UTF-16; anything
// else (a pipe, a file) gets UTF-8, through the C library so that line ends
// come out as CR LF like every other console program's.
bool write_to(std::FILE *stream, const std::string &text) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        const std::wstring wide = utf16(text);
        DWORD written = 0;
        return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written,
                             nullptr) != 0;
    }
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

} // namespace

void write_error(const std::string &message) {
    write_to(stderr, message);
    std::fflush(stderr);
}

bool write_output(const std::string &text) {
    return write_to(stdout, text);
}

bool flush_output() {
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

bool defer_interrupts() {
    return SEAM(SetConsoleCtrlHandler)(note_interrupt, TRUE) != 0;
}

// Without the handler, Windows ends the process itself.
void obey_interrupts_at_once() {
    SEAM(SetConsoleCtrlHandler)(note_interrupt, FALSE);
}

int pending_interrupt() {
    return noted;
}

// What a console program that Ctrl-C ends exits with.
void obey_interrupt(int) {
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

// Large pages need a privilege that ordinary users lack; nothing to ask for.
void prefer_huge_pages(void *, std::size_t) {}
