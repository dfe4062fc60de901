// The AVX2 kernel: eight 16-byte shuffles and a blend tree per 32 bytes, 64
// bytes (two vectors) per step, and the journal noted once per word of
// positions.
#include "codepage/identify/count_vectors.hpp"
#include "common.hpp"

#ifdef GRKPAGE_X86
#include <algorithm>

namespace codepage {

#define GRKPAGE_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))

namespace {

// The upper half is a 128-byte table of eight rows of 16, each looked up by
// the low nibble with a byte shuffle, and `rows` holds each row XORed with
// the one before it: the lookups of a byte's index less 16k, for k = 0 to 7,
// XORed together give its row's byte (see the SSSE3 kernel). A byte below
// 0x80 keeps its value, but for the tilde on the way to DOS.
template <direction D>
GRKPAGE_AVX2 inline __m256i avx2_translate(__m256i x, const __m256i (&rows)[8]) {
    __m256i index = _mm256_xor_si256(x, _mm256_set1_epi8(static_cast<char>(0x80)));
    __m256i upper = _mm256_shuffle_epi8(rows[0], index);
    for (int k = 1; k < 8; ++k) {
        index = _mm256_sub_epi8(index, _mm256_set1_epi8(16));
        upper = _mm256_xor_si256(upper, _mm256_shuffle_epi8(rows[k], index));
    }
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

template <direction D>
GRKPAGE_AVX2 translated avx2_loop(const std::uint8_t *in, std::uint8_t *out, std::size_t n,
                                  journal_writer *journal) {
    const byte_map &map = map_for(D);
    __m256i rows[8];
    for (int k = 0; k < 8; ++k)
        rows[k] = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(map.data() + 128 + 16 * k)));
    for (int k = 7; k > 0; --k)
        rows[k] = _mm256_xor_si256(rows[k], rows[k - 1]);
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
        if (!gone)
            continue;
        // From a copy: translating in place has overwritten `in` already.
        alignas(32) std::uint8_t was[64];
        _mm256_store_si256(reinterpret_cast<__m256i *>(was), x0);
        _mm256_store_si256(reinterpret_cast<__m256i *>(was + 32), x1);
        if (bit_count(gone) > 8)
            note_word(local, was, gone);
        else
            note_piece(local, was, gone);
    }
    return finish_vectors(in, out, i, n, D, journal, local, !_mm256_testz_si256(differ, differ));
}

} // namespace

GRKPAGE_AVX2 std::uint8_t classes_avx2(const std::uint8_t *bytes, std::size_t n,
                                       std::uint8_t classes, const std::uint64_t *lost_at,
                                       std::uint64_t *masks) {
    const class_list list(classes);
    __m256i values[std::size(journal_classes)];
    for (unsigned k = 0; k < list.count; ++k)
        values[k] = _mm256_set1_epi8(static_cast<char>(journal_classes[list.which[k]]));
    std::uint8_t held = 0;
    for (std::size_t w = 0; w < journal_words(n); ++w) {
        const std::uint64_t gone = lost_at ? lost_at[w] : 0;
        if (!masks && !gone)
            continue;
        std::uint8_t padded[64];
        const std::uint8_t *const p = whole_word(bytes, n, w, padded);
        const __m256i x0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
        const __m256i x1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32));
        std::uint64_t all = 0;
        for (unsigned k = 0; k < list.count; ++k) {
            const std::uint64_t bits =
                static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x0, values[k]))) |
                std::uint64_t{static_cast<std::uint32_t>(
                    _mm256_movemask_epi8(_mm256_cmpeq_epi8(x1, values[k])))}
                    << 32;
            all |= bits;
            held |= static_cast<std::uint8_t>((bits & gone) != 0) << list.which[k];
        }
        if (masks)
            masks[w] =
                all & first_bits(static_cast<unsigned>(std::min<std::size_t>(64, n - 64 * w)));
    }
    return held;
}

bool avx2_supported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") &&
           __builtin_cpu_supports("popcnt");
}

translated translate_avx2(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction d,
                          journal_writer *journal) {
    return in_direction(d, [&]<direction D>() { return avx2_loop<D>(in, out, n, journal); });
}

// BMI2's pext and pdep: the kernels that use them run only where the
// processor has BMI2.
std::uint64_t gather_bmi2(std::uint64_t x, std::uint64_t mask) {
    return bmi2_gather{}(x, mask);
}

std::uint64_t scatter_bmi2(std::uint64_t x, std::uint64_t mask) {
    return bmi2_scatter{}(x, mask);
}

GRKPAGE_AVX2 std::size_t count_avx2(block_counts &c, const std::uint8_t *p, std::size_t n,
                                    count_needs needs) {
    typedef std::uint8_t vec32 __attribute__((vector_size(32)));
    return identifier::count_needed<vec32>(c, p, n, needs);
}

} // namespace codepage
#endif
