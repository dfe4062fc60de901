// Converting one named file in place.
#pragma once

#include "platform.hpp"

#include <string>

// Direction of every conversion in this run: 1 converts DOS to Windows,
// 0 Windows to DOS. Set once by the command line, before the first file.
extern int to_windows;

// Writes `message` to standard error as it stands and ends the run with status 1.
[[noreturn]] void fatal(const std::string &message);

// Converts the file at `path` in place, or ends the run through fatal() with
// the file as it was. The file keeps its length; an empty file is left alone.
// An interrupt noted before or during the call ends the run with the file as
// it was, or, if it came after the last write, converted.
void convert_file(const native_char *path);
