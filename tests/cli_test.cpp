// The program as a user runs it: files on disk, messages, exit status.
#include "harness.hpp"

#include <algorithm>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string usage = "Usage: grkpage {-} filename(s)\n";
std::string cant_open(const std::string &path) {
    return "Can't open file: " + path + "\n";
}
std::string cant_write(const std::string &path) {
    return "Can't write file: " + path + "\n";
}

// DOS: "ΑΒΓ ╔═╗ σς ≈~" and its Windows form.
const bytes dos_text{0x80, 0x81, 0x82, ' ', 0xC9, 0xCD, 0xBB, ' ', 0xA9, 0xAA, ' ', 0xF7, '~'};
const bytes windows_text{0xC1, 0xC2, 0xC3, ' ', '+', '-', '+', ' ', 0xF3, 0xF2, ' ', '~', '~'};

run_options as_nobody() {
    run_options options;
    options.unprivileged = true;
    return options;
}

run_options within(std::chrono::milliseconds timeout) {
    run_options options;
    options.timeout = timeout;
    return options;
}

using Harness = TempDir;
using CommandLine = TempDir;
using Rewrite = TempDir;
using Refuse = TempDir;

// What must start a program of this format on this machine: the names of the
// emulators or wine loaders that may, "" for none.
std::vector<std::string> starters_of(const bytes &head) {
    const auto u16 = [&](std::size_t at) {
        return at + 2 <= head.size() ? head[at] | head[at + 1] << 8 : -1;
    };
    const auto u32 = [&](std::size_t at) {
        return at + 4 <= head.size() ? static_cast<std::size_t>(u16(at) | u16(at + 2) << 16) : 0;
    };
    if (head.size() > 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') {
        switch (u16(18)) { // e_machine
        case 3:            // i386: qemu, or nothing where the kernel runs 32-bit programs
            if (machine_runs_32_bit())
                return {"qemu-i386-static", ""};
            return {"qemu-i386-static"};
        case 62:
            return {""};
        case 183:
            return {"qemu-aarch64-static"};
        }
    } else if (u16(0) == 'M' + ('Z' << 8)) {
        switch (u16(u32(0x3C) + 4)) { // the PE header's machine
        case 0x14C:
            return {"wine"};
        case 0x8664:
            return {"wine64"};
        }
    }
    return {};
}

