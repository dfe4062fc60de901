// Failures the system really produces: a file left as it was, and one line saying which.
#include "codepage/codepage.hpp"
#include "harness.hpp"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Fault = TempDir;

// Greek DOS text of `size` bytes: every byte changes when converted.
bytes greek(std::size_t size) {
    bytes text(size);
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<std::uint8_t>(0x80 + i % 0x30);
    return text;
}

// Every byte value, over and over, between runs of frame lines: each block
// holds bytes of every kind, Greek letters, frames, symbols, ASCII.
bytes every_byte(std::size_t size) {
    bytes text(size);
    for (std::size_t i = 0; i < size; ++i)
        text[i] =
            i / 97 % 3 ? static_cast<std::uint8_t>(i * 7 + i / 256) : (i / 97 % 2 ? 0xCD : 0xBA);
    return text;
}

bytes converted(bytes text, bool to_dos = false) {
    if (to_dos)
        windows_to_dos(text);
    else
        dos_to_windows(text);
    return text;
}

// The programs that have `path` open now; not wine's server, which holds the
// files of the programs it serves, and may have it open first.
std::vector<pid_t> holders_now(const std::string &path) {
    std::vector<pid_t> found;
    std::error_code ignored;
    for (const auto &process : fs::directory_iterator("/proc", ignored)) {
        const std::string pid = process.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string name;
        std::getline(std::ifstream(process.path() / "comm"), name);
        if (name.rfind("wineserver", 0) == 0) // wineserver, wineserver64
            continue;
        for (const auto &fd : fs::directory_iterator(process.path() / "fd", ignored))
            if (fs::read_symlink(fd.path(), ignored) == path)
                found.push_back(std::stoi(pid));
    }
    return found;
}

// The same, waited for.
std::vector<pid_t> holders_of(const std::string &path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (auto found = holders_now(path); !found.empty())
            return found;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    throw std::runtime_error("no program opened " + path);
}

// The process that has `path` open, waited for.
pid_t holder_of(const std::string &path) {
    return holders_of(path).front();
}

// Runs the helper beside the Windows program with `args` after the path of
// its report; returns the run, and what it reported, a line each.
std::pair<run_result, std::vector<std::string>>
run_helper(const std::string &report, std::vector<std::string> args, run_options options = {}) {
    options.instead = under_test().helper;
    args.insert(args.begin(), report);
    const run_result r = run_program(args, options);
    std::vector<std::string> lines;
    std::ifstream in(report);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return {r, lines};
}

// Runs the program under strace, which does `injection` (as its -e inject=
// takes it) to each `call` on `path`: a real failure of a real system call,
// or a real window in which to act while the program has the file open.
run_options injected(const std::string &call, const std::string &injection,
                     const std::string &path) {
    run_options options;
    options.wrapper = {"strace",
                       "-o",
                       "/dev/null",
                       "-e",
                       "trace=" + call,
                       "-e",
                       "inject=" + call + ":" + injection,
                       "-P",
                       path};
    return options;
}

// Each `call` on `path` held up for `delay`.
run_options slowed(const std::string &call, const std::string &path,
                   std::chrono::milliseconds delay) {
    return injected(call, "delay_enter=" + std::to_string(delay.count() * 1000), path);
}

// What the program reads and writes at a time.
constexpr std::size_t block = 256 * 1024;

struct cut {
    bool to_dos;
    rlim_t file_size;
    bool sigxfsz_ignored;
    bool all_symbols = false; // a journal larger than the block: the block is kept whole
};

void PrintTo(const cut &c, std::ostream *os) {
    *os << (c.to_dos ? "to DOS" : "to Windows") << ", cut at " << c.file_size
        << (c.sigxfsz_ignored ? ", SIGXFSZ ignored" : ", SIGXFSZ at its default")
        << (c.all_symbols ? ", symbols only" : "");
}

// DOS symbols and frames, none the same as the one before: every byte is
// destroyed, and every one kept.
bytes symbols(std::size_t size) {
    bytes text(size);
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<std::uint8_t>(0xB0 + i % 0x30);
    return text;
}

class FailedWrite : public TempDir, public ::testing::WithParamInterface<cut> {};

// A file size limit cuts the rewrite off: every block written before it,
// and the part of the block it cut, must be put back.
TEST_P(FailedWrite, LeavesTheFileAsItWas) {
    const cut c = GetParam();
    if (runs_windows_program() && !c.sigxfsz_ignored)
        GTEST_SKIP()
            << "wine leaves SIGXFSZ at its default, which kills it; Windows has no such signal";
    // The last, short block changes too.
    const bytes text = c.all_symbols ? symbols(24 * block + 300) : every_byte(24 * block + 300);
    const auto f = file("big.txt", text);
    run_options options;
    options.file_size = c.file_size;
    options.sigxfsz_ignored = c.sigxfsz_ignored;
    std::vector<std::string> args{f};
    if (c.to_dos)
        args.insert(args.begin(), "-");
    expect_failure(run_program(args, options), "Can't write file: " + f + "\n");
    EXPECT_EQ(read_file(f), text);
}

INSTANTIATE_TEST_SUITE_P(Cuts, FailedWrite,
                         ::testing::Values(cut{false, 8 * block + 4096 + 3, true},
                                           cut{true, 8 * block + 4096 + 3, false},
                                           cut{false, 1, false}, cut{true, block, true},
                                           cut{true, 24 * block, false},
                                           cut{false, 24 * block + 150, true},
                                           cut{false, 8 * block + 4096 + 3, true, true}));

