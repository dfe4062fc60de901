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
        if (bit_count(gone) > 8)
            note_word(local, was, gone);
        else
            note_piece(local, was, gone);
    }
    const __m128i zero = _mm_setzero_si128();
    const bool changed = _mm_movemask_epi8(_mm_cmpeq_epi8(differ, zero)) != 0xFFFF;
    return finish_vectors(in, out, i, n, D, journal, local, changed);
}

} // namespace

namespace {

// For each 8-bit mask of slots, a byte shuffle: for a set slot j, the place
// of its byte among those set (how many set bits come before j), plus `from`;
// 0x80 (a zero) for the others, unless `every`.
constexpr std::array<std::uint64_t, 256> shuffles(unsigned from, bool every) {
    std::array<std::uint64_t, 256> table{};
    for (unsigned mask = 0; mask < 256; ++mask)
        for (unsigned j = 0, before = 0; j < 8; ++j) {
            const bool set = mask >> j & 1;
            const unsigned place = set || every ? before + from - !set : 0x80;
            table[mask] |= std::uint64_t{place} << (8 * j);
            before += set;
        }
    return table;
}

// Slot j of a dense run takes the byte at this place in a window that begins
// one before the next original: its own original if it is set (fresh), the
// last one taken before it if not (a repeat).
constexpr auto own_or_before = shuffles(1, true);
// Place p of a word takes the byte at this place among the destroyed ones.
constexpr auto among_destroyed = shuffles(0, false);
// 0xFF for each set slot.
constexpr auto byte_masks = [] {
    std::array<std::uint64_t, 256> table{};
    for (unsigned mask = 0; mask < 256; ++mask)
        for (unsigned j = 0; j < 8; ++j)
            table[mask] |= std::uint64_t{mask >> j & 1 ? 0xFFu : 0u} << (8 * j);
    return table;
}();

// How many bits an 8-bit mask has set.
constexpr auto set_bits = [] {
    std::array<std::uint8_t, 256> table{};
    for (unsigned mask = 0; mask < 256; ++mask)
        table[mask] = static_cast<std::uint8_t>(std::popcount(mask));
    return table;
}();

// 16 bytes at `at` of `bytes`, as zeros where they fall outside.
[[gnu::always_inline]] GRKPAGE_SSSE3 inline __m128i window(std::span<const std::uint8_t> bytes,
                                                           std::ptrdiff_t at) {
    if (at >= 0 && static_cast<std::size_t>(at) + 16 <= bytes.size())
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes.data() + at));
    alignas(16) std::uint8_t copy[16] = {};
    for (std::ptrdiff_t k = 0; k < 16; ++k)
        if (at + k >= 0 && static_cast<std::size_t>(at + k) < bytes.size())
            copy[k] = bytes[static_cast<std::size_t>(at + k)];
    return _mm_load_si128(reinterpret_cast<const __m128i *>(copy));
}

GRKPAGE_SSSE3 inline __m128i loaded(const std::uint64_t &shuffle) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(&shuffle));
}

} // namespace

// A word at a time, 8 bytes to a shuffle: the destroyed bytes side by side,
// each fresh one from the originals and each repeat the last original taken
// before it, then each where it goes in the word, the other bytes kept.
GRKPAGE_SSSE3 void place_ssse3(std::uint8_t *bytes, std::size_t n, const std::uint64_t *lost_at,
                               placing &from) {
    for (std::size_t w = 0; w < journal_words(n); ++w) {
        const std::uint64_t gone = lost_at[w];
        if (!gone)
            continue;
        const unsigned count = bit_count(gone);
        const std::uint64_t fresh = first_bits(count) & ~from.repeat_bits(count);
        alignas(16) std::uint8_t dense[64 + 16];
        for (unsigned g = 0; 8 * g < count; ++g) {
            const unsigned set = fresh >> (8 * g) & 0xFF;
            const __m128i near = window(from.originals, static_cast<std::ptrdiff_t>(from.next) - 1);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(dense + 8 * g),
                             _mm_shuffle_epi8(near, loaded(own_or_before[set])));
            from.next += set_bits[set];
        }
        // A short last word through a copy, so that every load and store is whole.
        const std::size_t length = std::min<std::size_t>(64, n - 64 * w);
        alignas(16) std::uint8_t copy[64];
        std::uint8_t *const word = length == 64 ? bytes + 64 * w : copy;
        if (length < 64)
            std::copy_n(bytes + 64 * w, length, copy);
        unsigned before = 0;
        for (unsigned g = 0; g < 8; ++g) {
            const unsigned set = gone >> (8 * g) & 0xFF;
            if (!set)
                continue;
            const __m128i taken =
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(dense + before)),
                                 loaded(among_destroyed[set]));
            const __m128i kept = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(word + 8 * g));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(word + 8 * g),
                             _mm_or_si128(_mm_andnot_si128(loaded(byte_masks[set]), kept), taken));
            before += set_bits[set];
        }
        if (length < 64)
            std::copy_n(copy, length, bytes + 64 * w);
    }
}

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
