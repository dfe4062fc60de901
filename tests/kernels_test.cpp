// Every fast kernel gives exactly the bytes of the portable one.
#include "codepage/kernels.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace codepage {
void PrintTo(const kernel &k, std::ostream *os) { *os << k.name; }
} // namespace codepage

namespace {

using codepage::direction;
using bytes = std::vector<std::uint8_t>;

constexpr direction both[] = {direction::to_windows, direction::to_dos};

bytes portable(const bytes &in, direction d) {
    bytes out(in.size());
    codepage::translate_portable(in.data(), out.data(), in.size(), d);
    return out;
}

class Kernel : public ::testing::TestWithParam<codepage::kernel> {};

// Each byte value at each position of the widest vector (64 bytes).
TEST_P(Kernel, EveryByteAtEveryLaneMatchesPortable) {
    for (direction d : both)
        for (std::size_t shift = 0; shift < 64; ++shift) {
            bytes in(256 + 64);
            for (std::size_t i = 0; i < in.size(); ++i)
                in[i] = static_cast<std::uint8_t>(i - shift);
            bytes out(in.size());
            GetParam().run(in.data(), out.data(), in.size(), d);
            ASSERT_EQ(out, portable(in, d)) << "shift " << shift;
        }
}

// Odd lengths at every alignment, copying and in place, never touching a byte
// outside the range.
TEST_P(Kernel, AnyLengthAndAlignmentMatchesPortable) {
    std::mt19937 random(1253);
    constexpr std::uint8_t guard = 0x5A;
    for (direction d : both)
        for (std::size_t length : {0, 1, 15, 31, 33, 63, 64, 65, 127, 129, 255, 1000, 4099})
            for (std::size_t offset = 0; offset < 64; offset += 7) {
                bytes in(length);
                for (auto &b : in)
                    b = static_cast<std::uint8_t>(random());
                const bytes expected = portable(in, d);

                bytes buffer(offset + length + 64, guard);
                GetParam().run(in.data(), buffer.data() + offset, length, d);
                const bytes out(buffer.begin() + offset, buffer.begin() + offset + length);
                ASSERT_EQ(out, expected) << length << " bytes at offset " << offset;
                const auto untouched = [&](auto from, auto to) {
                    return std::all_of(from, to, [](std::uint8_t b) { return b == guard; });
                };
                ASSERT_TRUE(untouched(buffer.begin(), buffer.begin() + offset) &&
                            untouched(buffer.begin() + offset + length, buffer.end()))
                    << "wrote outside " << length << " bytes at offset " << offset;

                std::copy(in.begin(), in.end(), buffer.begin() + offset);
                GetParam().run(buffer.data() + offset, buffer.data() + offset, length, d);
                ASSERT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin() + offset))
                    << "in place, " << length << " bytes at offset " << offset;
            }
}

INSTANTIATE_TEST_SUITE_P(Supported, Kernel, ::testing::ValuesIn(codepage::supported_kernels().begin(),
                                                                codepage::supported_kernels().end()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Kernels, PortableComesFirst) {
    ASSERT_FALSE(codepage::supported_kernels().empty());
    EXPECT_STREQ(codepage::supported_kernels().front().name, "portable");
}

} // namespace