struct interruption {
    int signal;
    const char *call;                // the system call held up when it arrives
    std::size_t size;                // of the file
    std::chrono::milliseconds after; // from the file's opening
    bool after_last_write = false;   // then the file stays converted; it is named last
};

void PrintTo(const interruption &i, std::ostream *os) {
    *os << sigabbrev_np(i.signal) << " during " << i.call << " of " << i.size << " bytes";
}

class Interrupt : public TempDir, public ::testing::WithParamInterface<interruption> {};

// The signal arrives while a read or write is held up, before the last block
// is written back: the program may only end, by that signal, once the file is
// back as it was, and it must not go on to the next file. It obeys at the next
// block, not after writing all thirty (which would take six seconds). A signal
// after the last write leaves the file converted, and still ends the run.
TEST_P(Interrupt, PutsTheFileBackAndLeavesTheNextUntouched) {
    if (runs_windows_program())
        GTEST_SKIP() << "wine does not pass POSIX signals on as console events";
    const interruption i = GetParam();
    const bytes text = every_byte(i.size);
    const auto f = file("a.txt", text), next = file("b.txt", text);
    run_options options = slowed(i.call, f, std::chrono::milliseconds(200));
    options.timeout = std::chrono::seconds(3);
    options.meanwhile = [&] {
        const pid_t program = holder_of(f);
        std::this_thread::sleep_for(i.after);
        kill(program, i.signal);
    };
    std::vector<std::string> args{f};
    if (!i.after_last_write)
        args.push_back(next);
    const run_result r = run_program(args, options);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, i.signal);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(f), i.after_last_write ? converted(text) : text);
    EXPECT_EQ(read_file(next), text);
}

using namespace std::chrono_literals;
constexpr std::size_t thirty_blocks = 30 * block + 11;

INSTANTIATE_TEST_SUITE_P(
    Signals, Interrupt,
    ::testing::Values(
        // In the second of 31 writes.
        interruption{SIGINT, "pwrite64", thirty_blocks, 300ms},
        interruption{SIGTERM, "pwrite64", thirty_blocks, 300ms},
        interruption{SIGHUP, "pwrite64", thirty_blocks, 300ms},
        interruption{SIGQUIT, "pwrite64", thirty_blocks, 300ms},
        interruption{SIGALRM, "pwrite64", thirty_blocks, 300ms},
        interruption{SIGUSR1, "pwrite64", thirty_blocks, 300ms},
        interruption{SIGPIPE, "pwrite64", thirty_blocks, 300ms},
        // While the only block is read: nothing is checked after it but the end.
        interruption{SIGINT, "pread64", 4, 100ms},
        // While the last file is closed.
        interruption{SIGINT, "close", 4, 100ms, true}),
    [](const auto &info) {
        return std::string(sigabbrev_np(info.param.signal)) + "_during_" + info.param.call;
    });

struct system_fault {
    const char *name, *call, *injection;
    std::vector<std::string> limit; // a command the program runs under, inside strace
    const char *message;
    bool stderr_closed = false; // as cron or a launcher may start it
    bool stderr_full = false;   // a full pipe whose reader has stopped, and then SIGTERM
};

void PrintTo(const system_fault &f, std::ostream *os) {
    *os << f.name;
}

class SystemFault : public TempDir, public ::testing::WithParamInterface<system_fault> {};

// A system call fails as a disk or a file system can make it fail: the file is
// put back (or never touched), the message names it, the next file is untouched.
TEST_P(SystemFault, LeavesTheFileAsItWas) {
    if (runs_windows_program())
        GTEST_SKIP() << "strace cannot follow the program under wine";
    const system_fault fault = GetParam();
    const bytes text = every_byte(3 * block);
    const auto f = file("a.txt", text), next = file("b.txt", text);
    run_options options = injected(fault.call, fault.injection, f);
    options.wrapper.insert(options.wrapper.end(), fault.limit.begin(), fault.limit.end());
    if (fault.stderr_closed)
        options.closed = {2};
    // The message waits for a pipe that nobody reads: the file is whole by
    // then, so a signal ends the run at once, by that signal.
    if (fault.stderr_full) {
        options.stderr_full = true;
        options.timeout = std::chrono::seconds(5);
        options.meanwhile = [&] {
            const pid_t program = holder_of(f);
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            kill(program, SIGTERM);
        };
    }
    const run_result r = run_program({f, next}, options);
    if (fault.stderr_full) {
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.signal, SIGTERM);
    } else {
        // With standard error closed the message goes nowhere, and above all
        // not into the file.
        expect_failure(r, fault.stderr_closed ? "" : fault.message + f + "\n");
    }
    EXPECT_EQ(read_file(f), text);
    EXPECT_EQ(read_file(next), text);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, SystemFault,
    ::testing::Values(
        // A failed write-back reported by the close, with the spare at hand.
        system_fault{"CloseFails", "close", "error=EIO:when=1", {}, "Can't write file: "},
        system_fault{"CloseFailsWithStandardErrorFull",
                     "close",
                     "error=EIO:when=1",
                     {},
                     "Can't write file: ",
                     false,
                     true},
        // No descriptor left for the spare: nothing may be written.
        system_fault{"CloseFailsAndNoRoomForTheSpare",
                     "close",
                     "error=EIO",
                     {"prlimit", "--nofile=4", "--"},
                     "Can't write file: "},
        // The second read says the file ends, while it does not.
        system_fault{"ReadEndsEarly", "pread64", "retval=0:when=2", {}, "Can't read file: "},
        system_fault{"ReadEndsEarlyWithStandardErrorClosed",
                     "pread64",
                     "retval=0:when=2",
                     {},
                     "Can't read file: ",
                     true}),
    [](const auto &info) { return std::string(info.param.name); });

