// grkpage: converts Greek text files in place between code page 737 and
// Windows-1253.
#include "convert.hpp"
#include "platform.hpp"

namespace {

[[noreturn]] void usage() {
    fatal("Usage: grkpage {-} filename(s)\n");
}

} // namespace

#ifdef _WIN32
// Wide arguments: a name in a script the ANSI code page lacks still arrives whole.
int wmain(int argc, wchar_t **argv) {
#else
int main(int argc, char **argv) {
#endif
    // Nothing is opened before standard error is: a file opened as descriptor
    // 2 would take the messages.
    if (!guard_standard_streams())
        return 1;
    if (argc < 2)
        usage();
    int first_file = 1;
    if (argv[1][0] == '-') {
        to_windows = 0;
        first_file = 2;
    }
    // From here on an interrupt waits until no file is left half converted;
    // where it could not wait, no file is touched.
    if (!defer_interrupts() && first_file < argc)
        fatal("Can't open file: " + shown_name(argv[first_file]) + "\n");
    for (int i = first_file; i < argc; ++i)
        convert_file(argv[i]);
    end_if_interrupted();
    return 0;
}
