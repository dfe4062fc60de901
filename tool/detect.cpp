// grkpage-detect: says which code page each named file is in, so that no file
// is converted twice. Reads each file once, read-only, and changes nothing.
#include "look.hpp"

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

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

[[noreturn]] void output_failed() {
    write_error("Can't write the output\n");
    std::exit(1);
}

// Says which code page the file is in, or why it cannot; false for a file
// that could not be read.
bool report(const native_char *path, const options &o) {
    const looked l = look_at(path);
    if (l.outcome != looked::identified) {
        write_error(why_not(l, path));
        return false;
    }
    std::string line = shown_name(path);
    if (!o.only) {
        line += ": " + std::string(verdict_name(l.found.result));
        if (!l.found.reason.empty())
            line += " (" + l.found.reason + ")";
    } else if (*o.only != l.found.result) {
        return true;
    }
    if (!write_output(line + o.end))
        output_failed();
    return true;
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
    for (int i = o.first_file; i < argc; ++i)
        for (const auto &name : names_from(argv[i]))
            if (!report(name.c_str(), o))
                status = 1;
    if (!flush_output())
        output_failed();
    return status;
}
