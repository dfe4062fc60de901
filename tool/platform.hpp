// What differs between Windows and the Unix systems: how file names arrive,
// how a file is opened, read and written by offset, how a message reaches the
// user, and how an interrupt is caught and then obeyed. Each system has a
// source file of its own (platform_posix.cpp, platform_windows.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A file name as the system delivers it: UTF-16 on Windows, so that a name
// outside the ANSI code page still opens; bytes elsewhere.
#ifdef _WIN32
using native_char = wchar_t;
#else
using native_char = char;
#endif

// A file opened by open_file; every later step goes through the descriptor.
struct open_file_handle {
    int fd = -1;           // -1: the name could not be opened at all
    bool writable = false; // false: it opened for reading only
};

// Makes sure that standard input, output and error are open, opening the null
// device onto any that is closed. Called before any file is opened: otherwise
// a file, or its spare descriptor, could take the number of standard error,
// and a message meant for the user would land inside the file.
// False when one could not be opened: the run must then touch no file.
[[nodiscard]] bool guard_standard_streams();

// Opens `path` for reading and writing, or failing that for reading only, in a
// way that never waits: a FIFO or a device opens at once, and the check of what
// was opened comes after.
open_file_handle open_file(const native_char *path);

// Opens `path` for reading only, in a way that never waits, as open_file does;
// -1 when it cannot be opened.
int open_for_reading(const native_char *path);

// Takes the rewrite's lock on the whole file opened as `fd`, for as long as
// the file is open: false when another grkpage, or another program that asks
// for it, holds it now. On Unix an open file description lock, which only
// programs that ask for locks heed; where the system has no such locks, true.
// On Windows open_file() has already shut other writers out (its share mode),
// so nothing is left to take.
bool lock_for_rewrite(int fd);

// What `fd` refers to, if it is a regular file: its size, and whether fewer
// bytes are stored for it than it holds, as for a sparse file, whose holes are
// then worth looking for.
struct regular_file {
    std::uint64_t size = 0;
    bool sparse = false;
};
std::optional<regular_file> regular_file_of(int fd);

// Reads up to `size` bytes at `offset`; fewer where the file ends, or where the
// system says it ends. Returns how many, or nothing after a read error.
std::optional<std::size_t> read_at(int fd, void *bytes, std::size_t size, std::uint64_t offset);

// Where the data after `offset` begins, when `offset` is in a hole of a sparse
// file (one that regular_file_of() says is sparse); `end` when only holes follow. Where holes
// cannot be told, `offset`.
std::uint64_t data_from(int fd, std::uint64_t offset, std::uint64_t end);

// Where the next hole at or after `offset` begins, or `end` when none can be told.
std::uint64_t hole_from(int fd, std::uint64_t offset, std::uint64_t end);

// Writes all `size` bytes at `offset`, or returns false.
bool write_at(int fd, const void *bytes, std::size_t size, std::uint64_t offset);

// A second descriptor for the same open file, or -1.
int duplicate(int fd);

// Closes `fd`; false when the system reports a failure, such as data that
// could not be written back.
bool close_file(int fd);

// The file names that a command-line argument stands for. On Windows, where
// Command Prompt leaves wildcards to the program, a name with * or ? in its
// last part stands for the files it matches (not folders, as Command
// Prompt's for), in order, with its folder part before each; or for itself
// where it matches none. Elsewhere the shell has
// expanded it already: an argument is one name.
std::vector<std::basic_string<native_char>> names_from(const native_char *argument);

// The name as the user typed it, for a message: the bytes themselves, or UTF-8
// on Windows.
std::string shown_name(const native_char *path);

// Writes `message` (UTF-8 on Windows) to standard error as it stands.
void write_error(const std::string &message);

// Writes `text` (UTF-8 on Windows) to standard output; false when it could not
// be written. A console on Windows is handed it as UTF-16, so that a name in any
// script shows as it is.
bool write_output(const std::string &text);

// Makes sure that all written to standard output has reached it; false if not.
bool flush_output();

// Asks for large pages behind a large buffer, where the system has them.
void prefer_huge_pages(void *start, std::size_t size);

// From here on, an interrupt is only noted, for the run to obey at a point
// where no file is left half converted: on Unix every catchable signal whose
// default action ends the process (but the faults a program raises on itself,
// such as SIGSEGV), unless it was ignored at start; on Windows Ctrl-C,
// Ctrl-Break and closing the console. A file size limit makes a write fail
// instead of killing the process, and a CPU limit that would kill it without
// warning warns first (SIGXCPU), early enough to put the file back.
// False when the system would not let the console's events be caught, on
// Windows: an interrupt would then end the run with a file half converted, so
// no file may be touched. On Unix a signal whose handler cannot be set (qemu
// keeps some of the real-time signals for itself) is left as it was.
[[nodiscard]] bool defer_interrupts();

// From here on, an interrupt ends the process at once, as it would have
// without defer_interrupts(): for when no file is left half converted, and
// the run only has a message to write, which may never finish (standard error
// a full pipe whose reader has stopped).
void obey_interrupts_at_once();

// The interrupt noted so far, or 0.
int pending_interrupt();

// Ends the process as the interrupt `which` would have ended it had it not been
// deferred: on Unix by the signal itself, so the shell sees 128 + its number.
[[noreturn]] void obey_interrupt(int which);

// Calls `step` with the number of bytes moved so far until `size` bytes have
// moved or a step moves none (the end of the file); nothing if a step fails.
// How both systems' files read and write.
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
