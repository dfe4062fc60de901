// The translation kernels behind dos_to_windows and windows_to_dos, one source
// file each in kernels/. Every kernel gives exactly the bytes (and the
// journal) of the portable one; the fastest that the processor supports is
// used.
#pragma once

#include "codepage.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

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
    std::uint64_t pending = 0;   // repeat bits not yet stored
    std::uint64_t last_gone = 0; // 1 when the last byte noted was destroyed
    std::uint8_t last_byte = 0;  // and what it was

    // Notes `count` destroyed bytes, bit j of `same` set when the j-th of them
    // repeats the byte before it.
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

// The second step of an undo (see codepage.hpp), after the lookup back: puts
// the destroyed bytes of `n` bytes back from `undo`, in order, so that a repeat
// takes the byte before it as put back.
using place_fn = void (*)(std::uint8_t *bytes, std::size_t n, filled_journal undo);

struct kernel {
    const char *name;
    bool (*supported)(); // whether this processor runs it
    kernel_fn run;
    place_fn place;
};

// A destroyed byte at a time, for any processor.
void place_portable(std::uint8_t *bytes, std::size_t n, filled_journal undo);

// One table lookup per byte, 8 bytes to a word, for any processor.
translated translate_portable(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction,
                              journal_writer *);

// Every kernel this processor can run, the portable one first and the fastest last.
std::span<const kernel> supported_kernels();

// The kernel the translators use: the fastest this processor can run, unless
// the build capped the choice (GRKPAGE_KERNEL, the name of a kernel, for
// benchmarks and tests).
const kernel &chosen_kernel();

} // namespace codepage
