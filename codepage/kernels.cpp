#include "kernels.hpp"

#include "tables.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string_view>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define GRKPAGE_X86 1
#endif
#if defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace codepage {

namespace {

constexpr const byte_map &map_for(direction d) {
    return d == direction::to_dos ? to_dos_map : to_windows_map;
}

constexpr const byte_map &destroys_for(direction d) {
    return d == direction::to_dos ? to_dos_destroys : to_windows_destroys;
}

// 8 bytes side by side in a word, byte i of memory at bits 8i to 8i + 7.
constexpr bool bytes_in_order = std::endian::native == std::endian::little;
constexpr std::uint64_t every_byte(std::uint8_t b) {
    return ~std::uint64_t{0} / 255 * b;
}

// The top bit of each byte of `word`, as 8 bits in order.
constexpr unsigned top_bits(std::uint64_t word) {
    return static_cast<unsigned>(((word >> 7) & every_byte(1)) * 0x0102040810204080 >> 56);
}

// The top bit of each byte of `word` set where that byte is `b`, the rest clear.
constexpr std::uint64_t bytes_equal(std::uint64_t word, std::uint8_t b) {
    const std::uint64_t x = word ^ every_byte(b);
    return ~(((x & every_byte(0x7F)) + every_byte(0x7F)) | x) & every_byte(0x80);
}

// Translates the 8 bytes of `x` with one lookup each; returns which of them
// are destroyed, a bit each. Destroyed: from the upper half into the lower,
// or the plus-minus sign going to DOS.
template <direction D>
[[gnu::always_inline]] inline unsigned portable_word(std::uint64_t x, std::uint64_t &y) {
    const byte_map &map = map_for(D);
    y = 0;
    for (unsigned k = 0; k < 8; ++k)
        y |= std::uint64_t{map[x >> (8 * k) & 0xFF]} << (8 * k);
    std::uint64_t gone = x & ~y & every_byte(0x80);
    if constexpr (D == direction::to_dos)
        gone |= bytes_equal(x, to_dos_destroyed_upper);
    return top_bits(gone);
}

// Bytes [i, n) one lookup each, in pieces that end where a word of lost_at
// does: each piece is translated 8 bytes to a word, its positions built in a
// register without a branch per byte, and its destroyed bytes noted from a
// copy (`out` may be `in`). With a journal, whose lost_at words the caller
// has cleared.
template <direction D, bool Journal>
bool portable_loop(const std::uint8_t *in, std::uint8_t *out, std::size_t i, std::size_t n,
                   journal_writer *journal) {
    const byte_map &map = map_for(D);
    const byte_map &destroys = destroys_for(D);
    std::uint64_t changed = 0;
    while (i < n) {
        const std::size_t length = std::min(64 - i % 64, n - i);
        std::uint8_t was[64];
        std::memcpy(was, in + i, length);
        std::uint64_t gone = 0;
        std::size_t j = 0;
        if constexpr (bytes_in_order)
            for (; j + 8 <= length; j += 8) {
                std::uint64_t x, y;
                std::memcpy(&x, was + j, 8);
                gone |= std::uint64_t{portable_word<D>(x, y)} << j;
                changed |= x ^ y;
                std::memcpy(out + i + j, &y, 8);
            }
        for (; j < length; ++j) {
            const std::uint8_t y = map[was[j]];
            changed |= y ^ was[j];
            gone |= std::uint64_t{destroys[was[j]]} << j;
            out[i + j] = y;
        }
        if (Journal && gone) {
            journal->lost_at[i / 64] |= gone << (i % 64);
            journal->note_each(was, gone);
        }
        i += length;
    }
    return changed != 0;
}

bool portable_part(const std::uint8_t *in, std::uint8_t *out, std::size_t i, std::size_t n,
                   direction d, journal_writer *journal) {
    if (d == direction::to_dos)
        return journal ? portable_loop<direction::to_dos, true>(in, out, i, n, journal)
                       : portable_loop<direction::to_dos, false>(in, out, i, n, nullptr);
    return journal ? portable_loop<direction::to_windows, true>(in, out, i, n, journal)
                   : portable_loop<direction::to_windows, false>(in, out, i, n, nullptr);
}

// For each 8-bit mask, the positions of its set bits in order, one byte each,
// then 0x80: a byte shuffle by these gathers the bytes the mask picks to the
// front, and zeros after them (both the x86 and the ARM shuffles give zero for
// an index of 0x80).
constexpr std::array<std::uint64_t, 256> gather_indices = [] {
    std::array<std::uint64_t, 256> table{};
    for (unsigned mask = 0; mask < 256; ++mask) {
        std::uint64_t indices = ~std::uint64_t{0} / 255 * 0x80;
        unsigned k = 0;
        for (unsigned bit = 0; bit < 8; ++bit)
            if (mask >> bit & 1) {
                indices &= ~(std::uint64_t{0xFF} << (8 * k));
                indices |= std::uint64_t{bit} << (8 * k++);
            }
        table[mask] = indices;
    }
    return table;
}();

constexpr std::uint64_t first_bits(unsigned count) {
    return count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
}

// Notes the destroyed bytes among the `Width` bytes at `was` picked by `mask`
// without a loop over them, 8 bytes at a time and in vector registers (the
// `Simd` steps): the picked bytes are gathered side by side with one byte
// shuffle; put after the last destroyed byte before them, they are compared
// with that shifted copy for the repeat bits; the others are gathered again
// and stored as originals, 8 bytes at a time: up to 8 bytes past those kept,
// within the `Width` bytes of room that these bytes have there.
// Always inlined into a kernel built for the vector instructions, so no vector
// ever crosses a call: the ABI warning of a 32-bit build without SSE is moot.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
template <class Simd, unsigned Width>
[[gnu::always_inline]] inline void note_gathered(journal_writer &journal, const std::uint8_t *was,
                                                 std::uint64_t mask) {
    auto previous = Simd::broadcast(journal.previous);
    std::uint64_t same = 0;
    unsigned count = 0;
    std::size_t kept = journal.kept;
    // Only the groups that hold any: text between frames has few.
    unsigned groups = 0;
    for (unsigned group = 0; group < Width / 8; ++group)
        groups |= unsigned{(mask >> (8 * group) & 0xFF) != 0} << group;
    for (; groups; groups &= groups - 1) {
        const unsigned group = static_cast<unsigned>(__builtin_ctz(groups));
        const unsigned picks = mask >> (8 * group) & 0xFF;
        const unsigned n = static_cast<unsigned>(__builtin_popcount(picks));
        const auto lost = Simd::gather(Simd::load8(was + 8 * group), picks);
        const auto before = Simd::after(previous, lost); // the byte before, then `lost`
        const unsigned repeats = Simd::equal8(lost, before) & ((1u << n) - 1);
        const unsigned fresh = ~repeats & ((1u << n) - 1);
        Simd::store8(journal.originals + kept, Simd::gather(lost, fresh));
        kept += static_cast<unsigned>(__builtin_popcount(fresh));
        same |= std::uint64_t{repeats} << count;
        count += n;
        previous = Simd::broadcast_byte(before, n);
    }
    journal.kept = kept;
    journal.previous = Simd::first_byte(previous);
    journal.note_repeats(same, count);
}
#pragma GCC diagnostic pop

} // namespace

