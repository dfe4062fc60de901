// The AVX-512 VBMI kernel: one two-table byte permute looks up all 64 bytes
// in the 128-byte upper half; for the journal, masked compares find the
// destroyed bytes and those that repeat the byte before them, and one byte
// compress gathers the rest.
#include "codepage/identify/count_vectors.hpp"
#include "common.hpp"

#ifdef GRKPAGE_X86
namespace codepage {

#define GRKPAGE_VBMI                                                                               \
    __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi,bmi2,popcnt")))

namespace {

// The 64 bytes of `x` translated, and which of them change: every byte of the
// upper half and, going to DOS, the tilde.
template <direction D>
GRKPAGE_VBMI inline __m512i vbmi_step(__m512i x, __m512i first, __m512i second,
                                      __mmask64 &changes) {
    const __m512i upper = _mm512_permutex2var_epi8(first, x, second);
    const __mmask64 high = _mm512_movepi8_mask(x);
    __m512i y = _mm512_mask_blend_epi8(high, x, upper);
    changes = high;
    if constexpr (D == direction::to_dos) {
        const __mmask64 tilde = _mm512_cmpeq_epi8_mask(x, _mm512_set1_epi8('~'));
        y = _mm512_mask_mov_epi8(y, tilde, _mm512_set1_epi8(static_cast<char>(0xF7)));
        changes |= tilde;
    }
    return y;
}

// Each lane takes the lane before it; lane 0 itself. (The permutes below are
// masked ones with every lane set: GCC takes the unmasked ones for reads of an
// uninitialized vector.)
GRKPAGE_VBMI inline __m512i one_back() {
    return _mm512_set_epi64(0x3e3d3c3b3a393837, 0x363534333231302f, 0x2e2d2c2b2a292827,
                            0x262524232221201f, 0x1e1d1c1b1a191817, 0x161514131211100f,
                            0x0e0d0c0b0a090807, 0x0605040302010000);
}

// Lane `lane` of `v`.
GRKPAGE_VBMI inline unsigned lane_of(__m512i v, unsigned lane) {
    const __m512i at = _mm512_set1_epi8(static_cast<char>(lane));
    return static_cast<std::uint8_t>(
        _mm512_cvtsi512_si32(_mm512_maskz_permutexvar_epi8(~__mmask64{0}, at, v)));
}

// Journals the 64 bytes of `x` at `i`, translated to `y`, of which those in
// `valid` are real. The destroyed bytes, side by side, each beside the one
// before it: lane 0 beside the last destroyed byte noted.
template <direction D>
GRKPAGE_VBMI inline void vbmi_journal(__m512i x, __m512i y, __mmask64 valid, std::size_t i,
                                      journal_writer &journal) {
    // Destroyed: from the upper half into the lower, or the plus-minus sign.
    __mmask64 gone = _mm512_mask_testn_epi8_mask(_mm512_movepi8_mask(x) & valid, y,
                                                 _mm512_set1_epi8(static_cast<char>(0x80)));
    if constexpr (D == direction::to_dos)
        gone |= _mm512_mask_cmpeq_epi8_mask(
            valid, x, _mm512_set1_epi8(static_cast<char>(to_dos_destroyed_upper)));
    journal.lost_at[i / 64] = gone;
    if (!gone)
        return;
    const auto count = static_cast<unsigned>(std::popcount(gone));
    const __mmask64 in_use = first_bits(count);
    const __m512i dense = _mm512_maskz_compress_epi8(gone, x);
    const __m512i before =
        _mm512_mask_mov_epi8(_mm512_maskz_permutexvar_epi8(~__mmask64{0}, one_back(), dense), 1,
                             _mm512_set1_epi8(static_cast<char>(journal.last)));
    __mmask64 repeat = _mm512_mask_cmpeq_epi8_mask(in_use, dense, before);
    if (journal.last == journal_writer::none)
        repeat &= ~__mmask64{1};
    const __mmask64 fresh = in_use & ~repeat;
    const auto kept = static_cast<unsigned>(std::popcount(fresh));
    // A compress into a register, then a masked store: compressing straight to
    // memory is microcoded, and slow, on some processors.
    _mm512_mask_storeu_epi8(journal.originals + journal.kept, first_bits(kept),
                            _mm512_maskz_compress_epi8(fresh, dense));
    journal.kept += kept;
    journal.note_repeats(repeat, count);
    journal.last = lane_of(dense, count - 1);
}

template <direction D, bool Journal>
GRKPAGE_VBMI translated vbmi_loop(const std::uint8_t *in, std::uint8_t *out, std::size_t n,
                                  journal_writer *journal) {
    const byte_map &map = map_for(D);
    const __m512i first = _mm512_loadu_si512(map.data() + 128);
    const __m512i second = _mm512_loadu_si512(map.data() + 192);
    // The journal's counters in a local: stores through its byte pointers
    // could otherwise alias them.
    journal_writer local = journal ? *journal : journal_writer{};
    __mmask64 changed = 0, changes;
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i x = _mm512_loadu_si512(in + i);
        const __m512i y = vbmi_step<D>(x, first, second, changes);
        _mm512_storeu_si512(out + i, y);
        changed |= changes;
        if constexpr (Journal)
            vbmi_journal<D>(x, y, ~__mmask64{0}, i, local);
    }
    if (i < n) {
        const auto length = static_cast<unsigned>(n - i); // below 64
        const __mmask64 rest = first_bits(length);
        const __m512i x = _mm512_maskz_loadu_epi8(rest, in + i);
        const __m512i y = vbmi_step<D>(x, first, second, changes);
        _mm512_mask_storeu_epi8(out + i, rest, y);
        changed |= changes & rest;
        if constexpr (Journal)
            vbmi_journal<D>(x, y, rest, i, local);
    }
    if constexpr (Journal) {
        *journal = local;
        return journal->finish(changed != 0);
    }
    return {0, 0, changed != 0};
}

} // namespace

