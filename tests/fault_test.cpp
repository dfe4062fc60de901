// Failures the system really produces: a file left as it was, and one line saying which.
#include "harness.hpp"

#include <sys/stat.h>
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

TEST_F(Fault, FailedWriteLeavesTheFileAsItWas) {
    // The limit cuts the rewrite off part of the way through: what was written
    // before it must be put back.
    const bytes text = greek(3 * 1024 * 1024 + 7);
    const auto f = file("big.txt", text);
    run_options options;
    options.file_size = 1024 * 1024 + 4096 + 3;
    expect_failure(run_program({f}, options), "Can't write file: " + f + "\n");
    EXPECT_EQ(read_file(f), text);
}

TEST_F(Fault, TooLittleMemoryIsAReadFailure) {
#ifdef GRKPAGE_SANITIZED
    GTEST_SKIP() << "the sanitizer reserves more address space than the limit allows";
#else
    if (runs_windows_program())
        GTEST_SKIP() << "wine reserves more address space than the limit allows";
    // A sparse file, so that it is large without filling the disk.
    const bytes head = greek(4096);
    const auto f = file("huge.txt", head);
    fs::resize_file(f, 512u * 1024 * 1024);
    run_options options;
    options.address_space = 128u * 1024 * 1024;
    const run_result r = run_program({f}, options);
    expect_failure(r, "Can't read file: " + f + "\n");
    EXPECT_EQ(fs::file_size(f), 512u * 1024 * 1024);
    bytes now = read_file(f);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), now.begin()));
    EXPECT_TRUE(std::all_of(now.begin() + head.size(), now.end(), [](auto b) { return b == 0; }));
#endif
}

// Each of these paths stops the run with its message, within the timeout, and
// the file named after it is not touched.
TEST_F(Fault, EachUnusablePathStopsTheRunWithItsMessage) {
    const bytes text = greek(100);
    file("unreadable.txt", text);
    fs::permissions(path("unreadable.txt"), fs::perms::none);
    file("readonly.txt", text);
    fs::permissions(path("readonly.txt"), fs::perms::owner_read | fs::perms::group_read |
                                              fs::perms::others_read);
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

} // namespace
