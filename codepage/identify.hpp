// Which code page a file is in: fed the file's bytes block by block, in constant
// memory, it says whether they are Greek in code page 737, Windows-1253 or
// ISO-8859-7, Unicode, plain ASCII or something else, and is never sure
// without the evidence for it. Pure: no I/O.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

enum class verdict {
    ascii,      // no byte of the upper half: nothing to convert
    cp737,      // Greek, DOS
    cp1253,     // Greek, Windows (also where ISO-8859-7 would read the same)
    iso_8859_7, // Greek, ISO-8859-7 (old Linux and mail)
    utf8,
    utf16le,
    utf16be,
    other,  // text that is not Greek in these code pages, or binary
    unsure, // too little evidence
    empty,
};

inline constexpr std::array all_verdicts = {
    verdict::ascii,   verdict::cp737,   verdict::cp1253, verdict::iso_8859_7, verdict::utf8,
    verdict::utf16le, verdict::utf16be, verdict::other,  verdict::unsure,     verdict::empty};

// The verdict's word, as grkpage-detect prints it: "ASCII", "CP737", ...
std::string_view verdict_name(verdict v);
std::optional<verdict> verdict_named(std::string_view name);

// How a file reads in one of the two Greek code page families: code page 737,
// or Windows-1253 and ISO-8859-7 together.
struct greek_reading {
    // Evidence so far.
    std::uint64_t letters = 0;       // bytes that read as Greek letters
    std::uint64_t capitals = 0;      // of them, capitals
    std::uint64_t words = 0;         // runs of them
    std::uint64_t bad_words = 0;     // runs that no Greek word could be
    std::uint64_t in_latin = 0;      // of them, runs inside a Latin word: Latin letters both sides
    std::int64_t pairs_score = 0;    // letter pairs' likelihood in Greek, summed (eighths of a bit)
    std::uint64_t pairs = 0;         // letter pairs counted, word edges included
    std::uint64_t odd_symbols = 0;   // symbols stuck to a letter
    std::uint64_t undefined = 0;     // bytes with no character in the code page
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
    bool in_word = false;
    bool word_bad = false, word_in_latin = false;
    std::uint32_t word_letters = 0, word_capitals = 0, word_tonos = 0;
    bool word_first_capital = false;
    std::int32_t word_score = 0;
};

// Counts over every byte of the file, which a vector pass makes.
struct byte_counts {
    std::uint64_t upper = 0;         // 0x80-0xFF
    std::uint64_t controls = 0;      // ASCII controls that no text holds
    std::uint64_t c1 = 0;            // 0x80-0x9F: C1 controls in ISO-8859-7
    std::uint64_t windows_holes = 0; // 0xD2 and 0xFF: no character in Windows-1253 nor ISO-8859-7
    std::uint64_t aa = 0, ae = 0;    // in one of the two only
    // UTF-8: continuation bytes, leads of 2, 3 and 4 bytes, bytes never in it.
    std::uint64_t continuations = 0, leads2 = 0, leads3 = 0, leads4 = 0, never_utf8 = 0;
    // By parity of the offset, for UTF-16: zero bytes, and bytes that can be
    // the high byte of an alphabet's character (0x00-0x06) or of punctuation
    // and symbols (0x1E-0x25).
    std::array<std::uint64_t, 2> zeros{}, alphabetic{}, punctuation{};
    std::uint64_t nul_units = 0; // NUL byte pairs at even offsets
};

struct identification {
    std::uint64_t size = 0;
    std::array<std::uint8_t, 4> start{}; // the first bytes, for a byte order mark
    byte_counts counts;
    std::uint8_t last_even = 1; // the byte at the last even offset, until its pair comes
    bool utf16_possible = true; // false: too few bytes 0x00-0x06 to be UTF-16, no longer counted

    // The parts read closely: the first 64 KiB whole, and 1 KiB of each quarter
    // MiB after it. UTF-8 is checked sequence by sequence there.
    bool utf8_valid = true;
    bool utf8_resync = false;      // skipping continuation bytes at a sample's start
    std::uint8_t utf8_pending = 0; // continuation bytes still to come
    std::uint8_t utf8_low = 0x80, utf8_high = 0xBF; // the range of the next one
    std::uint32_t utf8_code = 0;
    std::uint64_t utf8_sequences = 0; // characters of more than one byte
    std::uint64_t utf8_unlikely = 0;  // of them, ones that text rarely holds

    greek_reading dos, windows;
    // Stretches of the file that read well in one family and not the other.
    std::int64_t stretch_dos = 0, stretch_windows = 0;
    std::uint64_t dos_stretches = 0, windows_stretches = 0;
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
