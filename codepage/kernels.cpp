#include "kernels.hpp"

#include "tables.hpp"

#include <algorithm>
#include <array>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define GRKPAGE_X86 1
#endif

namespace codepage {

namespace {

constexpr const byte_map &map_for(direction d) {
    return d == direction::to_dos ? to_dos_map : to_windows_map;
}

constexpr std::size_t words_for(std::size_t n) {
    return (n + 63) / 64;
}

// Bytes [i, n) one at a time; with a journal, whose words the caller has cleared.
void portable_part(const std::uint8_t *in, std::uint8_t *out, std::size_t i, std::size_t n,
                   direction d, std::uint64_t *lost_at, std::uint8_t *lost, translated &t) {
    const byte_map &map = map_for(d);
    const byte_map &inverse = d == direction::to_dos ? from_dos_map : from_windows_map;
    for (; i < n; ++i) {
        const std::uint8_t b = in[i]; // before out[i] is written: they may be the same byte
        const std::uint8_t y = map[b];
        t.changed |= y != b;
        if (lost_at && inverse[y] != b) {
            lost_at[i / 64] |= std::uint64_t{1} << (i % 64);
            lost[t.lost++] = b;
        }
        out[i] = y;
    }
}

} // namespace

translated translate_portable(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction d,
                              std::uint64_t *lost_at, std::uint8_t *lost) {
    if (lost_at)
        std::fill_n(lost_at, words_for(n), 0);
    translated t;
    portable_part(in, out, 0, n, d, lost_at, lost, t);
    return t;
}

#ifdef GRKPAGE_X86
namespace {

// The upper half is a 128-byte table: eight rows of 16 picked by bits 4-6 of
// the byte and looked up by its low nibble with a byte shuffle. A byte below
// 0x80 keeps its value, but for the tilde on the way to DOS.
template <direction D>
__attribute__((target("avx2"))) translated avx2_loop(const std::uint8_t *in, std::uint8_t *out,
                                                     std::size_t n, std::uint64_t *lost_at,
                                                     std::uint8_t *lost) {
    const byte_map &map = map_for(D);
    __m256i rows[8];
    for (int k = 0; k < 8; ++k)
        rows[k] = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(map.data() + 128 + 16 * k)));
    const __m256i low_nibble = _mm256_set1_epi8(0x0F);
    const __m256i tilde = _mm256_set1_epi8('~');
    const __m256i approx = _mm256_set1_epi8(static_cast<char>(0xF7));
    const __m256i plus_minus = _mm256_set1_epi8(static_cast<char>(to_dos_destroyed_upper));
    if (lost_at)
        std::fill_n(lost_at, words_for(n), 0);
    translated t;
    __m256i differ = _mm256_setzero_si256();

    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + i));
        const __m256i lo = _mm256_and_si256(x, low_nibble);
        __m256i r[8];
        for (int k = 0; k < 8; ++k)
            r[k] = _mm256_shuffle_epi8(rows[k], lo);
        // blendv picks by the top bit of each byte: shift bits 4, 5 and 6 there.
        const __m256i bit4 = _mm256_slli_epi16(x, 3);
        const __m256i bit5 = _mm256_slli_epi16(x, 2);
        const __m256i bit6 = _mm256_add_epi8(x, x);
        const __m256i r01 = _mm256_blendv_epi8(r[0], r[1], bit4);
        const __m256i r23 = _mm256_blendv_epi8(r[2], r[3], bit4);
        const __m256i r45 = _mm256_blendv_epi8(r[4], r[5], bit4);
        const __m256i r67 = _mm256_blendv_epi8(r[6], r[7], bit4);
        const __m256i r03 = _mm256_blendv_epi8(r01, r23, bit5);
        const __m256i r47 = _mm256_blendv_epi8(r45, r67, bit5);
        const __m256i upper = _mm256_blendv_epi8(r03, r47, bit6);
        __m256i y = _mm256_blendv_epi8(x, upper, x);
        if constexpr (D == direction::to_dos)
            y = _mm256_blendv_epi8(y, approx, _mm256_cmpeq_epi8(x, tilde));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), y);
        differ = _mm256_or_si256(differ, _mm256_xor_si256(x, y));
        if (lost_at) {
            // Destroyed: from the upper half into the lower, or the plus-minus sign.
            __m256i gone = _mm256_andnot_si256(y, x);
            if constexpr (D == direction::to_dos)
                gone = _mm256_or_si256(gone, _mm256_cmpeq_epi8(x, plus_minus));
            auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(gone));
            lost_at[i / 64] |= std::uint64_t{mask} << (i % 64);
            if (mask) {
                // From a copy: translating in place has overwritten `in` already.
                alignas(32) std::uint8_t was[32];
                _mm256_store_si256(reinterpret_cast<__m256i *>(was), x);
                for (; mask; mask &= mask - 1)
                    lost[t.lost++] = was[__builtin_ctz(mask)];
            }
        }
    }
    t.changed = !_mm256_testz_si256(differ, differ);
    portable_part(in, out, i, n, D, lost_at, lost, t);
    return t;
}

