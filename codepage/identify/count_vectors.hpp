// The identifier's counts of block_counts, a vector of V's size at a time,
// with GCC's vector extensions. Each kernel family instantiates it at its own
// width, with its own target, in its own file: the kernels' table chooses.
#pragma once

#include "codepage/identify.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace codepage::identifier {

template <class V> struct lanes {
    V q0{}, q1{}, q2{}, q3{}, controls{}, pairs{}, touches{}, top_pairs{}, low_pairs{}, breaks{},
        holds{}, zeros_even{}, zeros_odd{}, alphabetic_even{}, alphabetic_odd{}, punctuation_even{},
        punctuation_odd{}, nul_units{};
};

// A lane's count, which went down by one for each true compare (-1): at most
// 255, so the byte negated is the count. Summed a word at a time, in a few
// operations on the word.
template <class V> [[gnu::always_inline]] inline std::uint32_t total(const V &v) {
    const V counts = V{} - v;
    std::uint64_t words[sizeof(V) / 8];
    __builtin_memcpy(words, &counts, sizeof(V));
    std::uint64_t n = 0;
    for (std::uint64_t w : words) {
        w = (w & 0x00FF00FF00FF00FFull) + ((w >> 8) & 0x00FF00FF00FF00FFull);
        w = (w & 0x0000FFFF0000FFFFull) + ((w >> 16) & 0x0000FFFF0000FFFFull);
        n += (w & 0xFFFFFFFFull) + (w >> 32);
    }
    return static_cast<std::uint32_t>(n);
}

// Which of the bits of `holds` any lane has.
template <class V> [[gnu::always_inline]] inline std::uint8_t any(const V &v) {
    std::uint8_t bits = 0;
    for (std::size_t i = 0; i < sizeof(V); ++i)
        bits |= v[i];
    return bits;
}

template <class V, bool utf8, bool utf16>
[[gnu::always_inline]] inline void add_lanes(block_counts &c, const lanes<V> &l) {
    c.quarters[0] += total(l.q0);
    c.quarters[1] += total(l.q1);
    c.quarters[2] += total(l.q2);
    c.quarters[3] += total(l.q3);
    c.controls += total(l.controls);
    c.utf8_pairs += total(l.pairs);
    c.latin_touches += total(l.touches);
    c.top_pairs += total(l.top_pairs);
    c.low_pairs += total(l.low_pairs);
    c.holds |= any(l.holds);
    if constexpr (utf8)
        c.utf8_breaks += total(l.breaks);
    if constexpr (!utf16)
        return;
    c.zeros[0] += total(l.zeros_even);
    c.zeros[1] += total(l.zeros_odd);
    c.alphabetic[0] += total(l.alphabetic_even);
    c.alphabetic[1] += total(l.alphabetic_odd);
    c.punctuation[0] += total(l.punctuation_even);
    c.punctuation[1] += total(l.punctuation_odd);
    c.nul_units += total(l.nul_units);
}

// Counts the first n / N * N bytes at p, from an even offset of the file,
// with the three bytes before p readable (UTF-8's structure looks back at
// them); returns how many it counted. Exactly what counts.cpp's count_byte
// counts, a byte at a time.
template <class V, bool utf8, bool utf16>
[[gnu::always_inline]] inline std::size_t count_vectors(block_counts &c, const std::uint8_t *p,
                                                        std::size_t n) {
    using v = V;
    constexpr std::size_t N = sizeof(V);
    typedef std::uint16_t units __attribute__((vector_size(N)));
    v even_lanes{};
    for (std::size_t i = 0; i < N; ++i)
        even_lanes[i] = i % 2 == 0 ? 0xFF : 0;
    const std::size_t whole = n / N * N;
    std::size_t done = 0;
    while (done < whole) {
        lanes<V> l;
        const std::size_t stop = std::min(whole, done + 255 * N);
        for (; done < stop; done += N) {
            v x, x1;
            __builtin_memcpy(&x, p + done, N);
            __builtin_memcpy(&x1, p + done - 1, N);
            const v quarter = x >> 5;
            l.q0 += (v)(quarter == 4);
            l.q1 += (v)(quarter == 5);
            l.q2 += (v)(quarter == 6);
            l.q3 += (v)(quarter == 7);
            const v nul = (v)(x == 0);
            l.controls +=
                (v)(x < 9) | (v)((v)(x - 0x0E) < 12) | (v)((v)(x - 0x1C) < 4) | (v)(x == 0x7F);
            l.holds |= (nul & block_counts::nul) |
                       (((v)(x == 0xD2) | (v)(x == 0xFF)) & block_counts::hole) |
                       ((v)(x == 0xAA) & block_counts::aa) | ((v)(x == 0xAE) & block_counts::ae);
            const v continuation = (v)((v)(x & 0xC0) == 0x80);
            l.pairs += continuation & (v)((v)(x1 - 0xC2) < 0x1E);
            l.touches += (v)((v)((x | 0x20) - 'a') < 26) & (v)(x1 >= 0x80);
            l.top_pairs += (v)(x >= 0xE0) & (v)(x1 >= 0xE0);
            l.low_pairs += continuation & (v)((v)(x1 & 0xC0) == 0x80);
            if constexpr (utf8) {
                v x2, x3;
                __builtin_memcpy(&x2, p + done - 2, N);
                __builtin_memcpy(&x3, p + done - 3, N);
                const v called = (v)(x1 >= 0xC0) | (v)(x2 >= 0xE0) | (v)(x3 >= 0xF0);
                l.breaks += continuation ^ called;
                const v never_after =
                    ((v)(x1 == 0xE0) & (v)(x < 0xA0)) | ((v)(x1 == 0xED) & (v)(x >= 0xA0)) |
                    ((v)(x1 == 0xF0) & (v)(x < 0x90)) | ((v)(x1 == 0xF4) & (v)(x >= 0x90));
                l.holds |=
                    ((v)((v)(x - 0xC0) < 2) | (v)(x >= 0xF5) | (continuation & never_after)) &
                    block_counts::never_utf8;
            }
            if constexpr (!utf16)
                continue;
            const v alphabetic = (v)(x < 7), punctuation = (v)((v)(x - 0x1E) < 8);
            l.zeros_even += nul & even_lanes;
            l.zeros_odd += nul & ~even_lanes;
            l.alphabetic_even += alphabetic & even_lanes;
            l.alphabetic_odd += alphabetic & ~even_lanes;
            l.punctuation_even += punctuation & even_lanes;
            l.punctuation_odd += punctuation & ~even_lanes;
            // A pair of zero bytes, at an even offset: both bytes of a 16-bit unit.
            l.nul_units += (v)((units)x == 0) & even_lanes;
        }
        add_lanes<V, utf8, utf16>(c, l);
    }
    return done;
}

// count_vectors for what the file still needs counted.
template <class V>
[[gnu::always_inline]] inline std::size_t count_needed(block_counts &c, const std::uint8_t *p,
                                                       std::size_t n, count_needs needs) {
    if (needs.utf8)
        return needs.utf16 ? count_vectors<V, true, true>(c, p, n)
                           : count_vectors<V, true, false>(c, p, n);
    return needs.utf16 ? count_vectors<V, false, true>(c, p, n)
                       : count_vectors<V, false, false>(c, p, n);
}

} // namespace codepage::identifier
