// Greek text between code page 737 (DOS) and Windows-1253 (Windows).
//
// Both translators work byte by byte, so a buffer may be translated whole or
// in pieces with the same result. Lengths never change; NUL bytes pass through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// DOS to Windows: Greek letters carried across, box drawing to + - |,
// the approximately-equal sign to ~, every other upper-half byte to a space.
void dos_to_windows(std::span<std::uint8_t> bytes);

// Windows to DOS: Greek letters carried across, ~ and the plus-minus sign to the
// approximately-equal sign, the euro sign to E, every other upper-half byte to a space.
void windows_to_dos(std::span<std::uint8_t> bytes);

// The same, reading `from` and writing the translation to the start of `to`,
// which must be at least as long. `from` is left as it was unless the two overlap
// exactly, in which case this is the in-place translation.
void dos_to_windows(std::span<const std::uint8_t> from, std::span<std::uint8_t> to);
void windows_to_dos(std::span<const std::uint8_t> from, std::span<std::uint8_t> to);

// An undo journal: what a translation destroyed, and nothing more. Every other
// byte (all Greek letters, all of 0x00-0x7F) comes back from its translation
// alone. Byte i was destroyed when bit i % 64 of lost_at[i / 64] is set. Bit k
// of `repeats` (word k / 64) is set when the k-th destroyed byte repeats the
// byte just before it, which was destroyed too: the same value, one place
// earlier, in the same translation. The other destroyed bytes are in
// `originals`, in order. Frames come in runs, so a form full of them journals
// little more than their positions, and a vector compare of the bytes with
// themselves one place on finds the repeats. A journal with no positions and
// as many originals as there are bytes holds the bytes themselves: a kept
// journal takes that form where it would be larger.
struct journal {
    std::span<std::uint64_t> lost_at;  // room for journal_words(size) words
    std::span<std::uint64_t> repeats;  // as much room
    std::span<std::uint8_t> originals; // room for `size` bytes
};

// The words of lost_at that a journal of `size` bytes needs.
constexpr std::size_t journal_words(std::size_t size) {
    return (size + 63) / 64;
}

// What a journaled translation did.
struct translated {
    std::size_t lost = 0;      // bytes destroyed: bits used in `repeats`
    std::size_t originals = 0; // bytes put into `originals`
    bool changed = false;      // whether any byte differs from its original
};

// A journal as filled in: lost_at for the translated size, and the first
// translated::lost bits of `repeats` and translated::originals bytes of
// `originals`; or the original bytes whole (see journal).
struct filled_journal {
    std::span<const std::uint64_t> lost_at, repeats;
    std::span<const std::uint8_t> originals;
};

// The copying translations, journaling what they destroy.
translated dos_to_windows(std::span<const std::uint8_t> from, std::span<std::uint8_t> to,
                          journal undo);
translated windows_to_dos(std::span<const std::uint8_t> from, std::span<std::uint8_t> to,
                          journal undo);

// Turns a translation back into its original, in place, with the journal that
// translating it filled in.
void undo_dos_to_windows(std::span<std::uint8_t> bytes, filled_journal undo);
void undo_windows_to_dos(std::span<std::uint8_t> bytes, filled_journal undo);