translated translate_avx2(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction d,
                          std::uint64_t *lost_at, std::uint8_t *lost) {
    if (d == direction::to_dos)
        return avx2_loop<direction::to_dos>(in, out, n, lost_at, lost);
    return avx2_loop<direction::to_windows>(in, out, n, lost_at, lost);
}

// One two-table byte permute looks up all 64 bytes in the 128-byte upper half;
// one byte compress gathers the destroyed ones for the journal.
#define GRKPAGE_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,popcnt")))

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

// Journals the 64 bytes of `x`, translated to `y`, into lost_at[0] and `lost`;
// returns how many went into `lost`.
template <direction D>
GRKPAGE_VBMI inline std::size_t vbmi_journal(__m512i x, __m512i y, __mmask64 valid,
                                             std::uint64_t *lost_at, std::uint8_t *lost) {
    // Destroyed: from the upper half into the lower, or the plus-minus sign.
    __mmask64 gone = _mm512_movepi8_mask(x) & ~_mm512_movepi8_mask(y);
    if constexpr (D == direction::to_dos)
        gone |=
            _mm512_cmpeq_epi8_mask(x, _mm512_set1_epi8(static_cast<char>(to_dos_destroyed_upper)));
    gone &= valid;
    *lost_at = gone;
    if (!gone)
        return 0;
    const auto count = static_cast<std::size_t>(__builtin_popcountll(gone));
    const __mmask64 first = count == 64 ? ~__mmask64{0} : (__mmask64{1} << count) - 1;
    // A compress into a register, then a masked store: compressing straight to
    // memory is microcoded, and slow, on some processors.
    _mm512_mask_storeu_epi8(lost, first, _mm512_maskz_compress_epi8(gone, x));
    return count;
}

template <direction D, bool Journal>
GRKPAGE_VBMI translated vbmi_loop(const std::uint8_t *in, std::uint8_t *out, std::size_t n,
                                  std::uint64_t *lost_at, std::uint8_t *lost) {
    const byte_map &map = map_for(D);
    const __m512i first = _mm512_loadu_si512(map.data() + 128);
    const __m512i second = _mm512_loadu_si512(map.data() + 192);
    // Kept in locals: stores through the byte pointers could alias them.
    std::size_t count = 0;
    __mmask64 changed = 0, changes;
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i x = _mm512_loadu_si512(in + i);
        const __m512i y = vbmi_step<D>(x, first, second, changes);
        _mm512_storeu_si512(out + i, y);
        changed |= changes;
        if constexpr (Journal)
            count += vbmi_journal<D>(x, y, ~__mmask64{0}, lost_at + i / 64, lost + count);
    }
    if (i < n) {
        const __mmask64 rest = (__mmask64{1} << (n - i)) - 1; // n - i < 64
        const __m512i x = _mm512_maskz_loadu_epi8(rest, in + i);
        const __m512i y = vbmi_step<D>(x, first, second, changes);
        _mm512_mask_storeu_epi8(out + i, rest, y);
        changed |= changes & rest;
        if constexpr (Journal)
            count += vbmi_journal<D>(x, y, rest, lost_at + i / 64, lost + count);
    }
    return {count, changed != 0};
}

template <direction D>
GRKPAGE_VBMI translated vbmi_loop(const std::uint8_t *in, std::uint8_t *out, std::size_t n,
                                  std::uint64_t *lost_at, std::uint8_t *lost) {
    if (lost_at)
        return vbmi_loop<D, true>(in, out, n, lost_at, lost);
    return vbmi_loop<D, false>(in, out, n, lost_at, lost);
}

translated translate_vbmi(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction d,
                          std::uint64_t *lost_at, std::uint8_t *lost) {
    if (d == direction::to_dos)
        return vbmi_loop<direction::to_dos>(in, out, n, lost_at, lost);
    return vbmi_loop<direction::to_windows>(in, out, n, lost_at, lost);
}

} // namespace
#endif

std::span<const kernel> supported_kernels() {
    static const auto kernels = [] {
        struct list {
            std::array<kernel, 3> all{};
            std::size_t count = 0;
        } found;
        found.all[found.count++] = {"portable", translate_portable};
#ifdef GRKPAGE_X86
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2"))
            found.all[found.count++] = {"avx2", translate_avx2};
        if (__builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
            __builtin_cpu_supports("avx512bw"))
            found.all[found.count++] = {"avx512vbmi", translate_vbmi};
#endif
        return found;
    }();
    return {kernels.all.data(), kernels.count};
}

} // namespace codepage
