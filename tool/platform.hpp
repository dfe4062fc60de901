// What differs between Windows and the Unix systems: how file names arrive,
// how a file is opened, read and written by offset, how a message reaches the
// user, and how an interrupt is caught and then obeyed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

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

// Opens `path` for reading and writing, or failing that for reading only, in a
// way that never waits: a FIFO or a device opens at once, and the check of what
// was opened comes after.
open_file_handle open_file(const native_char *path);

// The size of what `fd` refers to, if it is a regular file.
std::optional<std::uint64_t> regular_file_size(int fd);

// Reads up to `size` bytes at `offset`; fewer only where the file ends.
// Returns how many, or nothing after a read error.
std::optional<std::size_t> read_at(int fd, void *bytes, std::size_t size, std::uint64_t offset);

// Where the data after `offset` begins, when `offset` is in a hole of a sparse
// file; `end` when only holes follow. Where holes cannot be told, `offset`.
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

// The name as the user typed it, for a message: the bytes themselves, or UTF-8
// on Windows.
std::string shown_name(const native_char *path);

// Writes `message` (UTF-8 on Windows) to standard error as it stands.
void write_error(const std::string &message);

// Asks for large pages behind a large buffer, where the system has them.
void prefer_huge_pages(void *start, std::size_t size);

// From here on, an interrupt (SIGINT, SIGTERM or SIGHUP; on Windows Ctrl-C,
// Ctrl-Break or closing the console) is only noted, for the run to obey at a
// point where no file is left half converted; and a file size limit makes a
// write fail instead of killing the process.
void defer_interrupts();

// The interrupt noted so far, or 0.
int pending_interrupt();

// Ends the process as the interrupt `which` would have ended it had it not been
// deferred: on Unix by the signal itself, so the shell sees 128 + its number.
[[noreturn]] void obey_interrupt(int which);
