// Which code page a file is in: fed the file's bytes block by block, in constant
// memory, it says whether they are Greek in code page 737, Windows-1253 or
// ISO-8859-7, Unicode, plain ASCII or something else, and is never sure
// without the evidence for it. Every byte is counted in vectors; the first
// 64 KiB, and every block whose counts depart from what was read before, are
// read closely, word by word. Pure: no I/O.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace codepage {
struct kernel;
}

enum class verdict {
    ascii,      // no byte of the upper half: nothing to convert
    cp737,      // Greek, DOS
    cp1253,     // Greek, Windows (also where ISO-8859-7 would read the same)
    iso_8859_7, // Greek, ISO-8859-7 (old Linux and mail)
    utf8,
    utf16le,
    utf16be,
    other,  // text that is not Greek in these code pages, or binary
    unsure, // too little evidence, or parts in different encodings
    empty,
};

inline constexpr std::array all_verdicts = {
    verdict::ascii,   verdict::cp737,   verdict::cp1253, verdict::iso_8859_7, verdict::utf8,
    verdict::utf16le, verdict::utf16be, verdict::other,  verdict::unsure,     verdict::empty};

// The verdict's word, as grkpage-detect prints it: "ASCII", "CP737", ...
std::string_view verdict_name(verdict v);
std::optional<verdict> verdict_named(std::string_view name);

// How the bytes read closely read in one of the two Greek code page families:
// code page 737, or Windows-1253 and ISO-8859-7 together.
struct greek_reading {
    // Evidence so far.
    std::uint64_t upper = 0;          // bytes of the upper half read
    std::uint64_t letters = 0;        // bytes that read as Greek letters
    std::uint64_t good_letters = 0;   // of them, letters of words that Greek could write
    std::uint64_t capitals = 0;       // of them, capitals
    std::uint64_t words = 0;          // runs of them
    std::uint64_t bad_words = 0;      // runs that no Greek word could be
    std::uint64_t long_words = 0;     // good words of three letters or more, likely in Greek
    std::uint64_t unlikely_words = 0; // good words far less likely than any Greek
    std::uint64_t in_latin = 0;       // of them, runs inside a Latin word
    std::uint64_t latin_edges = 0;    // runs, not counted as words, at a Latin word's edge
    std::int64_t pairs_score = 0;    // letter pairs' likelihood in Greek, summed (eighths of a bit)
    std::uint64_t pairs = 0;         // letter pairs counted, word edges included
    std::uint64_t marks = 0;         // upper-half punctuation at home beside letters
    std::uint64_t odd_symbols = 0;   // symbols stuck to a letter
    std::uint64_t undefined = 0;     // bytes with no character in the code page
    std::uint64_t boxes = 0;         // box drawing, shades and blocks
    std::uint64_t shared_boxes = 0;  // of them, ones every DOS code page draws alike
    std::uint64_t frame_runs = 0;    // box-drawing bytes beside another, as forms have them
    std::uint64_t broken_frames = 0; // box-drawing bytes beside another as no form has them
    std::uint64_t stuck_frames = 0;  // box-drawing bytes beside a letter
    std::uint64_t alpha_a2 = 0;      // 0xA2 opening a good word: Windows-1253's Alpha with tonos
    std::uint64_t alpha_b6 = 0;      // 0xB6 opening a good word: ISO-8859-7's
    std::uint64_t quote_a2 = 0;      // 0xA2 closing a word: ISO-8859-7's right quote
    std::uint64_t quote_a1 = 0;      // 0xA1 opening a word: ISO-8859-7's left quote
    std::uint64_t differing = 0;     // bytes that the two code pages read differently

    // The word in hand, across blocks.
    std::uint8_t previous = 0; // the class of the byte before
    std::uint8_t previous_byte = 0;
    std::uint8_t previous_letter = 36; // 36: the edge of a word
    std::uint8_t opened_by = 0;        // 0xA2 or 0xB6 when the word began with one
    bool after_format = false;         // Latin letters after %, as in %s, before this byte
    bool a2_after_capitals = false;    // the last 0xA2 closed a word in capitals
    bool in_word = false;
    bool word_bad = false, word_in_latin = false;
    std::uint32_t word_letters = 0, word_capitals = 0, word_tonos = 0;
    bool word_first_capital = false;
    std::int32_t word_score = 0;
};

// What a file still needs counted: UTF-8's structure until it breaks, UTF-16's
// while the file can be UTF-16.
struct count_needs {
    bool utf8, utf16;
};

