// Deterministic DOS Greek text for the benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

// DOS Greek words from 0x80-0xAF and 0xE0-0xEF among ASCII words, CR LF line ends.
inline std::vector<std::uint8_t> greek_text(std::size_t size) {
    std::mt19937 random(737);
    std::vector<std::uint8_t> text;
    text.reserve(size + 16);
    while (text.size() < size) {
        const int letters = 2 + static_cast<int>(random() % 9);
        const bool greek = random() % 4 != 0;
        for (int i = 0; i < letters; ++i) {
            const unsigned pick = random() % 64;
            text.push_back(greek ? static_cast<std::uint8_t>(pick < 48 ? 0x80 + pick : 0xE0 + pick - 48)
                                 : static_cast<std::uint8_t>('a' + pick % 26));
        }
        if (random() % 12 == 0) {
            text.push_back('\r');
            text.push_back('\n');
        } else {
            text.push_back(' ');
        }
    }
    text.resize(size);
    return text;
}
