#include "identify.hpp"

#include "greek_model.hpp"

#include <algorithm>

namespace {

using namespace codepage::model;
using reading_table = std::array<std::uint8_t, 256>;

constexpr std::array<std::string_view, all_verdicts.size()> names = {
    "ASCII",    "CP737",    "CP1253", "ISO-8859-7", "UTF-8",
    "UTF-16LE", "UTF-16BE", "other",  "unsure",     "empty"};

// The stretch of the file that is weighed on its own, so that a file half in
// one code page and half in the other is told from one in either.
constexpr std::uint64_t stretch_size = 64 * 1024;

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

void end_word(greek_reading &r, std::uint8_t next) {
    // Latin letters on both sides: a Latin word with accents in it. On one
    // side only it may be Greek after a format such as %s, or a Latin word
    // ending in an accent: no proof either way, so it is not weighed at all.
    if (r.word_in_latin != (next == latin)) {
        r.letters -= r.word_letters;
        r.capitals -= r.word_capitals;
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
    if (bad)
        ++r.bad_words;
    else if (r.word_letters >= 2 && r.opened_by == 0xA2)
        ++r.alpha_a2;
    else if (r.word_letters >= 2 && r.opened_by == 0xB6)
        ++r.alpha_b6;
    forget_word(r);
}

void take_letter(greek_reading &r, std::uint8_t c, std::uint8_t opened_by) {
    const int letter = c % letters;
    const bool capital = c >= letters;
    if (!r.in_word) {
        r.in_word = true;
        r.word_in_latin = r.previous == latin; // Latin letters run into it
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
    if (c == alpha_tonos_a2 || c == alpha_tonos_b6) {
        if (r.in_word) {
            // Right after a letter it is no letter: ISO-8859-7's closing
            // quote, or Windows-1253's pilcrow.
            r.quote_a2 += c == alpha_tonos_a2;
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
        if (c == symbol && is_letter(r.previous))
            ++r.odd_symbols;
        else if (c == undefined)
            ++r.undefined;
        if (is_box(c) && is_letter(r.previous))
            ++r.stuck_frames;
        if (is_box(c) && is_box(r.previous)) {
            if (as_in_a_form(r.previous_byte, byte))
                ++r.frame_runs;
            else
                ++r.broken_frames;
        }
    }
    r.differing += read_differently(byte);
    r.previous = c;
    r.previous_byte = byte;
}

// On a copy, which the compiler keeps in registers.
void read_greek(greek_reading &r, const reading_table &table, std::span<const std::uint8_t> bytes) {
    greek_reading local = r;
    for (const std::uint8_t b : bytes)
        take_byte(local, table, b);
    r = local;
}

// The counts of byte_counts, a vector of N bytes at a time, with GCC's vector
// extensions: SSE2 or NEON as the build targets, AVX2 where the processor has
// it. Each count is kept in byte lanes for up to 255 vectors, then added up.
typedef std::uint8_t vec16 __attribute__((vector_size(16)));
typedef std::uint8_t vec32 __attribute__((vector_size(32)));
typedef std::uint8_t vec64 __attribute__((vector_size(64)));

template <class V> struct lanes {
    V upper{}, controls{}, c1{}, holes{}, aa{}, ae{}, continuations{}, leads2{}, leads3{}, leads4{},
        never{}, zeros_even{}, zeros_odd{}, alphabetic_even{}, alphabetic_odd{}, punctuation_even{},
        punctuation_odd{}, nul{};
};

template <class V> std::uint64_t total(const V &v) {
    std::uint64_t n = 0;
    for (std::size_t i = 0; i < sizeof(V); ++i)
        n += v[i];
    return n;
}

// Adds the lanes to `c`: the vectors begin at even offsets of the file.
template <class V> void add_lanes(byte_counts &c, const lanes<V> &l) {
    c.upper += total(l.upper);
    c.controls += total(l.controls);
    c.c1 += total(l.c1);
    c.windows_holes += total(l.holes);
    c.aa += total(l.aa);
    c.ae += total(l.ae);
    c.continuations += total(l.continuations);
    c.leads2 += total(l.leads2);
    c.leads3 += total(l.leads3);
    c.leads4 += total(l.leads4);
    c.never_utf8 += total(l.never);
    c.zeros[0] += total(l.zeros_even);
    c.zeros[1] += total(l.zeros_odd);
    c.alphabetic[0] += total(l.alphabetic_even);
    c.alphabetic[1] += total(l.alphabetic_odd);
    c.punctuation[0] += total(l.punctuation_even);
    c.punctuation[1] += total(l.punctuation_odd);
    c.nul_units += total(l.nul);
}

// What a file can no longer be needs no counting: UTF-8 once a sequence was
// found invalid, UTF-16 once its high bytes are plainly too few.
struct still_possible {
    bool utf8, utf16;
};

// Counts the first n / N * N bytes, from an even offset of the file; returns
// how many that is. A true compare is -1: each lane counts down, and is
// negated when added up.
template <class V, bool utf8, bool utf16>
[[gnu::always_inline]] inline std::size_t count_vectors(byte_counts &c, const std::uint8_t *p,
                                                        std::size_t n) {
    using v = V;
    constexpr std::size_t N = sizeof(V);
    typedef std::uint16_t units __attribute__((vector_size(N)));
    v even_lanes{};
    for (std::size_t i = 0; i < N; ++i)
        even_lanes[i] = i % 2 == 0 ? 0xFF : 0;
    const std::size_t whole = n / N * N;
    std::size_t done = 0;
    while (done < whole) {
        lanes<V> l;
        const std::size_t stop = std::min(whole, done + 255 * N);
        for (; done < stop; done += N) {
            v x;
            __builtin_memcpy(&x, p + done, N);
            l.upper += (v)(x >= 0x80);
            l.controls += (v)(x < 9) | (v)((x - 0x0E) < 12) | (v)((x - 0x1C) < 4) | (v)(x == 0x7F);
            l.c1 += (v)((x - 0x80) < 0x20);
            l.holes += (v)(x == 0xD2) | (v)(x == 0xFF);
            l.aa += (v)(x == 0xAA);
            l.ae += (v)(x == 0xAE);
            if constexpr (utf8) {
                l.continuations += (v)((x - 0x80) < 0x40);
                l.leads2 += (v)((x - 0xC2) < 0x1E);
                l.leads3 += (v)((x - 0xE0) < 0x10);
                l.leads4 += (v)((x - 0xF0) < 5);
                l.never += (v)((x - 0xC0) < 2) | (v)(x >= 0xF5);
            }
            if constexpr (!utf16)
                continue;
            const v zero = (v)(x == 0), alphabetic = (v)(x < 7), punctuation = (v)((x - 0x1E) < 8);
            l.zeros_even += zero & even_lanes;
            l.zeros_odd += zero & ~even_lanes;
            l.alphabetic_even += alphabetic & even_lanes;
            l.alphabetic_odd += alphabetic & ~even_lanes;
            l.punctuation_even += punctuation & even_lanes;
            l.punctuation_odd += punctuation & ~even_lanes;
            // A pair of bytes zero together: a 16-bit lane equal to zero.
            l.nul += (v)((units)x == 0) & even_lanes;
        }
        lanes<V> negated;
        for (auto [from, to] : {std::pair{&l.upper, &negated.upper},
                                {&l.controls, &negated.controls},
                                {&l.c1, &negated.c1},
                                {&l.holes, &negated.holes},
                                {&l.aa, &negated.aa},
                                {&l.ae, &negated.ae},
                                {&l.continuations, &negated.continuations},
                                {&l.leads2, &negated.leads2},
                                {&l.leads3, &negated.leads3},
                                {&l.leads4, &negated.leads4},
                                {&l.never, &negated.never},
                                {&l.zeros_even, &negated.zeros_even},
                                {&l.zeros_odd, &negated.zeros_odd},
                                {&l.alphabetic_even, &negated.alphabetic_even},
                                {&l.alphabetic_odd, &negated.alphabetic_odd},
                                {&l.punctuation_even, &negated.punctuation_even},
                                {&l.punctuation_odd, &negated.punctuation_odd},
                                {&l.nul, &negated.nul}})
            *to = -*from;
        add_lanes<V>(c, negated);
    }
    return whole;
}

template <class V>
[[gnu::always_inline]] inline std::size_t count_vectors(byte_counts &c, const std::uint8_t *p,
                                                        std::size_t n, still_possible can) {
    if (can.utf8 && can.utf16)
        return count_vectors<V, true, true>(c, p, n);
    if (can.utf8)
        return count_vectors<V, true, false>(c, p, n);
    if (can.utf16)
        return count_vectors<V, false, true>(c, p, n);
    return count_vectors<V, false, false>(c, p, n);
}

std::size_t count_vectors_portable(byte_counts &c, const std::uint8_t *p, std::size_t n,
                                   still_possible can) {
    return count_vectors<vec16>(c, p, n, can);
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
[[gnu::target("avx2")]] std::size_t count_vectors_avx2(byte_counts &c, const std::uint8_t *p,
                                                       std::size_t n, still_possible can) {
    return count_vectors<vec32>(c, p, n, can);
}

[[gnu::target("avx512bw")]] std::size_t count_vectors_avx512(byte_counts &c, const std::uint8_t *p,
                                                             std::size_t n, still_possible can) {
    return count_vectors<vec64>(c, p, n, can);
}
#endif

// One byte, as the vectors count it; `at` its offset in the file.
void count_byte(identification &id, std::uint8_t b, std::uint64_t at) {
    byte_counts &c = id.counts;
    const auto in = [b](int low, int count) { return b - low >= 0 && b - low < count; };
    c.upper += b >= 0x80;
    c.controls += in(0x00, 9) || in(0x0E, 12) || in(0x1C, 4) || b == 0x7F;
    c.c1 += in(0x80, 0x20);
    c.windows_holes += b == 0xD2 || b == 0xFF;
    c.aa += b == 0xAA;
    c.ae += b == 0xAE;
    c.continuations += in(0x80, 0x40);
    c.leads2 += in(0xC2, 0x1E);
    c.leads3 += in(0xE0, 0x10);
    c.leads4 += in(0xF0, 5);
    c.never_utf8 += in(0xC0, 2) || b >= 0xF5;
    c.zeros[at & 1] += b == 0;
    c.alphabetic[at & 1] += in(0x00, 7);
    c.punctuation[at & 1] += in(0x1E, 8);
    if (at & 1)
        c.nul_units += (b | id.last_even) == 0;
    else
        id.last_even = b;
}

void count_bytes(identification &id, std::span<const std::uint8_t> bytes) {
    static const auto vectors = [] {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512bw"))
            return count_vectors_avx512;
        if (__builtin_cpu_supports("avx2"))
            return count_vectors_avx2;
#endif
        return count_vectors_portable;
    }();
    std::size_t done = 0;
    // Vectors take byte pairs whole from an even offset on.
    if (id.size % 2 == 0) {
        done = vectors(id.counts, bytes.data(), bytes.size(), {id.utf8_valid, id.utf16_possible});
        if (done > 0)
            id.last_even = bytes[done - 2];
    }
    for (; done < bytes.size(); ++done)
        count_byte(id, bytes[done], id.size + done);
    // UTF-16 has a byte 0x00-0x06 in every other place, or nearly.
    const std::uint64_t seen = id.size + bytes.size();
    const bool bom = (id.start[0] == 0xFF && id.start[1] == 0xFE) ||
                     (id.start[0] == 0xFE && id.start[1] == 0xFF);
    if (seen >= 64 * 1024 && !bom && (id.counts.alphabetic[0] + id.counts.alphabetic[1]) * 4 < seen)
        id.utf16_possible = false;
}

// Characters that a text in UTF-8 plausibly holds: the alphabets, their
// punctuation and symbols, box drawing, CJK, emoji. A code page file that
// happens to be valid UTF-8 decodes mostly to others.
bool likely_in_text(std::uint32_t code) {
    constexpr std::pair<std::uint32_t, std::uint32_t> ranges[] = {
        {0x00A0, 0x0530}, {0x0590, 0x0700}, {0x0900, 0x0E80},   {0x10A0, 0x1100}, {0x1E00, 0x2C00},
        {0x3000, 0x3100}, {0x4E00, 0xA000}, {0xAC00, 0xD7A4},   {0xFB00, 0xFB50}, {0xFE00, 0xFE10},
        {0xFEFF, 0xFF00}, {0xFF00, 0xFFF0}, {0x1F000, 0x1FB00},
    };
    for (const auto &[low, high] : ranges)
        if (code >= low && code < high)
            return true;
    return false;
}

void check_utf8(identification &id, std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t b : bytes) {
        if (id.utf8_resync) {
            if (b >= 0x80 && b < 0xC0)
                continue; // the end of a character begun before the sample
            id.utf8_resync = false;
        }
        if (id.utf8_pending) {
            if (b < id.utf8_low || b > id.utf8_high) {
                id.utf8_valid = false;
                return;
            }
            id.utf8_code = id.utf8_code << 6 | (b & 0x3F);
            id.utf8_low = 0x80;
            id.utf8_high = 0xBF;
            if (--id.utf8_pending == 0) {
                ++id.utf8_sequences;
                id.utf8_unlikely += !likely_in_text(id.utf8_code);
            }
            continue;
        }
        if (b < 0x80)
            continue;
        if (b < 0xC2 || b > 0xF4) {
            id.utf8_valid = false;
            return;
        }
        // The ranges of the second byte that keep a sequence shortest and
        // outside the surrogates.
        if (b < 0xE0) {
            id.utf8_pending = 1;
            id.utf8_code = b & 0x1F;
        } else if (b < 0xF0) {
            id.utf8_pending = 2;
            id.utf8_code = b & 0x0F;
            id.utf8_low = b == 0xE0 ? 0xA0 : 0x80;
            id.utf8_high = b == 0xED ? 0x9F : 0xBF;
        } else {
            id.utf8_pending = 3;
            id.utf8_code = b & 0x07;
            id.utf8_low = b == 0xF0 ? 0x90 : 0x80;
            id.utf8_high = b == 0xF4 ? 0x8F : 0xBF;
        }
    }
}

// A reading's standing: its words, less three times those that no Greek word
// could be, and less every byte or symbol that Greek text in it would not hold.
std::int64_t standing(const greek_reading &r) {
    return static_cast<std::int64_t>(r.words) -
           static_cast<std::int64_t>(3 * r.bad_words + r.undefined + r.odd_symbols +
                                     r.broken_frames + r.stuck_frames);
}

void close_stretch(identification &id) {
    const std::int64_t dos = standing(id.dos) - id.stretch_dos;
    const std::int64_t windows = standing(id.windows) - id.stretch_windows;
    constexpr std::int64_t clear = 16;
    id.dos_stretches += dos >= clear && windows <= 0;
    id.windows_stretches += windows >= clear && dos <= 0;
    id.stretch_dos = standing(id.dos);
    id.stretch_windows = standing(id.windows);
}

} // namespace

std::string_view verdict_name(verdict v) {
    return names[static_cast<std::size_t>(v)];
}

std::optional<verdict> verdict_named(std::string_view name) {
    for (const verdict v : all_verdicts)
        if (verdict_name(v) == name)
            return v;
    return std::nullopt;
}

namespace {

// Read closely: the first 64 KiB, then 1 KiB at the start of each quarter MiB after.
constexpr std::uint64_t read_whole = 64 * 1024;
constexpr std::uint64_t sample_every = 256 * 1024, sample_size = 1024;

// A sample starts afresh: nothing before it touches it.
void start_sample(identification &id) {
    for (greek_reading *r : {&id.dos, &id.windows}) {
        if (r->in_word)
            end_word(*r, space);
        r->previous = space;
    }
    id.utf8_pending = 0;
    id.utf8_low = 0x80;
    id.utf8_high = 0xBF;
    id.utf8_resync = true;
}

void read_closely(identification &id, std::span<const std::uint8_t> part) {
    if (id.utf8_valid)
        check_utf8(id, part);
    read_greek(id.dos, dos_reading, part);
    read_greek(id.windows, windows_reading, part);
}

} // namespace

void identify_more(identification &id, std::span<const std::uint8_t> block) {
    for (std::size_t i = 0; i < block.size() && id.size + i < id.start.size(); ++i)
        id.start[id.size + i] = block[i];
    count_bytes(id, block);
    const std::uint64_t first = id.size, end = id.size + block.size();
    for (std::uint64_t at = first; at < end;) {
        // The stretch that `at` is in, and whether it is read closely.
        const bool whole = at < read_whole;
        const std::uint64_t unit = whole ? stretch_size : sample_every;
        const std::uint64_t stretch = at / unit * unit;
        const std::uint64_t close_end = whole ? stretch + unit : stretch + sample_size;
        if (at >= close_end) {
            at = std::min(end, stretch + unit); // between samples
            continue;
        }
        if (!whole && at == stretch)
            start_sample(id);
        const std::uint64_t stop = std::min(end, close_end);
        read_closely(id, block.subspan(static_cast<std::size_t>(at - first),
                                       static_cast<std::size_t>(stop - at)));
        at = stop;
        if (at == close_end)
            close_stretch(id);
    }
    id.size = end;
}

namespace {

std::string number(std::uint64_t n) {
    return std::to_string(n);
}

// What a reading comes to once the file has ended: its last word closed.
greek_reading closed(greek_reading r) {
    if (r.in_word)
        end_word(r, space);
    return r;
}

// How well a reading reads as Greek, in eighths of a bit: the letter pairs'
// likelihood, less what no Greek text has.
std::int64_t weight(const greek_reading &r) {
    return r.pairs_score - 64 * static_cast<std::int64_t>(r.bad_words) -
           32 * static_cast<std::int64_t>(r.odd_symbols + r.broken_frames + r.stuck_frames) +
           8 * static_cast<std::int64_t>(r.frame_runs);
}

// Greek text reads well letter pair by letter pair, in words as Greek writes
// them. Text mostly in capitals is held to a higher bar: KOI8's small Cyrillic
// letters read as Greek capitals, and capitals are rare in Greek.
bool reads_as_greek(const greek_reading &r) {
    const std::uint64_t good = r.words - r.bad_words;
    // A short text must read better: a few letters of another language can
    // read as a few Greek words.
    const auto pairs = static_cast<std::int64_t>(r.pairs);
    // Many words and not one that Greek could not write: names from other
    // languages, spelt in Greek, may read worse.
    const std::int64_t clean = r.bad_words == 0 && r.words >= 24 ? 3 : 0;
    const std::int64_t bar =
        (r.capitals * 2 > r.letters ? 11 : 4) - clean + std::max<std::int64_t>(0, 40 - pairs) / 4;
    return r.undefined == 0 && good >= 2 && r.letters >= 6 && r.bad_words * 8 <= r.words &&
           r.odd_symbols * 8 <= r.letters && r.broken_frames * 4 <= r.frame_runs + 1 &&
           r.stuck_frames * 4 <= r.letters && r.pairs_score >= bar * pairs;
}

// Frames as forms have them, and little else in the upper half.
bool reads_as_form(const greek_reading &r) {
    return r.frame_runs >= 8 && r.broken_frames * 16 <= r.frame_runs && r.bad_words * 4 <= r.words;
}

// What no Greek text in this code page holds: bytes it lacks, runs of letters
// that no Greek word could be, symbols stuck to letters, frames broken up.
// Unlikely letter pairs are proof only with some of that, or when far below
// anything Greek: names from other languages are written in Greek too.
bool not_greek(const greek_reading &r) {
    const auto pairs = static_cast<std::int64_t>(r.pairs);
    return r.undefined > 0 || r.bad_words * 2 >= r.words + 1 ||
           r.odd_symbols * 4 >= r.letters + 1 || r.broken_frames > r.frame_runs ||
           (r.bad_words * 5 >= r.words + 1 && r.pairs_score < 0) || r.pairs_score < -16 * pairs;
}

// Every run of letters glued to Latin letters, and some inside Latin words:
// accented letters of a Latin-script language.
bool latin_accents(const greek_reading &r) {
    return r.in_latin > 0 && r.in_latin == r.words;
}

std::string greek_evidence(const greek_reading &r) {
    std::string s = number(r.letters) + " Greek letters in " + number(r.words) + " words";
    if (r.frame_runs)
        s += ", " + number(r.frame_runs) + " frame joins";
    return s;
}

// UTF-16 without a byte order mark, in the order where the high byte of each
// pair is at offsets of parity `high` (1: little endian): high bytes mostly of
// the alphabets (0x00-0x06, which no 8-bit text holds) and the rest of
// punctuation and symbols; low bytes hardly ever zero or a control.
bool looks_utf16(const identification &id, int high) {
    if (!id.utf16_possible)
        return false;
    const byte_counts &c = id.counts;
    const std::uint64_t units = id.size / 2;
    const auto h = static_cast<std::size_t>(high);
    const std::uint64_t low_controls = c.controls - std::min(c.controls, c.alphabetic[h]);
    return id.size % 2 == 0 && units >= 4 && c.nul_units == 0 &&
           (c.alphabetic[h] + c.punctuation[h]) * 20 >= units * 19 &&
           c.alphabetic[h] * 2 >= units && c.zeros[1 - h] * 32 <= units &&
           low_controls * 8 <= units;
}

// Valid UTF-8 as far as the counts tell: no byte that UTF-8 never has, and as
// many continuation bytes as the leads call for. The parts read closely were
// checked sequence by sequence. A file that ends in the middle of a character
// is not taken for UTF-8: an 8-bit file may end in what looks like a lead.
bool looks_utf8(const identification &id) {
    const byte_counts &c = id.counts;
    return id.utf8_valid && c.never_utf8 == 0 &&
           c.continuations == c.leads2 + 2 * c.leads3 + 3 * c.leads4;
}

finding by_byte_order_mark(const identification &id) {
    const auto &s = id.start;
    if (id.size >= 3 && s[0] == 0xEF && s[1] == 0xBB && s[2] == 0xBF) {
        if (looks_utf8(id))
            return {verdict::utf8, "byte order mark"};
        return {verdict::other, "a UTF-8 byte order mark, but not UTF-8"};
    }
    const bool le = s[0] == 0xFF && s[1] == 0xFE, be = s[0] == 0xFE && s[1] == 0xFF;
    if (id.size >= 2 && (le || be)) {
        if (id.size % 2 == 0 && id.counts.nul_units == 0)
            return {le ? verdict::utf16le : verdict::utf16be, "byte order mark"};
        return {verdict::other, "a UTF-16 byte order mark, but not UTF-16"};
    }
    return {verdict::unsure, ""};
}

finding windows_or_iso(const identification &id, const greek_reading &r) {
    const std::string evidence = greek_evidence(r);
    const bool iso_lacks = id.counts.c1 > 0 || id.counts.ae > 0;
    const bool windows_lacks = id.counts.aa > 0;
    const std::uint64_t iso = r.alpha_b6 + r.quote_a2 + r.quote_a1, windows = r.alpha_a2;
    if (iso_lacks && windows_lacks)
        return {verdict::unsure, "bytes that neither Windows-1253 nor ISO-8859-7 has"};
    if (iso_lacks)
        return {verdict::cp1253, evidence + "; bytes 0x80-0x9F or 0xAE, which ISO-8859-7 lacks"};
    if (windows_lacks)
        return {verdict::iso_8859_7, evidence + "; byte 0xAA, which Windows-1253 lacks"};
    if (iso > 0 && windows > 0)
        return {verdict::unsure, "Alpha with tonos written both as in Windows-1253 and as in "
                                 "ISO-8859-7"};
    if (iso > 0)
        return {verdict::iso_8859_7, evidence + "; " + number(iso) +
                                         " Alpha with tonos or quotes as ISO-8859-7 writes them"};
    if (windows > 0)
        return {verdict::cp1253,
                evidence + "; " + number(windows) + " Alpha with tonos as Windows-1253 writes it"};
    if (r.differing > 0)
        return {verdict::unsure, number(r.differing) + " bytes that Windows-1253 and ISO-8859-7 "
                                                       "read differently, and no telling which"};
    return {verdict::cp1253, evidence + "; reads the same in ISO-8859-7"};
}

finding eight_bit(const identification &id) {
    const greek_reading dos = closed(id.dos);
    greek_reading windows = closed(id.windows);
    // The holes in 0x80-0x9F were looked for in the parts read closely, the
    // others in the whole file.
    windows.undefined += id.counts.windows_holes;
    if (id.dos_stretches > 0 && id.windows_stretches > 0)
        return {verdict::unsure, "parts read as DOS Greek and parts as Windows Greek"};
    const std::int64_t margin = 64; // eight bits: 256 times as likely
    const bool dos_greek = reads_as_greek(dos) || (reads_as_form(dos) && not_greek(windows));
    const bool windows_greek = reads_as_greek(windows);
    if (dos_greek && weight(dos) >= weight(windows) + margin)
        return {verdict::cp737, greek_evidence(dos)};
    if (windows_greek && weight(windows) >= weight(dos) + margin)
        return windows_or_iso(id, windows);
    // Greek but for a few bytes that the code page lacks: damaged, or
    // something else in part.
    greek_reading whole = windows;
    whole.undefined = 0;
    if (windows.undefined * 64 <= windows.letters && reads_as_greek(whole) &&
        weight(windows) >= weight(dos) + margin)
        return {verdict::unsure, "Windows Greek but for " + number(windows.undefined) +
                                     " bytes that Windows-1253 and ISO-8859-7 lack"};
    const bool enough = id.counts.upper >= 8 || std::min(dos.bad_words, windows.bad_words) >= 3 ||
                        (latin_accents(dos) && latin_accents(windows));
    if (enough && not_greek(dos) && not_greek(windows) && dos.letters + windows.letters > 0)
        return {verdict::other, "not Greek: " + number(dos.bad_words + windows.bad_words) +
                                    " runs of letters that no Greek word could be"};
    return {verdict::unsure,
            "too little evidence: " + number(std::max(dos.letters, windows.letters)) +
                " bytes that could be Greek letters"};
}

} // namespace

finding identify_end(const identification &id) {
    if (id.size == 0)
        return {verdict::empty, "no bytes"};
    if (finding bom = by_byte_order_mark(id); bom.result != verdict::unsure)
        return bom;
    if (looks_utf16(id, 1))
        return {verdict::utf16le, "every other byte that of an alphabet's character"};
    if (looks_utf16(id, 0))
        return {verdict::utf16be, "every other byte that of an alphabet's character"};
    const byte_counts &c = id.counts;
    if (c.controls * 64 > id.size)
        return {verdict::other, "binary: " + number(c.controls) + " control bytes"};
    if (c.upper == 0)
        return {verdict::ascii, "no byte above 0x7F"};
    if (looks_utf8(id)) {
        const std::uint64_t characters = c.leads2 + c.leads3 + c.leads4;
        const bool greek_too = reads_as_greek(closed(id.dos)) || reads_as_greek(closed(id.windows));
        if (id.utf8_unlikely * 4 > id.utf8_sequences || (greek_too && characters < 8))
            return {verdict::unsure, "valid UTF-8, but it reads as 8-bit Greek too"};
        return {verdict::utf8, number(characters) + " characters of more than one byte"};
    }
    return eight_bit(id);
}

finding identify(std::span<const std::uint8_t> bytes) {
    identification id;
    identify_more(id, bytes);
    return identify_end(id);
}
