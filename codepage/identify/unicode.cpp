// Unicode read closely: UTF-8 sequence by sequence, and the UTF-16 units that
// are text.
#include "steps.hpp"

#include <utility>

namespace codepage::identifier {

namespace {

// Characters that a text in UTF-8 plausibly holds: the alphabets, their
// punctuation and symbols, box drawing, CJK, emoji. A code page file that
// happens to be valid UTF-8 decodes mostly to others.
bool likely_in_text(std::uint32_t code) {
    constexpr std::pair<std::uint32_t, std::uint32_t> ranges[] = {
        {0x00A0, 0x0530}, {0x0590, 0x0700}, {0x0900, 0x0E80},   {0x10A0, 0x1100}, {0x1E00, 0x2C00},
        {0x3000, 0x3100}, {0x4E00, 0xA000}, {0xAC00, 0xD7A4},   {0xFB00, 0xFB50}, {0xFE00, 0xFE10},
        {0xFEFF, 0xFF00}, {0xFF00, 0xFFF0}, {0x1F000, 0x1FB00},
    };
    for (const auto &[low, high] : ranges)
        if (code >= low && code < high)
            return true;
    return false;
}

// A sequence UTF-8 does not allow: counted, and the byte that showed it taken
// afresh.
void invalid(identification &id) {
    ++id.utf8_invalid;
    id.utf8_pending = 0;
    id.utf8_low = 0x80;
    id.utf8_high = 0xBF;
}

void take_utf8(identification &id, std::uint8_t b) {
    if (id.utf8_resync) {
        if (b >= 0x80 && b < 0xC0)
            return; // the end of a character begun before the part read
        id.utf8_resync = false;
    }
    if (id.utf8_pending) {
        if (b >= id.utf8_low && b <= id.utf8_high) {
            id.utf8_code = id.utf8_code << 6 | (b & 0x3F);
            id.utf8_low = 0x80;
            id.utf8_high = 0xBF;
            if (--id.utf8_pending == 0) {
                ++id.utf8_sequences;
                id.utf8_unlikely += !likely_in_text(id.utf8_code);
            }
            return;
        }
        invalid(id);
    }
    if (b < 0x80)
        return;
    if (b < 0xC2 || b > 0xF4) {
        invalid(id);
        return;
    }
    // The ranges of the second byte that keep a sequence shortest and
    // outside the surrogates.
    if (b < 0xE0) {
        id.utf8_pending = 1;
        id.utf8_code = b & 0x1F;
    } else if (b < 0xF0) {
        id.utf8_pending = 2;
        id.utf8_code = b & 0x0F;
        id.utf8_low = b == 0xE0 ? 0xA0 : 0x80;
        id.utf8_high = b == 0xED ? 0x9F : 0xBF;
    } else {
        id.utf8_pending = 3;
        id.utf8_code = b & 0x07;
        id.utf8_low = b == 0xF0 ? 0x90 : 0x80;
        id.utf8_high = b == 0xF4 ? 0x8F : 0xBF;
    }
}

// A 16-bit unit that text holds: a printable character of ASCII or Latin-1,
// a line end or tab; a letter of Latin's extensions, Greek, Cyrillic,
// Armenian, Hebrew or Arabic; general punctuation, symbols, box drawing; the
// byte order mark.
constexpr bool text_unit(std::uint16_t u) {
    if (u < 0x100)
        return (u >= 0x20 && u < 0x7F) || u == '\t' || u == '\n' || u == '\r' || u >= 0xA0;
    return u < 0x250 || (u >= 0x300 && u < 0x370) || (u >= 0x384 && u < 0x3D0) ||
           (u >= 0x400 && u < 0x530) || (u >= 0x531 && u < 0x700) || (u >= 0x1E00 && u < 0x2070) ||
           u == 0x20AC || (u >= 0x2100 && u < 0x2600) || u == 0xFEFF;
}

} // namespace

void check_utf8(identification &id, std::span<const std::uint8_t> bytes) {
    by_ascii_runs(
        bytes,
        [&id](const std::uint8_t *run, std::size_t) {
            take_utf8(id, run[0]); // ends a character cut short, if any
            id.utf8_resync = false;
        },
        [&id](std::uint8_t b) { take_utf8(id, b); });
}

void restart_utf8(identification &id) {
    id.utf8_pending = 0;
    id.utf8_low = 0x80;
    id.utf8_high = 0xBF;
    id.utf8_resync = true;
}

void count_utf16_text(identification &id, std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const std::uint8_t even = bytes[i], odd = bytes[i + 1];
        const auto little = static_cast<std::uint16_t>(odd << 8 | even);
        const auto big = static_cast<std::uint16_t>(even << 8 | odd);
        id.utf16_text[1] += text_unit(little);
        id.utf16_text[0] += text_unit(big);
        id.utf16_spaces[1] += little == ' ' || little == '\n';
        id.utf16_spaces[0] += big == ' ' || big == '\n';
        ++id.utf16_units;
    }
}

} // namespace codepage::identifier