// A word of 64 bytes at a time: its destroyed bytes side by side, the kept
// ones expanded into their places among them and each repeat filled from the
// one before it, in six steps that double the reach (a lane takes from `reach`
// lanes back while the one it takes from is itself still to fill); then all of
// them expanded into their places in the word.
GRKPAGE_VBMI void place_avx512vbmi(std::uint8_t *bytes, std::size_t n, const std::uint64_t *lost_at,
                                   placing &from) {
    const __m512i lanes = _mm512_set_epi64(
        0x3f3e3d3c3b3a3938, 0x3736353433323130, 0x2f2e2d2c2b2a2928, 0x2726252423222120,
        0x1f1e1d1c1b1a1918, 0x1716151413121110, 0x0f0e0d0c0b0a0908, 0x0706050403020100);
    for (std::size_t word = 0; word < journal_words(n); ++word) {
        const std::uint64_t gone = lost_at[word];
        if (!gone)
            continue;
        const auto count = static_cast<unsigned>(std::popcount(gone));
        const __mmask64 repeat = from.repeat_bits(count);
        const __mmask64 fresh = first_bits(count) & ~repeat;
        __m512i dense = _mm512_maskz_expandloadu_epi8(fresh, from.originals.data() + from.next);
        __mmask64 fill = repeat;
        if (fill & 1) { // lane 0 repeats the last original taken before
            dense =
                _mm512_mask_set1_epi8(dense, 1, static_cast<char>(from.originals[from.next - 1]));
            fill &= ~__mmask64{1};
        }
        from.next += static_cast<std::size_t>(std::popcount(fresh));
        for (unsigned reach = 1; fill && reach < 64; reach *= 2) {
            const __m512i back = _mm512_sub_epi8(lanes, _mm512_set1_epi8(static_cast<char>(reach)));
            dense = _mm512_mask_mov_epi8(dense, fill,
                                         _mm512_maskz_permutexvar_epi8(~__mmask64{0}, back, dense));
            fill &= fill << reach;
        }
        std::uint8_t *const at = bytes + word * 64;
        const __mmask64 valid =
            first_bits(static_cast<unsigned>(std::min<std::size_t>(64, n - word * 64)));
        _mm512_mask_storeu_epi8(
            at, valid, _mm512_mask_expand_epi8(_mm512_maskz_loadu_epi8(valid, at), gone, dense));
    }
}

GRKPAGE_VBMI std::uint8_t classes_avx512vbmi(const std::uint8_t *bytes, std::size_t n,
                                             std::uint8_t classes, const std::uint64_t *lost_at,
                                             std::uint64_t *masks) {
    const class_list list(classes);
    __m512i values[std::size(journal_classes)];
    for (unsigned k = 0; k < list.count; ++k)
        values[k] = _mm512_set1_epi8(static_cast<char>(journal_classes[list.which[k]]));
    std::uint8_t held = 0;
    for (std::size_t w = 0; w < journal_words(n); ++w) {
        const std::uint64_t gone = lost_at ? lost_at[w] : 0;
        if (!masks && !gone)
            continue;
        const __mmask64 valid =
            first_bits(static_cast<unsigned>(std::min<std::size_t>(64, n - 64 * w)));
        const __m512i x = _mm512_maskz_loadu_epi8(valid, bytes + 64 * w);
        std::uint64_t all = 0;
        for (unsigned k = 0; k < list.count; ++k) {
            const std::uint64_t bits = _mm512_mask_cmpeq_epi8_mask(valid, x, values[k]);
            all |= bits;
            held |= static_cast<std::uint8_t>((bits & gone) != 0) << list.which[k];
        }
        if (masks)
            masks[w] = all;
    }
    return held;
}

