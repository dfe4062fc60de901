#include "harness.hpp"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

bytes as_bytes(std::string_view text) {
    return bytes(text.begin(), text.end());
}

bytes read_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    bytes content(std::filesystem::file_size(path));
    if (!in.read(reinterpret_cast<char *>(content.data()),
                 static_cast<std::streamsize>(content.size())))
        throw std::runtime_error("cannot read " + path.string());
    return content;
}

void write_file(const std::filesystem::path &path, const bytes &content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(content.data()),
              static_cast<std::streamsize>(content.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path.string());
}

void expect_success(const run_result &r) {
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
}

void expect_failure(const run_result &r, const std::string &message) {
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
    // A Windows console program's line feed reaches a pipe as CR LF.
    if (runs_windows_program() && message.ends_with('\n'))
        EXPECT_EQ(r.err, message.substr(0, message.size() - 1) + "\r\n");
    else
        EXPECT_EQ(r.err, message);
    EXPECT_EQ(r.out, "");
}

void TempDir::SetUp() {
    if (const auto why = why_the_program_cannot_run())
        GTEST_SKIP() << *why;
    trace.emplace(__FILE__, __LINE__, "the program under test: " + describe_program_under_test());
    std::string pattern = (std::filesystem::temp_directory_path() / "grkpage-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    dir = pattern;
    // Open to all, so that a test may run the program as an unprivileged user.
    std::filesystem::permissions(dir, std::filesystem::perms::all);
}

void TempDir::TearDown() {
    trace.reset();
    std::error_code ignored;
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(dir, ignored);
}

std::string TempDir::file(const std::string &name, const bytes &content) {
    write_file(dir / name, content);
    return path(name);
}