translated translate_portable(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction d,
                              journal_writer *journal) {
    if (!journal)
        return {0, 0, portable_part(in, out, 0, n, d, nullptr)};
    std::fill_n(journal->lost_at, journal_words(n), 0);
    return journal->finish(portable_part(in, out, 0, n, d, journal));
}

#ifdef GRKPAGE_X86
namespace {

#define GRKPAGE_AVX2 __attribute__((target("avx2,popcnt")))

// The steps of note_gathered, on the low 8 bytes of 16-byte vectors.
struct ssse3_simd {
    using vec = __m128i;

    GRKPAGE_AVX2 static vec load8(const std::uint8_t *from) {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(from));
    }

    GRKPAGE_AVX2 static void store8(std::uint8_t *to, vec bytes) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(to), bytes);
    }

    // The bytes that `picks` picks, side by side, then zeros.
    GRKPAGE_AVX2 static vec gather(vec bytes, unsigned picks) {
        return _mm_shuffle_epi8(
            bytes, load8(reinterpret_cast<const std::uint8_t *>(&gather_indices[picks])));
    }

    // Byte 0 of `previous`, then the bytes of `bytes`.
    GRKPAGE_AVX2 static vec after(vec previous, vec bytes) {
        return _mm_or_si128(_mm_slli_si128(bytes, 1),
                            _mm_and_si128(previous, _mm_cvtsi32_si128(0xFF)));
    }

    // Bit i set where byte i of the two is the same, for the low 8.
    GRKPAGE_AVX2 static unsigned equal8(vec a, vec b) {
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b))) & 0xFF;
    }

    GRKPAGE_AVX2 static vec broadcast(std::uint8_t byte) {
        return _mm_set1_epi8(static_cast<char>(byte));
    }

    // Byte `at` of `bytes`, in every byte.
    GRKPAGE_AVX2 static vec broadcast_byte(vec bytes, unsigned at) {
        return _mm_shuffle_epi8(bytes, _mm_set1_epi8(static_cast<char>(at)));
    }

    GRKPAGE_AVX2 static std::uint8_t first_byte(vec bytes) {
        return static_cast<std::uint8_t>(_mm_cvtsi128_si32(bytes));
    }
};

