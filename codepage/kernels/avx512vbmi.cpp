// The AVX-512 VBMI kernel: one two-table byte permute looks up all 64 bytes
// in the 128-byte upper half; for the journal, masked compares find the
// destroyed bytes and those that repeat the byte before them, and one byte
// compress gathers the rest.
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

// Journals the 64 bytes of `x` at `i`, translated to `y`, of which the first
// `length` are real (`valid`). `previous` holds the last byte noted before
// them in every lane, so that the compare with the byte before needs no
// scalar step.
template <direction D>
GRKPAGE_VBMI inline void vbmi_journal(__m512i x, __m512i y, __mmask64 valid, unsigned length,
                                      std::size_t i, journal_writer &journal, __m512i &previous) {
    // Destroyed: from the upper half into the lower, or the plus-minus sign.
    __mmask64 gone = _mm512_mask_testn_epi8_mask(_mm512_movepi8_mask(x) & valid, y,
                                                 _mm512_set1_epi8(static_cast<char>(0x80)));
    if constexpr (D == direction::to_dos)
        gone |= _mm512_mask_cmpeq_epi8_mask(
            valid, x, _mm512_set1_epi8(static_cast<char>(to_dos_destroyed_upper)));
    journal.lost_at[i / 64] = gone;
    if (!gone) {
        journal.last_gone = 0;
        return;
    }
    // Each byte beside the one before it: lane 0 beside the last byte noted.
    // (The permutes are masked ones with every lane set: GCC takes the
    // unmasked ones for reads of an uninitialized vector.)
    const __m512i one_back = _mm512_set_epi64(
        0x3e3d3c3b3a393837, 0x363534333231302f, 0x2e2d2c2b2a292827, 0x262524232221201f,
        0x1e1d1c1b1a191817, 0x161514131211100f, 0x0e0d0c0b0a090807, 0x0605040302010000);
    const __m512i before = _mm512_mask_mov_epi8(
        _mm512_maskz_permutexvar_epi8(~__mmask64{0}, one_back, x), 1, previous);
    const __mmask64 same = _mm512_cmpeq_epi8_mask(x, before);
    const __mmask64 repeat = gone & ((gone << 1) | journal.last_gone) & same;
    const __mmask64 fresh = gone & ~repeat;
    const auto kept = static_cast<unsigned>(std::popcount(fresh));
    // A compress into a register, then a masked store: compressing straight to
    // memory is microcoded, and slow, on some processors.
    _mm512_mask_storeu_epi8(journal.originals + journal.kept, first_bits(kept),
                            _mm512_maskz_compress_epi8(fresh, x));
    journal.kept += kept;
    journal.note_repeats(bmi2_gather{}(repeat, gone),
                         static_cast<std::size_t>(std::popcount(gone)));
    journal.last_gone = gone >> (length - 1) & 1;
    previous = _mm512_maskz_permutexvar_epi8(~__mmask64{0},
                                             _mm512_set1_epi8(static_cast<char>(length - 1)), x);
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
    __m512i previous = _mm512_set1_epi8(static_cast<char>(local.last_byte));
    __mmask64 changed = 0, changes;
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i x = _mm512_loadu_si512(in + i);
        const __m512i y = vbmi_step<D>(x, first, second, changes);
        _mm512_storeu_si512(out + i, y);
        changed |= changes;
        if constexpr (Journal)
            vbmi_journal<D>(x, y, ~__mmask64{0}, 64, i, local, previous);
    }
    if (i < n) {
        const auto length = static_cast<unsigned>(n - i); // below 64
        const __mmask64 rest = first_bits(length);
        const __m512i x = _mm512_maskz_loadu_epi8(rest, in + i);
        const __m512i y = vbmi_step<D>(x, first, second, changes);
        _mm512_mask_storeu_epi8(out + i, rest, y);
        changed |= changes & rest;
        if constexpr (Journal)
            vbmi_journal<D>(x, y, rest, length, i, local, previous);
    }
    if constexpr (Journal) {
        local.last_byte = static_cast<std::uint8_t>(_mm512_cvtsi512_si32(previous));
        *journal = local;
        return journal->finish(changed != 0);
    }
    return {0, 0, changed != 0};
}

} // namespace

// A word of 64 bytes at a time: the fresh originals expanded into their
// places, then each run of repeats filled from the byte before it, in six
// steps that double the reach (a position takes from `reach` places back
// while the one it takes from is itself still to fill).
GRKPAGE_VBMI void place_avx512vbmi(std::uint8_t *bytes, std::size_t n, filled_journal undo) {
    const __m512i lanes = _mm512_set_epi64(
        0x3f3e3d3c3b3a3938, 0x3736353433323130, 0x2f2e2d2c2b2a2928, 0x2726252423222120,
        0x1f1e1d1c1b1a1918, 0x1716151413121110, 0x0f0e0d0c0b0a0908, 0x0706050403020100);
    const std::uint8_t *originals = undo.originals.data();
    std::size_t k = 0; // destroyed bytes so far
    for (std::size_t word = 0; word < undo.lost_at.size(); ++word) {
        const std::uint64_t gone = undo.lost_at[word];
        if (!gone)
            continue;
        const auto count = static_cast<unsigned>(std::popcount(gone));
        std::uint64_t bits = undo.repeats[k / 64] >> (k % 64);
        if (k % 64 && k / 64 + 1 < undo.repeats.size())
            bits |= undo.repeats[k / 64 + 1] << (64 - k % 64);
        k += count;
        const std::uint64_t repeat = bmi2_scatter{}(bits & first_bits(count), gone);
        const std::uint64_t fresh = gone & ~repeat;
        std::uint8_t *const at = bytes + word * 64;
        const __mmask64 valid =
            first_bits(static_cast<unsigned>(std::min<std::size_t>(64, n - word * 64)));
        __m512i v =
            _mm512_mask_expandloadu_epi8(_mm512_maskz_loadu_epi8(valid, at), fresh, originals);
        originals += std::popcount(fresh);
        __mmask64 fill = repeat;
        if (fill & 1) { // the run goes on from the word before, whose bytes are back
            v = _mm512_mask_set1_epi8(v, 1, static_cast<char>(at[-1]));
            fill &= ~__mmask64{1};
        }
        for (unsigned reach = 1; fill && reach < 64; reach *= 2) {
            const __m512i back = _mm512_sub_epi8(lanes, _mm512_set1_epi8(static_cast<char>(reach)));
            v = _mm512_mask_mov_epi8(v, fill,
                                     _mm512_maskz_permutexvar_epi8(~__mmask64{0}, back, v));
            fill &= fill << reach;
        }
        _mm512_mask_storeu_epi8(at, valid, v);
    }
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

} // namespace codepage
#endif
