// A test build of the Windows program makes each call of its platform layer
// through here, so that a test can make any one of them fail as Windows makes
// it fail: the n-th call of one kind on one file, with a real Windows error,
// or a transfer cut short. Set by the environment:
//   GRKPAGE_SEAM_FILE  the file, named as the program is given it;
//   GRKPAGE_SEAM_FAIL  CALL:ERROR:N, as _write:ERROR_DISK_FULL:3; ERROR may be
//                      "short" (half of what was asked is moved) or "none"
//                      (nothing is, as at the end of a file);
//   GRKPAGE_SEAM_LOG   a file that each call on the file is noted in, by name.
// The console handler's setup has no file: every call of it counts.
// The shipped programs are built without it.
#pragma once

#include <sys/stat.h>
#include <windows.h>

namespace seam {

int _wsopen(const wchar_t *path, int flags, int share, int mode = 0);
int _fstati64(int fd, struct _stati64 *status);
BOOL GetFileInformationByHandle(HANDLE handle, BY_HANDLE_FILE_INFORMATION *information);
long long _lseeki64(int fd, long long offset, int origin);
int _read(int fd, void *bytes, unsigned size);
int _write(int fd, const void *bytes, unsigned size);
int _dup(int fd);
int _close(int fd);
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);

} // namespace seam

#define SEAM(call) seam::call
