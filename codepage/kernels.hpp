// The translation kernels behind dos_to_windows and windows_to_dos, one source
// file each in kernels/. Every kernel gives exactly the bytes (and the
// journal) of the portable one; the fastest that the processor supports is
// used.
#pragma once

#include "codepage.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

struct block_counts;
struct count_needs;

namespace codepage {

// The two translations, and the lookups that begin their undo: each byte back
// to the one that translates to it (the smallest, where several do), the
// upper half by table and the lower half as it is. Only a translation journals.
enum class direction { to_windows, to_dos, from_windows, from_dos };

// Where a kernel writes a journal (see codepage.hpp), and how far it has got.
// A kernel notes its bytes in order, a piece of up to 64 at a time that ends
// where a word of lost_at does or before (note_piece in kernels/common.hpp).
struct journal_writer {
    std::uint64_t *lost_at;
    std::uint64_t *repeats;
    std::uint8_t *originals;
    std::size_t lost = 0, kept = 0;
    std::uint64_t pending = 0; // repeat bits not yet stored
    static constexpr unsigned none = 0x100;
    unsigned last = none; // the last destroyed byte noted, if any

    // Notes `count` destroyed bytes, bit j of `same` set when the j-th of them
    // repeats the destroyed byte before it.
    void note_repeats(std::uint64_t same, std::size_t count) {
        const std::size_t fill = lost % 64;
        pending |= same << fill;
        repeats[lost / 64] = pending; // without a branch: the word is stored again until full
        const std::uint64_t spilled = same >> 1 >> (63 - fill); // the bits past this word
        pending = fill + count >= 64 ? spilled : pending;
        lost += count;
    }

    translated finish(bool changed) {
        if (lost % 64)
            repeats[lost / 64] = pending;
        return {lost, kept, changed};
    }
};

// Translates n bytes from `in` to `out`; the two are the same buffer or do not
// overlap. With a journal, also fills it in: (n + 63) / 64 words of lost_at,
// and as many destroyed bytes as there are. Without one, nothing is counted as
// lost.
using kernel_fn = translated (*)(const std::uint8_t *in, std::uint8_t *out, std::size_t n,
                                 direction, journal_writer *);

// Where an undo takes the destroyed bytes from, and how far it has got: the
// repeat bits (none where no destroyed byte repeats), and the originals, of
// which `next` is the next to take; the one before it, once one is taken, is
// what a repeat repeats.
struct placing {
    const std::uint64_t *repeats;
    std::size_t repeat_words;
    std::span<const std::uint8_t> originals;
    std::size_t next = 0;  // originals taken so far
    std::size_t taken = 0; // destroyed bytes put back so far

    // The repeat bits of the next `count` (1 to 64) destroyed bytes, which
    // are then taken.
    std::uint64_t repeat_bits(unsigned count) {
        const std::size_t word = taken / 64, bit = taken % 64;
        std::uint64_t bits = word < repeat_words ? repeats[word] >> bit : 0;
        if (bit && word + 1 < repeat_words)
            bits |= repeats[word + 1] << (64 - bit);
        taken += count;
        return count < 64 ? bits & ((std::uint64_t{1} << count) - 1) : bits;
    }
};

// The second step of an undo (see codepage.hpp), after the lookup back: puts
// the destroyed bytes of `n` bytes, marked in (n + 63) / 64 words of
// `lost_at`, back in order, each repeat as the destroyed byte before it.
using place_fn = void (*)(std::uint8_t *bytes, std::size_t n, const std::uint64_t *lost_at,
                          placing &from);

// Where a destroyed byte could be: for each word of the `n` bytes at `bytes`
// (a translation), the bytes that hold one of `classes` (bits of
// journal_classes), into masks[w] where `masks` is given. Returns which of
// those classes are held where `lost_at`, if given, is set.
using classes_fn = std::uint8_t (*)(const std::uint8_t *bytes, std::size_t n, std::uint8_t classes,
                                    const std::uint64_t *lost_at, std::uint64_t *masks);

// The identifier's counts of a block (see identify/count_vectors.hpp): counts
// the first n / N * N bytes at `p`, N the kernel's vector width, and returns
// how many that is. `p` is at an even offset of the file, with three bytes
// before it; the counts of UTF-8's structure and of UTF-16 are taken only
// where `needs` says so.
using count_fn = std::size_t (*)(block_counts &c, const std::uint8_t *p, std::size_t n,
                                 count_needs needs);

// The bits of `x` where `mask` is set, gathered at the bottom (for a kept
// journal's positions); and back, spread over the set bits of `mask`.
using bits_fn = std::uint64_t (*)(std::uint64_t x, std::uint64_t mask);

struct kernel {
    const char *name;
    bool (*supported)(); // whether this processor runs it
    kernel_fn run;
    classes_fn classes;
    place_fn place;
    count_fn count;
    bits_fn gather, scatter;
};

// The portable kernel's: a word's bytes compared with each class eight at a
// time (sixteen where SSE2 is always there), the destroyed bytes put back one
// at a time; for any processor.
std::uint8_t classes_portable(const std::uint8_t *bytes, std::size_t n, std::uint8_t classes,
                              const std::uint64_t *lost_at, std::uint64_t *masks);
void place_portable(std::uint8_t *bytes, std::size_t n, const std::uint64_t *lost_at,
                    placing &from);

// The identifier's counts 16 bytes at a time, with whatever vectors the build
// targets (SSE2, NEON) or none.
std::size_t count_portable(block_counts &c, const std::uint8_t *p, std::size_t n,
                           count_needs needs);

// A bit at a time, for any processor.
std::uint64_t gather_portable(std::uint64_t x, std::uint64_t mask);
std::uint64_t scatter_portable(std::uint64_t x, std::uint64_t mask);

// One table lookup per byte, 8 bytes to a word, for any processor.
translated translate_portable(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction,
                              journal_writer *);

// A journal packed to be kept, and an undo from it (keep_dos_to_windows and
// undo_dos_to_windows in codepage.hpp, and the same the other way), with the
// kernel `k`; `back` is the lookup that takes each byte back.
kept_journal keep_with(const kernel &k, std::span<const std::uint8_t> translation,
                       filled_journal filled, std::span<std::uint8_t> room, std::size_t &used,
                       direction back);
void undo_with(const kernel &k, std::span<std::uint8_t> bytes, kept_journal undo, direction back);

// Every kernel this processor can run, the portable one first and the fastest last.
std::span<const kernel> supported_kernels();

// The kernel the translators use: the fastest this processor can run, unless
// the build capped the choice (GRKPAGE_KERNEL, the name of a kernel, for
// benchmarks and tests).
const kernel &chosen_kernel();

} // namespace codepage
