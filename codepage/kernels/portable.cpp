// The portable kernel: one table lookup per byte, 8 bytes gathered into a
// word, and the journal's masks built a word at a time.
#include "codepage/identify/count_vectors.hpp"
#include "common.hpp"

#include <algorithm>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <cstring>

namespace codepage {

namespace {

// 8 bytes side by side in a word, byte i of memory at bits 8i to 8i + 7.
constexpr bool bytes_in_order = std::endian::native == std::endian::little;
constexpr std::uint64_t every_byte(std::uint8_t b) {
    return ~std::uint64_t{0} / 255 * b;
}

// The top bit of each byte of `word`, as 8 bits in order.
constexpr unsigned top_bits(std::uint64_t word) {
    return static_cast<unsigned>(((word >> 7) & every_byte(1)) * 0x0102040810204080 >> 56);
}

// The top bit of each byte of `word` set where that byte is 0, the rest clear.
constexpr std::uint64_t zero_bytes(std::uint64_t word) {
    return ~(((word & every_byte(0x7F)) + every_byte(0x7F)) | word) & every_byte(0x80);
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
        gone |= zero_bytes(x ^ every_byte(to_dos_destroyed_upper));
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
        if constexpr (Journal) {
            journal->lost_at[i / 64] |= gone << (i % 64);
            note_piece(*journal, was, gone);
        }
        i += length;
    }
    return changed != 0;
}

} // namespace

bool portable_part(const std::uint8_t *in, std::uint8_t *out, std::size_t i, std::size_t n,
                   direction d, journal_writer *journal) {
    return in_direction(d, [&]<direction D>() {
        return journal ? portable_loop<D, true>(in, out, i, n, journal)
                       : portable_loop<D, false>(in, out, i, n, nullptr);
    });
}

namespace {

// Bit p set where byte p of the 64 at `p` is `value`: four vector compares
// where the processor always has them (SSE2 on x86-64), eight word operations
// elsewhere.
std::uint64_t equal_bits(const std::uint8_t *p, std::uint8_t value) {
    std::uint64_t bits = 0;
#ifdef __SSE2__
    const __m128i v = _mm_set1_epi8(static_cast<char>(value));
    for (int k = 0; k < 4; ++k) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * k));
        bits |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, v)))}
                << 16 * k;
    }
#else
    if constexpr (bytes_in_order)
        for (int k = 0; k < 8; ++k) {
            std::uint64_t x;
            std::memcpy(&x, p + 8 * k, 8);
            bits |= std::uint64_t{top_bits(zero_bytes(x ^ every_byte(value)))} << 8 * k;
        }
    else
        for (int k = 0; k < 64; ++k)
            bits |= std::uint64_t{p[k] == value} << k;
#endif
    return bits;
}

} // namespace

std::uint8_t classes_portable(const std::uint8_t *bytes, std::size_t n, std::uint8_t classes,
                              const std::uint64_t *lost_at, std::uint64_t *masks) {
    const class_list list(classes);
    std::uint8_t held = 0;
    for (std::size_t w = 0; w < journal_words(n); ++w) {
        const std::uint64_t gone = lost_at ? lost_at[w] : 0;
        if (!masks && !gone)
            continue;
        std::uint8_t padded[64];
        const std::uint8_t *const p = whole_word(bytes, n, w, padded);
        std::uint64_t all = 0;
        for (unsigned k = 0; k < list.count; ++k) {
            const std::uint64_t bits = equal_bits(p, journal_classes[list.which[k]]);
            all |= bits;
            held |= static_cast<std::uint8_t>((bits & gone) != 0) << list.which[k];
        }
        if (masks)
            masks[w] =
                all & first_bits(static_cast<unsigned>(std::min<std::size_t>(64, n - 64 * w)));
    }
    return held;
}

// Without a branch, as runs of frames and lone symbols mix without a
// pattern, and without a chain from one byte to the next: a repeat is the
// last original taken (the one before `next`; the first destroyed byte is
// never a repeat), any other destroyed byte the next original.
void place_portable(std::uint8_t *bytes, std::size_t n, const std::uint64_t *lost_at,
                    placing &from) {
    const std::uint8_t *const originals = from.originals.data();
    std::size_t next = from.next;
    for (std::size_t word = 0; word < journal_words(n); ++word) {
        std::uint64_t gone = lost_at[word];
        if (!gone)
            continue;
        const std::uint64_t repeat = from.repeat_bits(bit_count(gone));
        for (unsigned k = 0; gone; gone &= gone - 1, ++k) {
            const std::size_t again = repeat >> k & 1;
            bytes[word * 64 + static_cast<std::size_t>(std::countr_zero(gone))] =
                originals[next - again];
            next += 1 - again;
        }
    }
    from.next = next;
}

translated translate_portable(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction d,
                              journal_writer *journal) {
    if (!journal)
        return {0, 0, portable_part(in, out, 0, n, d, nullptr)};
    std::fill_n(journal->lost_at, journal_words(n), 0);
    return journal->finish(portable_part(in, out, 0, n, d, journal));
}

std::uint64_t gather_portable(std::uint64_t x, std::uint64_t mask) {
    std::uint64_t bits = 0;
    for (unsigned k = 0; mask; mask &= mask - 1, ++k)
        bits |= (x >> std::countr_zero(mask) & 1) << k;
    return bits;
}

std::uint64_t scatter_portable(std::uint64_t x, std::uint64_t mask) {
    std::uint64_t bits = 0;
    for (; mask; mask &= mask - 1, x >>= 1)
        bits |= (x & 1) ? mask & (~mask + 1) : 0;
    return bits;
}

std::size_t count_portable(block_counts &c, const std::uint8_t *p, std::size_t n,
                           count_needs needs) {
    typedef std::uint8_t vec16 __attribute__((vector_size(16)));
    return identifier::count_needed<vec16>(c, p, n, needs);
}

} // namespace codepage
