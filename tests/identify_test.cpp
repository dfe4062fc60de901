// The identifier on short texts of each kind, and the same file fed in pieces.
// The corpus test (check-identify) weighs it on thousands of real files.
#include "codepage/codepage.hpp"
#include "codepage/identify.hpp"
#include "codepage/kernels.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;

const std::u32string greek =
    U"Η μετατροπή των αρχείων γίνεται στη θέση τους. Κάθε αρχείο ανοίγει μία φορά, και όλα "
    U"τα επόμενα βήματα γίνονται πάνω σε αυτό. Άλλα προγράμματα δεν χρειάζονται. Όταν κάτι "
    U"αποτύχει, το αρχείο επιστρέφει όπως ήταν πριν από την εκτέλεση.\r\n";

// Greek letters in Windows-1253 are the Unicode ones less 0x2D0, but Alpha with
// tonos, which ISO-8859-7 keeps in that place (0xB6).
bytes windows_1253(const std::u32string &text, std::uint8_t alpha_tonos = 0xA2) {
    bytes out;
    for (const char32_t c : text)
        out.push_back(c == U'Ά'  ? alpha_tonos
                      : c < 0x80 ? static_cast<std::uint8_t>(c)
                                 : static_cast<std::uint8_t>(c - 0x2D0));
    return out;
}

bytes iso_8859_7(const std::u32string &text) {
    return windows_1253(text, 0xB6);
}

bytes cp737(const std::u32string &text) {
    bytes out = windows_1253(text);
    windows_to_dos(out);
    return out;
}

