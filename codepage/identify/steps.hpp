// The identifier's steps, each in a file of its own: the vector counts of
// every block (count_vectors.hpp, counts.cpp), the word reader (words.cpp),
// UTF-8 and UTF-16 read closely (unicode.cpp), the rules on a reading
// (judge.cpp), stretches and the blocks held against the reference
// (stretches.cpp), containers' signatures (containers.cpp), the verdict
// (verdict.cpp), and the walk through the file that calls them (identify.cpp).
#pragma once

#include "codepage/greek_model.hpp"
#include "codepage/identify.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>

namespace codepage::identifier {

using reading_table = std::array<std::uint8_t, 256>;

// Walks `bytes` a word of eight at a time, as most of many files is ASCII:
// `ascii(p, n)` takes a run of n bytes of ASCII (whole words) at once, and
// `one(b)` takes each other byte.
template <class Ascii, class One>
inline void by_ascii_runs(std::span<const std::uint8_t> bytes, Ascii ascii, One one) {
    const std::uint8_t *p = bytes.data();
    std::size_t i = 0, run = 0; // the run of ASCII words in hand begins at run
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        if ((word & 0x8080808080808080ull) == 0)
            continue;
        if (run < i)
            ascii(p + run, i - run);
        for (std::size_t k = 0; k < 8; ++k)
            one(p[i + k]);
        run = i + 8;
    }
    if (run < i)
        ascii(p + run, i - run);
    for (; i < bytes.size(); ++i)
        one(p[i]);
}

// --- identify.cpp --------------------------------------------------------------

// Takes in what is left of the file: its last block, its last stretch.
void finish(identification &id);

// --- verdict.cpp ---------------------------------------------------------------

finding verdict_of(const identification &finished);

// --- counts.cpp ----------------------------------------------------------------

// Counts a block (at most block_size bytes, from `at`, a multiple of it)
// into `c`, and adds it to the file's counts.
void count_block(identification &id, std::span<const std::uint8_t> block, std::uint64_t at,
                 block_counts &c);

// Whether the file's last bytes begin a UTF-8 character that never ends.
bool ends_inside_a_character(const identification &id);

// --- words.cpp -----------------------------------------------------------------

// Reads the bytes as words of one code page family, after those before them.
void read_words(greek_reading &r, const reading_table &table, std::span<const std::uint8_t> bytes);

// A reading started afresh, after a part not read: nothing before touches it.
void restart_words(greek_reading &r);

// What a reading comes to once the file has ended: its last word closed.
greek_reading closed(greek_reading r);

// The evidence that `now` has gathered since `then`.
greek_reading since(const greek_reading &now, const greek_reading &then);

// --- unicode.cpp ---------------------------------------------------------------

// Checks UTF-8 sequence by sequence, as a close reading goes.
void check_utf8(identification &id, std::span<const std::uint8_t> bytes);
// After a part not read: continuation bytes at the start belong to a
// character begun before.
void restart_utf8(identification &id);
// Counts the UTF-16 units that are text, both ways round; `bytes` begin at an
// even offset.
void count_utf16_text(identification &id, std::span<const std::uint8_t> bytes);

// --- judge.cpp -----------------------------------------------------------------

// How well a reading reads as Greek, in eighths of a bit: the letter pairs'
// likelihood, less what no Greek text has.
std::int64_t weight(const greek_reading &r);
// Upper-half bytes that no word explains, nor a frame, nor punctuation: a
// symbol, a byte the code page lacks, a letter at a Latin word's edge.
std::uint64_t strays(const greek_reading &r);
// Letters that read as Greek text, in words as Greek writes them.
bool reads_as_greek(const greek_reading &r);
// What no Greek text in this code page holds.
bool not_greek(const greek_reading &r);
// Every run of letters touching Latin letters: accented letters of a
// Latin-script language.
bool latin_accents(const greek_reading &r);
// Box drawing that every DOS code page draws alike, as forms draw it, and no
// other upper-half byte.
bool only_shared_frames(const greek_reading &r);
// "N Greek letters in M words", for a reason.
std::string greek_evidence(const greek_reading &r);
std::string number(std::uint64_t n);

// --- stretches.cpp -------------------------------------------------------------

// Closes the stretch in hand, which began at `at`, and notes where it leans.
void close_stretch(identification &id, std::uint64_t at);
// Whether a block's counts depart from those of the blocks read closely.
bool departs(const block_reference &ref, const block_counts &c);
void add_to_reference(block_reference &ref, const block_counts &c);
// The leaning of the file's first stretch that leaned at all; none if none did.
leaning first_leaning(const stretch_record &s);
// Parts in two encodings: the reason for unsure, or nothing.
std::optional<std::string> two_encodings(const stretch_record &s);

// --- containers.cpp ------------------------------------------------------------

// What kind of binary file the file's first bytes and size say it is, if any.
std::optional<std::string> container_of(const identification &id);

} // namespace codepage::identifier
