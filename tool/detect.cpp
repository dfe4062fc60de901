// grkpage-detect: says which code page each named file is in, so that no file
// is converted twice. Reads each file once, read-only, and changes nothing.
#include "codepage/identify.hpp"
#include "platform.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#ifdef _WIN32
// The C runtime expands wildcards in the arguments (*.txt), as a Unix shell
// would: Command Prompt leaves that to the program.
extern "C" int _dowildcard = -1;
#endif

namespace {

constexpr std::string_view usage_text = "Usage: grkpage-detect [--only VERDICT [-0]] FILE...\n";

constexpr std::string_view help_text =
    "Says which code page each file is in: one line per file, NAME: VERDICT.\n"
    "\n"
    "  --only VERDICT  print only the names of the files with that verdict\n"
    "  -0              end each line with a NUL byte instead (for xargs -0)\n"
    "  --help          print this help\n"
    "  --version       print the version\n"
    "  --              end the options\n"
    "\n"
    "VERDICT is one of: ASCII (nothing to convert), CP737 (DOS Greek), CP1253\n"
    "(Windows Greek), ISO-8859-7, UTF-8, UTF-16LE, UTF-16BE, other (not Greek,\n"
    "or binary), unsure (too little evidence), empty.\n"
    "Exit status: 0, 1 if a file could not be read, 2 for a usage error.\n";

struct options {
    std::optional<verdict> only;
    char end = '\n';
    int first_file = 0;
};

// Writes the usage line to standard error and ends with status 2.
[[noreturn]] void usage(const std::string &why) {
    write_error(why + std::string(usage_text));
    std::exit(2);
}

[[noreturn]] void say_and_exit(std::string_view text) {
    write_output(std::string(text));
    std::exit(flush_output() ? 0 : 1);
}

std::string verdict_list() {
    std::string list;
    for (const verdict v : all_verdicts)
        list += (list.empty() ? "" : ", ") + std::string(verdict_name(v));
    return list;
}

verdict only_verdict(const std::string &word) {
    const auto v = verdict_named(word);
    if (!v)
        usage("No such verdict: " + word + " (one of " + verdict_list() + ")\n");
    return *v;
}

template <class Char> options parse(int argc, Char **argv) {
    options o;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = shown_name(argv[i]);
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg.size() < 2 || arg[0] != '-')
            break;
        if (arg == "--help")
            say_and_exit(std::string(usage_text) + std::string(help_text));
        if (arg == "--version")
            say_and_exit("grkpage-detect " GRKPAGE_VERSION "\n");
        if (arg == "-0") {
            o.end = '\0';
        } else if (arg == "--only") {
            if (++i == argc)
                usage("--only needs a verdict\n");
            o.only = only_verdict(shown_name(argv[i]));
        } else if (arg.rfind("--only=", 0) == 0) {
            o.only = only_verdict(arg.substr(7));
        } else {
            usage("Unknown option: " + arg + "\n");
        }
    }
    if (i == argc)
        usage("");
    o.first_file = i;
    return o;
}

// The file's finding, or nothing once a message has said why there is none.
std::optional<finding> identify_file(const native_char *path) {
    const int fd = open_for_reading(path);
    if (fd < 0) {
        write_error("Can't open file: " + shown_name(path) + "\n");
        return std::nullopt;
    }
    const auto file = regular_file_of(fd);
    if (!file) {
        close_file(fd);
        write_error("Not a regular file: " + shown_name(path) + "\n");
        return std::nullopt;
    }
    // What the file held when opened, and no more: a file that grows while it
    // is read does not keep the reading going.
    static std::uint8_t block[256 * 1024];
    identification id;
    for (std::uint64_t offset = 0; offset < file->size;) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(sizeof block, file->size - offset));
        const auto got = read_at(fd, block, wanted, offset);
        if (!got) {
            close_file(fd);
            write_error("Can't read file: " + shown_name(path) + "\n");
            return std::nullopt;
        }
        identify_more(id, {block, *got});
        if (*got < wanted)
            break; // cut short meanwhile: what is there is what counts
        offset += *got;
    }
    close_file(fd);
    return identify_end(id);
}

} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t **argv) {
#else
int main(int argc, char **argv) {
#endif
    if (!guard_standard_streams())
        return 1;
    const options o = parse(argc, argv);
    int status = 0;
    for (int i = o.first_file; i < argc; ++i) {
        const auto found = identify_file(argv[i]);
        if (!found) {
            status = 1;
            continue;
        }
        std::string line = shown_name(argv[i]);
        if (!o.only) {
            line += ": " + std::string(verdict_name(found->result));
            if (!found->reason.empty())
                line += " (" + found->reason + ")";
        } else if (*o.only != found->result) {
            continue;
        }
        if (!write_output(line + o.end)) {
            write_error("Can't write the output\n");
            return 1;
        }
    }
    if (!flush_output()) {
        write_error("Can't write the output\n");
        return 1;
    }
    return status;
}
