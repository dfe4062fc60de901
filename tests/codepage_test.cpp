// The translators against the C library's own idea of both code pages.
#include "codepage/codepage.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#ifndef _WIN32
#include <iconv.h>
#endif
#include <optional>
#include <random>
#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;

#ifdef _WIN32
// No iconv on Windows: the tests that ask it skip (NEEDS_ICONV below).
std::optional<char32_t> decode(const char *, std::uint8_t) {
    return std::nullopt;
}
std::optional<std::uint8_t> encode(const char *, char32_t) {
    return std::nullopt;
}
#else
// The Unicode character of one byte of `charset`, if the charset defines it.
std::optional<char32_t> decode(const char *charset, std::uint8_t byte) {
    iconv_t cd = iconv_open("UTF-32LE", charset);
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error(std::string("iconv lacks ") + charset);
    char in[1] = {static_cast<char>(byte)};
    unsigned char out[4] = {};
    char *inp = in, *outp = reinterpret_cast<char *>(out);
    std::size_t inleft = 1, outleft = 4;
    const bool ok = iconv(cd, &inp, &inleft, &outp, &outleft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!ok || outleft != 0)
        return std::nullopt;
    return static_cast<char32_t>(out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24);
}

// The byte of `charset` for a Unicode character, if the charset has it.
std::optional<std::uint8_t> encode(const char *charset, char32_t c) {
    iconv_t cd = iconv_open(charset, "UTF-32LE");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error(std::string("iconv lacks ") + charset);
    char in[4] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8 & 0xFF),
                  static_cast<char>(c >> 16 & 0xFF), static_cast<char>(c >> 24)};
    char out[4] = {};
    char *inp = in, *outp = out;
    std::size_t inleft = 4, outleft = 4;
    const bool ok = iconv(cd, &inp, &inleft, &outp, &outleft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!ok || outleft != 3)
        return std::nullopt;
    return static_cast<std::uint8_t>(out[0]);
}
#endif

bool is_greek(char32_t c) {
    return c >= 0x370 && c <= 0x3FF;
}

std::uint8_t to_windows(std::uint8_t b) {
    bytes one{b};
    dos_to_windows(one);
    return one[0];
}

std::uint8_t to_dos(std::uint8_t b) {
    bytes one{b};
    windows_to_dos(one);
    return one[0];
}

// What a DOS byte should become, worked out from what the character is.
std::uint8_t expected_in_windows(std::uint8_t b) {
    const char32_t c = decode("CP737", b).value();
    if (is_greek(c))
        if (auto w = encode("CP1253", c))
            return *w;
    if (c == U'│' || c == U'║')
        return '|';
    if (c == U'─' || c == U'═')
        return '-';
    if (c >= 0x2500 && c <= 0x257F) // the rest of the box-drawing block
        return '+';
    if (c == U'≈')
        return '~';
    return ' ';
}

// What a Windows byte should become, worked out from what the character is.
std::uint8_t expected_in_dos(std::uint8_t b) {
    const auto c = decode("CP1253", b);
    if (c && is_greek(*c))
        if (auto d = encode("CP737", *c))
            return *d;
    if (c == U'€')
        return 'E';
    if (c == U'±')
        return *encode("CP737", U'≈');
    return ' ';
}

// The C library of a cross toolchain comes without its iconv modules; the
// native build checks these bytes.
#if defined(_WIN32)
#define NEEDS_ICONV() GTEST_SKIP() << "Windows has no iconv"
#elif defined(GRKPAGE_CROSS_BUILD)
#define NEEDS_ICONV() GTEST_SKIP() << "no iconv modules for the cross-built C library"
#else
#define NEEDS_ICONV() static_cast<void>(0)
#endif

TEST(DosToWindows, UpperHalfMatchesWhatEachCharacterIs) {
    NEEDS_ICONV();
    for (int b = 0x80; b <= 0xFF; ++b)
        EXPECT_EQ(to_windows(b), expected_in_windows(b)) << "DOS byte 0x" << std::hex << b;
}

TEST(WindowsToDos, UpperHalfMatchesWhatEachCharacterIs) {
    NEEDS_ICONV();
    for (int b = 0x80; b <= 0xFF; ++b)
        EXPECT_EQ(to_dos(b), expected_in_dos(b)) << "Windows byte 0x" << std::hex << b;
}

