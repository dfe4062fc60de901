#include "platform.hpp"

#include <cstdint>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#elif defined(__linux__)
#include <sys/mman.h>
#endif

#ifdef _WIN32

std::FILE *open_file(const native_char *path, const char *mode) {
    std::wstring wide_mode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(path, wide_mode.c_str());
}

namespace {

std::wstring utf16(const std::string &text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0);
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

#else

std::FILE *open_file(const native_char *path, const char *mode) { return std::fopen(path, mode); }

std::string shown_name(const native_char *path) { return path; }

void write_error(const std::string &message) {
    std::fwrite(message.data(), 1, message.size(), stderr);
}

#endif

// Reading a large file into fresh memory costs a page fault per page, and with
// 4 KiB pages the faults take longer than the copy itself; 2 MiB pages make
// them vanish. Only a hint: where the system has no such pages, nothing changes.
void prefer_huge_pages([[maybe_unused]] void *start, [[maybe_unused]] std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t huge_page = 2 * 1024 * 1024;
    const auto first = reinterpret_cast<std::uintptr_t>(start);
    const auto aligned = (first + huge_page - 1) & ~(huge_page - 1);
    if (size >= huge_page && aligned - first < size)
        madvise(reinterpret_cast<void *>(aligned), size - (aligned - first), MADV_HUGEPAGE);
#endif
}