bytes utf8(const std::u32string &text) {
    bytes out;
    for (const char32_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<std::uint8_t>(c));
        } else {
            out.push_back(static_cast<std::uint8_t>(0xC0 | c >> 6));
            out.push_back(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

bytes utf16(const std::u32string &text, bool little_endian, bool mark) {
    bytes out;
    const auto unit = [&](char32_t c) {
        const auto high = static_cast<std::uint8_t>(c >> 8), low = static_cast<std::uint8_t>(c);
        out.push_back(little_endian ? low : high);
        out.push_back(little_endian ? high : low);
    };
    if (mark)
        unit(0xFEFF);
    for (const char32_t c : text)
        unit(c);
    return out;
}

bytes operator+(bytes a, const bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bytes repeated(const bytes &b, std::size_t size) {
    bytes out;
    while (out.size() < size)
        out.insert(out.end(), b.begin(), b.end());
    return out;
}

// A DOS form with English in it, its rules joined to its sides by `join`
// (0xCC, 0xB9: every DOS code page draws them alike) or not.
bytes english_form(std::uint8_t left_join = 0xCC, std::uint8_t right_join = 0xB9) {
    bytes row = {0xBA, ' ', 'N', 'a', 'm', 'e', ' ',  0xB3, ' ',
                 'T',  'o', 't', 'a', 'l', ' ', 0xBA, '\r', '\n'};
    bytes rule = {left_join};
    rule.insert(rule.end(), 6, 0xC4);
    rule.push_back(0xC5);
    rule.insert(rule.end(), 7, 0xC4);
    rule.insert(rule.end(), {right_join, '\r', '\n'});
    bytes form = {0xC9};
    form.insert(form.end(), 14, 0xCD);
    form.insert(form.end(), {0xBB, '\r', '\n'});
    for (int i = 0; i < 6; ++i)
        form = form + row + rule;
    return form;
}

struct identify_case {
    const char *name;
    bytes input;
    verdict expected;
};

void PrintTo(const identify_case &c, std::ostream *os) {
    *os << c.name;
}

class Identify : public testing::TestWithParam<identify_case> {};

TEST_P(Identify, GivesTheVerdict) {
    const finding f = identify(GetParam().input);
    EXPECT_EQ(verdict_name(f.result), verdict_name(GetParam().expected)) << f.reason;
}

const bytes ascii = {'p', 'l', 'a', 'i', 'n', ' ', 't', 'e', 'x', 't', '~', '\n'};

INSTANTIATE_TEST_SUITE_P(
    Texts, Identify,
    testing::Values(
        identify_case{"Empty", {}, verdict::empty}, identify_case{"Ascii", ascii, verdict::ascii},
        identify_case{"Dos", cp737(greek), verdict::cp737},
        identify_case{"Windows", windows_1253(greek), verdict::cp1253},
        identify_case{"Iso", iso_8859_7(greek), verdict::iso_8859_7},
        // Without Alpha with tonos the two read the same: grkpage's own side.
        identify_case{"IsoReadingAsWindows", iso_8859_7(greek.substr(0, 100)), verdict::cp1253},
        identify_case{"Utf8", utf8(greek), verdict::utf8},
        identify_case{"Utf8WithMark", bytes{0xEF, 0xBB, 0xBF} + ascii, verdict::utf8},
        identify_case{"Utf16LittleEndian", utf16(greek, true, false), verdict::utf16le},
        identify_case{"Utf16BigEndian", utf16(greek, false, false), verdict::utf16be},
        identify_case{"Utf16WithMark", utf16(U"plain", true, true), verdict::utf16le},
        // A NUL character is no text: counted in pairs, in vectors as one at a time.
        identify_case{"Utf16WithNul", utf16(greek + U'\0' + greek, true, false), verdict::other},
        // Frames alone: CP737 where every DOS code page draws them alike, as
        // grkpage makes the same of them; with ╟ and ╢, which code page 850
        // has as letters, no telling.
        identify_case{"DosForm", english_form(), verdict::cp737},
        identify_case{"DosFormWithPiecesSomePagesLack", english_form(0xC7, 0xB6), verdict::unsure},
        identify_case{"ConvertedForm",
                      [] {
                          bytes b = english_form();
                          dos_to_windows(b);
                          return b;
                      }(),
                      verdict::ascii},
        // A byte that Windows-1253 lacks: not Windows Greek, whatever the rest.
        identify_case{"WindowsWithAHole", windows_1253(greek) + bytes{0x81}, verdict::unsure},
        identify_case{"Western",
                      {'c', 'a', 'f', 0xE9, ' ', 'c', 'r', 0xE8, 'm', 'e', ' ', 'b', 'r', 0xFB, 'l',
                       0xE9, 'e', '\n'},
                      verdict::other},
        identify_case{"Binary", bytes{0, 1, 2, 3, 0x80, 0x90, 0xFF, 0, 7, 8} + ascii,
                      verdict::other},
        // One letter is no evidence.
        identify_case{"OneLetter", ascii + windows_1253(U"ά"), verdict::unsure},
        // A byte order mark says nothing of what follows it: UTF-16 with a
        // Windows Greek file appended.
        identify_case{"Utf16MarkThenWindows", utf16(greek, true, true) + windows_1253(greek),
                      verdict::other},
        // A surrogate in UTF-8 far from the start, where nothing is read closely.
        identify_case{"Utf8WithASurrogateLate",
                      repeated(utf8(greek), 300 * 1024) + bytes{0xED, 0xA0, 0x80} + utf8(greek),
                      verdict::other},
        // Capitals with Alpha with tonos inside words: Windows-1253's, not
        // ISO-8859-7's closing quote.
        identify_case{"WindowsCapitalsWithAlphaTonos",
                      repeated(windows_1253(U"Η ΚΑΤΆΣΤΑΣΗ ΤΟΥ ΛΟΓΑΡΙΑΣΜΟΎ ΠΑΡΑΜΈΝΕΙ ΑΝΟΙΧΤΉ, "
                                            U"ΤΑ ΠΡΆΓΜΑΤΑ ΕΊΝΑΙ ΚΑΛΆ.\r\n"),
                               1024),
                      verdict::cp1253},
        // A line of Windows Greek deep inside DOS Greek.
        identify_case{"DosWithALineOfWindowsLate",
                      repeated(cp737(greek), 200 * 1024) + windows_1253(greek.substr(0, 80)) +
                          repeated(cp737(greek), 8 * 1024),
                      verdict::unsure}),
    [](const auto &info) { return std::string(info.param.name); });

// Fed whole, a byte at a time at first, or in pieces across the blocks, the
// verdict and its evidence are the same; and so they are with the counts of
// each kernel this processor runs, whatever the build's cap.
TEST(IdentifyFed, InPiecesAsWhole) {
    const bytes file = repeated(cp737(greek) + english_form() + utf8(greek), 600 * 1024);
    const finding whole = identify(file);
    for (const codepage::kernel &k : codepage::supported_kernels()) {
        for (const std::size_t piece :
             {std::size_t{1} * 1024 + 1, std::size_t{4096}, std::size_t{65537}}) {
            identification id(k);
            identify_more(id, {file.data(), 1});
            for (std::size_t at = 1; at < file.size(); at += piece)
                identify_more(id, {file.data() + at, std::min(piece, file.size() - at)});
            const finding fed = identify_end(id);
            EXPECT_EQ(fed.result, whole.result) << k.name << ", " << piece;
            EXPECT_EQ(fed.reason, whole.reason) << k.name << ", " << piece;
        }
    }
}

// Every kernel counts every byte as the portable one does, on random bytes
// (every class of byte, UTF-8's structure broken and whole) after text.
TEST(IdentifyFed, EveryKernelCountsAlike) {
    std::uint32_t state = 737;
    bytes random(300 * 1024);
    for (auto &b : random) {
        state = state * 1103515245 + 12345;
        b = static_cast<std::uint8_t>(state >> 23);
    }
    const bytes file = repeated(utf8(greek), 100 * 1024) + utf16(greek, true, false) + random;
    const auto counted = [&](const codepage::kernel &k) {
        identification id(k);
        identify_more(id, file);
        return id.counts;
    };
    const byte_counts portable = counted(codepage::supported_kernels().front());
    const auto fields = [](const byte_counts &c) {
        return std::vector<std::uint64_t>{c.quarters[0],
                                          c.quarters[1],
                                          c.quarters[2],
                                          c.quarters[3],
                                          c.controls,
                                          c.utf8_pairs,
                                          c.utf8_breaks,
                                          c.nul,
                                          c.windows_holes,
                                          c.never_utf8,
                                          c.aa,
                                          c.ae,
                                          c.first_nul,
                                          c.zeros[0],
                                          c.zeros[1],
                                          c.latin_touches,
                                          c.top_pairs,
                                          c.low_pairs,
                                          c.alphabetic[0],
                                          c.alphabetic[1],
                                          c.punctuation[0],
                                          c.punctuation[1],
                                          c.nul_units};
    };
    for (const codepage::kernel &k : codepage::supported_kernels())
        EXPECT_EQ(fields(counted(k)), fields(portable)) << k.name;
}

// A file converted half-way, DOS text followed by Windows text, is neither.
TEST(IdentifyFed, HalfConvertedFileIsUnsure) {
    const bytes file =
        repeated(cp737(greek), 512 * 1024) + repeated(windows_1253(greek), 512 * 1024);
    EXPECT_EQ(identify(file).result, verdict::unsure) << identify(file).reason;
}

TEST(IdentifyNames, EveryVerdictHasItsWord) {
    for (const verdict v : all_verdicts)
        EXPECT_EQ(verdict_named(verdict_name(v)), v);
    EXPECT_FALSE(verdict_named("cp737"));
}

} // namespace