// The upper half is a 128-byte table: eight rows of 16 picked by bits 4-6 of
// the byte and looked up by its low nibble with a byte shuffle. A byte below
// 0x80 keeps its value, but for the tilde on the way to DOS.
template <direction D>
GRKPAGE_AVX2 translated avx2_loop(const std::uint8_t *in, std::uint8_t *out, std::size_t n,
                                  journal_writer *journal) {
    const byte_map &map = map_for(D);
    __m256i rows[8];
    for (int k = 0; k < 8; ++k)
        rows[k] = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(map.data() + 128 + 16 * k)));
    const __m256i low_nibble = _mm256_set1_epi8(0x0F);
    const __m256i tilde = _mm256_set1_epi8('~');
    const __m256i approx = _mm256_set1_epi8(static_cast<char>(0xF7));
    const __m256i plus_minus = _mm256_set1_epi8(static_cast<char>(to_dos_destroyed_upper));
    // The journal's counters in a local: stores through its byte pointers
    // could otherwise alias them.
    journal_writer local = journal ? *journal : journal_writer{};
    if (journal)
        std::fill_n(local.lost_at, journal_words(n), 0);
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
        if (journal) {
            // Destroyed: from the upper half into the lower, or the plus-minus sign.
            __m256i gone = _mm256_andnot_si256(y, x);
            if constexpr (D == direction::to_dos)
                gone = _mm256_or_si256(gone, _mm256_cmpeq_epi8(x, plus_minus));
            auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(gone));
            local.lost_at[i / 64] |= std::uint64_t{mask} << (i % 64);
            if (mask) {
                // From a copy: translating in place has overwritten `in` already.
                alignas(32) std::uint8_t was[32];
                _mm256_store_si256(reinterpret_cast<__m256i *>(was), x);
                note_gathered<ssse3_simd, 32>(local, was, mask);
            }
        }
    }
    bool changed = !_mm256_testz_si256(differ, differ);
    if (!journal)
        return {0, 0, portable_part(in, out, i, n, D, nullptr) || changed};
    changed |= portable_part(in, out, i, n, D, &local);
    *journal = local;
    return journal->finish(changed);
}

