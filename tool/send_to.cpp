// grkpage-to-windows.exe and grkpage-to-dos.exe, the helpers for drag and drop
// and the Send To menu: one source, built for each direction (GRKPAGE_TO_DOS).
// Explorer starts a helper itself, not through the command interpreter, with
// the files dropped on it, so every name arrives whole, whatever it holds.
// The helper looks at each file first and hands the grkpage.exe in its own
// folder only those in the code page it converts from, by full path, so that
// no name is taken for the switch; a file already converted, or in another
// code page, is left exactly as it is. Then the window lists each file and
// what became of it (converted; left alone, and why; not converted, with
// grkpage's message quoted), in the language of Windows, and how many were
// converted. When every file was converted, or none was given, it closes
// after a few seconds that it counts down, or at a key; otherwise it waits
// for a key. Its exit code is grkpage's, or 1 if a file could not be read;
// the files that could be are converted all the same.
#include "look.hpp"

#include <windows.h>

#include <conio.h>
#include <optional>
#include <set>
#include <string>
#include <string_view>
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

// What the helper says about a file it could not look at.
std::string not_looked_at(const looked &l) {
    const bool el = in_greek();
    switch (l.outcome) {
    case looked::cannot_open:
        return el ? "δεν ήταν δυνατό να ανοιχτεί· έμεινε ως έχει"
                  : "can't be opened; left as it is";
    case looked::not_regular:
        return el ? "δεν είναι κανονικό αρχείο (είναι φάκελος ή συσκευή)· έμεινε ως έχει"
                  : "not a regular file (a folder or a device); left as it is";
    case looked::cannot_read:
    case looked::identified:
        break;
    }
    return el ? "δεν ήταν δυνατό να διαβαστεί· έμεινε ως έχει" : "can't be read; left as it is";
}

std::string converted_text() {
#ifdef GRKPAGE_TO_DOS
    return in_greek() ? "μετατράπηκε σε ελληνικά DOS" : "converted to DOS Greek";
#else
    return in_greek() ? "μετατράπηκε σε ελληνικά Windows" : "converted to Windows Greek";
#endif
}

