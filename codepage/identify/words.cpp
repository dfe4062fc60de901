// The word reader: the bytes, read in one code page family, as runs of Greek
// letters between other things, each run weighed as a Greek word.
#include "steps.hpp"
#include "thresholds.hpp"

namespace codepage::identifier {

namespace {

using namespace codepage::model;

constexpr int edge = letters; // the edge of a word, in letter_pairs

constexpr bool is_letter(std::uint8_t c) {
    return c < 2 * letters;
}

constexpr bool is_box(std::uint8_t c) {
    return c == frame || c == line || c == shade;
}

constexpr bool has_tonos(int letter) {
    return (letter >= small_alpha_tonos && letter < small_alpha_tonos + 7) || letter >= 34;
}

// Box drawing, shades and blocks that code pages 437, 850, 852, 857, 860 to
// 866, 737, 775 and 869 all put in the same place: whichever of them a form
// was drawn in, grkpage makes the same of these.
constexpr std::array<bool, 256> shared_box = [] {
    std::array<bool, 256> shared{};
    for (const int b :
         {0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB9, 0xBA, 0xBB, 0xBC, 0xBF, 0xC0, 0xC1, 0xC2, 0xC3,
          0xC4, 0xC5, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xD9, 0xDA, 0xDB, 0xDC, 0xDF})
        shared[static_cast<std::size_t>(b)] = true;
    return shared;
}();

// Whether two box-drawing bytes of code page 737 stand side by side as in a
// form: a line running on, a line meeting a corner, a repeated piece, shades
// together. Cyrillic read as code page 737 puts pieces side by side at random.
constexpr bool as_in_a_form(std::uint8_t a, std::uint8_t b) {
    const auto horizontal = [](std::uint8_t x) { return x == 0xC4 || x == 0xCD; };
    const auto shade_or_block = [](std::uint8_t x) { return x <= 0xB2 || x >= 0xDB; };
    if (shade_or_block(a) || shade_or_block(b))
        return shade_or_block(a) && shade_or_block(b);
    return a == b || horizontal(a) || horizontal(b);
}

// A word's case, as Greek writes it: all small, all capitals, or one capital first.
bool well_cased(const greek_reading &r) {
    return r.word_capitals == 0 || r.word_capitals == r.word_letters ||
           (r.word_capitals == 1 && r.word_first_capital);
}

void forget_word(greek_reading &r) {
    r.in_word = false;
    r.word_bad = r.word_in_latin = false;
    r.word_letters = r.word_capitals = r.word_tonos = 0;
    r.word_score = 0;
    r.previous_letter = edge;
    r.opened_by = 0;
}

// A run of letters with Latin letters on both sides is inside a Latin word:
// accented letters of a Latin-script language, never a Greek word. On one
// side only it may be a Latin word's first or last letter, or Greek after a
// format such as %s: not weighed as a word either way, and its letters
// explain nothing of the upper half.
void end_word(greek_reading &r, std::uint8_t next) {
    if (r.word_in_latin != (next == latin)) {
        r.letters -= r.word_letters;
        r.capitals -= r.word_capitals;
        ++r.latin_edges;
        forget_word(r);
        return;
    }
    const bool in_latin = r.word_in_latin;
    r.word_score += letter_pairs[r.previous_letter][edge];
    r.pairs += r.word_letters + 1;
    r.pairs_score += r.word_score;
    const bool bad = r.word_bad || in_latin || r.word_tonos > 1 || !well_cased(r);
    ++r.words;
    r.in_latin += in_latin;
    if (bad) {
        ++r.bad_words;
    } else {
        r.good_letters += r.word_letters;
        r.long_words += r.word_letters >= 3 && r.word_score >= 0;
        r.unlikely_words +=
            r.word_score < far_below * static_cast<std::int32_t>(r.word_letters + 1);
        if (r.word_letters >= 2 && r.opened_by == 0xA2)
            ++r.alpha_a2;
        else if (r.word_letters >= 2 && r.opened_by == 0xB6)
            ++r.alpha_b6;
    }
    forget_word(r);
}

void take_letter(greek_reading &r, std::uint8_t c, std::uint8_t opened_by) {
    const int letter = c % letters;
    const bool capital = c >= letters;
    if (!r.in_word) {
        r.in_word = true;
        // Latin letters run into it, but for a format's (%s, %ld).
        r.word_in_latin = r.previous == latin && !r.after_format;
        r.word_first_capital = capital;
        r.opened_by = opened_by;
    } else if (r.previous_letter == final_sigma) {
        r.word_bad = true; // final sigma inside a word
    }
    r.word_score += letter_pairs[r.previous_letter][letter];
    ++r.word_letters;
    r.word_capitals += capital;
    r.capitals += capital;
    r.word_tonos += has_tonos(letter);
    if (r.previous == symbol)
        ++r.odd_symbols;
    else if (is_box(r.previous))
        ++r.stuck_frames;
    r.previous_letter = static_cast<std::uint8_t>(letter);
    ++r.letters;
}

// The bytes that Windows-1253 and ISO-8859-7 both define, and read differently.
constexpr bool read_differently(std::uint8_t b) {
    return b == 0xA1 || b == 0xA2 || b == 0xA4 || b == 0xA5 || b == 0xB5 || b == 0xB6;
}

void take_byte(greek_reading &r, const reading_table &table, std::uint8_t byte) {
    std::uint8_t c = table[byte];
    std::uint8_t opened_by = 0;
    r.upper += byte >= 0x80;
    // 0xA2 right after a letter: ISO-8859-7's closing quote, unless a letter
    // follows it too, or capitals come before it, as Windows-1253's Alpha
    // with tonos does inside or at the end of a word in capitals.
    if (r.previous_byte == 0xA2 && r.previous == punct && &table == &windows_reading) {
        if (is_letter(c) || r.a2_after_capitals)
            ++r.alpha_a2;
        else
            ++r.quote_a2;
    }
    if (c == alpha_tonos_a2 || c == alpha_tonos_b6) {
        if (r.in_word) {
            // Right after a letter it is no letter (see above), or
            // Windows-1253's pilcrow.
            r.a2_after_capitals = r.word_letters >= 2 && r.word_capitals == r.word_letters;
            c = c == alpha_tonos_a2 ? punct : symbol;
        } else {
            opened_by = byte;
            c = small_alpha_tonos + letters; // a capital
        }
    }
    if (is_letter(c)) {
        if (!r.in_word && r.previous_byte == 0xA1 && &table == &windows_reading)
            ++r.quote_a1; // a left quote in ISO-8859-7, a spacing accent in Windows-1253
        take_letter(r, c, opened_by);
    } else {
        if (r.in_word)
            end_word(r, c);
        r.marks += c == punct && byte >= 0x80;
        if (c == symbol && is_letter(r.previous))
            ++r.odd_symbols;
        else if (c == undefined)
            ++r.undefined;
        if (is_box(c)) {
            ++r.boxes;
            r.shared_boxes += shared_box[byte];
            if (is_letter(r.previous))
                ++r.stuck_frames;
            if (is_box(r.previous)) {
                if (as_in_a_form(r.previous_byte, byte))
                    ++r.frame_runs;
                else
                    ++r.broken_frames;
            }
        }
    }
    r.differing += read_differently(byte);
    r.after_format =
        c == latin && (r.previous_byte == '%' || (r.previous == latin && r.after_format));
    r.previous = c;
    r.previous_byte = byte;
}

// A run of ASCII comes to this: the word in hand ends at its first byte, and
// its last is the byte before what follows. Nothing else in ASCII counts.
void take_ascii(greek_reading &r, const reading_table &table, const std::uint8_t *run,
                std::size_t n) {
    if (r.previous_byte == 0xA2 && r.previous == punct && &table == &windows_reading)
        ++(r.a2_after_capitals ? r.alpha_a2 : r.quote_a2);
    if (r.in_word)
        end_word(r, table[run[0]]);
    // Whether the Latin letters the run ends in, if any, follow a %.
    std::size_t i = n;
    while (i > 0 && table[run[i - 1]] == latin)
        --i;
    if (i == 0)
        r.after_format = r.after_format && r.previous == latin;
    else
        r.after_format = i < n && run[i - 1] == '%';
    r.previous = table[run[n - 1]];
    r.previous_byte = run[n - 1];
}

} // namespace

// On a copy, which the compiler keeps in registers where it can.
void read_words(greek_reading &r, const reading_table &table, std::span<const std::uint8_t> bytes) {
    greek_reading local = r;
    by_ascii_runs(
        bytes, [&](const std::uint8_t *run, std::size_t n) { take_ascii(local, table, run, n); },
        [&](std::uint8_t b) { take_byte(local, table, b); });
    r = local;
}

namespace {

// A 0xA2 after a letter with nothing after it: a closing quote.
void close_quote(greek_reading &r) {
    if (r.previous_byte == 0xA2 && r.previous == punct)
        ++(r.a2_after_capitals ? r.alpha_a2 : r.quote_a2);
}

} // namespace

void restart_words(greek_reading &r) {
    close_quote(r);
    if (r.in_word)
        end_word(r, space);
    r.previous = space;
    r.previous_byte = ' ';
}

greek_reading closed(greek_reading r) {
    close_quote(r);
    if (r.in_word)
        end_word(r, space);
    return r;
}

greek_reading since(const greek_reading &now, const greek_reading &then) {
    greek_reading d = now;
    d.upper -= then.upper;
    d.letters -= then.letters;
    d.good_letters -= then.good_letters;
    d.long_words -= then.long_words;
    d.unlikely_words -= then.unlikely_words;
    d.capitals -= then.capitals;
    d.words -= then.words;
    d.bad_words -= then.bad_words;
    d.in_latin -= then.in_latin;
    d.latin_edges -= then.latin_edges;
    d.pairs_score -= then.pairs_score;
    d.pairs -= then.pairs;
    d.marks -= then.marks;
    d.odd_symbols -= then.odd_symbols;
    d.undefined -= then.undefined;
    d.boxes -= then.boxes;
    d.shared_boxes -= then.shared_boxes;
    d.frame_runs -= then.frame_runs;
    d.broken_frames -= then.broken_frames;
    d.stuck_frames -= then.stuck_frames;
    d.alpha_a2 -= then.alpha_a2;
    d.alpha_b6 -= then.alpha_b6;
    d.quote_a2 -= then.quote_a2;
    d.quote_a1 -= then.quote_a1;
    d.differing -= then.differing;
    return d;
}

} // namespace codepage::identifier