translated translate_avx2(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction d,
                          journal_writer *journal) {
    if (d == direction::to_dos)
        return avx2_loop<direction::to_dos>(in, out, n, journal);
    return avx2_loop<direction::to_windows>(in, out, n, journal);
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

// Journals the 64 bytes of `x` at `i`, translated to `y`, of which those in
// `valid` are real. `previous` holds the last destroyed byte before them in
// every lane: kept in a vector, and found from `x` rather than from the
// compressed bytes, it is ready for the next 64 bytes early.
template <direction D>
GRKPAGE_VBMI inline void vbmi_journal(__m512i x, __m512i y, __mmask64 valid, std::size_t i,
                                      journal_writer &journal, __m512i &previous) {
    // Destroyed: from the upper half into the lower, or the plus-minus sign.
    __mmask64 gone = _mm512_mask_testn_epi8_mask(_mm512_movepi8_mask(x) & valid, y,
                                                 _mm512_set1_epi8(static_cast<char>(0x80)));
    if constexpr (D == direction::to_dos)
        gone |= _mm512_mask_cmpeq_epi8_mask(
            valid, x, _mm512_set1_epi8(static_cast<char>(to_dos_destroyed_upper)));
    journal.lost_at[i / 64] = gone;
    if (!gone)
        return;
    const auto count = static_cast<unsigned>(__builtin_popcountll(gone));
    const auto first = [](unsigned k) { return k == 64 ? ~__mmask64{0} : (__mmask64{1} << k) - 1; };
    // The destroyed bytes side by side, and each beside the one before it.
    const __m512i lost = _mm512_maskz_compress_epi8(gone, x);
    const __m512i one_back = _mm512_set_epi64(
        0x3e3d3c3b3a393837, 0x363534333231302f, 0x2e2d2c2b2a292827, 0x262524232221201f,
        0x1e1d1c1b1a191817, 0x161514131211100f, 0x0e0d0c0b0a090807, 0x0605040302010000);
    const __m512i before = _mm512_mask_mov_epi8(
        _mm512_maskz_permutexvar_epi8(~__mmask64{0}, one_back, lost), 1, previous);
    const __mmask64 same = _mm512_cmpeq_epi8_mask(lost, before) & first(count);
    const __mmask64 fresh = ~same & first(count);
    const auto kept = static_cast<unsigned>(__builtin_popcountll(fresh));
    // A compress into a register, then a masked store: compressing straight to
    // memory is microcoded, and slow, on some processors.
    _mm512_mask_storeu_epi8(journal.originals + journal.kept, first(kept),
                            _mm512_maskz_compress_epi8(fresh, lost));
    journal.kept += kept;
    journal.note_repeats(same, count);
    const auto last = static_cast<char>(63 - __builtin_clzll(gone));
    previous = _mm512_maskz_permutexvar_epi8(~__mmask64{0}, _mm512_set1_epi8(last), x);
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
    __m512i previous = _mm512_set1_epi8(static_cast<char>(local.previous));
    __mmask64 changed = 0, changes;
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i x = _mm512_loadu_si512(in + i);
        const __m512i y = vbmi_step<D>(x, first, second, changes);
        _mm512_storeu_si512(out + i, y);
        changed |= changes;
        if constexpr (Journal)
            vbmi_journal<D>(x, y, ~__mmask64{0}, i, local, previous);
    }
    if (i < n) {
        const __mmask64 rest = (__mmask64{1} << (n - i)) - 1; // n - i < 64
        const __m512i x = _mm512_maskz_loadu_epi8(rest, in + i);
        const __m512i y = vbmi_step<D>(x, first, second, changes);
        _mm512_mask_storeu_epi8(out + i, rest, y);
        changed |= changes & rest;
        if constexpr (Journal)
            vbmi_journal<D>(x, y, rest, i, local, previous);
    }
    if constexpr (Journal) {
        local.previous = static_cast<std::uint8_t>(_mm512_cvtsi512_si32(previous));
        *journal = local;
        return journal->finish(changed != 0);
    }
    return {0, 0, changed != 0};
}

translated translate_vbmi(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction d,
                          journal_writer *journal) {
    const bool to_dos = d == direction::to_dos;
    if (journal)
        return to_dos ? vbmi_loop<direction::to_dos, true>(in, out, n, journal)
                      : vbmi_loop<direction::to_windows, true>(in, out, n, journal);
    return to_dos ? vbmi_loop<direction::to_dos, false>(in, out, n, nullptr)
                  : vbmi_loop<direction::to_windows, false>(in, out, n, nullptr);
}

} // namespace
#endif

#ifdef __aarch64__
namespace {

// The steps of note_gathered, on the low 8 bytes of 16-byte vectors (a byte
// put in front of 8 needs a ninth place).
struct neon_simd {
    using vec = uint8x16_t;

    static vec load8(const std::uint8_t *from) { return vcombine_u8(vld1_u8(from), vdup_n_u8(0)); }

    static void store8(std::uint8_t *to, vec bytes) { vst1_u8(to, vget_low_u8(bytes)); }

    // The bytes that `picks` picks, side by side, then zeros.
    static vec gather(vec bytes, unsigned picks) {
        return vqtbl1q_u8(bytes, vcombine_u8(vcreate_u8(gather_indices[picks]), vdup_n_u8(0x80)));
    }

    // Byte 0 of `previous`, then the bytes of `bytes`.
    static vec after(vec previous, vec bytes) {
        return vextq_u8(vdupq_laneq_u8(previous, 0), bytes, 15);
    }

    // Bit i set where byte i of the two is the same, for the low 8.
    static unsigned equal8(vec a, vec b) {
        constexpr std::uint8_t weights[8] = {1, 2, 4, 8, 16, 32, 64, 128};
        return vaddv_u8(vand_u8(vget_low_u8(vceqq_u8(a, b)), vld1_u8(weights)));
    }

    static vec broadcast(std::uint8_t byte) { return vdupq_n_u8(byte); }

    // Byte `at` of `bytes`, in every byte.
    static vec broadcast_byte(vec bytes, unsigned at) {
        return vqtbl1q_u8(bytes, vdupq_n_u8(static_cast<std::uint8_t>(at)));
    }

    static std::uint8_t first_byte(vec bytes) { return vgetq_lane_u8(bytes, 0); }