// Each system call the rewrite makes on a file, failed at each of its calls in
// turn. strace's names for a call, several where systems differ (a 32-bit
// program seeks with _llseek), and how many of its calls to fail: more than a
// run makes, so that the rows past the last call show the run unharmed.
struct traced_call {
    const char *names, *injection;
    int most;
};

constexpr traced_call traced_calls[] = {
    {"openat", "error=EIO", 2},
    {"newfstatat,statx,fstatat64", "error=EIO", 2}, // the size check
    {"lseek,_llseek", "error=EIO", 4},              // where the holes are
    {"pread64", "error=EIO", 6},
    {"pread64", "retval=0", 6}, // the file seems to end there
    {"pwrite64", "error=EIO", 6},
    {"pwrite64", "retval=0", 6},       // nothing is written
    {"fcntl,fcntl64", "error=EIO", 3}, // the lock, then the second handle
    {"close", "error=EIO", 3},
};

// Whether `name` is one of the comma-separated `names`.
bool names_one_of(std::string_view names, std::string_view name) {
    for (std::size_t at = 0; at <= names.size();) {
        const std::size_t end = std::min(names.find(',', at), names.size());
        if (names.substr(at, end - at) == name)
            return true;
        at = end + 1;
    }
    return false;
}

struct call_failure {
    traced_call call;
    int index; // from 1
    bool to_dos;
};

void PrintTo(const call_failure &c, std::ostream *os) {
    *os << c.call.names << " " << c.call.injection << " at call " << c.index
        << (c.to_dos ? ", to DOS" : ", to Windows");
}

std::vector<call_failure> every_call_failure() {
    std::vector<call_failure> all;
    for (const bool to_dos : {false, true})
        for (const auto &call : traced_calls)
            for (int index = 1; index <= call.most; ++index)
                all.push_back({call, index, to_dos});
    return all;
}

class FailedCall : public TempDir, public ::testing::WithParamInterface<call_failure> {
  protected:
    // Two blocks of data, a hole of one (where the file system makes holes),
    // two blocks and a short one: every kind of byte, and every call the
    // rewrite makes, seeks for the holes included.
    std::string sparse_file(const std::string &name) {
        bytes text = every_byte(5 * block + 300);
        std::fill(text.begin() + 2 * block, text.begin() + 3 * block, 0);
        const auto f = file(name, bytes(text.begin(), text.begin() + 2 * block));
        std::fstream out(f, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(3 * block);
        out.write(reinterpret_cast<const char *>(text.data()) + 3 * block,
                  static_cast<std::streamsize>(text.size() - 3 * block));
        out.flush();
        sparse_text = text;
        return f;
    }
    bytes sparse_text;

    // How many times a run that nothing fails makes each traced call on such
    // a file, by the names of traced_calls; the same for every row of a
    // direction.
    std::map<std::string, int> calls_of_a_clean_run(bool to_dos) {
        static std::map<bool, std::map<std::string, int>> counted;
        if (const auto known = counted.find(to_dos); known != counted.end())
            return known->second;
        const auto f = sparse_file("count.txt");
        const auto next = file("count-next.txt", sparse_text);
        std::vector<std::string> args{f, next};
        if (to_dos)
            args.insert(args.begin(), "-");
        std::string names = traced_calls[0].names;
        for (const auto &call : traced_calls)
            names.append(",").append(call.names);
        const auto log = path("strace.log");
        run_options options;
        options.wrapper = {"strace", "-o", log, "-e", "trace=" + names, "-P", f};
        expect_success(run_program(args, options));
        std::map<std::string, int> count;
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);) {
            const std::string made = line.substr(0, line.find('('));
            for (const auto &call : traced_calls)
                if (names_one_of(call.names, made)) {
                    ++count[call.names]; // once, for the rows that share its names
                    break;
                }
        }
        return counted[to_dos] = count;
    }
};

// A run in which one call failed: without a message, it converted both
// files; with one, it stopped saying so, the file as it was (or converted,
// where only its last close failed) and the next untouched.
void expect_outcome(const run_result &r, const char *message, bool stays_converted,
                    const std::string &f, const std::string &next, const bytes &text, bool to_dos) {
    if (!message) {
        expect_success(r);
        EXPECT_EQ(read_file(f), converted(text, to_dos));
        EXPECT_EQ(read_file(next), converted(text, to_dos));
        return;
    }
    expect_failure(r, message + f + "\n");
    EXPECT_EQ(read_file(f), stays_converted ? converted(text, to_dos) : text);
    EXPECT_EQ(read_file(next), text);
}