bool avx512vbmi_supported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("bmi2") &&
           __builtin_cpu_supports("popcnt");
}

translated translate_avx512vbmi(const std::uint8_t *in, std::uint8_t *out, std::size_t n,
                                direction d, journal_writer *journal) {
    return in_direction(d, [&]<direction D>() {
        return journal ? vbmi_loop<D, true>(in, out, n, journal)
                       : vbmi_loop<D, false>(in, out, n, nullptr);
    });
}

namespace {

// How the identifier's counts see a byte, looked up by its low seven bits in
// one table for each half: a control no text holds, and the rare bytes of
// block_counts::holds; a continuation byte of UTF-8.
constexpr std::uint8_t control = 0x80, continuation = 0x40, letter = 0x20;

constexpr std::array<std::uint8_t, 128> lower_classes = [] {
    std::array<std::uint8_t, 128> t{};
    for (unsigned b = 0; b < 128; ++b)
        if (b < 9 || (b >= 0x0E && b < 0x1A) || (b >= 0x1C && b < 0x20) || b == 0x7F)
            t[b] = control;
    for (unsigned b = 'A'; b <= 'Z'; ++b)
        t[b] = t[b + 0x20] = letter;
    t[0] |= block_counts::nul;
    return t;
}();

constexpr std::array<std::uint8_t, 128> upper_classes = [] {
    std::array<std::uint8_t, 128> t{};
    for (unsigned b = 0x80; b < 0x100; ++b) {
        std::uint8_t c = b < 0xC0 ? continuation : 0;
        c |= b == 0xD2 || b == 0xFF ? block_counts::hole : 0;
        c |= b == 0xAA ? block_counts::aa : 0;
        c |= b == 0xAE ? block_counts::ae : 0;
        c |= b == 0xC0 || b == 0xC1 || b >= 0xF5 ? block_counts::never_utf8 : 0;
        t[b - 0x80] = c;
    }
    return t;
}();

GRKPAGE_VBMI inline __m512i table_half(const std::array<std::uint8_t, 128> &t, std::size_t half) {
    return _mm512_loadu_si512(t.data() + 64 * half);
}

// A count's lanes, added up.
GRKPAGE_VBMI inline std::uint32_t lanes_total(__m512i lanes) {
    alignas(64) std::uint64_t sums[8];
    _mm512_store_si512(sums, _mm512_sad_epu8(lanes, _mm512_setzero_si512()));
    std::uint64_t n = 0;
    for (const std::uint64_t sum : sums)
        n += sum;
    return static_cast<std::uint32_t>(n);
}

// The counts of count_vectors (identify/count_vectors.hpp), without UTF-16's,
// with compare masks, two-table byte permutes for the classes, and masked
// adds: a third of the instructions of the portable form at this width.
template <bool utf8>
GRKPAGE_VBMI std::size_t vbmi_count(block_counts &c, const std::uint8_t *p, std::size_t n) {
    const __m512i lower0 = table_half(lower_classes, 0), lower1 = table_half(lower_classes, 1);
    const __m512i upper0 = table_half(upper_classes, 0), upper1 = table_half(upper_classes, 1);
    const __m512i one = _mm512_set1_epi8(1);
    const __m512i holds_kept = _mm512_set1_epi8(utf8 ? 0x1F : 0x0F);
    const std::size_t whole = n / 64 * 64;
    std::size_t done = 0;
    while (done < whole) {
        __m512i from80 = _mm512_setzero_si512(), fromA0 = from80, fromC0 = from80, fromE0 = from80,
                controls = from80, pairs = from80, touches = from80, top_pairs = from80,
                low_pairs = from80, breaks = from80, holds = from80;
        const std::size_t stop = std::min(whole, done + 255 * 64);
        for (; done < stop; done += 64) {
            const __m512i x = _mm512_loadu_si512(p + done);
            const __m512i x1 = _mm512_loadu_si512(p + done - 1);
            const __mmask64 upper = _mm512_movepi8_mask(x);
            from80 = _mm512_mask_add_epi8(from80, upper, from80, one);
            fromA0 = _mm512_mask_add_epi8(
                fromA0, _mm512_cmpge_epu8_mask(x, _mm512_set1_epi8(char(0xA0))), fromA0, one);
            fromC0 = _mm512_mask_add_epi8(
                fromC0, _mm512_cmpge_epu8_mask(x, _mm512_set1_epi8(char(0xC0))), fromC0, one);
            const __mmask64 top = _mm512_cmpge_epu8_mask(x, _mm512_set1_epi8(char(0xE0)));
            fromE0 = _mm512_mask_add_epi8(fromE0, top, fromE0, one);
            top_pairs = _mm512_mask_add_epi8(
                top_pairs, top & _mm512_cmpge_epu8_mask(x1, _mm512_set1_epi8(char(0xE0))),
                top_pairs, one);
            const __m512i low = _mm512_maskz_permutex2var_epi8(~upper, lower0, x, lower1);
            const __m512i high = _mm512_maskz_permutex2var_epi8(upper, upper0, x, upper1);
            const __m512i classes = _mm512_or_si512(low, high);
            holds = _mm512_ternarylogic_epi32(holds, classes, holds_kept,
                                              0xF8); // holds | (classes & kept)
            controls = _mm512_mask_add_epi8(
                controls, _mm512_test_epi8_mask(classes, _mm512_set1_epi8(char(control))), controls,
                one);
            const __mmask64 follows =
                _mm512_test_epi8_mask(classes, _mm512_set1_epi8(char(continuation)));
            const __mmask64 lead2 = _mm512_cmplt_epu8_mask(
                _mm512_sub_epi8(x1, _mm512_set1_epi8(char(0xC2))), _mm512_set1_epi8(0x1E));
            pairs = _mm512_mask_add_epi8(pairs, follows & lead2, pairs, one);
            const __mmask64 follows1 = _mm512_cmpeq_epi8_mask(
                _mm512_and_si512(x1, _mm512_set1_epi8(char(0xC0))), _mm512_set1_epi8(char(0x80)));
            low_pairs = _mm512_mask_add_epi8(low_pairs, follows & follows1, low_pairs, one);
            const __mmask64 letters = _mm512_test_epi8_mask(classes, _mm512_set1_epi8(letter));
            touches =
                _mm512_mask_add_epi8(touches, letters & _mm512_movepi8_mask(x1), touches, one);
            if constexpr (utf8) {
                const __m512i x2 = _mm512_loadu_si512(p + done - 2);
                const __m512i x3 = _mm512_loadu_si512(p + done - 3);
                const __mmask64 called = _mm512_cmpge_epu8_mask(x1, _mm512_set1_epi8(char(0xC0))) |
                                         _mm512_cmpge_epu8_mask(x2, _mm512_set1_epi8(char(0xE0))) |
                                         _mm512_cmpge_epu8_mask(x3, _mm512_set1_epi8(char(0xF0)));
                breaks = _mm512_mask_add_epi8(breaks, follows ^ called, breaks, one);
                // A continuation UTF-8 never has after its lead: too long a
                // form, a surrogate, beyond U+10FFFF.
                const __mmask64 below_a0 = _mm512_cmplt_epu8_mask(x, _mm512_set1_epi8(char(0xA0)));
                const __mmask64 below_90 = _mm512_cmplt_epu8_mask(x, _mm512_set1_epi8(char(0x90)));
                const __mmask64 never_after =
                    follows &
                    ((_mm512_cmpeq_epi8_mask(x1, _mm512_set1_epi8(char(0xE0))) & below_a0) |
                     (_mm512_cmpeq_epi8_mask(x1, _mm512_set1_epi8(char(0xED))) & ~below_a0) |
                     (_mm512_cmpeq_epi8_mask(x1, _mm512_set1_epi8(char(0xF0))) & below_90) |
                     (_mm512_cmpeq_epi8_mask(x1, _mm512_set1_epi8(char(0xF4))) & ~below_90));
                holds = _mm512_or_si512(
                    holds,
                    _mm512_maskz_mov_epi8(never_after, _mm512_set1_epi8(block_counts::never_utf8)));
            }
        }
        const std::uint32_t n80 = lanes_total(from80), nA0 = lanes_total(fromA0),
                            nC0 = lanes_total(fromC0), nE0 = lanes_total(fromE0);
        c.quarters[0] += n80 - nA0;
        c.quarters[1] += nA0 - nC0;
        c.quarters[2] += nC0 - nE0;
        c.quarters[3] += nE0;
        c.controls += lanes_total(controls);
        c.utf8_pairs += lanes_total(pairs);
        c.latin_touches += lanes_total(touches);
        c.top_pairs += lanes_total(top_pairs);
        c.low_pairs += lanes_total(low_pairs);
        c.utf8_breaks += lanes_total(breaks);
        alignas(64) std::uint8_t held[64];
        _mm512_store_si512(held, holds);
        for (const std::uint8_t h : held)
            c.holds |= h;
    }
    return done;
}

} // namespace

GRKPAGE_VBMI std::size_t count_avx512vbmi(block_counts &c, const std::uint8_t *p, std::size_t n,
                                          count_needs needs) {
    typedef std::uint8_t vec64 __attribute__((vector_size(64)));
    if (needs.utf16) // the file's first blocks only, as a rule
        return identifier::count_needed<vec64>(c, p, n, needs);
    return needs.utf8 ? vbmi_count<true>(c, p, n) : vbmi_count<false>(c, p, n);
}

} // namespace codepage
#endif
