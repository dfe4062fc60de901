// Deterministic DOS Greek text for the benchmarks: prose, and forms.
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
            text.push_back(
                greek ? static_cast<std::uint8_t>(pick < 48 ? 0x80 + pick : 0xE0 + pick - 48)
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

// Box-drawn DOS forms: rows of fields in a double frame, a single rule under
// every third row; a third of the bytes are frames, the rest Greek prose.
inline std::vector<std::uint8_t> forms_text(std::size_t size) {
    const auto words = greek_text(size / 2 + 64);
    std::vector<std::uint8_t> text;
    text.reserve(size + 128);
    std::size_t next_word = 0;
    const auto rule = [&](std::uint8_t left, std::uint8_t line, std::uint8_t cross,
                          std::uint8_t right) {
        text.push_back(left);
        for (int column = 1; column < 78; ++column)
            text.push_back(column % 20 == 0 ? cross : line);
        text.push_back(right);
        text.push_back('\r');
        text.push_back('\n');
    };
    while (text.size() < size) {
        rule(0xC9, 0xCD, 0xD1, 0xBB); // double top with single tees
        for (int row = 1; row <= 9; ++row) {
            text.push_back(0xBA);
            for (int column = 1; column < 78; ++column) {
                const std::uint8_t b = words[next_word++ % words.size()];
                text.push_back(column % 20 == 0 ? 0xB3 : (b == '\r' || b == '\n' ? ' ' : b));
            }
            text.push_back(0xBA);
            text.push_back('\r');
            text.push_back('\n');
            if (row % 3 == 0 && row < 9)
                rule(0xC7, 0xC4, 0xC5, 0xB6); // single rule between rows
        }
        rule(0xC8, 0xCD, 0xCF, 0xBC); // double bottom
    }
    text.resize(size);
    return text;
}

// A file of nothing but shade and block characters (DOS art), changing at
// random: every byte is destroyed, and few repeat the one before.
inline std::vector<std::uint8_t> shades_text(std::size_t size) {
    constexpr std::uint8_t shades[] = {0xB0, 0xB1, 0xB2, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF};
    std::vector<std::uint8_t> text(size);
    std::uint64_t state = 0x9E3779B97F4A7C15;
    for (auto &b : text) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        b = shades[state % 8];
    }
    return text;
}

// Random bytes, as a binary file given by mistake: about a quarter of them are
// destroyed either way.
inline std::vector<std::uint8_t> random_bytes(std::size_t size) {
    std::vector<std::uint8_t> text(size);
    std::uint64_t state = 0x2545F4914F6CDD1D;
    for (auto &b : text) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        b = static_cast<std::uint8_t>(state >> 32);
    }
    return text;
}
