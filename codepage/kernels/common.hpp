// What the translation kernels share: the tables as each direction reads
// them, word-at-a-time tricks, and noting a piece of the journal.
#pragma once

#include "codepage/kernels.hpp"
#include "codepage/tables.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <type_traits>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define GRKPAGE_X86 1
#endif

namespace codepage {

constexpr const byte_map &map_for(direction d) {
    switch (d) {
    case direction::to_dos:
        return to_dos_map;
    case direction::from_windows:
        return from_windows_map;
    case direction::from_dos:
        return from_dos_map;
    case direction::to_windows:
        break;
    }
    return to_windows_map;
}

// Calls loop.template operator()<D>() with the direction `d` as D.
template <class Loop> decltype(auto) in_direction(direction d, Loop loop) {
    switch (d) {
    case direction::to_dos:
        return loop.template operator()<direction::to_dos>();
    case direction::from_windows:
        return loop.template operator()<direction::from_windows>();
    case direction::from_dos:
        return loop.template operator()<direction::from_dos>();
    case direction::to_windows:
        break;
    }
    return loop.template operator()<direction::to_windows>();
}

constexpr const byte_map &destroys_for(direction d) {
    return d == direction::to_dos ? to_dos_destroys : to_windows_destroys;
}

constexpr std::uint64_t first_bits(unsigned count) {
    return count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
}

// The set bits of `x`, counted in a few word operations where the processor
// may have no instruction for it: the compiler's own fallback is a call.
constexpr unsigned bit_count(std::uint64_t x) {
#if defined(__aarch64__) || defined(__POPCNT__)
    return static_cast<unsigned>(std::popcount(x));
#else
    x -= (x >> 1) & 0x5555555555555555;
    x = (x & 0x3333333333333333) + ((x >> 2) & 0x3333333333333333);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0F;
    return static_cast<unsigned>((x * 0x0101010101010101) >> 56);
#endif
}

// Notes the destroyed bytes of a piece of up to 64 bytes at `was`, the next
// after those noted before: bit p of `gone` set where byte p is destroyed. A
// destroyed byte equal to the destroyed byte noted before it, however far
// back, costs a repeat bit and nothing more: a form's frames repeat, run after
// run and row after row. The others are kept. One at a time, without a branch
// on which it is: frames and lone symbols mix without a pattern.
[[gnu::always_inline]] inline void note_piece(journal_writer &journal, const std::uint8_t *was,
                                              std::uint64_t gone) {
    if (!gone)
        return;
    std::size_t kept = journal.kept;
    unsigned last = journal.last, count = 0;
    std::uint64_t repeats = 0;
    for (; gone; gone &= gone - 1, ++count) {
        const std::uint8_t b = was[std::countr_zero(gone)];
        const bool repeat = b == last;
        journal.originals[kept] = b; // kept < the bytes noted: in the room
        kept += !repeat;
        repeats |= std::uint64_t{repeat} << count;
        last = b;
    }
    journal.kept = kept;
    journal.last = last;
    journal.note_repeats(repeats, count);
}

// The classes a kernel's classes_fn is asked for, as places in journal_classes.
struct class_list {
    unsigned which[std::size(journal_classes)] = {};
    unsigned count = 0;
    explicit class_list(std::uint8_t classes) {
        for (unsigned c = 0; c < std::size(journal_classes); ++c)
            if (classes >> c & 1)
                which[count++] = c;
    }
};

// Word `w` of the `n` bytes at `bytes`, as 64 bytes: in place, or copied into
// `padded` with zeros after the end (no class is a 0) when fewer are left.
inline const std::uint8_t *whole_word(const std::uint8_t *bytes, std::size_t n, std::size_t w,
                                      std::uint8_t (&padded)[64]) {
    const std::size_t length = std::min<std::size_t>(64, n - 64 * w);
    if (length == 64)
        return bytes + 64 * w;
    std::fill(std::copy_n(bytes + 64 * w, length, padded), padded + 64, 0);
    return padded;
}

// Bytes [i, n) with the portable loop: what a vector kernel leaves over.
bool portable_part(const std::uint8_t *in, std::uint8_t *out, std::size_t i, std::size_t n,
                   direction d, journal_writer *journal);

// After a vector kernel's loop: the bytes from `i` on, too few for a vector,
// with the portable loop, and the journal's counters, kept in `local`
// meanwhile, back in place.
inline translated finish_vectors(const std::uint8_t *in, std::uint8_t *out, std::size_t i,
                                 std::size_t n, direction d, journal_writer *journal,
                                 journal_writer &local, bool changed) {
    if (!journal)
        return {0, 0, portable_part(in, out, i, n, d, nullptr) || changed};
    changed |= portable_part(in, out, i, n, d, &local);
    *journal = local;
    return journal->finish(changed);
}

#ifdef GRKPAGE_X86
// For each 8-bit mask, the byte shuffle that packs the bytes it selects to
// the front (0x80, a zero, after them).
inline constexpr auto left_pack = [] {
    std::array<std::uint64_t, 256> shuffles{};
    for (unsigned mask = 0; mask < 256; ++mask) {
        unsigned k = 0;
        for (unsigned b = 0; b < 8; ++b)
            if (mask >> b & 1)
                shuffles[mask] |= std::uint64_t{b} << (8 * k++);
        for (; k < 8; ++k)
            shuffles[mask] |= std::uint64_t{0x80} << (8 * k);
    }
    return shuffles;
}();

// The bytes of the 64 at `from` where `mask` is set, packed to `to`, 8 at a
// time (`to` has room for 8 past the last); returns how many.
__attribute__((target("ssse3"))) inline unsigned pack_bytes(const std::uint8_t *from,
                                                            std::uint64_t mask, std::uint8_t *to) {
    unsigned count = 0;
    for (unsigned g = 0; g < 8 && mask >> (8 * g); ++g) {
        const unsigned eight = mask >> (8 * g) & 0xFF;
        const __m128i x = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(from + 8 * g));
        const __m128i order = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(&left_pack[eight]));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(to + count), _mm_shuffle_epi8(x, order));
        count += bit_count(eight);
    }
    return count;
}

