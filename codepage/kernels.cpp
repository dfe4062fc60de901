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
            if constexpr (Journal)
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

[[maybe_unused]] constexpr std::uint64_t first_bits(unsigned count) {
    return count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
}

// Notes the destroyed bytes among the bytes at `was` picked by `gone` (up to
// 64), given `same_as_before`, bit p set where byte p equals byte p - 1, from
// one vector compare. Destroyed bytes come in runs (frames), and within a run
// each one's previous destroyed byte is the one just before it, so the vector
// compare gives their repeat bits; only the first of each run is compared with
// the last destroyed byte before it, one at a time. Only the bytes that do not
// repeat, few in a frame, are kept one at a time, each one's place among the
// destroyed bytes giving the repeat bits in the order they are stored.
[[maybe_unused]] inline void note_runs(journal_writer &journal, const std::uint8_t *was,
                                       std::uint64_t gone, std::uint64_t same_as_before) {
    std::uint64_t repeat = gone & (gone << 1) & same_as_before;
    for (std::uint64_t starts = gone & ~(gone << 1); starts; starts &= starts - 1) {
        const auto at = static_cast<unsigned>(__builtin_ctzll(starts));
        const std::uint64_t before = gone & ((std::uint64_t{1} << at) - 1); // at < 64
        const std::uint8_t previous = before ? was[63 - __builtin_clzll(before)] : journal.previous;
        repeat |= std::uint64_t{was[at] == previous} << at;
    }
    std::uint64_t fresh_places = 0;
    std::size_t kept = journal.kept;
    for (std::uint64_t fresh = gone & ~repeat; fresh; fresh &= fresh - 1) {
        const auto at = static_cast<unsigned>(__builtin_ctzll(fresh));
        journal.originals[kept++] = was[at];
        fresh_places |= std::uint64_t{1}
                        << __builtin_popcountll(gone & ((std::uint64_t{1} << at) - 1));
    }
    journal.kept = kept;
    const auto count = static_cast<unsigned>(__builtin_popcountll(gone));
    journal.previous = was[63 - __builtin_clzll(gone)];
    journal.note_repeats(~fresh_places & first_bits(count), count);
}

// After a vector kernel's loop: the bytes from `i` on, too few for a vector,
// one lookup each, and the journal's counters, kept in `local` meanwhile, back
// in place.
[[maybe_unused]] translated finish_vectors(const std::uint8_t *in, std::uint8_t *out, std::size_t i,
                                           std::size_t n, direction d, journal_writer *journal,
                                           journal_writer &local, bool changed) {
    if (!journal)
        return {0, 0, portable_part(in, out, i, n, d, nullptr) || changed};
    changed |= portable_part(in, out, i, n, d, &local);
    *journal = local;
    return journal->finish(changed);
}

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

// The upper half is a 128-byte table: eight rows of 16 picked by bits 4-6 of
// the byte and looked up by its low nibble with a byte shuffle. A byte below
// 0x80 keeps its value, but for the tilde on the way to DOS.
template <direction D>
GRKPAGE_AVX2 inline __m256i avx2_translate(__m256i x, const __m256i (&rows)[8]) {
    const __m256i lo = _mm256_and_si256(x, _mm256_set1_epi8(0x0F));
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
    const __m256i y = _mm256_blendv_epi8(x, upper, x);
    if constexpr (D == direction::to_dos)
        return _mm256_blendv_epi8(y, _mm256_set1_epi8(static_cast<char>(0xF7)),
                                  _mm256_cmpeq_epi8(x, _mm256_set1_epi8('~')));
    return y;
}

// Which of the 32 bytes of `x`, translated to `y`, are destroyed: those from
// the upper half into the lower, and the plus-minus sign going to DOS.
template <direction D> GRKPAGE_AVX2 inline std::uint64_t avx2_destroyed(__m256i x, __m256i y) {
    __m256i gone = _mm256_andnot_si256(y, x);
    if constexpr (D == direction::to_dos)
        gone = _mm256_or_si256(
            gone,
            _mm256_cmpeq_epi8(x, _mm256_set1_epi8(static_cast<char>(to_dos_destroyed_upper))));
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(gone));
}

// Bit i set where byte i of `x` equals the byte before it, the last of
// `before` for byte 0.
GRKPAGE_AVX2 inline std::uint64_t avx2_same_as_before(__m256i x, __m256i before) {
    const __m256i one_back = _mm256_alignr_epi8(x, _mm256_permute2x128_si256(x, before, 0x03), 15);
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, one_back)));
}

// 64 bytes at a time, two vectors, so that the journal of a form, whose every
// vector holds a frame, is noted once per word of positions.
template <direction D>
GRKPAGE_AVX2 translated avx2_loop(const std::uint8_t *in, std::uint8_t *out, std::size_t n,
                                  journal_writer *journal) {
    const byte_map &map = map_for(D);
    __m256i rows[8];
    for (int k = 0; k < 8; ++k)
        rows[k] = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(map.data() + 128 + 16 * k)));
    // The journal's counters in a local: stores through its byte pointers
    // could otherwise alias them.
    journal_writer local = journal ? *journal : journal_writer{};
    if (journal)
        std::fill_n(local.lost_at, journal_words(n), 0);
    __m256i differ = _mm256_setzero_si256();

    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m256i x0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + i));
        const __m256i x1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + i + 32));
        const __m256i y0 = avx2_translate<D>(x0, rows);
        const __m256i y1 = avx2_translate<D>(x1, rows);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), y0);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i + 32), y1);
        differ = _mm256_or_si256(
            differ, _mm256_or_si256(_mm256_xor_si256(x0, y0), _mm256_xor_si256(x1, y1)));
        if (!journal)
            continue;
        const std::uint64_t gone = avx2_destroyed<D>(x0, y0) | avx2_destroyed<D>(x1, y1) << 32;
        local.lost_at[i / 64] = gone; // i is a multiple of 64
        if (gone) {
            // From a copy: translating in place has overwritten `in` already.
            alignas(32) std::uint8_t was[64];
            _mm256_store_si256(reinterpret_cast<__m256i *>(was), x0);
            _mm256_store_si256(reinterpret_cast<__m256i *>(was + 32), x1);
            const std::uint64_t same =
                avx2_same_as_before(x0, _mm256_setzero_si256()) | avx2_same_as_before(x1, x0) << 32;
            note_runs(local, was, gone, same);
        }
    }
    return finish_vectors(in, out, i, n, D, journal, local, !_mm256_testz_si256(differ, differ));
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

// Bit i set where byte i of `x` has its top bit set.
std::uint64_t movemask(uint8x16_t x) {
    constexpr std::uint8_t weights[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t picked = vandq_u8(vcltzq_s8(vreinterpretq_s8_u8(x)), vld1q_u8(weights));
    return vaddv_u8(vget_low_u8(picked)) | std::uint64_t{vaddv_u8(vget_high_u8(picked))} << 8;
}

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
            const std::uint64_t mask = movemask(gone);
            local.lost_at[i / 64] |= mask << (i % 64);
            if (mask) {
                // From a copy: translating in place has overwritten `in` already.
                std::uint8_t was[16];
                vst1q_u8(was, x);
                // Each byte beside the one before it: 0, then bytes 0-14.
                const uint8x16_t one_back = vextq_u8(vdupq_n_u8(0), x, 15);
                note_runs(local, was, mask, movemask(vceqq_u8(x, one_back)));
            }
        }
    }
    return finish_vectors(in, out, i, n, D, journal, local, vmaxvq_u8(differ) != 0);
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