// Counts over the bytes of one block, which a vector pass makes over every
// byte of the file.
struct block_counts {
    // The upper half in quarters: 0x80-0x9F, 0xA0-0xBF, 0xC0-0xDF, 0xE0-0xFF.
    std::array<std::uint32_t, 4> quarters{};
    std::uint32_t controls = 0; // ASCII controls that no text holds, NUL among them
    // UTF-8: pairs of a two-byte lead and its continuation (as Greek and
    // Cyrillic letters are written), and bytes where its structure breaks (a
    // continuation byte that no lead calls for, or one missing).
    std::uint32_t utf8_pairs = 0, utf8_breaks = 0;
    // ASCII letters right after an upper-half byte, as in a Latin word with an
    // accented letter, and hardly ever after a Greek word.
    std::uint32_t latin_touches = 0;
    // Two bytes in a row of 0xE0-0xFF, where Windows Greek has its small
    // letters, and of 0x80-0xBF, where DOS Greek has most of its letters.
    std::uint32_t top_pairs = 0, low_pairs = 0;
    // Bytes rare in text, only whether the block holds them: then they are
    // counted one at a time.
    static constexpr std::uint8_t nul = 1, hole = 2, aa = 4, ae = 8, never_utf8 = 16;
    std::uint8_t holds = 0;
    // By parity of the offset, for UTF-16: zero bytes, and bytes that can be
    // the high byte of an alphabet's character (0x00-0x06) or of punctuation
    // and symbols (0x1E-0x25).
    std::array<std::uint32_t, 2> zeros{}, alphabetic{}, punctuation{};
    std::uint32_t nul_units = 0;     // NUL byte pairs at even offsets
    count_needs counted{true, true}; // which of the counts were taken

    std::uint32_t upper() const { return quarters[0] + quarters[1] + quarters[2] + quarters[3]; }
};

// The same counts over the whole file, and the rare bytes: NUL, 0xD2 and
// 0xFF (no character in Windows-1253 nor ISO-8859-7), bytes never in UTF-8;
// and blocks holding 0xAA (which only ISO-8859-7 has) or 0xAE (only
// Windows-1253).
struct byte_counts {
    std::array<std::uint64_t, 4> quarters{};
    std::uint64_t controls = 0, utf8_pairs = 0, utf8_breaks = 0, latin_touches = 0;
    std::uint64_t top_pairs = 0, low_pairs = 0;
    std::uint64_t nul = 0, windows_holes = 0, never_utf8 = 0, aa = 0, ae = 0;
    std::uint64_t first_nul = 0; // where the first NUL is, if any
    std::array<std::uint64_t, 2> zeros{}, alphabetic{}, punctuation{};
    std::uint64_t nul_units = 0;

    std::uint64_t upper() const { return quarters[0] + quarters[1] + quarters[2] + quarters[3]; }
};

// What a stretch of the file read closely reads as, on its own.
enum class leaning : std::uint8_t { none, dos, windows, utf8, neither };
inline constexpr std::size_t leanings = 5;

// Where the file's stretches lean: how many of each kind, and the offset of
// the first.
struct stretch_record {
    std::array<std::uint64_t, leanings> count{};
    std::array<std::uint64_t, leanings> first{};
};

// What blocks read closely had, that later blocks are held against.
struct block_reference {
    std::array<std::uint64_t, 4> quarters{};
    std::uint64_t upper = 0, utf8_breaks = 0, utf8_pairs = 0, latin_touches = 0, top_pairs = 0,
                  low_pairs = 0;
};

struct identification {
    identification();
    // With the counting of the kernel `k`, rather than the fastest: for tests.
    explicit identification(const codepage::kernel &k);

    const codepage::kernel *counter;
    std::uint64_t size = 0;
    std::array<std::uint8_t, 32> start{}; // the first bytes: a byte order mark, a signature
    byte_counts counts;
    std::array<std::uint8_t, 3> before{}; // the last three bytes, for UTF-8's structure
    std::uint8_t last_even = 1;           // the byte at the last even offset, until its pair comes
    bool utf16_possible = true; // false: too few bytes 0x00-0x06 to be UTF-16, no longer counted

    // A block not yet whole, kept until it is.
    std::array<std::uint8_t, 4096> pending{};
    std::size_t pending_size = 0;

    // The parts read closely. UTF-8 is checked there sequence by sequence.
    std::uint64_t close_end = 0;   // where the last close reading ended
    bool utf8_resync = false;      // skipping continuation bytes at a close reading's start
    std::uint8_t utf8_pending = 0; // continuation bytes still to come
    std::uint8_t utf8_low = 0x80, utf8_high = 0xBF; // the range of the next one
    std::uint32_t utf8_code = 0;
    std::uint64_t utf8_sequences = 0; // characters of more than one byte
    std::uint64_t utf8_unlikely = 0;  // of them, ones that text rarely holds
    std::uint64_t utf8_invalid = 0;   // sequences UTF-8 does not allow
    // UTF-16 units read closely that are text: a letter, digit, space or
    // punctuation of an alphabet, with the high byte at odd offsets (little
    // endian) or even ones.
    std::array<std::uint64_t, 2> utf16_text{}, utf16_spaces{};
    std::uint64_t utf16_units = 0;

    greek_reading dos, windows;

    // The stretch in hand, and where the stretches lean.
    greek_reading dos_then, windows_then;
    std::uint64_t utf8_sequences_then = 0, utf8_invalid_then = 0;
    stretch_record stretches;
    block_reference reference;
};

// Takes in the next block of the file.
void identify_more(identification &id, std::span<const std::uint8_t> block);

// What the evidence says, and why, in a few words for people.
struct finding {
    verdict result;
    std::string reason;
};
finding identify_end(const identification &id);

// A whole file's bytes at once.
finding identify(std::span<const std::uint8_t> bytes);
finding identify(std::span<const std::uint8_t> bytes, const codepage::kernel &k);
