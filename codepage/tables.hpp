// The conversion tables, as constant data for the translation kernels.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace codepage {

using upper_half = std::array<std::uint8_t, 128>;
using byte_map = std::array<std::uint8_t, 256>;

// The tables keep the shape of the grids they come from.
// clang-format off
// Output byte for each input byte 0x80-0xFF of code page 737; row 8x first.
// Frames become + - | so that boxed layouts still line up; symbols that have
// no counterpart in Windows-1253 become spaces rather than vanish.
inline constexpr upper_half dos_to_windows_table = {
    // 8x: capitals Alpha-Pi
    0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0xD0,
    // 9x: capitals Rho-Omega (Windows has a hole at 0xD2), small alpha-theta
    0xD1, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8,
    // Ax: small iota-psi; sigma and final sigma sit in the opposite order
    0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF2, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8,
    // Bx: shades, then box drawing
    0x20, 0x20, 0x20, 0x7C, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x7C, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B,
    // Cx: box drawing
    0x2B, 0x2B, 0x2B, 0x2B, 0x2D, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2D, 0x2B, 0x2B,
    // Dx: box drawing, then blocks
    0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x20, 0x20, 0x20, 0x20, 0x20,
    // Ex: omega, small letters with tonos and dialytika, capitals with tonos
    0xF9, 0xDC, 0xDD, 0xDE, 0xFA, 0xDF, 0xFC, 0xFD, 0xFB, 0xFE, 0xA2, 0xB8, 0xB9, 0xBA, 0xBC, 0xBE,
    // Fx: Omega with tonos, maths symbols, Iota and Upsilon with dialytika, approximately equal
    0xBF, 0x20, 0x20, 0x20, 0xDA, 0xDB, 0x20, 0x7E, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
};

// Output byte for each input byte 0x80-0xFF of Windows-1253; row 8x first.
inline constexpr upper_half windows_to_dos_table = {
    // 8x: euro sign, then punctuation code page 737 lacks
    0x45, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    // 9x: punctuation code page 737 lacks
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    // Ax: Alpha with tonos among symbols
    0x20, 0x20, 0xEA, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,
    // Bx: plus-minus, capitals with tonos
    0x20, 0xF7, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0xEB, 0xEC, 0xED, 0x20, 0xEE, 0x20, 0xEF, 0xF0,
    // Cx: capitals Alpha-Omicron
    0x20, 0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E,
    // Dx: capitals Pi-Omega, with dialytika, small letters with tonos
    0x8F, 0x90, 0x20, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0xF4, 0xF5, 0xE1, 0xE2, 0xE3, 0xE5,
    // Ex: small alpha-omicron
    0x20, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9D, 0x9E, 0x9F, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6,
    // Fx: small pi-omega; final sigma and sigma swap places
    0xA7, 0xA8, 0xAA, 0xA9, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0xE0, 0xE4, 0xE8, 0xE6, 0xE7, 0xE9, 0x20,
};

// clang-format on

// A whole-byte map: the lower half unchanged, the upper half from the table.
constexpr byte_map whole_map(const upper_half &upper) {
    byte_map map{};
    for (std::size_t i = 0; i < 128; ++i) {
        map[i] = static_cast<std::uint8_t>(i);
        map[i + 128] = upper[i];
    }
    return map;
}

inline constexpr byte_map to_windows_map = whole_map(dos_to_windows_table);

// DOS writes the approximately-equal sign where Windows text has a tilde, so the
// tilde goes back to that sign: the inverse of 0xF7 -> ~ on the way in.
inline constexpr byte_map to_dos_map = [] {
    byte_map map = whole_map(windows_to_dos_table);
    map['~'] = 0xF7;
    return map;
}();

static_assert(to_windows_map[0x00] == 0x00 && to_windows_map[0x7F] == 0x7F);
static_assert(to_dos_map['~'] == 0xF7 && to_windows_map[0xF7] == '~');
static_assert(to_windows_map[0x91] == 0xD3 && to_dos_map[0xD3] == 0x91, "capital sigma");
static_assert(to_windows_map[0xA9] == 0xF3 && to_windows_map[0xAA] == 0xF2, "sigma, final sigma");

