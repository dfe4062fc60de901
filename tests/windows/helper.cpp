// What other programs do to a file while the Windows grkpage works on it, for
// the tests: hold it open, lock part of it, try to open it while grkpage has
// it, and interrupt grkpage from its console. Each verb writes what it found,
// a line each, to REPORT; a line "skip: WHY" says that wine here cannot do
// what the verb is for, found by trying it first.
//   helper REPORT check FILE
//   helper REPORT hold FILE -- PROGRAM [ARGUMENT...]
//   helper REPORT lock FILE OFFSET LENGTH -- PROGRAM [ARGUMENT...]
//   helper REPORT interrupt ctrl-c|ctrl-break|close GO -- PROGRAM [ARGUMENT...]
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::FILE *report = nullptr;

void say(const std::string &line) {
    std::fprintf(report, "%s\n", line.c_str());
    std::fflush(report);
}

// "opened", or "refused" and the error.
std::string try_open(const wchar_t *file, DWORD access, DWORD share) {
    const HANDLE h = CreateFileW(file, access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "refused " + std::to_string(GetLastError());
    CloseHandle(h);
    return "opened";
}

// What Notepad, an editor saving in place and an editor saving a new copy
// over the name meet while grkpage has the file.
void check(const wchar_t *file) {
    constexpr DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    say("write: " + try_open(file, GENERIC_WRITE, all));
    say("read: " + try_open(file, GENERIC_READ, all));
    say("read, denying writers: " + try_open(file, GENERIC_READ, FILE_SHARE_READ));
    const std::wstring copy = std::wstring(file) + L".new";
    CopyFileW(file, copy.c_str(), FALSE);
    say(std::string("replace: ") + (MoveFileExW(copy.c_str(), file, MOVEFILE_REPLACE_EXISTING)
                                        ? "done"
                                        : "refused " + std::to_string(GetLastError())));
    DeleteFileW(copy.c_str());
}

// The program and its arguments, quoted for its command line.
std::wstring command_line(wchar_t **argv, int from, int argc) {
    std::wstring line;
    for (int i = from; i < argc; ++i)
        line += (line.empty() ? L"\"" : L" \"") + std::wstring(argv[i]) + L"\"";
    return line;
}

PROCESS_INFORMATION start(std::wstring line, DWORD flags) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    for (HANDLE *h : {&startup.hStdInput, &startup.hStdOutput, &startup.hStdError}) {
        const DWORD which = h == &startup.hStdInput    ? STD_INPUT_HANDLE
                            : h == &startup.hStdOutput ? STD_OUTPUT_HANDLE
                                                       : STD_ERROR_HANDLE;
        *h = GetStdHandle(which);
        SetHandleInformation(*h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                        &startup, &started)) {
        say("cannot start the program: " + std::to_string(GetLastError()));
        std::exit(1);
    }
    return started;
}