// Whatever call fails, the file is as it was (but for the last close, which
// comes after the file is converted and can no longer be undone), the message
// says which step failed, and the next file is untouched. A failure to find
// the holes is no failure: the holes read as zeros.
TEST_P(FailedCall, LeavesTheFileAsItWasAndTheNextUntouched) {
    if (runs_windows_program())
        GTEST_SKIP() << "strace cannot follow the program under wine";
    const call_failure c = GetParam();
    const int made = calls_of_a_clean_run(c.to_dos)[c.call.names];
    ASSERT_LT(made, c.call.most) << "a run makes as many calls as the rows fail, or more";
    const auto f = sparse_file("a.txt");
    const bytes text = sparse_text;
    const auto next = file("b.txt", text);
    std::vector<std::string> args{f, next};
    if (c.to_dos)
        args.insert(args.begin(), "-");

    const std::string call = c.call.names;
    const char *message = nullptr; // none: the run succeeds
    bool stays_converted = false;
    if (c.index <= made && call != "lseek,_llseek") {
        if (call == "openat" || call == "pwrite64")
            message = "Can't write file: "; // the first open for writing, then reading only
        else if (call == "fcntl,fcntl64")
            // The lock first: failing but for another's lock, it is a system
            // without such locks, and the file is converted without one.
            message = c.index == made ? "Can't write file: " : nullptr;
        else if (call == "pread64")
            message = "Can't read file: ";
        else if (call == "close")
            message = "Can't write file: ", stays_converted = c.index == made;
        else
            message = "Can't open file: ";
    }
    const run_result r = run_program(
        args, injected(c.call.names,
                       std::string(c.call.injection) + ":when=" + std::to_string(c.index), f));
    expect_outcome(r, message, stays_converted, f, next, text, c.to_dos);
}

