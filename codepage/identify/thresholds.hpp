// Every number the identifier judges by, with its unit and the reason for it.
// The corpus test (tests/check-identify) is what they were set against.
#pragma once

#include <cstddef>
#include <cstdint>

namespace codepage::identifier {

// --- How the file is read ----------------------------------------------------

// A block: the vectors' counts are totalled, and a block held against the
// blocks read before, this many bytes at a time (a file offset that is a
// multiple of it begins one).
inline constexpr std::size_t block_size = 4096;
// Bytes at the file's start read closely whatever their counts: the evidence
// that the rest is held against.
inline constexpr std::uint64_t read_first = 64 * 1024;
// A stretch, the unit whose leaning is judged on its own, in bytes: long
// enough for a hundred words, short enough to tell where a part begins.
inline constexpr std::size_t stretch_size = 1024;
// Upper-half bytes read closely before later blocks are held against them.
inline constexpr std::uint64_t reference_upper = 512;
// A block departs from the blocks before when one of its counts (a quarter of
// the upper half, UTF-8's letter pairs) is more than this many halves of what
// their share would give it, plus the slack.
inline constexpr std::uint64_t departing_halves = 3;
inline constexpr std::uint64_t departing_slack = 16;
// Latin letters right after an upper-half byte, beyond twice their share: a few
// suffice, as a Latin word's accented letters are few.
inline constexpr std::uint64_t touching_slack = 2;
// Two bytes of the top quarter (0xE0-0xFF) in a row, or two of the lower half
// of the upper half (0x80-0xBF), beyond twice their share: a few words of the
// other Greek family, whose letters stand two in a row there, as the family's
// own hardly ever do (DOS Greek puts one accented letter in a word, Windows
// Greek punctuation in 0x80-0xBF).
inline constexpr std::uint64_t pairs_slack = 4;

// --- One code page family's reading ------------------------------------------

// Upper-half bytes in a stretch that neither family reads as Greek, beyond
// which the stretch is something else.
inline constexpr std::uint64_t stretch_upper = 16;
// Words that no Greek word could be or far less likely than any, and symbols
// stuck to letters: a kilobyte of Greek text holds at most two (the
// corpus's), a line of Russian among it more.
inline constexpr std::uint64_t stretch_anomalies = 5;
// Letters in or at the edge of Latin words, and other strays, in a stretch
// without a word that Greek could write: accented letters of another
// language.
inline constexpr std::uint64_t stretch_latin = 3;
// UTF-8 characters of more than one byte in a stretch, with no invalid one,
// for the stretch to be UTF-8.
inline constexpr std::uint64_t stretch_utf8 = 8;

// Eighths of a bit: one family must read this much better than the other, 256
// times as likely, for a verdict.
inline constexpr std::int64_t family_margin = 64;
// Eighths of a bit per letter pair that Greek text reaches: mostly small
// letters, and mostly capitals (KOI8's small Cyrillic letters read as Greek
// capitals, and Greek is rarely all capitals but in lists and records); from
// this many pairs on, capitals are held to a lower bar, as Cyrillic of that
// length reads far below it (-1 at best, against 8 for Greek without
// accents).
inline constexpr std::int64_t bar_small = 4;
inline constexpr std::int64_t bar_capitals = 11;
inline constexpr std::int64_t bar_capitals_long = 8;
inline constexpr std::int64_t long_pairs = 96;
// A text of many words with not one bad word: names from other languages,
// spelt in Greek, may read worse, by this many eighths of a bit a pair.
inline constexpr std::int64_t clean_allowance = 3;
inline constexpr std::uint64_t clean_words = 24;
// Below this many letter pairs, a text must read better by a quarter eighth
// of a bit a pair for each missing pair: a few letters of another language
// can read as a few Greek words.
inline constexpr std::int64_t short_pairs = 40;
// Least evidence for a Greek verdict: letters, and words that Greek could
// write.
inline constexpr std::uint64_t least_letters = 6;
inline constexpr std::uint64_t least_good_words = 2;
// Greek words are several letters long: in tenths of a letter, at least this
// long on average. Text converted twice is mostly single letters left over.
inline constexpr std::uint64_t least_word_tenths = 25;
// At most one in this many words that no Greek word could be (names, typos),
// one letter in this many stuck to a symbol, one in this many to a frame.
inline constexpr std::uint64_t words_per_bad_word = 8;
// At most one word in this many inside a Latin word: no Greek code page has
// a Latin letter with an accent, and the few there are typing slips (a Latin
// capital for its Greek look-alike); and one in this many at a Latin word's
// edge (as in "yYνΝ", or a slip at a word's start).
inline constexpr std::uint64_t words_per_latin_word = 256;
inline constexpr std::uint64_t words_per_latin_edge = 8;
inline constexpr std::uint64_t letters_per_odd_symbol = 8;
inline constexpr std::uint64_t letters_per_stuck_frame = 4;
// At most one frame join in this many broken as no form breaks it.
inline constexpr std::uint64_t joins_per_broken_frame = 4;
// Upper-half bytes that no Greek word explains, nor a frame, nor punctuation:
// at most one for this many letters of good words (symbols such as ° and ±).
inline constexpr std::uint64_t good_letters_per_stray = 8;

// A reading is plainly not Greek with half its words bad, a quarter of its
// letters stuck to symbols, more broken frames than joins, a fifth of its
// words bad and the pairs below nothing, or the pairs far below anything
// Greek: this many eighths of a bit a pair.
inline constexpr std::int64_t far_below = -16;
// Upper-half bytes beyond which a file with no Greek reading is `other`,
// rather than too little evidence; or this many bad words in both readings.
inline constexpr std::uint64_t enough_upper = 8;
inline constexpr std::uint64_t enough_bad_words = 3;
// A file with only frames: at least this many joins, for CP737, and at most
// one in this many broken.
inline constexpr std::uint64_t least_frame_joins = 8;
inline constexpr std::uint64_t joins_per_broken_form = 16;
// Windows Greek but for a few bytes it lacks: at most one in this many letters.
inline constexpr std::uint64_t letters_per_hole = 64;

// --- Unicode -----------------------------------------------------------------

// UTF-8 decoding mostly to characters that text rarely holds: more than one
// in this many.
inline constexpr std::uint64_t sequences_per_unlikely = 4;
// Fewer UTF-8 characters than this, where the bytes read as Greek too: unsure.
inline constexpr std::uint64_t least_utf8_characters = 8;
// UTF-16 without a mark: of its units, at least 19 in 20 with an alphabet's
// or punctuation's high byte, half with an alphabet's, at most one in 32 with
// a zero low byte, one in 8 a control; and of the units read closely, 9 in 10
// text. A file of 16-bit numbers has the high bytes but not the text.
inline constexpr std::uint64_t least_utf16_units = 4;
inline constexpr std::uint64_t utf16_tenths_text = 9;
// Of those units, at least one in this many a space or a line end: words and
// lines. A file of 16-bit numbers (heights, readings) has alphabets' high
// bytes, and text's low bytes often enough, but not that.
inline constexpr std::uint64_t units_per_space = 32;
// Bytes after which UTF-16 is no longer counted, when under a quarter of them
// could be an alphabet's high byte.
inline constexpr std::uint64_t utf16_given_up_after = 64 * 1024;

// --- Binary ------------------------------------------------------------------

// Controls that no text holds (NUL apart, which no text holds at all): more
// than one in this many bytes is binary.
inline constexpr std::uint64_t bytes_per_control = 256;

} // namespace codepage::identifier
