#include "seam.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <io.h>
#include <set>
#include <string>

namespace {

// The errors a test may name, and the C runtime's errno for each.
struct windows_error {
    const char *name;
    DWORD code;
    int errno_value;
};

constexpr windows_error errors[] = {
    {"ERROR_ACCESS_DENIED", ERROR_ACCESS_DENIED, EACCES},
    {"ERROR_SHARING_VIOLATION", ERROR_SHARING_VIOLATION, EACCES},
    {"ERROR_LOCK_VIOLATION", ERROR_LOCK_VIOLATION, EACCES},
    {"ERROR_DISK_FULL", ERROR_DISK_FULL, ENOSPC},
    {"ERROR_BAD_NETPATH", ERROR_BAD_NETPATH, ENOENT},
    {"ERROR_NETNAME_DELETED", ERROR_NETNAME_DELETED, EINVAL},
    {"ERROR_OPERATION_ABORTED", ERROR_OPERATION_ABORTED, EINVAL},
    {"ERROR_TOO_MANY_OPEN_FILES", ERROR_TOO_MANY_OPEN_FILES, EMFILE},
    {"ERROR_NOT_ENOUGH_MEMORY", ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
};

enum class outcome { made, failed, cut_short, nothing_moved };

struct plan {
    std::wstring file;         // the file watched
    std::string call;          // the call to fail
    std::string how;           // an error's name, "short" or "none"
    int index = 0;             // which of its calls, from 1
    std::FILE *log = nullptr;  // where each call is noted
    std::set<int> descriptors; // the watched file's, while open
    int made = 0;              // calls of `call` so far
};

std::wstring wide_environment(const wchar_t *name) {
    const wchar_t *value = _wgetenv(name);
    return value ? value : L"";
}

plan &the_plan() {
    static plan p = [] {
        plan made;
        made.file = wide_environment(L"GRKPAGE_SEAM_FILE");
        if (const char *fail = std::getenv("GRKPAGE_SEAM_FAIL")) {
            const std::string text = fail;
            const auto first = text.find(':'), second = text.rfind(':');
            if (first != std::string::npos && second > first) {
                made.call = text.substr(0, first);
                made.how = text.substr(first + 1, second - first - 1);
                made.index = std::atoi(text.c_str() + second + 1);
            }
        }
        if (const char *log = std::getenv("GRKPAGE_SEAM_LOG"))
            made.log = std::fopen(log, "ab");
        return made;
    }();
    return p;
}

// Notes the call, and says what becomes of it.
outcome consider(const char *call) {
    plan &p = the_plan();
    if (p.log) {
        std::fprintf(p.log, "%s\n", call);
        std::fflush(p.log);
    }
    if (p.call != call || ++p.made != p.index)
        return outcome::made;
    if (p.how == "short")
        return outcome::cut_short;
    if (p.how == "none")
        return outcome::nothing_moved;
    for (const windows_error &e : errors)
        if (p.how == e.name) {
            SetLastError(e.code);
            _doserrno = e.code;
            errno = e.errno_value;
            return outcome::failed;
        }
    std::fprintf(stderr, "seam: no error named %s\n", p.how.c_str());
    std::abort();
}

bool watched(int fd) {
    return the_plan().descriptors.count(fd) != 0;
}

} // namespace

namespace seam {

int _wsopen(const wchar_t *path, int flags, int share, int mode) {
    if (path != the_plan().file)
        return ::_wsopen(path, flags, share, mode);
    if (consider("_wsopen") == outcome::failed)
        return -1;
    const int fd = ::_wsopen(path, flags, share, mode);
    if (fd >= 0)
        the_plan().descriptors.insert(fd);
    return fd;
}

int _fstati64(int fd, struct _stati64 *status) {
    if (watched(fd) && consider("_fstati64") == outcome::failed)
        return -1;
    return ::_fstati64(fd, status);
}

BOOL GetFileInformationByHandle(HANDLE handle, BY_HANDLE_FILE_INFORMATION *information) {
    for (const int fd : the_plan().descriptors)
        if (reinterpret_cast<HANDLE>(_get_osfhandle(fd)) == handle) {
            if (consider("GetFileInformationByHandle") == outcome::failed)
                return FALSE;
            break;
        }
    return ::GetFileInformationByHandle(handle, information);
}

long long _lseeki64(int fd, long long offset, int origin) {
    if (watched(fd) && consider("_lseeki64") == outcome::failed)
        return -1;
    return ::_lseeki64(fd, offset, origin);
}

// A transfer cut short moves the first half of what was asked, as a
// network drive may; one that moves nothing returns 0.
template <class Transfer> int transfer(int fd, unsigned size, const char *call, Transfer move) {
    if (!watched(fd))
        return move(size);
    switch (consider(call)) {
    case outcome::failed:
        return -1;
    case outcome::nothing_moved:
        return 0;
    case outcome::cut_short:
        return move(size > 1 ? size / 2 : size);
    case outcome::made:
        break;
    }
    return move(size);
}

int _read(int fd, void *bytes, unsigned size) {
    return transfer(fd, size, "_read", [&](unsigned n) { return ::_read(fd, bytes, n); });
}

int _write(int fd, const void *bytes, unsigned size) {
    return transfer(fd, size, "_write", [&](unsigned n) { return ::_write(fd, bytes, n); });
}

int _dup(int fd) {
    if (!watched(fd))
        return ::_dup(fd);
    if (consider("_dup") == outcome::failed)
        return -1;
    const int copy = ::_dup(fd);
    if (copy >= 0)
        the_plan().descriptors.insert(copy);
    return copy;
}

int _close(int fd) {
    if (!watched(fd))
        return ::_close(fd);
    the_plan().descriptors.erase(fd);
    const bool fails = consider("_close") == outcome::failed;
    const int closed = ::_close(fd); // a failed close closes the descriptor all the same
    return fails ? -1 : closed;
}

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
    if (consider("SetConsoleCtrlHandler") == outcome::failed)
        return FALSE;
    return ::SetConsoleCtrlHandler(handler, add);
}

} // namespace seam