    // Bit i set where byte i of `x` has its top bit set.
    static std::uint64_t movemask(uint8x16_t x) {
        constexpr std::uint8_t weights[16] = {1, 2, 4, 8, 16, 32, 64, 128,
                                              1, 2, 4, 8, 16, 32, 64, 128};
        const uint8x16_t picked = vandq_u8(vcltzq_s8(vreinterpretq_s8_u8(x)), vld1q_u8(weights));
        return vaddv_u8(vget_low_u8(picked)) | std::uint64_t{vaddv_u8(vget_high_u8(picked))} << 8;
    }
};

// The upper half is two 64-byte tables: one four-register lookup gives the
// bytes of the first (zero for the rest), a second fills in those of the
// other. A byte below 0x80 keeps its value, but for the tilde on the way to DOS.
template <direction D>
translated neon_loop(const std::uint8_t *in, std::uint8_t *out, std::size_t n,
                     journal_writer *journal) {
    const byte_map &map = map_for(D);
    const uint8x16x4_t first = vld1q_u8_x4(map.data() + 128);
    const uint8x16x4_t second = vld1q_u8_x4(map.data() + 192);
    const uint8x16_t top = vdupq_n_u8(0x80), sixty_four = vdupq_n_u8(64);
    // The journal's counters in a local: stores through its byte pointers
    // could otherwise alias them.
    journal_writer local = journal ? *journal : journal_writer{};
    if (journal)
        std::fill_n(local.lost_at, journal_words(n), 0);
    uint8x16_t differ = vdupq_n_u8(0);

    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const uint8x16_t x = vld1q_u8(in + i);
        const uint8x16_t index = vsubq_u8(x, top); // 0-127 for the upper half
        const uint8x16_t upper =
            vqtbx4q_u8(vqtbl4q_u8(first, index), second, vsubq_u8(index, sixty_four));
        const uint8x16_t high = vcgeq_u8(x, top);
        uint8x16_t y = vbslq_u8(high, upper, x);
        if constexpr (D == direction::to_dos)
            y = vbslq_u8(vceqq_u8(x, vdupq_n_u8('~')), vdupq_n_u8(0xF7), y);
        vst1q_u8(out + i, y);
        differ = vorrq_u8(differ, veorq_u8(x, y));
        if (journal) {
            // Destroyed: from the upper half into the lower, or the plus-minus sign.
            uint8x16_t gone = vandq_u8(high, vcltq_u8(y, top));
            if constexpr (D == direction::to_dos)
                gone = vorrq_u8(gone, vceqq_u8(x, vdupq_n_u8(to_dos_destroyed_upper)));
            const std::uint64_t mask = neon_simd::movemask(gone);
            local.lost_at[i / 64] |= mask << (i % 64);
            if (mask) {
                // From a copy: translating in place has overwritten `in` already.
                std::uint8_t was[16];
                vst1q_u8(was, x);
                note_gathered<neon_simd, 16>(local, was, mask);
            }
        }
    }
    bool changed = vmaxvq_u8(differ) != 0;
    if (!journal)
        return {0, 0, portable_part(in, out, i, n, D, nullptr) || changed};
    changed |= portable_part(in, out, i, n, D, &local);
    *journal = local;
    return journal->finish(changed);
}

translated translate_neon(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction d,
                          journal_writer *journal) {
    if (d == direction::to_dos)
        return neon_loop<direction::to_dos>(in, out, n, journal);
    return neon_loop<direction::to_windows>(in, out, n, journal);
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
#ifdef __aarch64__
        found.all[found.count++] = {"neon", translate_neon}; // every ARM64 processor has it
#endif
        return found;
    }();
    return {kernels.all.data(), kernels.count};
}

namespace {

// How fast a kernel is, for the cap: the one chosen is the fastest the
// processor runs that is no faster than the cap.
constexpr int speed(std::string_view name) {
    if (name == "portable")
        return 0;
    if (name == "avx2" || name == "neon")
        return 1;
    return 2;
}

#ifdef GRKPAGE_KERNEL
constexpr int cap = speed(GRKPAGE_KERNEL);
#else
constexpr int cap = 2;
#endif

} // namespace

const kernel &chosen_kernel() {
    static const kernel &chosen = []() -> const kernel & {
        const kernel *best = &supported_kernels().front();
        for (const kernel &k : supported_kernels())
            if (speed(k.name) <= cap)
                best = &k;
        return *best;
    }();
    return chosen;
}

} // namespace codepage