TEST(DosToWindows, LowerHalfIsUnchanged) {
    for (int b = 0; b < 0x80; ++b)
        EXPECT_EQ(to_windows(b), b) << "byte 0x" << std::hex << b;
}

TEST(WindowsToDos, LowerHalfIsUnchangedButTilde) {
    for (int b = 0; b < 0x80; ++b)
        EXPECT_EQ(to_dos(b), b == '~' ? 0xF7 : b) << "byte 0x" << std::hex << b;
}

TEST(RoundTrip, EveryGreekLetterOfBothPagesSurvivesBothWays) {
    NEEDS_ICONV();
    int letters = 0;
    for (int b = 0x80; b <= 0xFF; ++b) {
        const char32_t c = decode("CP737", b).value();
        if (!is_greek(c) || !encode("CP1253", c))
            continue;
        ++letters;
        EXPECT_EQ(to_dos(to_windows(b)), b) << "DOS byte 0x" << std::hex << b;
        const std::uint8_t w = *encode("CP1253", c);
        EXPECT_EQ(to_windows(to_dos(w)), w) << "Windows byte 0x" << std::hex << int(w);
    }
    EXPECT_EQ(letters, 67);
    EXPECT_EQ(to_windows(to_dos('~')), '~');
    EXPECT_EQ(to_dos(to_windows(0xF7)), 0xF7);
}

// What the manual's Undo says: converting back gives each byte back, or leaves
// what the first conversion made of it, but for the two substitutes that come
// back as another character: a DOS `~` as `≈`, a Windows `±` as `~`.
TEST(RoundTrip, ConvertingBackGivesBackOrKeepsTheFirstResult) {
    int dos_back = 0, windows_back = 0;
    for (int b = 0; b <= 0xFF; ++b) {
        const std::uint8_t windows = to_windows(b), dos_again = to_dos(windows);
        if (dos_again == b)
            ++dos_back;
        else if (b == '~')
            EXPECT_EQ(dos_again, 0xF7);
        else
            EXPECT_EQ(dos_again, windows) << "DOS byte 0x" << std::hex << b;
        const std::uint8_t dos = to_dos(b), windows_again = to_windows(dos);
        if (windows_again == b)
            ++windows_back;
        else if (b == 0xB1)
            EXPECT_EQ(windows_again, '~');
        else
            EXPECT_EQ(windows_again, dos) << "Windows byte 0x" << std::hex << b;
    }
    EXPECT_EQ(dos_back, 195);
    EXPECT_EQ(windows_back, 195);
}

TEST(Translate, LooksAtEachByteOnce) {
    bytes text{0x80, '~', 0xB1, 0xC1};
    windows_to_dos(text);
    EXPECT_EQ(text, (bytes{'E', 0xF7, 0xF7, 0x80}));
    bytes alpha{0x80};
    dos_to_windows(alpha);
    EXPECT_EQ(alpha, bytes{0xC1});
    dos_to_windows(alpha); // a second pass is a new translation, not a no-op
    EXPECT_EQ(alpha, bytes{'+'});
}

TEST(Translate, BoxFrameBecomesAsciiFrame) {
    bytes frame{0xC9, 0xCD, 0xBB, '\r', '\n', 0xBA, ' ', 0xBA, '\n', 0xC8, 0xCD, 0xBC};
    dos_to_windows(frame);
    const std::string ascii = "+-+\r\n| |\n+-+";
    EXPECT_EQ(frame, bytes(ascii.begin(), ascii.end()));
}

TEST(Translate, EmptyInputIsFine) {
    bytes none;
    dos_to_windows(none);
    windows_to_dos(none);
    EXPECT_TRUE(none.empty());
}

