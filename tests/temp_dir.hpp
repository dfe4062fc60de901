// A fixture that gives each test a fresh directory, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using bytes = std::vector<std::uint8_t>;

bytes as_bytes(std::string_view text);
bytes read_file(const std::filesystem::path &path);
void write_file(const std::filesystem::path &path, const bytes &content);

class TempDir : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // A file in the directory holding `content`; returns its path.
    std::string file(const std::string &name, const bytes &content);
    std::string path(const std::string &name) const { return (dir / name).string(); }
    std::filesystem::path dir;
};
