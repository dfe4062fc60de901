// The SSSE3 kernel, for x86 processors without AVX2: eight 16-byte shuffles
// and a select tree per 16 bytes, 64 bytes (four vectors) per step, and the
// journal noted once per word of positions.
#include "common.hpp"

#ifdef GRKPAGE_X86
#include <algorithm>

namespace codepage {

#define GRKPAGE_SSSE3 __attribute__((target("ssse3")))

namespace {

// The bytes of `b` where `pick` is set, of `a` elsewhere.
GRKPAGE_SSSE3 inline __m128i select(__m128i a, __m128i b, __m128i pick) {
    return _mm_or_si128(_mm_andnot_si128(pick, a), _mm_and_si128(pick, b));
}

// The upper half is a 128-byte table of eight rows of 16, each looked up by
// the low nibble with a byte shuffle, and `rows` holds each row XORed with
// the one before it. Byte b of the upper half is in row r = (b - 0x80) / 16;
// its index less 16k looks up row k for every k up to r and, once below zero,
// gives 0 (a shuffle's index with its top bit set) for every k past r: the
// eight lookups XORed together are row r's byte, with no select between them.
// A byte below 0x80 keeps its value, but for the tilde on the way to DOS.
template <direction D>
GRKPAGE_SSSE3 inline __m128i ssse3_translate(__m128i x, const __m128i (&rows)[8]) {
    __m128i index = _mm_xor_si128(x, _mm_set1_epi8(static_cast<char>(0x80)));
    __m128i upper = _mm_shuffle_epi8(rows[0], index);
    for (int k = 1; k < 8; ++k) {
        index = _mm_sub_epi8(index, _mm_set1_epi8(16));
        upper = _mm_xor_si128(upper, _mm_shuffle_epi8(rows[k], index));
    }
    const __m128i high = _mm_cmplt_epi8(x, _mm_setzero_si128());
    const __m128i y = select(x, upper, high);
    if constexpr (D == direction::to_dos)
        return select(y, _mm_set1_epi8(static_cast<char>(0xF7)),
                      _mm_cmpeq_epi8(x, _mm_set1_epi8('~')));
    return y;
}

// Which of the 16 bytes of `x`, translated to `y`, are destroyed: those from
// the upper half into the lower, and the plus-minus sign going to DOS.
template <direction D> GRKPAGE_SSSE3 inline std::uint64_t ssse3_destroyed(__m128i x, __m128i y) {
    __m128i gone = _mm_andnot_si128(y, x);
    if constexpr (D == direction::to_dos)
        gone = _mm_or_si128(
            gone, _mm_cmpeq_epi8(x, _mm_set1_epi8(static_cast<char>(to_dos_destroyed_upper))));
    return static_cast<std::uint16_t>(_mm_movemask_epi8(gone));
}

template <direction D>
GRKPAGE_SSSE3 translated ssse3_loop(const std::uint8_t *in, std::uint8_t *out, std::size_t n,
                                    journal_writer *journal) {
    const byte_map &map = map_for(D);
    __m128i rows[8];
    for (int k = 0; k < 8; ++k)
        rows[k] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(map.data() + 128 + 16 * k));
    for (int k = 7; k > 0; --k)
        rows[k] = _mm_xor_si128(rows[k], rows[k - 1]);
    // The journal's counters in a local: stores through its byte pointers
    // could otherwise alias them.
    journal_writer local = journal ? *journal : journal_writer{};
    if (journal)
        std::fill_n(local.lost_at, journal_words(n), 0);
    __m128i differ = _mm_setzero_si128();

    std::size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        __m128i x[4], y[4];
        for (int k = 0; k < 4; ++k) {
            x[k] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i + 16 * k));
            y[k] = ssse3_translate<D>(x[k], rows);
        }
        std::uint64_t gone = 0;
        for (int k = 0; k < 4; ++k) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i + 16 * k), y[k]);
            differ = _mm_or_si128(differ, _mm_xor_si128(x[k], y[k]));
            gone |= ssse3_destroyed<D>(x[k], y[k]) << 16 * k;
        }
        if (!journal)
            continue;
        local.lost_at[i / 64] = gone; // i is a multiple of 64
        if (!gone)
            continue;
        // From a copy: translating in place has overwritten `in` already.
        alignas(16) std::uint8_t was[64];
        for (int k = 0; k < 4; ++k)
            _mm_store_si128(reinterpret_cast<__m128i *>(was + 16 * k), x[k]);
        note_piece(local, was, gone);
    }
    const __m128i zero = _mm_setzero_si128();
    const bool changed = _mm_movemask_epi8(_mm_cmpeq_epi8(differ, zero)) != 0xFFFF;
    return finish_vectors(in, out, i, n, D, journal, local, changed);
}

} // namespace

bool ssse3_supported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3");
}

translated translate_ssse3(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction d,
                           journal_writer *journal) {
    return in_direction(d, [&]<direction D>() { return ssse3_loop<D>(in, out, n, journal); });
}

} // namespace codepage
#endif
