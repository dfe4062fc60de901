// What differs between Windows and the Unix systems: how file names arrive and
// are opened, how a message reaches the user, and a memory hint.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// A file name as the system delivers it: UTF-16 on Windows, so that a name
// outside the ANSI code page still opens; bytes elsewhere.
#ifdef _WIN32
using native_char = wchar_t;
#else
using native_char = char;
#endif

// fopen for a native name; `mode` is one of "rb" and "r+b".
std::FILE *open_file(const native_char *path, const char *mode);

// The name as the user typed it, for a message: the bytes themselves, or UTF-8
// on Windows.
std::string shown_name(const native_char *path);

// Writes `message` (UTF-8 on Windows) to standard error as it stands.
void write_error(const std::string &message);

// Asks for large pages behind a large buffer, where the system has them.
void prefer_huge_pages(void *start, std::size_t size);
