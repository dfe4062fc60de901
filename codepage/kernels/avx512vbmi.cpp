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

GRKPAGE_VBMI std::size_t count_avx512vbmi(block_counts &c, const std::uint8_t *p, std::size_t n,
                              count_needs needs) {
    typedef std::uint8_t vec64 __attribute__((vector_size(64)));
    return identifier::count_needed<vec64>(c, p, n, needs);
}

} // namespace codepage
#endif