// The suite itself: the program and the emulator or loader it was configured
// with are what a run starts, and they are what such a program needs here.
TEST_F(Harness, StartsTheConfiguredProgramUnderWhatItNeeds) {
    const auto &target = under_test();
    std::ifstream in(target.program, std::ios::binary);
    bytes head(4096);
    in.read(reinterpret_cast<char *>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    const std::string starter =
        target.runner.empty() ? "" : fs::path(target.runner.front()).filename().string();
    const auto starters = starters_of(head);
    EXPECT_TRUE(std::ranges::find(starters, starter) != starters.end())
        << "no program of this format is started by \"" << starter << '"';

    run_options traced;
    const auto log = path("execve.log");
    traced.wrapper = {"strace",      "-qq", "-e",   "trace=execve", "-e",
                      "signal=none", "-s",  "4096", "-o",           log};
    expect_failure(run_program({}, traced), usage);
    std::ifstream trace(log);
    std::string first;
    std::getline(trace, first);
    std::string argv = "[";
    for (const auto &word : target.runner)
        argv += "\"" + word + "\", ";
    argv += "\"" + target.program + "\"]";
    EXPECT_NE(first.find(argv), std::string::npos) << first;
    EXPECT_TRUE(first.ends_with(" = 0")) << first;
}

TEST_F(CommandLine, NoArgumentsPrintsUsage) {
    expect_failure(run_program({}), usage);
}

TEST_F(CommandLine, ConvertsDosToWindowsByDefault) {
    const auto f = file("a.txt", dos_text);
    expect_success(run_program({f}));
    EXPECT_EQ(read_file(f), windows_text);
}

TEST_F(CommandLine, AnyFirstArgumentBeginningWithDashConvertsWindowsToDos) {
    for (const std::string dash : {"-", "-x", "--"}) {
        const auto f = file("a.txt", as_bytes("\xC1~\x80"));
        expect_success(run_program({dash, f}));
        EXPECT_EQ(read_file(f), (bytes{0x80, 0xF7, 'E'})) << dash;
    }
}

TEST_F(CommandLine, DashAloneConvertsNothing) {
    expect_success(run_program({"-"}));
}

TEST_F(CommandLine, LaterDashIsAFileName) {
    const auto f = file("a.txt", dos_text);
    expect_failure(run_program({f, "-"}), cant_open("-"));
    EXPECT_EQ(read_file(f), windows_text);
}

TEST_F(CommandLine, EmptyFirstArgumentIsAFileName) {
    expect_failure(run_program({""}), cant_open(""));
}

TEST_F(CommandLine, StopsAtTheFirstFileThatFails) {
    const auto first = file("1.txt", dos_text), third = file("3.txt", dos_text);
    expect_failure(run_program({first, path("2.txt"), third}), cant_open(path("2.txt")));
    EXPECT_EQ(read_file(first), windows_text);
    EXPECT_EQ(read_file(third), dos_text);
}

TEST_F(CommandLine, SameFileTwiceIsConvertedTwice) {
    const auto f = file("a.txt", {0x80, 0xC1});
    expect_success(run_program({f, f}));
    EXPECT_EQ(read_file(f), (bytes{'+', '+'})); // 0x80 -> 0xC1 -> '+'
}

// As cron or a launcher may start it: no file takes a standard stream's number.
TEST_F(CommandLine, ConvertsEveryFileWithStandardStreamsClosed) {
    const std::vector<std::string> files{file("1.txt", dos_text), file("2.txt", dos_text),
                                         file("3.txt", dos_text)};
    run_options options;
    options.closed = {0, 1, 2};
    expect_success(run_program(files, options));
    for (const auto &f : files)
        EXPECT_EQ(read_file(f), windows_text) << f;
}

// On Windows a name outside the ANSI code page must still open, and the message
// shows it as typed (UTF-8 when standard error is not a console).
TEST_F(CommandLine, OpensNamesInAnyScript) {
    for (const std::string name : {"αρχείο.txt", "файл-文字-😀.txt"}) {
        const auto f = file(name, dos_text);
        expect_success(run_program({f}));
        EXPECT_EQ(read_file(f), windows_text) << name;
        const auto missing = path("λείπει-" + name);
        expect_failure(run_program({f, missing}), cant_open(missing));
        EXPECT_EQ(read_file(f), as_bytes("+++ +-+    ~~")) << name; // converted twice
    }
}

TEST_F(Rewrite, KeepsLineEndsExactly) {
    const auto f = file("a.txt", as_bytes("\x80\r\n\x81\r\x82\n\n\r\r\n\x83"));
    expect_success(run_program({f}));
    EXPECT_EQ(read_file(f), as_bytes("\xC1\r\n\xC2\r\xC3\n\n\r\r\n\xC4"));
}

TEST_F(Rewrite, KeepsNulBytes) {
    const bytes text{0x80, 0x00, 0x81, 0x00, 0x00, '\n', 0x00, 0xC9};
    const auto f = file("a.txt", text);
    expect_success(run_program({f}));
    EXPECT_EQ(read_file(f), (bytes{0xC1, 0x00, 0xC2, 0x00, 0x00, '\n', 0x00, '+'}));
}

TEST_F(Rewrite, TranslatesLongLinesWhole) {
    for (std::size_t length : {1023u, 1024u, 3000u, 300'000u}) {
        bytes text(length, 0x80);
        text.back() = '\n';
        const auto f = file("a.txt", text);
        expect_success(run_program({f}));
        bytes expected(length, 0xC1);
        expected.back() = '\n';
        EXPECT_EQ(read_file(f), expected) << "line of " << length;
    }
}

TEST_F(Rewrite, LeavesAsciiAsItIs) {
    const bytes text = as_bytes("plain text, no Greek\r\n");
    const auto f = file("a.txt", text);
    expect_success(run_program({f}));
    EXPECT_EQ(read_file(f), text);
}

TEST_F(Rewrite, KeepsTheSameFile) {
    const auto f = file("a.txt", dos_text);
    const auto before = fs::status(f);
    struct stat was {};
    ASSERT_EQ(stat(f.c_str(), &was), 0);
    expect_success(run_program({f}));
    struct stat is {};
    ASSERT_EQ(stat(f.c_str(), &is), 0);
    EXPECT_EQ(is.st_ino, was.st_ino);
    EXPECT_EQ(fs::status(f).permissions(), before.permissions());
}

TEST_F(Rewrite, FollowsASymbolicLink) {
    const auto target = file("target.txt", dos_text);
    fs::create_symlink(target, path("link.txt"));
    expect_success(run_program({path("link.txt")}));
    EXPECT_TRUE(fs::is_symlink(path("link.txt")));
    EXPECT_EQ(read_file(target), windows_text);
}

TEST_F(Rewrite, NeverOpensAnEmptyFileForWriting) {
    // Read-only and unwritable by the program's user: success shows it was not reopened.
    const auto f = file("empty.txt", {});
    fs::permissions(f, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const auto written = fs::last_write_time(f);
    const auto after = file("after.txt", dos_text);
    fs::permissions(after, fs::perms::all);
    expect_success(run_program({f, after}, as_nobody()));
    EXPECT_EQ(fs::file_size(f), 0u);
    EXPECT_EQ(fs::last_write_time(f), written);
    EXPECT_EQ(read_file(after), windows_text);
}

TEST_F(Refuse, ReadOnlyFileIsLeftAsItWas) {
    const auto f = file("ro.txt", dos_text);
    fs::permissions(f, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    expect_failure(run_program({f}, as_nobody()), cant_write(f));
    EXPECT_EQ(read_file(f), dos_text);
}

TEST_F(Refuse, DirectoryIsNotAFile) {
    fs::create_directory(path("dir"));
    const auto after = file("after.txt", dos_text);
    expect_failure(run_program({path("dir"), after}), cant_open(path("dir")));
    EXPECT_EQ(read_file(after), dos_text);
}

TEST_F(Refuse, FifoWithoutWriterDoesNotHang) {
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0666), 0);
    expect_failure(run_program({path("fifo")}, within(std::chrono::seconds(5))),
                   cant_open(path("fifo")));
}

TEST_F(Refuse, DevicesAreNotReadForever) {
    for (const std::string device : {"/dev/zero", "/dev/null"})
        expect_failure(run_program({device}, within(std::chrono::seconds(5))), cant_open(device));
}

TEST_F(Refuse, MessageNamesAnyPathVerbatim) {
    const std::string odd = path("100%s%n%%.txt");
    expect_failure(run_program({odd}), cant_open(odd));
    const std::string longest = path(std::string(5000, 'x'));
    expect_failure(run_program({longest}), cant_open(longest));
}

} // namespace
