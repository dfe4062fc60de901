// Looking at a file before converting it: which code page it is in, read once,
// read-only, never a folder or a special file, never more than it held when
// opened. For grkpage-detect and the Send To helpers.
#pragma once

#include "codepage/identify.hpp"
#include "platform.hpp"

struct looked {
    enum { identified, cannot_open, not_regular, cannot_read } outcome;
    finding found; // when identified
};

looked look_at(const native_char *path);

// The message for a file that could not be looked at, with a line end.
std::string why_not(const looked &l, const native_char *path);
