// Greek text between code page 737 (DOS) and Windows-1253 (Windows).
//
// Both translators work byte by byte, so a buffer may be translated whole or
// in pieces with the same result. Lengths never change; NUL bytes pass through.
#pragma once

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
