// Every kernel gives exactly the bytes, and the journal, worked out here from
// the tables one byte at a time.
#include "codepage/kernels.hpp"
#include "codepage/tables.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

namespace codepage {
void PrintTo(const kernel &k, std::ostream *os) {
    *os << k.name;
}
} // namespace codepage

namespace {

using codepage::direction;
using bytes = std::vector<std::uint8_t>;

constexpr direction both[] = {direction::to_windows, direction::to_dos};

// What a kernel gives: the translation, and the journal it fills in.
struct result {
    bytes out;
    std::vector<std::uint64_t> lost_at, repeats;
    bytes originals;
    bool changed;
    bool operator==(const result &) const = default;
};

result run(codepage::kernel_fn kernel, const std::uint8_t *in, std::uint8_t *out, std::size_t n,
           direction d) {
    const std::size_t words = (n + 63) / 64;
    result r{{},
             std::vector<std::uint64_t>(words, ~0ull),
             std::vector<std::uint64_t>(words),
             bytes(n),
             false};
    codepage::journal_writer writer{r.lost_at.data(), r.repeats.data(), r.originals.data()};
    const translated t = kernel(in, out, n, d, &writer);
    r.out.assign(out, out + n);
    r.repeats.resize((t.lost + 63) / 64);
    r.originals.resize(t.originals);
    r.changed = t.changed;
    return r;
}

result run(codepage::kernel_fn kernel, const bytes &in, direction d) {
    bytes out(in.size());
    return run(kernel, in.data(), out.data(), in.size(), d);
}

// The translation and its journal straight from the tables and the journal's
// definition, sharing no code with any kernel.
result reference(const bytes &in, direction d) {
    const bool to_dos = d == direction::to_dos;
    const auto &map = to_dos ? codepage::to_dos_map : codepage::to_windows_map;
    const auto &inverse = to_dos ? codepage::from_dos_map : codepage::from_windows_map;
    result r{bytes(in.size()), std::vector<std::uint64_t>((in.size() + 63) / 64), {}, {}, false};
    std::vector<bool> repeat;
    int last_destroyed = -1;
    for (std::size_t i = 0; i < in.size(); ++i) {
        const std::uint8_t b = in[i];
        r.out[i] = map[b];
        r.changed |= map[b] != b;
        if (inverse[map[b]] != b) { // destroyed: it does not come back from its translation
            r.lost_at[i / 64] |= std::uint64_t{1} << (i % 64);
            const bool repeats = last_destroyed == b;
            repeat.push_back(repeats);
            if (!repeats)
                r.originals.push_back(b);
            last_destroyed = b;
        }
    }
    r.repeats.resize((repeat.size() + 63) / 64);
    for (std::size_t k = 0; k < repeat.size(); ++k)
        r.repeats[k / 64] |= std::uint64_t{repeat[k]} << (k % 64);
    return r;
}

void PrintTo(const result &r, std::ostream *os) {
    *os << r.originals.size() << " originals, changed " << r.changed;
}

class Kernel : public ::testing::TestWithParam<codepage::kernel> {};

// Each byte value at each position of the widest vector (64 bytes), and the
// fuzzer's seed corpus.
TEST_P(Kernel, EveryByteAtEveryLaneAndTheSeedCorpusMatchTheTables) {
    for (direction d : both)
        for (std::size_t shift = 0; shift < 64; ++shift) {
            bytes in(256 + 64);
            for (std::size_t i = 0; i < in.size(); ++i)
                in[i] = static_cast<std::uint8_t>(i - shift);
            ASSERT_EQ(run(GetParam().run, in, d), reference(in, d)) << "shift " << shift;
        }
    // The lookups that begin an undo: each byte back by the inverse table.
    for (const auto &[d, map] : {std::pair{direction::from_windows, codepage::from_windows_map},
                                 std::pair{direction::from_dos, codepage::from_dos_map}})
        for (std::size_t shift = 0; shift < 64; ++shift) {
            bytes in(256 + 64), expected(in.size());
            for (std::size_t i = 0; i < in.size(); ++i)
                expected[i] = map[in[i] = static_cast<std::uint8_t>(i - shift)];
            GetParam().run(in.data(), in.data(), in.size(), d, nullptr);
            ASSERT_EQ(in, expected) << "back, shift " << shift;
        }
    std::size_t seeds = 0;
    for (const auto &seed : std::filesystem::directory_iterator(GRKPAGE_SEED_CORPUS)) {
        std::ifstream file(seed.path(), std::ios::binary);
        const bytes in{std::istreambuf_iterator<char>(file), {}};
        ++seeds;
        for (direction d : both)
            ASSERT_EQ(run(GetParam().run, in, d), reference(in, d)) << seed.path();
    }
    EXPECT_GT(seeds, 0u);
}

// Odd lengths at every alignment, copying and in place, with and without a
// journal, never touching a byte outside the range.
TEST_P(Kernel, AnyLengthAndAlignmentMatchesTheTables) {
    std::mt19937 random(1253);
    constexpr std::uint8_t guard = 0x5A;
    for (direction d : both)
        for (std::size_t length : {0, 1, 15, 31, 33, 63, 64, 65, 127, 129, 255, 1000, 4099})
            for (std::size_t offset = 0; offset < 64; offset += 7) {
                // Runs of one byte (as frames come, some longer than a vector)
                // among any bytes.
                bytes in;
                while (in.size() < length) {
                    const std::uint8_t runs[] = {0xCD, 0xB1, '~',
                                                 static_cast<std::uint8_t>(random())};
                    in.insert(in.end(), random() % 80 + 1, runs[random() % 4]);
                }
                in.resize(length);
                const result expected = reference(in, d);
                ASSERT_EQ(run(GetParam().run, in, d), expected) << length << " bytes";
                // Kept and undone with this kernel: where a destroyed byte
                // could be, the lookup back, the destroyed bytes put back.
                const direction back_way =
                    d == direction::to_dos ? direction::from_dos : direction::from_windows;
                std::vector<std::uint64_t> room(length / 8 + 1);
                std::size_t used = 0;
                const kept_journal kept = codepage::keep_with(
                    GetParam(), expected.out,
                    {expected.lost_at, expected.repeats, expected.originals},
                    {reinterpret_cast<std::uint8_t *>(room.data()), room.size() * 8}, used,
                    back_way);
                bytes back = expected.out;
                codepage::undo_with(GetParam(), back, kept, back_way);
                ASSERT_EQ(back, in) << "undone, " << length << " bytes";

                bytes buffer(offset + length + 64, guard);
                GetParam().run(in.data(), buffer.data() + offset, length, d, nullptr);
                const bytes out(buffer.begin() + offset, buffer.begin() + offset + length);
                ASSERT_EQ(out, expected.out) << length << " bytes at offset " << offset;
                const auto untouched = [&](auto from, auto to) {
                    return std::all_of(from, to, [](std::uint8_t b) { return b == guard; });
                };
                ASSERT_TRUE(untouched(buffer.begin(), buffer.begin() + offset) &&
                            untouched(buffer.begin() + offset + length, buffer.end()))
                    << "wrote outside " << length << " bytes at offset " << offset;

                // In place, the journal must still hold the original bytes.
                std::copy(in.begin(), in.end(), buffer.begin() + offset);
                ASSERT_EQ(
                    run(GetParam().run, buffer.data() + offset, buffer.data() + offset, length, d),
                    expected)
                    << "in place, " << length << " bytes at offset " << offset;
            }
}

INSTANTIATE_TEST_SUITE_P(Supported, Kernel,
                         ::testing::ValuesIn(codepage::supported_kernels().begin(),
                                             codepage::supported_kernels().end()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Kernels, PortableComesFirst) {
    ASSERT_FALSE(codepage::supported_kernels().empty());
    EXPECT_STREQ(codepage::supported_kernels().front().name, "portable");
}

} // namespace