// A file is translated a block at a time; the cut must never matter, and each
// block's journal, as kept, must give back exactly the original of that block:
// on forms (kept with repeats), on random bytes (without), on symbols alone
// (the bytes kept whole) and on prose with two frames, a euro sign and an
// undefined byte in it (the few destroyed bytes kept by offset).
TEST(Translate, PiecesGiveTheWholesBytesAndUndoToTheOriginal) {
    std::mt19937 random(737);
    bytes form(1000), noise(1000), symbols(1000), prose(1000);
    const std::uint8_t frames[] = {0xCD, 0xBA, 0xC4, 0xB3}, odd[] = {0xC4, 0xB3, 0x80, 0x81};
    for (std::size_t i = 0; i < form.size(); ++i) {
        form[i] = i % 80 < 40 ? frames[i / 80 % 4] : (i % 7 ? 'a' + i % 26 : ' ');
        noise[i] = static_cast<std::uint8_t>(random());
        symbols[i] = static_cast<std::uint8_t>(0xB0 + random() % 48);
        prose[i] = i % 250 == 100 ? odd[i / 250] : i % 6 ? 'a' + i % 26 : ' ';
    }
    using journaled =
        translated (*)(std::span<const std::uint8_t>, std::span<std::uint8_t>, journal);
    using keeping = kept_journal (*)(std::span<const std::uint8_t>, filled_journal,
                                     std::span<std::uint8_t>, std::size_t &);
    using undoing = void (*)(std::span<std::uint8_t>, kept_journal);
    struct way {
        journaled translate;
        keeping keep;
        undoing undo;
    };
    const way directions[] = {{dos_to_windows, keep_dos_to_windows, undo_dos_to_windows},
                              {windows_to_dos, keep_windows_to_dos, undo_windows_to_dos}};
    std::vector<std::uint64_t> lost_at(16), repeats(16), room_words(1000 / 8);
    bytes originals(1000);
    const std::span<std::uint8_t> keep_in(reinterpret_cast<std::uint8_t *>(room_words.data()),
                                          room_words.size() * 8);
    const journal room{lost_at, repeats, originals};
    int with_repeats = 0, without = 0, whole = 0, by_offset = 0;
    for (const bytes &text : {form, noise, symbols, prose})
        for (const auto &[translate, keep, undo] : directions) {
            bytes once = text;
            translate(text, once, room);
            for (std::size_t cut : {0, 1, 15, 16, 17, 63, 64, 65, 500, 999, 1000}) {
                bytes pieces(text.size());
                const std::span<const std::uint8_t> in(text);
                const std::span<std::uint8_t> out(pieces);
                for (auto [from, to] : {std::pair{std::size_t{0}, cut}, {cut, text.size()}}) {
                    const auto piece = out.subspan(from, to - from);
                    const translated t = translate(in.subspan(from, to - from), piece, room);
                    EXPECT_EQ(t.changed,
                              !std::equal(piece.begin(), piece.end(), in.begin() + from));
                    std::size_t used = 0;
                    const kept_journal kept =
                        keep(piece,
                             {std::span(lost_at).first((piece.size() + 63) / 64), repeats,
                              std::span(originals).first(t.originals)},
                             keep_in, used);
                    EXPECT_LE(used, kept_room(piece.size())) << "larger than the bytes";
                    with_repeats += !kept.repeats.empty();
                    without += kept.classes && kept.repeats.empty();
                    whole += !kept.classes && kept.originals.size() == piece.size();
                    by_offset += !kept.offsets.empty();
                    undo(piece, kept);
                }
                EXPECT_EQ(pieces, text) << "undone, cut at " << cut;
                translate(in.first(cut), out.first(cut), room);
                translate(in.subspan(cut), out.subspan(cut), room);
                EXPECT_EQ(pieces, once) << "cut at " << cut;
            }
        }
    EXPECT_TRUE(with_repeats && without && whole && by_offset)
        << "each way of keeping a journal undone";
}

TEST(Translate, CopyingFormLeavesItsSourceAsItWas) {
    const bytes source{0x80, 0xC9, '~', 0x00, 0xFF};
    bytes out(source.size() + 1, 0x55);
    dos_to_windows(source, out);
    EXPECT_EQ(out, (bytes{0xC1, '+', '~', 0x00, ' ', 0x55}));
    windows_to_dos(source, out);
    EXPECT_EQ(out, (bytes{'E', 0x88, 0xF7, 0x00, ' ', 0x55}));
    EXPECT_EQ(source, (bytes{0x80, 0xC9, '~', 0x00, 0xFF}));
}

} // namespace
