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

// An undo journal: what a translation destroyed, and nothing more. Byte i was
// destroyed when bit i % 64 of lost_at[i / 64] is set; the destroyed bytes'
// originals are in `lost`, in order. Every other byte (all Greek letters, all
// of 0x00-0x7F) comes back from its translation alone.
struct journal {
    std::span<std::uint64_t> lost_at; // (size + 63) / 64 words
    std::span<std::uint8_t> lost;     // room for as many bytes as are translated
};

// What a journaled translation did.
struct translated {
    std::size_t lost = 0; // bytes put into the journal's `lost`
    bool changed = false; // whether any byte differs from its original
};

// The copying translations, journaling what they destroy.
translated dos_to_windows(std::span<const std::uint8_t> from, std::span<std::uint8_t> to,
                          journal undo);
translated windows_to_dos(std::span<const std::uint8_t> from, std::span<std::uint8_t> to,
                          journal undo);

// Turns a translation back into its original, in place, with the journal (and
// its first `lost` bytes) that translating it filled in.
void undo_dos_to_windows(std::span<std::uint8_t> bytes, std::span<const std::uint64_t> lost_at,
                         std::span<const std::uint8_t> lost);
void undo_windows_to_dos(std::span<std::uint8_t> bytes, std::span<const std::uint64_t> lost_at,
                         std::span<const std::uint8_t> lost);
