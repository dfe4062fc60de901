// grkpage-to-windows.exe and grkpage-to-dos.exe, the helpers for drag and drop
// and the Send To menu: one source, built for each direction (GRKPAGE_TO_DOS).
// Explorer starts a helper itself, not through the command interpreter, with
// the files dropped on it, so every name arrives whole, whatever it holds.
// The helper runs the grkpage.exe in its own folder on them, in its direction,
// in the same console window. When every file was converted the window
// closes; otherwise it stays open, with grkpage's message, until a key is
// pressed. Its exit code is grkpage's.
#include <windows.h>

#include <conio.h>
#include <string>

namespace {

#ifdef GRKPAGE_TO_DOS
constexpr const wchar_t *direction = L" -";
#else
constexpr const wchar_t *direction = L"";
#endif

// One argument, quoted as the C runtime splits a command line back into
// arguments: backslashes doubled only before a quote.
std::wstring quoted(const std::wstring &argument) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L'"';
}

// grkpage.exe in the helper's own folder.
std::wstring program() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"grkpage.exe";
}

// Text on standard error: to a console as it is, elsewhere as UTF-8.
void say(const std::wstring &text) {
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(err, &mode)) {
        WriteConsoleW(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    WriteFile(err, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void wait_for_a_key() {
    say(L"Press any key to continue . . . ");
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(in, &mode)) {
        FlushConsoleInputBuffer(in);
        _getwch();
    } else { // not a console: a byte of standard input stands for the key
        char key = 0;
        DWORD read = 0;
        ReadFile(in, &key, 1, &read, nullptr);
    }
    say(L"\r\n");
}

// Ctrl-C and Ctrl-Break are grkpage's to answer, by putting its file back:
// the helper stays to show what happened.
BOOL WINAPI outlast_interrupts(DWORD event) {
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

HANDLE inheritable(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    return handle;
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    SetConsoleCtrlHandler(outlast_interrupts, TRUE);
    const std::wstring grkpage = program();
    std::wstring command = quoted(grkpage) + direction;
    for (int i = 1; i < argc; ++i)
        command += L' ' + quoted(argv[i]);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable(STD_INPUT_HANDLE);
    startup.hStdOutput = inheritable(STD_OUTPUT_HANDLE);
    startup.hStdError = inheritable(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    DWORD code = 1;
    if (!CreateProcessW(grkpage.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &started)) {
        say(L"Can't start " + grkpage + L" (error " + std::to_wstring(GetLastError()) + L")\r\n");
    } else {
        WaitForSingleObject(started.hProcess, INFINITE);
        GetExitCodeProcess(started.hProcess, &code);
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
    }
    if (code != 0)
        wait_for_a_key();
    return static_cast<int>(code);
}
