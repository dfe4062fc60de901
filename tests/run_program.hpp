// Runs the built program as a separate process and captures what it did.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <vector>

struct run_result {
    int status = -1; // exit status, or -1 if it did not exit normally
    int signal = 0;  // the signal that ended it, if any
    bool timed_out = false;
    std::string out, err;
};

struct run_options {
    std::chrono::milliseconds timeout{10'000};
    bool unprivileged = false;            // run as nobody when the tests run as root
    std::optional<rlim_t> file_size;      // RLIMIT_FSIZE
    bool sigxfsz_ignored = false;         // as a parent may leave it; a shell does not
    std::optional<rlim_t> address_space;  // RLIMIT_AS
    std::vector<int> closed;              // standard streams the program starts without
    bool stderr_full = false;             // standard error a full pipe that nobody reads
    std::vector<std::string> wrapper;     // a command to run the program under, such as strace
    std::function<void()> meanwhile;      // done while the program runs
    std::string instead;                  // another program of the same kind to run in its stead
    std::vector<std::string> environment; // NAME=VALUE, set for the program
    bool on_terminal = false; // standard streams a terminal (script's), as a console's are
};

// The program the end-to-end tests run, and what starts it: read once from
// the file that $GRKPAGE_TARGET names, which the build writes for each set of
// tests (tests/targets/NAME) and the test runner hands on to each test.
struct program_under_test {
    std::string file;                // where this was read
    std::string program;             // its path
    std::vector<std::string> runner; // the emulator or wine loader, as words; none: run directly
    bool needs_32_bit = false;       // only a kernel that runs 32-bit programs can start it
    // A Windows program's: the same program built with the seam that fails
    // its platform calls, and the helper that acts on a file meanwhile.
    std::string seam, helper;
};

// What $GRKPAGE_TARGET says; throws, saying why, if it is unset or unreadable.
const program_under_test &under_test();

// The program, and what starts it, in words for a message.
std::string describe_program_under_test();

// True when the program under test is a Windows program (a .exe), which runs
// under a wine loader with the prefixes that tests/wine-fixture prepares.
bool runs_windows_program();

// Whether this machine's kernel runs 32-bit programs (scripts/runs-32-bit,
// which GRKPAGE_REFUSE_32BIT=1 makes say no), asked once.
bool machine_runs_32_bit();

// Why the program under test cannot run on this machine, if it cannot: it
// needs a kernel that runs 32-bit programs, or a loader this machine lacks
// for one. Decided from the machine alone, never from a run of the program;
// the end-to-end tests then skip, saying so.
std::optional<std::string> why_the_program_cannot_run();

// True when the program under test is built for another processor, and runs
// under that processor's emulator (qemu-user).
bool runs_emulated();

// Runs the program with `args` (after its own name), standard input from
// /dev/null, every signal at its default and unblocked, no core dump, killing
// it when the timeout passes.
run_result run_program(const std::vector<std::string> &args, const run_options &options = {});