// note_piece for a word of 64 bytes with many destroyed: the destroyed bytes
// packed side by side, each compared with the one before it 16 at a time, and
// those that do not repeat packed again into the originals. The originals are
// written 8 bytes at a time: the room past them is that of the bytes still to
// come, 64 or more in a whole word.
__attribute__((target("ssse3"))) inline void
note_word(journal_writer &journal, const std::uint8_t *was, std::uint64_t gone) {
    alignas(16) std::uint8_t dense[1 + 64 + 16] = {}; // the last destroyed byte noted, then these
    dense[0] = static_cast<std::uint8_t>(journal.last);
    const unsigned count = pack_bytes(was, gone, dense + 1);
    std::uint64_t repeat = 0;
    for (unsigned v = 0; v < 4 && 16 * v < count; ++v) {
        const __m128i now = _mm_loadu_si128(reinterpret_cast<const __m128i *>(dense + 1 + 16 * v));
        const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i *>(dense + 16 * v));
        repeat |= std::uint64_t{static_cast<std::uint16_t>(
                      _mm_movemask_epi8(_mm_cmpeq_epi8(now, before)))}
                  << 16 * v;
    }
    repeat &= first_bits(count);
    if (journal.last == journal_writer::none)
        repeat &= ~std::uint64_t{1};
    journal.kept +=
        pack_bytes(dense + 1, first_bits(count) & ~repeat, journal.originals + journal.kept);
    journal.last = dense[count];
    journal.note_repeats(repeat, count);
}

// BMI2's pext, which gathers a kept journal's position bits from the bytes
// where a destroyed byte could be: every processor with AVX2 or AVX-512 but
// one family of AMD's has it, and fast. In two halves on a 32-bit processor.
struct bmi2_gather {
    __attribute__((target("bmi2"))) std::uint64_t operator()(std::uint64_t x,
                                                             std::uint64_t mask) const {
#ifdef __x86_64__
        return _pext_u64(x, mask);
#else
        const auto low = static_cast<std::uint32_t>(mask);
        return _pext_u32(static_cast<std::uint32_t>(x), low) |
               std::uint64_t{_pext_u32(static_cast<std::uint32_t>(x >> 32),
                                       static_cast<std::uint32_t>(mask >> 32))}
                   << std::popcount(low);
#endif
    }
};

// BMI2's pdep, which spreads them back over those bytes when the journal is
// undone, the inverse of bmi2_gather.
struct bmi2_scatter {
    __attribute__((target("bmi2"))) std::uint64_t operator()(std::uint64_t x,
                                                             std::uint64_t mask) const {
#ifdef __x86_64__
        return _pdep_u64(x, mask);
#else
        const auto low = static_cast<std::uint32_t>(mask);
        return _pdep_u32(static_cast<std::uint32_t>(x), low) |
               std::uint64_t{_pdep_u32(static_cast<std::uint32_t>(x >> std::popcount(low)),
                                       static_cast<std::uint32_t>(mask >> 32))}
                   << 32;
#endif
    }
};

// The x86 kernels, each in a file of its own.
bool ssse3_supported();
bool avx2_supported();
bool avx512vbmi_supported();
translated translate_ssse3(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction,
                           journal_writer *);
translated translate_avx2(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction,
                          journal_writer *);
translated translate_avx512vbmi(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction,
                                journal_writer *);
std::uint8_t classes_avx2(const std::uint8_t *bytes, std::size_t n, std::uint8_t classes,
                          const std::uint64_t *lost_at, std::uint64_t *masks);
std::uint8_t classes_avx512vbmi(const std::uint8_t *bytes, std::size_t n, std::uint8_t classes,
                                const std::uint64_t *lost_at, std::uint64_t *masks);
std::uint64_t gather_bmi2(std::uint64_t x, std::uint64_t mask);
std::uint64_t scatter_bmi2(std::uint64_t x, std::uint64_t mask);
std::size_t count_avx2(block_counts &c, const std::uint8_t *p, std::size_t n, count_needs needs);
std::size_t count_avx512vbmi(block_counts &c, const std::uint8_t *p, std::size_t n,
                             count_needs needs);
void place_ssse3(std::uint8_t *bytes, std::size_t n, const std::uint64_t *lost_at, placing &from);
void place_avx512vbmi(std::uint8_t *bytes, std::size_t n, const std::uint64_t *lost_at,
                      placing &from);
#endif
#ifdef __aarch64__
translated translate_neon(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction,
                          journal_writer *);
#endif

} // namespace codepage
