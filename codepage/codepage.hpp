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
// of `repeats` (word k / 64) is set when the k-th destroyed byte is the same
// as the destroyed byte before it, however far back: a form's frames repeat,
// run after run and row after row. The other destroyed bytes are in
// `originals`, in order.
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
// `originals`.
struct filled_journal {
    std::span<const std::uint64_t> lost_at, repeats;
    std::span<const std::uint8_t> originals;
};

// The copying translations, journaling what they destroy.
translated dos_to_windows(std::span<const std::uint8_t> from, std::span<std::uint8_t> to,
                          journal undo);
translated windows_to_dos(std::span<const std::uint8_t> from, std::span<std::uint8_t> to,
                          journal undo);

// A journal packed to be kept, as small as what it must keep. A destroyed
// byte can only have become one of a few values (a space, `+ - | ~`, `E`, the
// approximately-equal sign): the positions have a bit only for each byte of
// the translation that holds one of the values the destroyed bytes of this
// translation became (`classes`, bits of journal_classes), set where that byte
// was destroyed. The repeat bits are left out where they would cost more than
// the repeats they spare (then every destroyed byte is in `originals`). A
// journal with no classes and as many originals as there are bytes holds the
// bytes themselves, where anything else would be larger. Where the destroyed
// bytes are few, the journal is their offsets and their originals alone, with
// no classes, found without looking at the rest of the translation.
struct kept_journal {
    std::uint8_t classes = 0;
    std::span<const std::uint64_t> positions, repeats;
    std::span<const std::uint8_t> originals;
    std::span<const std::uint32_t> offsets;
};

// The values a destroyed byte becomes, in either direction.
inline constexpr std::uint8_t journal_classes[] = {' ', '+', '-', '|', '~', 'E', 0xF7};

// The room that packing the journal of `size` bytes may take, in bytes: never
// more than the bytes themselves, rounded up to whole words.
constexpr std::size_t kept_room(std::size_t size) {
    return (size + 7) / 8 * 8;
}

// Packs the journal filled in when translating into `translation` into `room`
// (kept_room(translation.size()) bytes, aligned to a word), returning it and,
// in `used`, the bytes of room it took.
kept_journal keep_dos_to_windows(std::span<const std::uint8_t> translation, filled_journal filled,
                                 std::span<std::uint8_t> room, std::size_t &used);
kept_journal keep_windows_to_dos(std::span<const std::uint8_t> translation, filled_journal filled,
                                 std::span<std::uint8_t> room, std::size_t &used);

// Turns a translation back into its original, in place, with the kept journal
// of translating it (an empty one where nothing was destroyed).
void undo_dos_to_windows(std::span<std::uint8_t> bytes, kept_journal undo);
void undo_windows_to_dos(std::span<std::uint8_t> bytes, kept_journal undo);
