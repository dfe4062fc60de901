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
    bool unprivileged = false;           // run as nobody when the tests run as root
    std::optional<rlim_t> file_size;     // RLIMIT_FSIZE
    bool sigxfsz_ignored = false;        // as a parent may leave it; a shell does not
    std::optional<rlim_t> address_space; // RLIMIT_AS
    std::vector<int> closed;             // standard streams the program starts without
    bool stderr_full = false;            // standard error a full pipe that nobody reads
    std::vector<std::string> wrapper;    // a command to run the program under, such as strace
    std::function<void()> meanwhile;     // done while the program runs
};

// The program under test: build/grkpage, or $GRKPAGE_PROGRAM when set (run
// under $GRKPAGE_EMULATOR, when set, as a 32-bit build is here).
std::string program_path();

// True when the program under test is a Windows program (a .exe), which runs
// under wine ($GRKPAGE_WINE: wine64, or wine32 for the 32-bit program) with
// the prefixes that tests/wine-fixture prepares.
bool runs_windows_program();

// Why the program under test cannot run on this machine, if it cannot: a
// 32-bit Windows program where wine32 is missing, or where the kernel refuses
// 32-bit programs. The end-to-end tests then skip, saying so.
std::optional<std::string> why_the_program_cannot_run();

// True when the program under test is built for another processor, and runs
// under that processor's emulator (qemu-user).
bool runs_emulated();

// Runs the program with `args` (after its own name), standard input from
// /dev/null, every signal at its default and unblocked, no core dump, killing
// it when the timeout passes.
run_result run_program(const std::vector<std::string> &args, const run_options &options = {});
