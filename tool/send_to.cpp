// grkpage-to-windows.exe and grkpage-to-dos.exe, the helpers for drag and drop
// and the Send To menu: one source, built for each direction (GRKPAGE_TO_DOS).
// Explorer starts a helper itself, not through the command interpreter, with
// the files dropped on it, so every name arrives whole, whatever it holds.
// The helper looks at each file first and hands the grkpage.exe in its own
// folder only those in the code page it converts from, by full path, so that
// no name is taken for the switch; a file already converted, or in another
// code page, is left exactly as it is, and the window says why. The window
// closes when every file was converted; otherwise it stays open until a key
// is pressed. Its exit code is grkpage's, or 1 if a file could not be read;
// the files that could be are converted all the same.
#include "look.hpp"

#include <windows.h>

#include <conio.h>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

#ifdef GRKPAGE_TO_DOS
constexpr const wchar_t *direction = L" -";
constexpr verdict converts = verdict::cp1253;
#else
constexpr const wchar_t *direction = L"";
constexpr verdict converts = verdict::cp737;
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

// A name made absolute, as Explorer gives it; a relative one from a command
// line or a shortcut would otherwise be taken for the switch when it begins
// with a minus sign.
std::wstring full_path(const wchar_t *name) {
    const DWORD size = GetFullPathNameW(name, 0, nullptr, nullptr);
    if (size == 0)
        return name;
    std::wstring path(size, L'\0');
    const DWORD length = GetFullPathNameW(name, size, path.data(), nullptr);
    path.resize(length);
    return path;
}

// Which file a name is, whatever its spelling (letter case, .\, a short
// name, a trailing dot): the volume and the file's index on it.
std::optional<std::pair<DWORD, std::uint64_t>> identity(const std::wstring &path) {
    const HANDLE file =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!known)
        return std::nullopt;
    return std::pair{info.dwVolumeSerialNumber,
                     std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
}

// The helper speaks the language of Windows: Greek or English.
bool in_greek() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_GREEK;
}

// Why a file in code page `found` is left alone.
std::string left_alone(verdict found) {
    const bool el = in_greek();
    switch (found) {
    case verdict::cp737:
        return el ? "ήδη ελληνικά DOS· έμεινε ως έχει" : "already DOS Greek; left as it is";
    case verdict::cp1253:
        return el ? "ήδη ελληνικά Windows· έμεινε ως έχει" : "already Windows Greek; left as it is";
    case verdict::iso_8859_7:
#ifdef GRKPAGE_TO_DOS
        return el ? "ελληνικά ISO-8859-7: η μετατροπή θα έχανε τα Ά του· έμεινε ως έχει"
                  : "ISO-8859-7 Greek: converting it would lose its Ά; left as it is";
#else
        return el ? "ελληνικά ISO-8859-7, όχι ελληνικά DOS· έμεινε ως έχει"
                  : "ISO-8859-7 Greek, not DOS Greek; left as it is";
#endif
    case verdict::ascii:
        return el ? "μόνο χαρακτήρες ASCII: δεν χρειάζεται μετατροπή"
                  : "plain ASCII: nothing to convert";
    case verdict::empty:
        return el ? "κενό: δεν χρειάζεται μετατροπή" : "empty: nothing to convert";
    case verdict::utf8:
    case verdict::utf16le:
    case verdict::utf16be:
        return std::string(verdict_name(found)) +
               (el ? " (Unicode), όχι για το grkpage· έμεινε ως έχει"
                   : " (Unicode), not for grkpage; left as it is");
    case verdict::other:
        return el ? "όχι ελληνικά σε κωδικοσελίδα που γνωρίζει το grkpage· έμεινε ως έχει"
                  : "not Greek in a code page grkpage knows; left as it is";
    case verdict::unsure:
        break;
    }
    return el ? "δεν φαίνεται με βεβαιότητα σε ποια κωδικοσελίδα είναι· έμεινε ως έχει"
              : "not clearly in one code page; left as it is";
}

void wait_for_a_key() {
    write_error(in_greek() ? "Πατήστε ένα πλήκτρο για να συνεχίσετε . . . "
                           : "Press any key to continue . . . ");
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
    write_error("\n");
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

// Runs grkpage.exe with `command` in this console; its exit code.
DWORD run(const std::wstring &grkpage, std::wstring command) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable(STD_INPUT_HANDLE);
    startup.hStdOutput = inheritable(STD_OUTPUT_HANDLE);
    startup.hStdError = inheritable(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(grkpage.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &started)) {
        write_error("Can't start " + shown_name(grkpage.c_str()) + " (error " +
                    std::to_string(GetLastError()) + ")\n");
        return 1;
    }
    DWORD code = 1;
    WaitForSingleObject(started.hProcess, INFINITE);
    GetExitCodeProcess(started.hProcess, &code);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return code;
}

// Converts the files, as many to a run of grkpage as its command line takes,
// stopping at the first run that fails; that run's exit code, or 0.
DWORD convert(const std::vector<std::wstring> &files) {
    constexpr std::size_t longest = 32000; // Windows takes 32,767 characters
    const std::wstring grkpage = program();
    const std::wstring start = quoted(grkpage) + direction;
    std::size_t done = 0;
    while (done < files.size()) {
        std::wstring command = start;
        std::size_t next = done;
        do
            command += L' ' + quoted(files[next++]);
        while (next < files.size() && command.size() + 1 + quoted(files[next]).size() <= longest);
        if (const DWORD code = run(grkpage, command); code != 0) {
            const std::string before = std::to_string(done);
            write_error(in_greek() ? "Διακοπή: το αρχείο που αναφέρεται παραπάνω και όσα "
                                     "ακολουθούν έμειναν ως ήταν· τα " +
                                         before + " πριν από αυτή τη δέσμη μετατράπηκαν.\n"
                                   : "Stopped: the file named above and those after it were "
                                     "left as they were; the " +
                                         before + " before this batch were converted.\n");
            return code;
        }
        done = next;
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    SetConsoleCtrlHandler(outlast_interrupts, TRUE);
    std::vector<std::wstring> files;
    std::set<std::pair<DWORD, std::uint64_t>> seen;
    bool stay_open = false;
    DWORD code = 0;
    for (int i = 1; i < argc; ++i) {
        const std::wstring path = full_path(argv[i]);
        if (const auto id = identity(path); id && !seen.insert(*id).second) {
            write_error(shown_name(argv[i]) +
                        (in_greek() ? ": ήδη στη λίστα με άλλο όνομα· μετατρέπεται μία φορά\n"
                                    : ": already named in this batch; converted once\n"));
            stay_open = true;
            continue;
        }
        const looked l = look_at(path.c_str());
        if (l.outcome != looked::identified) {
            write_error(why_not(l, argv[i]));
            stay_open = true;
            code = 1;
        } else if (l.found.result == converts) {
            files.push_back(path);
        } else {
            write_error(shown_name(argv[i]) + ": " + left_alone(l.found.result) + "\n");
            stay_open = true;
        }
    }
    // The files that could be read are converted all the same.
    if (!files.empty())
        if (const DWORD converted = convert(files); converted != 0)
            code = converted;
    if (stay_open || code != 0)
        wait_for_a_key();
    return static_cast<int>(code);
}