// Every byte of code page 737 that is carried into the Greek range of Windows-1253
// must come back as itself.
constexpr bool greek_letters_round_trip() {
    for (int b = 0x80; b <= 0xFF; ++b) {
        const std::uint8_t w = to_windows_map[b];
        if (w >= 0x80 && to_dos_map[w] != b)
            return false;
    }
    return true;
}
static_assert(greek_letters_round_trip());

// Undoing a translation. A byte whose translation no other byte shares comes
// back from that translation. Where several bytes translate alike (frames to
// + - |, symbols to a space), the one that translates to itself, or else the
// lowest, comes back; every other one is destroyed, and only those need their
// original kept.
constexpr byte_map inverse_map(const byte_map &map) {
    byte_map inverse{};
    for (std::size_t v = 0; v < 256; ++v)
        inverse[v] = static_cast<std::uint8_t>(v); // for values no byte translates to
    for (std::size_t b = 256; b-- > 0;)
        inverse[map[b]] = static_cast<std::uint8_t>(b);
    for (std::size_t b = 0; b < 256; ++b)
        if (map[b] == b)
            inverse[b] = static_cast<std::uint8_t>(b);
    return inverse;
}

inline constexpr byte_map from_windows_map = inverse_map(to_windows_map);
inline constexpr byte_map from_dos_map = inverse_map(to_dos_map);

constexpr bool destroyed(const byte_map &map, const byte_map &inverse, std::size_t b) {
    return inverse[map[b]] != b;
}

// 1 for each byte that a translation destroys, 0 for the others.
constexpr byte_map destroyed_bytes(const byte_map &map, const byte_map &inverse) {
    byte_map lost{};
    for (std::size_t b = 0; b < 256; ++b)
        lost[b] = destroyed(map, inverse, b);
    return lost;
}

inline constexpr byte_map to_windows_destroys = destroyed_bytes(to_windows_map, from_windows_map);
inline constexpr byte_map to_dos_destroys = destroyed_bytes(to_dos_map, from_dos_map);

// The kernels find destroyed bytes by rule, word or vector at a time, and the
// table above only for the odd bytes at the end: they are the upper-half
// bytes that land in the lower half, plus at most one that lands in the upper
// half on a value another byte also lands on. Going to DOS that is the
// plus-minus sign, which shares the approximately-equal sign with the tilde.
inline constexpr int to_windows_destroyed_upper = -1;
inline constexpr int to_dos_destroyed_upper = 0xB1;

constexpr bool destroyed_are_found_by_rule(const byte_map &map, const byte_map &inverse,
                                           int destroyed_upper) {
    for (std::size_t b = 0; b < 256; ++b) {
        const bool rule = b >= 0x80 && (map[b] < 0x80 || static_cast<int>(b) == destroyed_upper);
        if (destroyed(map, inverse, b) != rule)
            return false;
    }
    return true;
}
static_assert(destroyed_are_found_by_rule(to_windows_map, from_windows_map,
                                          to_windows_destroyed_upper));
static_assert(destroyed_are_found_by_rule(to_dos_map, from_dos_map, to_dos_destroyed_upper));

// The tilde is the one that comes back from the approximately-equal sign: a
// Windows text holds far more tildes than plus-minus signs.
static_assert(from_dos_map[0xF7] == '~' && from_windows_map['~'] == '~');

// Every upper-half byte changes, and below it only the tilde going to DOS: the
// kernels tell a block that changes by those bytes alone.
constexpr bool changes_exactly(const byte_map &map, int lower_change) {
    for (std::size_t b = 0; b < 256; ++b)
        if ((map[b] != b) != (b >= 0x80 || static_cast<int>(b) == lower_change))
            return false;
    return true;
}
static_assert(changes_exactly(to_windows_map, -1) && changes_exactly(to_dos_map, '~'));

} // namespace codepage