// Whether a key was pressed, without waiting: on a console, a key going down;
// otherwise a byte waiting in the pipe of standard input, which stands for it.
bool key_pressed(HANDLE in, bool console) {
    if (!console) {
        DWORD waiting = 0;
        return PeekNamedPipe(in, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0;
    }
    DWORD events = 0;
    while (GetNumberOfConsoleInputEvents(in, &events) && events > 0) {
        INPUT_RECORD record{};
        DWORD read = 0;
        if (!ReadConsoleInputW(in, &record, 1, &read) || read == 0)
            break;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown)
            return true;
    }
    return false;
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

// Closes after `seconds`, counted down where the user sees them, or at a key.
void close_soon(int seconds) {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool console = GetConsoleMode(in, &mode) != 0;
    if (console)
        FlushConsoleInputBuffer(in);
    for (int left = seconds; left > 0; --left) {
        const std::string n = std::to_string(left);
        write_error(in_greek()
                        ? "\rΤο παράθυρο κλείνει σε " + n +
                              " δευτ.· πατήστε ένα πλήκτρο για να κλείσει τώρα. "
                        : "\rThis window closes in " + n + " s; press any key to close it now. ");
        for (int tick = 0; tick < 10; ++tick) {
            if (key_pressed(in, console)) {
                write_error("\n");
                return;
            }
            Sleep(100);
        }
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

struct ran {
    DWORD code;
    std::string said;  // grkpage's standard error, one line a message
    DWORD start_error; // when it could not be started
};

// Runs grkpage.exe with `command` in this console, its standard error taken
// through a pipe, so that the helper can say which file each message is about.
ran run(const std::wstring &grkpage, std::wstring command) {
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE from_grkpage = nullptr, to_helper = nullptr;
    if (!CreatePipe(&from_grkpage, &to_helper, &inherited, 0))
        return {1, "", GetLastError()};
    SetHandleInformation(from_grkpage, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable(STD_INPUT_HANDLE);
    startup.hStdOutput = inheritable(STD_OUTPUT_HANDLE);
    startup.hStdError = to_helper;
    PROCESS_INFORMATION started{};
    const bool began = CreateProcessW(grkpage.c_str(), command.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &started);
    const DWORD start_error = began ? 0 : GetLastError();
    CloseHandle(to_helper); // grkpage's copy alone keeps the pipe open
    std::string said;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(from_grkpage, buffer, sizeof buffer, &got, nullptr) && got > 0)
        said.append(buffer, got);
    CloseHandle(from_grkpage);
    if (!began)
        return {1, "", start_error};
    DWORD code = 1;
    WaitForSingleObject(started.hProcess, INFINITE);
    GetExitCodeProcess(started.hProcess, &code);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    std::erase(said, '\r');
    while (!said.empty() && said.back() == '\n')
        said.pop_back();
    return {code, said, 0};
}

// A file to convert: its full path, and where its line is in the window.
struct to_convert {
    std::wstring path;
    std::size_t line;
};

// Converts the files, as many to a run of grkpage as its command line takes,
// stopping at the first run that fails; writes what became of each into its
// line, and counts those converted; that run's exit code, or 0. A run stops at
// the file its message names: those before it were converted, it and those
// after it left as they were.
DWORD convert(const std::vector<to_convert> &files, std::vector<std::string> &lines,
              std::size_t &converted) {
    constexpr std::size_t longest = 32000; // Windows takes 32,767 characters
    const bool el = in_greek();
    const std::wstring grkpage = program();
    const std::wstring start = quoted(grkpage) + direction;
    std::size_t done = 0;
    while (done < files.size()) {
        std::wstring command = start;
        std::size_t next = done;
        do
            command += L' ' + quoted(files[next++].path);
        while (next < files.size() &&
               command.size() + 1 + quoted(files[next].path).size() <= longest);
        const ran r = run(grkpage, command);
        std::size_t stopped_at = next; // past the batch: none named
        if (r.code != 0 && r.start_error == 0)
            for (std::size_t i = done; i < next && stopped_at == next; ++i) {
                const std::string named = ": " + shown_name(files[i].path.c_str());
                std::size_t from = 0;
                while (from < r.said.size()) {
                    const std::size_t end = std::min(r.said.find('\n', from), r.said.size());
                    if (std::string_view(r.said).substr(from, end - from).ends_with(named))
                        stopped_at = i;
                    from = end + 1;
                }
            }
        for (std::size_t i = done; i < next; ++i) {
            std::string &line = lines[files[i].line];
            if (r.code == 0 || (i < stopped_at && stopped_at != next)) {
                line += converted_text();
                ++converted;
            } else if (r.start_error != 0)
                line += el ? "δεν μετατράπηκε: το grkpage.exe δεν ξεκίνησε (σφάλμα " +
                                 std::to_string(r.start_error) + ")· έμεινε ως ήταν"
                           : "not converted: grkpage.exe could not be started (error " +
                                 std::to_string(r.start_error) + "); left as it was";
            else if (i == stopped_at)
                line += el ? "δεν μετατράπηκε: το grkpage ανέφερε «" + r.said + "»· έμεινε ως ήταν"
                           : "not converted: grkpage said \"" + r.said + "\"; left as it was";
            else if (stopped_at != next)
                line += el ? "δεν μετατράπηκε, γιατί το grkpage σταμάτησε σε αρχείο πιο πάνω· "
                             "έμεινε ως ήταν"
                           : "not converted, as grkpage stopped at a file above; left as it was";
            else // stopped, say by Ctrl-C, without naming a file
                line +=
                    (el ? "το grkpage σταμάτησε (κωδικός εξόδου " + std::to_string(r.code) +
                              ") χωρίς να αναφέρει αρχείο: μετατράπηκε ή έμεινε ως ήταν· το "
                              "grkpage-detect δείχνει ποιο από τα δύο"
                        : "grkpage stopped (exit code " + std::to_string(r.code) +
                              ") without naming a file: converted, or left as it was; "
                              "grkpage-detect says which") +
                    (r.said.empty() ? "" : (el ? " («" + r.said + "»)" : " (\"" + r.said + "\")"));
        }
        if (r.code != 0) {
            for (std::size_t i = next; i < files.size(); ++i)
                lines[files[i].line] +=
                    el ? "δεν μετατράπηκε, γιατί το grkpage σταμάτησε σε αρχείο πιο πάνω· "
                         "έμεινε ως ήταν"
                       : "not converted, as grkpage stopped at a file above; left as it was";
            return r.code;
        }
        done = next;
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    SetConsoleCtrlHandler(outlast_interrupts, TRUE);
    const bool el = in_greek();
    std::vector<to_convert> files;
    std::vector<std::string> lines; // a file's name, then what became of it
    std::set<std::pair<DWORD, std::uint64_t>> seen;
    bool all_converted = true;
    DWORD code = 0;
    for (int i = 1; i < argc; ++i) {
        const std::wstring path = full_path(argv[i]);
        lines.push_back(shown_name(argv[i]) + ": ");
        std::string &line = lines.back();
        if (const auto id = identity(path); id && !seen.insert(*id).second) {
            line += el ? "ήδη στη λίστα με άλλο όνομα· μετατρέπεται μία φορά"
                       : "already named in this batch; converted once";
            all_converted = false;
            continue;
        }
        const looked l = look_at(path.c_str());
        if (l.outcome != looked::identified) {
            line += not_looked_at(l);
            all_converted = false;
            code = 1;
        } else if (l.found.result == converts) {
            files.push_back({path, lines.size() - 1});
        } else {
            line += left_alone(l.found.result);
            all_converted = false;
        }
    }
    // The files that could be read are converted all the same.
    std::size_t converted = 0;
    if (!files.empty())
        if (const DWORD stopped = convert(files, lines, converted); stopped != 0) {
            code = stopped;
            all_converted = false;
        }
    std::string window;
    for (const auto &line : lines)
        window += line + "\n";
    if (lines.empty()) {
        window = el ? "Δεν δόθηκε κανένα αρχείο: σύρετε αρχεία και αφήστε τα πάνω σε αυτό το "
                      "πρόγραμμα ή στείλτε τα σε αυτό από το μενού «Αποστολή προς».\n"
                    : "No file was given: drag files onto this program, or send them to it "
                      "from the Send To menu.\n";
    } else {
        const std::string of =
            std::to_string(converted) + (el ? " από " : " of ") + std::to_string(lines.size());
        window += el ? "Αρχεία που μετατράπηκαν: " + of + ".\n" : "Files converted: " + of + ".\n";
    }
    write_error(window);
    if (all_converted)
        close_soon(5);
    else
        wait_for_a_key();
    return static_cast<int>(code);
}
