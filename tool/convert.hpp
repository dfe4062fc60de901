// Converting one named file in place.
#pragma once

#include "platform.hpp"

#include <string>

// Direction of every conversion in this run: 1 converts DOS to Windows,
// 0 Windows to DOS. Set once by the command line, before the first file.
extern int to_windows;

// Writes `message` to standard error as it stands and ends the run with status
// 1, or by the interrupt noted so far, if any: a run that saw one never ends
// as if it had not.
[[noreturn]] void fatal(const std::string &message);

// Ends the run by the interrupt noted so far, if any.
void end_if_interrupted();

// Converts the file at `path` in place, or ends the run through fatal() with
// the file as it was. The file keeps its length; an empty file is left alone.
// An interrupt noted before the last block is written back ends the run with
// the file as it was; one noted later leaves it converted, for the caller to
// obey before the next file.
void convert_file(const native_char *path);