INSTANTIATE_TEST_SUITE_P(EveryCall, FailedCall, ::testing::ValuesIn(every_call_failure()),
                         [](const auto &info) {
                             const call_failure &c = info.param;
                             std::string name = std::string(c.call.names) + "_" + c.call.injection +
                                                "_" + std::to_string(c.index) +
                                                (c.to_dos ? "_to_dos" : "_to_windows");
                             for (char &ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

// Another program cuts the file short while it is converted: the run ends
// where the file now ends, what is left converted, and no longer than that.
TEST_F(Fault, FileCutShortMeanwhileKeepsItsNewLength) {
    if (runs_windows_program())
        GTEST_SKIP()
            << "the window is made with strace, which cannot follow the program under wine";
    const bytes text = every_byte(3 * block);
    const auto f = file("a.txt", text);
    const std::size_t left = block + 100;
    run_options options = slowed("pread64", f, std::chrono::milliseconds(300));
    options.meanwhile = [&] {
        holder_of(f);
        fs::resize_file(f, left); // before the first read gets its bytes
    };
    expect_success(run_program({f}, options));
    EXPECT_EQ(read_file(f), converted(bytes(text.begin(), text.begin() + left)));
}

// Text that destroys nothing asks for no journal memory at all.
TEST_F(Fault, TextWithNothingToJournalConvertsInLittleMemory) {
#ifdef GRKPAGE_SANITIZED
    GTEST_SKIP() << "the sanitizer reserves more address space than the limit allows";
#else
    if (runs_windows_program() || runs_emulated())
        GTEST_SKIP() << (runs_emulated() ? "qemu" : "wine")
                     << " reserves more address space than the limit allows";
    const bytes one = greek(1), prose = greek(10 << 20);
    const auto a = file("one.txt", one), b = file("prose.txt", prose);
    run_options options;
    options.address_space = 16u << 20;
    expect_success(run_program({a, b}, options));
    EXPECT_EQ(read_file(a), converted(one));
    EXPECT_EQ(read_file(b), converted(prose));
#endif
}

// An editor saves a new text over the name while the program reads the old
// one: the old file is converted, and the new one is not touched.
TEST_F(Fault, FileRenamedOverTheNameMeanwhileIsUntouched) {
    if (runs_windows_program())
        GTEST_SKIP()
            << "the window is made with strace, which cannot follow the program under wine";
    const bytes text = every_byte(3 * block), newer = every_byte(2 * block + 5);
    const auto f = file("a.txt", text);
    fs::create_hard_link(f, path("old.txt"));
    file("new.txt", newer);
    run_options options = slowed("pread64", f, std::chrono::milliseconds(300));
    options.meanwhile = [&] {
        holder_of(f);
        fs::rename(path("new.txt"), f);
    };
    expect_success(run_program({f}, options));
    EXPECT_EQ(read_file(f), newer);
    EXPECT_EQ(read_file(path("old.txt")), converted(text));
}

// Waits until a program holds a lock on `path`, as a Unix grkpage does on the
// file it rewrites, from just after it opened it.
void wait_for_lock(const std::string &path) {
    const int fd = open(path.c_str(), O_RDONLY);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        struct flock held {};
        held.l_type = F_WRLCK;
        held.l_whence = SEEK_SET;
        if (fcntl(fd, F_OFD_GETLK, &held) == 0 && held.l_type != F_UNLCK) {
            close(fd);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    close(fd);
    throw std::runtime_error("no program locked " + path);
}

// Two runs on one file at once, as when Send To is chosen twice on a big
// file or two batches overlap: one converts it, the other is refused and
// leaves it alone. The first is stopped while it has the file open (and, on
// Unix, locked), and the second started meanwhile.
TEST_F(Fault, SecondRunOnAFileBeingRewrittenIsRefused) {
    const bytes text = greek(256 << 20); // long enough to be caught open
    const auto f = file("big.txt", text);
    run_result second;
    std::vector<std::string> others; // what other Windows programs met meanwhile
    run_options options;
    options.timeout = std::chrono::seconds(60);
    options.meanwhile = [&] {
        const std::vector<pid_t> first = holders_of(f);
        // On Windows the open itself shuts others out; on Unix the lock
        // comes just after it.
        if (!runs_windows_program())
            wait_for_lock(f);
        for (const pid_t pid : first)
            kill(pid, SIGSTOP);
        run_options quick;
        quick.timeout = std::chrono::seconds(30);
        second = run_program({f}, quick);
        if (runs_windows_program())
            others = run_helper(path("report"), {"check", f}).second;
        for (const pid_t pid : first)
            kill(pid, SIGCONT);
    };
    const run_result first = run_program({f}, options);
    // One converted, and printed nothing; the other printed the refusal.
    const bool first_converted = first.status == 0;
    expect_success(first_converted ? first : second);
    expect_failure(first_converted ? second : first, "Can't open file: " + f + "\n");
    EXPECT_TRUE(read_file(f) == converted(text)) << "not converted exactly once";
    // On Windows other programs may read it meanwhile, as Notepad does, but
    // not write it, nor save another file over its name.
    if (runs_windows_program()) {
        EXPECT_EQ(others, (std::vector<std::string>{"write: refused 32", "read: opened",
                                                    "read, denying writers: refused 32",
                                                    "replace: refused 5"}));
    }
}

struct sparse_shape {
    const char *name;
    std::uint64_t size;
    bool memory_limit; // 256 MiB of address space
};

void PrintTo(const sparse_shape &f, std::ostream *os) {
    *os << f.name;
}

class SparseFile : public TempDir, public ::testing::WithParamInterface<sparse_shape> {};

// The holes of a sparse file stay holes, whatever its size. And the file is
// streamed: memory does not grow with it, and offsets past 4 GiB work (the
// 32-bit program's case).
TEST_P(SparseFile, ConvertsAndKeepsItsHoles) {
    const sparse_shape shape = GetParam();
#ifdef GRKPAGE_SANITIZED
    if (shape.memory_limit)
        GTEST_SKIP() << "the sanitizer reserves more address space than the limit allows";
#endif
    const std::uint64_t size = shape.size;
    const bytes head = greek(4096), tail = greek(4096);
    const auto f = file("huge.txt", head);
    fs::resize_file(f, size);
    const auto put = [&](std::uint64_t offset, const bytes &text) {
        std::fstream out(f, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(static_cast<std::streamoff>(offset));
        out.write(reinterpret_cast<const char *>(text.data()),
                  static_cast<std::streamsize>(text.size()));
        ASSERT_TRUE(out.flush());
    };
    put(size - 2 * 4096, tail);
    const auto get = [&](std::uint64_t offset) {
        std::ifstream in(f, std::ios::binary);
        bytes got(4096);
        in.seekg(static_cast<std::streamoff>(offset));
        in.read(reinterpret_cast<char *>(got.data()), static_cast<std::streamsize>(got.size()));
        return got;
    };
    struct stat was {};
    ASSERT_EQ(stat(f.c_str(), &was), 0);

    run_options options;
    options.timeout = std::chrono::seconds(60);
    // wine and qemu reserve more than the limit
    if (shape.memory_limit && !runs_windows_program() && !runs_emulated())
        options.address_space = 256u * 1024 * 1024;
    expect_success(run_program({f}, options));
    EXPECT_EQ(fs::file_size(f), size);
    EXPECT_EQ(get(0), converted(head));
    EXPECT_EQ(get(size - 2 * 4096), converted(tail));
    EXPECT_EQ(get(size - 4096), bytes(4096, 0));
    EXPECT_EQ(get(size / 2), bytes(4096, 0));
    struct stat is {};
    ASSERT_EQ(stat(f.c_str(), &is), 0);
    // Windows files are sparse only when marked so; the Windows program reads
    // holes as zeros, and fills in those within a block it writes.
    if (!runs_windows_program()) {
        EXPECT_EQ(is.st_blocks, was.st_blocks) << "holes were filled in";
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, SparseFile,
                         ::testing::Values(sparse_shape{"FarLargerThanTheMemoryLimit",
                                                        (std::uint64_t{4} << 30) + 3 * 4096, true},
                                           sparse_shape{"OfOneBlock", 200 * 1024, false}),
                         [](const auto &info) { return std::string(info.param.name); });

// At the hard CPU limit the kernel sends SIGKILL, which nothing survives; at
// the soft one SIGXCPU, which is held. Where the two are equal, the program
// lowers its soft limit to a third, so that SIGXCPU comes first with time left
// to put the file back; a soft limit below the hard one is the user's, and stays.
TEST_F(Fault, CpuLimitWarnsWithTimeLeftBeforeItKills) {
    if (runs_windows_program())
        GTEST_SKIP() << "Windows has no CPU time limit";
    const bytes text = greek(2 * block);
    const auto f = file("a.txt", text);
    struct limit {
        const char *set, *soft, *hard;
    };
    for (const limit l : {limit{"60:60", "20", "60"}, limit{"10:60", "10", "60"}}) {
        SCOPED_TRACE(l.set);
        write_file(f, text);
        run_options options = slowed("pread64", f, std::chrono::milliseconds(300));
        options.wrapper.insert(options.wrapper.end(),
                               {"prlimit", std::string("--cpu=") + l.set, "--"});
        std::string soft, hard;
        options.meanwhile = [&] { // while the first read is held up
            std::ifstream limits("/proc/" + std::to_string(holder_of(f)) + "/limits");
            for (std::string line; std::getline(limits, line);)
                if (line.starts_with("Max cpu time"))
                    std::istringstream(line.substr(std::strlen("Max cpu time"))) >> soft >> hard;
        };
        expect_success(run_program({f}, options));
        EXPECT_EQ(soft, l.soft);
        EXPECT_EQ(hard, l.hard);
        EXPECT_EQ(read_file(f), converted(text));
    }
}

// Content for the CPU limit's test, made a MiB at a time: random bytes (a
// quarter destroyed either way, few repeats), shades (every byte destroyed,
// the journal the bytes themselves) and forms (runs of frames between text).
struct cpu_content {
    const char *name;
    std::uint64_t mib;
    std::uint8_t (*byte)(std::uint64_t i, std::uint64_t random);
};

void PrintTo(const cpu_content &c, std::ostream *os) {
    *os << c.mib << " MiB of " << c.name;
}

class CpuLimit : public TempDir, public ::testing::WithParamInterface<cpu_content> {};

// FNV-1a, over a file as it is written or read a MiB at a time.
std::uint64_t hashed(std::uint64_t hash, const bytes &chunk) {
    for (const std::uint8_t b : chunk)
        hash = (hash ^ b) * 0x100000001B3;
    return hash;
}

std::uint64_t hash_of_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::uint64_t hash = 0xCBF29CE484222325;
    for (bytes chunk(1 << 20);
         in.read(reinterpret_cast<char *>(chunk.data()), chunk.size()) || in.gcount() > 0;) {
        chunk.resize(static_cast<std::size_t>(in.gcount()));
        hash = hashed(hash, chunk);
    }
    return hash;
}

// Under a CPU limit whose soft and hard values are equal (ulimit -t 3), a
// file so large that SIGXCPU comes in the middle of it, however its content
// makes the journal and the rollback costly, is left whole: exactly as it was
// (the run ended by SIGXCPU) or converted (the run done first); never cut in
// the middle of its rollback by SIGKILL. Three runs each: not a timing test,
// as the outcome must hold however fast the machine is.
TEST_P(CpuLimit, SoftEqualToHardLeavesTheFileWhole) {
    const cpu_content c = GetParam();
    if (runs_windows_program())
        GTEST_SKIP() << "Windows has no CPU time limit";
    const std::uint64_t size = c.mib << 20;
    if (fs::space(dir).available < size + (256u << 20))
        GTEST_SKIP() << "needs " << c.mib + 256 << " MiB free in " << dir;
    const auto f = path("big.txt");
    std::uint64_t original = 0xCBF29CE484222325, translation = original, random = 737;
    {
        std::ofstream out(f, std::ios::binary);
        bytes chunk(1 << 20);
        for (std::uint64_t at = 0; at < size; at += chunk.size()) {
            for (std::size_t i = 0; i < chunk.size(); ++i) {
                random ^= random << 13, random ^= random >> 7, random ^= random << 17;
                chunk[i] = c.byte(at + i, random);
            }
            out.write(reinterpret_cast<const char *>(chunk.data()),
                      static_cast<std::streamsize>(chunk.size()));
            original = hashed(original, chunk);
            dos_to_windows(chunk);
            translation = hashed(translation, chunk);
        }
    }
    for (int run = 1; run <= 3; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        run_options options;
        options.wrapper = {"prlimit", "--cpu=3:3", "--"};
        options.timeout = std::chrono::seconds(60);
        const run_result r = run_program({f}, options);
        ASSERT_FALSE(r.timed_out);
        ASSERT_NE(r.signal, SIGKILL) << "killed in the middle of putting the file back";
        const std::uint64_t now = hash_of_file(f);
        if (r.signal == SIGXCPU) {
            ASSERT_EQ(now, original) << "not put back";
        } else {
            expect_success(r);
            ASSERT_EQ(now, translation) << "not converted";
            return; // converted before the limit: the machine is too fast to go on
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Contents, CpuLimit,
    ::testing::Values(cpu_content{"random bytes", 2048,
                                  [](std::uint64_t, std::uint64_t r) {
                                      return static_cast<std::uint8_t>(r >> 32);
                                  }},
                      cpu_content{"shades", 1024,
                                  [](std::uint64_t, std::uint64_t r) {
                                      return static_cast<std::uint8_t>(0xB0 + (r >> 32) % 3);
                                  }},
                      cpu_content{"forms", 2048,
                                  [](std::uint64_t i, std::uint64_t r) {
                                      // a rule line, then text rows framed at each end
                                      const std::uint64_t line = i / 80, column = i % 80;
                                      if (line % 4 == 0)
                                          return static_cast<std::uint8_t>(column % 20 ? 0xCD
                                                                                       : 0xCB);
                                      if (column == 0 || column == 79)
                                          return std::uint8_t{0xBA};
                                      return static_cast<std::uint8_t>(
                                          r % 7 ? 0x80 + (r >> 32) % 0x30 : ' ');
                                  }}),
    [](const auto &info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

// Each of these paths stops the run with its message, within the timeout, and
// the file named after it is not touched.
TEST_F(Fault, EachUnusablePathStopsTheRunWithItsMessage) {
    const bytes text = greek(100);
    file("unreadable.txt", text);
    fs::permissions(path("unreadable.txt"), fs::perms::none);
    file("readonly.txt", text);
    fs::permissions(path("readonly.txt"),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::create_directory(path("dir"));
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0666), 0);
    fs::create_symlink(path("nowhere"), path("dangling"));
    fs::create_symlink(path("loop1"), path("loop2"));
    fs::create_symlink(path("loop2"), path("loop1"));
    const auto after = file("after.txt", text);
    fs::permissions(after, fs::perms::all);

    struct fault {
        std::string path, message;
    };
    const fault faults[] = {
        {path("unreadable.txt"), "Can't open file: "},
        {path("readonly.txt"), "Can't write file: "},
        {path("dir"), "Can't open file: "},
        {path("fifo"), "Can't open file: "},
        {"/dev/zero", "Can't open file: "},
        {"/dev/null", "Can't open file: "},
        {path("dangling"), "Can't open file: "},
        {path("loop1"), "Can't open file: "},
        {"", "Can't open file: "},
        {path(std::string(5000, 'x')), "Can't open file: "},
        {path("d/") + std::string(4000, 'y'), "Can't open file: "},
        {path("%s%n%%"), "Can't open file: "},
    };
    run_options options;
    options.unprivileged = true;
    options.timeout = std::chrono::seconds(5);
    for (const auto &[p, message] : faults) {
        SCOPED_TRACE(p.substr(0, 80));
        expect_failure(run_program({p, after}, options), message + p + "\n");
        EXPECT_EQ(read_file(after), text);
    }
    EXPECT_EQ(read_file(path("readonly.txt")), text);
}

// The Windows program's own faults. Its platform calls fail through the seam
// of a test build of it (tests/windows/seam.hpp), as strace fails the Unix
// program's system calls; other programs act on the file through a helper.

// Each file call of the Windows platform layer, the errors Windows gives it,
// and how many of its calls to fail: more than a run makes.
struct windows_call {
    const char *name;
    std::vector<const char *> errors; // "short": half is moved; "none": nothing is
    int most;
};

const windows_call windows_calls[] = {
    // The file held by a program that shares no writing, read-only, a share gone.
    {"_wsopen", {"ERROR_SHARING_VIOLATION", "ERROR_ACCESS_DENIED", "ERROR_BAD_NETPATH"}, 2},
    {"_fstati64", {"ERROR_NETNAME_DELETED"}, 2},
    {"GetFileInformationByHandle", {"ERROR_NETNAME_DELETED"}, 2},
    {"_lseeki64", {"ERROR_NETNAME_DELETED"}, 7},
    {"_read",
     {"ERROR_LOCK_VIOLATION", "ERROR_NETNAME_DELETED", "ERROR_OPERATION_ABORTED", "short", "none"},
     4},
    {"_write",
     {"ERROR_DISK_FULL", "ERROR_LOCK_VIOLATION", "ERROR_ACCESS_DENIED", "ERROR_NETNAME_DELETED",
      "short", "none"},
     4},
    {"_dup", {"ERROR_TOO_MANY_OPEN_FILES"}, 2},
    {"_close", {"ERROR_DISK_FULL", "ERROR_NETNAME_DELETED"}, 3},
    {"SetConsoleCtrlHandler", {"ERROR_NOT_ENOUGH_MEMORY"}, 2},
};

struct windows_failure {
    const char *call, *error;
    int index; // from 1
    bool to_dos;
};

void PrintTo(const windows_failure &f, std::ostream *os) {
    *os << f.call << " " << f.error << " at call " << f.index
        << (f.to_dos ? ", to DOS" : ", to Windows");
}

std::vector<windows_failure> every_windows_failure() {
    std::vector<windows_failure> all;
    for (const bool to_dos : {false, true})
        for (const auto &call : windows_calls)
            for (const char *error : call.errors)
                for (int index = 1; index <= call.most; ++index)
                    all.push_back({call.name, error, index, to_dos});
    return all;
}

class WindowsFailedCall : public TempDir, public ::testing::WithParamInterface<windows_failure> {
  protected:
    void SetUp() override {
        TempDir::SetUp();
        if (!IsSkipped() && !runs_windows_program())
            GTEST_SKIP() << "the seam is the Windows program's";
    }

    // How many times a run that nothing fails makes each call on the file.
    std::map<std::string, int> calls_of_a_clean_run(const std::vector<std::string> &args,
                                                    const std::string &f) {
        run_options options;
        options.instead = under_test().seam;
        options.environment = {"GRKPAGE_SEAM_FILE=" + f, "GRKPAGE_SEAM_LOG=" + path("calls")};
        expect_success(run_program(args, options));
        std::map<std::string, int> count;
        std::ifstream in(path("calls"));
        for (std::string line; std::getline(in, line);)
            ++count[line];
        return count;
    }
};

// Whatever call fails, with whatever error, the file is as it was (but for
// the last close, after which nothing can be undone), the message says which
// step failed, and the next file is untouched. A transfer cut short is taken
// up where it stopped. Without its console handler the run touches nothing.
TEST_P(WindowsFailedCall, LeavesTheFileAsItWasAndTheNextUntouched) {
    const windows_failure c = GetParam();
    const bytes text = every_byte(2 * block + 300); // three reads, three writes
    const auto f = file("a.txt", text), next = file("b.txt", text);
    std::vector<std::string> args{f, next};
    if (c.to_dos)
        args.insert(args.begin(), "-");
    const int made = calls_of_a_clean_run(args, f)[c.call];
    write_file(f, text);
    write_file(next, text);
    const int most =
        std::find_if(std::begin(windows_calls), std::end(windows_calls), [&](const auto &w) {
            return w.name == std::string(c.call);
        })->most;
    ASSERT_LT(made, most) << "a run makes as many calls as the rows fail, or more";

    const std::string call = c.call, error = c.error;
    const char *message = nullptr; // none: the run succeeds
    bool stays_converted = false;
    if (c.index <= made && error != "short") {
        if (call == "_wsopen")
            message = error == "ERROR_SHARING_VIOLATION" ? "Can't open file: "
                                                         : "Can't write file: "; // opened to read
        else if (call == "_read" || (call == "_lseeki64" && c.index % 2 == 1))
            message = "Can't read file: "; // each block is read, then written
        else if (call == "_write" || call == "_lseeki64" || call == "_dup")
            message = "Can't write file: ";
        else if (call == "_close")
            message = "Can't write file: ", stays_converted = c.index == made;
        else
            message = "Can't open file: ";
    }
    run_options options;
    options.instead = under_test().seam;
    options.environment = {"GRKPAGE_SEAM_FILE=" + f, "GRKPAGE_SEAM_FAIL=" + call + ":" + error +
                                                         ":" + std::to_string(c.index)};
    const run_result r = run_program(args, options);
    expect_outcome(r, message, stays_converted, f, next, text, c.to_dos);
}

INSTANTIATE_TEST_SUITE_P(EveryCall, WindowsFailedCall, ::testing::ValuesIn(every_windows_failure()),
                         [](const auto &info) {
                             const windows_failure &c = info.param;
                             return std::string(c.call) + "_" + c.error + "_" +
                                    std::to_string(c.index) +
                                    (c.to_dos ? "_to_dos" : "_to_windows");
                         });

class WindowsFault : public TempDir {
  protected:
    void SetUp() override {
        TempDir::SetUp();
        if (!IsSkipped() && !runs_windows_program())
            GTEST_SKIP() << "other Windows programs act on the file";
    }
};

// A program that holds the file open and lets no one write it, as an editor
// may: the file is refused and untouched, and the next one is not converted.
TEST_F(WindowsFault, FileHeldWithoutSharingWritingIsRefused) {
    const bytes text = every_byte(3 * block);
    const auto f = file("a.txt", text), next = file("b.txt", text);
    const auto [r, report] =
        run_helper(path("report"), {"hold", f, "--", under_test().program, f, next});
    EXPECT_EQ(report, (std::vector<std::string>{"held", "exit 1"}));
    expect_failure(r, "Can't open file: " + f + "\n");
    EXPECT_EQ(read_file(f), text);
    EXPECT_EQ(read_file(next), text);
}

// Another program holds a byte-range lock (LockFileEx) on part of the file,
// in its fifth block: the writes before it succeed, the write into it fails,
// and all are put back.
TEST_F(WindowsFault, WriteIntoALockedRangeFailsAndTheFileIsPutBack) {
    const bytes text = every_byte(8 * block);
    const auto f = file("a.txt", text), next = file("b.txt", text);
    const auto [r, report] =
        run_helper(path("report"), {"lock", f, std::to_string(4 * block + 100), "10", "--",
                                    under_test().program, f, next});
    ASSERT_FALSE(report.empty());
    if (report.front().starts_with("skip: "))
        GTEST_SKIP() << report.front().substr(6);
    EXPECT_EQ(report, (std::vector<std::string>{"locked", "exit 1"}));
    expect_failure(r, "Can't write file: " + f + "\n");
    EXPECT_EQ(read_file(f), text);
    EXPECT_EQ(read_file(next), text);
}

class WindowsConsole : public WindowsFault, public ::testing::WithParamInterface<const char *> {};

// Ctrl-C, Ctrl-Break or the console closed, sent while the file is half
// converted: it is put back, the next is not touched, and the exit status is
// that of a program that Ctrl-C ended. The program is stopped when it has the
// file open, the event sent, and the program let go on.
TEST_P(WindowsConsole, EventPutsTheFileBackAndLeavesTheNextUntouched) {
    const bytes text = greek(256 << 20);
    const auto f = file("big.txt", text), next = file("next.txt", greek(100));
    const std::string report = path("report"), go = path("go");
    run_options options;
    options.on_terminal = true; // wine gives a program a console on a terminal
    options.timeout = std::chrono::seconds(60);
    const auto reported = [&] {
        std::string said;
        std::getline(std::ifstream(report), said);
        return said;
    };
    options.meanwhile = [&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::vector<pid_t> program;
        while (program.empty() && reported().empty() &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            program = holders_now(f);
        }
        if (program.empty()) // the helper found that it cannot send the event
            return;
        for (const pid_t pid : program)
            kill(pid, SIGSTOP);
        write_file(go, {});
        while (reported().empty() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (const pid_t pid : program)
            kill(pid, SIGCONT);
    };
    const auto [r, lines] = run_helper(
        report, {"interrupt", GetParam(), go, "--", under_test().program, f, next}, options);
    ASSERT_FALSE(lines.empty()) << r.out;
    if (lines.front().starts_with("skip: "))
        GTEST_SKIP() << lines.front().substr(6);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(lines, (std::vector<std::string>{"sent", "exit c000013a"}));
    EXPECT_TRUE(read_file(f) == text) << "not put back";
    EXPECT_EQ(read_file(next), greek(100));
}

INSTANTIATE_TEST_SUITE_P(Events, WindowsConsole, ::testing::Values("ctrl-c", "ctrl-break", "close"),
                         [](const auto &info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

} // namespace
