// grkpage-path.exe: the setup's hand on the user's PATH.
//   grkpage-path add FOLDER          puts FOLDER at the end of the user's PATH,
//                                    unless an entry names it already
//   grkpage-path remove FOLDER       takes the last entry that names FOLDER
//                                    out: the one add put at the end (one the
//                                    user added by hand besides stays)
//   grkpage-path remove-made FOLDER  the same, and deletes the value when
//                                    nothing is left of it: add made it
//   grkpage-path free FILE           exit code 7 while a program has FILE
//                                    open, as Windows has a program that runs
// The PATH is the value Path under HKEY_CURRENT_USER\Environment. Every other
// entry, and the separators between them, stay as they were; the value keeps
// its type (REG_EXPAND_SZ when it is made), and an empty value stays empty.
// Entries are compared as Windows finds programs through them: expanded
// (%LOCALAPPDATA%...), without their quotes, in any letter case, a trailing
// backslash aside; a FOLDER holding `;` or `"` cannot be an entry (exit code
// 2). Strings are as long as the registry's own, so a PATH of any length is
// kept whole. Then every window is told the environment
// changed, so that a console opened afterwards sees it. Exit code 0 when the
// value was changed, 6 when add made it, 3 when there was nothing to change
// (the folder was there already, or not there to take out), 4 when the value
// is not text (REG_MULTI_SZ, REG_DWORD...) and 5 when adding would make it
// longer than Windows takes (32,767 characters): in both cases it is left as
// it was; 1 when the registry could not be read or written, 2 on bad usage.
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const wchar_t *key_name = L"Environment";
constexpr const wchar_t *value_name = L"Path";

struct path_value {
    bool exists = false;
    DWORD type = REG_EXPAND_SZ;
    std::wstring text;
};

// The longest environment variable Windows takes, its terminating NUL aside.
constexpr std::size_t longest_path = 32767 - 1;

enum class got { text, not_text, failed };

got read(HKEY key, path_value &value) {
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, value_name, nullptr, &value.type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return got::text;
    if (status != ERROR_SUCCESS)
        return got::failed;
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ)
        return got::not_text;
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    status = RegQueryValueExW(key, value_name, nullptr, &value.type,
                              reinterpret_cast<BYTE *>(data.data()), &size);
    if (status != ERROR_SUCCESS)
        return got::failed;
    value.exists = true;
    value.text.assign(data.data(), size / sizeof(wchar_t));
    while (!value.text.empty() && value.text.back() == L'\0')
        value.text.pop_back();
    return got::text;
}

// Writes the value, or deletes it when it is empty and `delete_empty`.
bool write(HKEY key, const path_value &value, bool delete_empty) {
    if (value.text.empty() && delete_empty)
        return !value.exists || RegDeleteValueW(key, value_name) == ERROR_SUCCESS;
    const auto bytes = static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, value_name, 0, value.type,
                          reinterpret_cast<const BYTE *>(value.text.c_str()),
                          bytes) == ERROR_SUCCESS;
}

// A folder as an entry compares: expanded, unquoted, no trailing backslash,
// one letter case.
std::wstring comparable(std::wstring folder) {
    if (folder.find(L'%') != std::wstring::npos) {
        const DWORD size = ExpandEnvironmentStringsW(folder.c_str(), nullptr, 0);
        std::wstring expanded(size, L'\0');
        if (size != 0 && ExpandEnvironmentStringsW(folder.c_str(), expanded.data(), size) == size) {
            expanded.resize(size - 1);
            folder = expanded;
        }
    }
    std::erase(folder, L'"');
    while (folder.size() > 1 && folder.back() == L'\\')
        folder.pop_back();
    if (!folder.empty())
        CharUpperBuffW(folder.data(), static_cast<DWORD>(folder.size()));
    return folder;
}

struct entry {
    std::size_t begin, end; // [begin, end) in the value, separators excluded
};

std::vector<entry> entries(const std::wstring &text) {
    std::vector<entry> all;
    for (std::size_t begin = 0; begin <= text.size();) {
        const std::size_t end = std::min(text.find(L';', begin), text.size());
        all.push_back({begin, end});
        begin = end + 1;
    }
    return all;
}

bool names(const std::wstring &text, const entry &e, const std::wstring &folder) {
    return e.end > e.begin && comparable(text.substr(e.begin, e.end - e.begin)) == folder;
}

// Added at the end with a separator before it, or after it where the value
// ended with one, so that taking it out gives back the value as it was.
void add(path_value &value, const std::wstring &folder) {
    const std::wstring wanted = comparable(folder);
    for (const auto &e : entries(value.text))
        if (names(value.text, e, wanted))
            return;
    if (value.text.empty())
        value.text = folder;
    else if (value.text.back() == L';')
        value.text += folder + L';';
    else
        value.text += L';' + folder;
}

// The last entry that names the folder goes, with the separator before it
// (the first entry, with the one after it): add put its entry last.
void remove(path_value &value, const std::wstring &folder) {
    const std::wstring unwanted = comparable(folder);
    const auto all = entries(value.text);
    for (auto e = all.rbegin(); e != all.rend(); ++e) {
        if (!names(value.text, *e, unwanted))
            continue;
        const std::size_t from = e->begin > 0 ? e->begin - 1 : 0;
        const std::size_t to = e->begin > 0 ? e->end : std::min(e->end + 1, value.text.size());
        value.text.erase(from, to - from);
        return;
    }
}

} // namespace

// Whether nothing has the file open: it opens with no sharing at all, or is
// not there.
bool free_to_replace(const wchar_t *file) {
    const HANDLE handle = CreateFileW(file, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    CloseHandle(handle);
    return true;
}

int wmain(int argc, wchar_t **argv) {
    const std::wstring verb = argc == 3 ? argv[1] : L"";
    if (verb == L"free")
        return free_to_replace(argv[2]) ? 0 : 7;
    if (verb != L"add" && verb != L"remove" && verb != L"remove-made")
        return 2;
    if (std::wstring_view(argv[2]).find_first_of(L";\"") != std::wstring_view::npos)
        return 2; // it would be two entries, or none that Windows reads
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key_name, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return 1;
    path_value value;
    int code = 1;
    const got read_as = read(key, value);
    if (read_as == got::not_text) {
        code = 4;
    } else if (read_as == got::text) {
        const std::wstring before = value.text;
        const bool made = !value.exists;
        if (verb == L"add")
            add(value, argv[2]);
        else
            remove(value, argv[2]);
        if (value.text == before)
            code = 3;
        else if (value.text.size() > longest_path)
            code = 5;
        else if (write(key, value, verb == L"remove-made"))
            code = made ? 6 : 0;
    }
    RegCloseKey(key);
    if (code == 0 || code == 6)
        SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(key_name),
                            SMTO_ABORTIFHUNG, 5000, nullptr);
    return code;
}