// The program's exit status, which the helper ends with too.
DWORD wait_and_say_exit(const PROCESS_INFORMATION &program) {
    WaitForSingleObject(program.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(program.hProcess, &code);
    char text[32];
    std::snprintf(text, sizeof text, "exit %lx", static_cast<unsigned long>(code));
    say(text);
    return code;
}

// Holds a shared lock on LENGTH bytes at OFFSET: others may read them, none
// may write them. Tried first through a second handle, which Windows holds
// to the lock as it holds another program.
bool lock(const wchar_t *file, DWORD offset, DWORD length) {
    constexpr DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const HANDLE h =
        CreateFileW(file, GENERIC_READ | GENERIC_WRITE, all, nullptr, OPEN_EXISTING, 0, nullptr);
    OVERLAPPED at{};
    at.Offset = offset;
    if (h == INVALID_HANDLE_VALUE || !LockFileEx(h, LOCKFILE_FAIL_IMMEDIATELY, 0, length, 0, &at)) {
        say("cannot lock: " + std::to_string(GetLastError()));
        return false;
    }
    const HANDLE other =
        CreateFileW(file, GENERIC_READ | GENERIC_WRITE, all, nullptr, OPEN_EXISTING, 0, nullptr);
    char same[16];
    DWORD n = 0;
    OVERLAPPED there{};
    there.Offset = offset;
    const bool read = ReadFile(other, same, sizeof same, &n, &there);
    there = {};
    there.Offset = offset;
    const bool written = WriteFile(other, same, n, &n, &there); // the bytes that are there
    CloseHandle(other);
    if (read && written) {
        say("skip: wine does not hold a write to the byte-range lock that LockFileEx took");
        return false;
    }
    say("locked");
    return true;
}

volatile LONG seen = -1;

BOOL WINAPI swallow(DWORD event) {
    seen = static_cast<LONG>(event);
    return TRUE;
}

bool exists(const wchar_t *file) {
    return GetFileAttributesW(file) != INVALID_FILE_ATTRIBUTES;
}

// Starts the program in this console (a console of its own for "close"),
// waits for GO to appear, then sends the event. Each is tried first: Ctrl-C
// and Ctrl-Break on this helper alone, closing on a console that has a window.
DWORD interrupt(const std::wstring &how, const wchar_t *go, const std::wstring &line) {
    SetConsoleCtrlHandler(swallow, TRUE);
    if (how == L"close") {
        const PROCESS_INFORMATION program = start(line, CREATE_NEW_CONSOLE | CREATE_SUSPENDED);
        FreeConsole();
        const HWND window = AttachConsole(program.dwProcessId) ? GetConsoleWindow() : nullptr;
        FreeConsole();
        if (!window) {
            TerminateProcess(program.hProcess, 1);
            say("skip: wine's console here has no window to close (GetConsoleWindow gives none)");
            return 0;
        }
        ResumeThread(program.hThread);
        while (!exists(go))
            Sleep(10);
        PostMessageW(window, WM_CLOSE, 0, 0);
        say("sent");
        return wait_and_say_exit(program);
    }
    const DWORD event = how == L"ctrl-c" ? CTRL_C_EVENT : CTRL_BREAK_EVENT;
    const char *name = how == L"ctrl-c" ? "Ctrl-C" : "Ctrl-Break";
    if (!GenerateConsoleCtrlEvent(event, 0)) {
        say(std::string("skip: wine cannot send ") + name +
            " (GenerateConsoleCtrlEvent fails with error " + std::to_string(GetLastError()) + ")");
        return 0;
    }
    for (int i = 0; i < 500 && seen < 0; ++i)
        Sleep(10);
    if (seen != static_cast<LONG>(event)) {
        say(std::string("skip: wine sends ") + name + " but it never arrives");
        return 0;
    }
    const PROCESS_INFORMATION program = start(line, 0);
    while (!exists(go))
        Sleep(10);
    GenerateConsoleCtrlEvent(event, 0);
    say("sent");
    return wait_and_say_exit(program);
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    if (argc < 4 || !(report = _wfopen(argv[1], L"wb")))
        return 2;
    const std::wstring verb = argv[2];
    int program = 0; // where the program's words begin, after "--"
    for (int i = 3; i < argc; ++i)
        if (std::wcscmp(argv[i], L"--") == 0) {
            program = i + 1;
            break;
        }
    const std::wstring line = program ? command_line(argv, program, argc) : L"";
    // It ends as the program it ran did.
    if (verb == L"check") {
        check(argv[3]);
    } else if (verb == L"hold" && program) {
        const HANDLE held =
            CreateFileW(argv[3], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        say(held == INVALID_HANDLE_VALUE ? "cannot hold it" : "held");
        return static_cast<int>(wait_and_say_exit(start(line, 0)));
    } else if (verb == L"lock" && program > 6) {
        if (lock(argv[3], static_cast<DWORD>(_wtoi(argv[4])), static_cast<DWORD>(_wtoi(argv[5]))))
            return static_cast<int>(wait_and_say_exit(start(line, 0)));
    } else if (verb == L"interrupt" && program > 5) {
        interrupt(argv[3], argv[4], line);
    } else {
        return 2;
    }
    return 0;
}
