// What the end-to-end tests share: files in a scratch directory and checks of a run.
#pragma once

#include "run_program.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using bytes = std::vector<std::uint8_t>;

bytes as_bytes(std::string_view text);
bytes read_file(const std::filesystem::path &path);
void write_file(const std::filesystem::path &path, const bytes &content);

// A run that succeeded silently.
void expect_success(const run_result &r);
// A run that ended, without a signal or a timeout, with status 1 and exactly `message`.
void expect_failure(const run_result &r, const std::string &message);

// Gives each test a fresh directory, removed afterwards; skips the test where
// the program under test cannot run here, and names that program and what
// starts it in every failure.
class TempDir : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // A file in the directory holding `content`; returns its path.
    std::string file(const std::string &name, const bytes &content);
    std::string path(const std::string &name) const { return (dir / name).string(); }
    std::filesystem::path dir;

  private:
    std::optional<::testing::ScopedTrace> trace;
};
