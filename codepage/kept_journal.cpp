// The journal packed to be kept, and the undo from it (see kept_journal in
// codepage.hpp): positions only where a destroyed byte could be, found again
// from the translation when it is undone.
#include "codepage.hpp"

#include "kernels/common.hpp"

#include <algorithm>
#include <cassert>

namespace {

using codepage::direction;
using codepage::first_bits;

// The classes a destroyed byte can become in each direction, as bits of
// journal_classes.
constexpr std::uint8_t classes_to_windows = 0b0011111; // a space, + - | ~
constexpr std::uint8_t classes_to_dos = 0b1100001;     // a space, E, the approximately-equal sign

constexpr bool classes_are_what_destroyed_bytes_become(const codepage::byte_map &map,
                                                       const codepage::byte_map &inverse,
                                                       std::uint8_t classes) {
    for (std::size_t b = 0; b < 256; ++b) {
        if (!codepage::destroyed(map, inverse, b))
            continue;
        bool listed = false;
        for (std::size_t c = 0; c < std::size(journal_classes); ++c)
            listed |= (classes >> c & 1) && journal_classes[c] == map[b];
        if (!listed)
            return false;
    }
    return true;
}
static_assert(classes_are_what_destroyed_bytes_become(codepage::to_windows_map,
                                                      codepage::from_windows_map,
                                                      classes_to_windows));
static_assert(classes_are_what_destroyed_bytes_become(codepage::to_dos_map, codepage::from_dos_map,
                                                      classes_to_dos));

// Bits appended to words, and read back in the same order.
struct bit_writer {
    std::uint64_t *words;
    std::size_t at = 0;

    void put(std::uint64_t bits, unsigned count) { // bits above `count` clear
        if (count == 0)
            return;
        const std::size_t word = at / 64, bit = at % 64;
        words[word] = bit ? words[word] | bits << bit : bits;
        if (bit + count > 64)
            words[word + 1] = bits >> (64 - bit);
        at += count;
    }
};

struct bit_reader {
    const std::uint64_t *words;
    std::size_t at = 0;

    std::uint64_t get(unsigned count) {
        if (count == 0)
            return 0;
        const std::size_t word = at / 64, bit = at % 64;
        std::uint64_t bits = words[word] >> bit;
        if (bit + count > 64)
            bits |= words[word + 1] << (64 - bit);
        at += count;
        return bits & first_bits(count);
    }
};

// Journals are packed and undone a piece at a time, with the masks of a
// piece on the stack.
constexpr std::size_t piece = 64 * 64;

constexpr std::size_t word_bytes(std::size_t bits) {
    return journal_words(bits) * 8;
}

// Every destroyed byte in order, from the repeats and the originals: a repeat
// is the last original taken (the first destroyed byte never is one).
void spell_out(filled_journal filled, std::size_t count, std::uint8_t *out) {
    std::size_t next = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t again = filled.repeats[k / 64] >> (k % 64) & 1;
        out[k] = filled.originals[next - again];
        next += 1 - again;
    }
}

void undo_positions(const codepage::kernel &kernel, std::span<std::uint8_t> bytes,
                    filled_journal filled, direction back) {
    kernel.run(bytes.data(), bytes.data(), bytes.size(), back, nullptr);
    codepage::placing from{filled.repeats.data(), filled.repeats.size(), filled.originals};
    kernel.place(bytes.data(), bytes.size(), filled.lost_at.data(), from);
}

// The classes a destroyed byte can become, going the way that `back` undoes.
std::uint8_t possible_classes(direction back) {
    return back == direction::from_dos ? classes_to_dos : classes_to_windows;
}

// Whether `count` destroyed bytes of `n` are so few that their offsets and
// originals take no more than a sixty-fourth of the bytes: less than a bit
// for each space of prose alone, so that looking through the translation for
// where a destroyed byte could be would cost time and save no room.
bool few(std::size_t count, std::size_t n) {
    return n <= UINT32_MAX && (sizeof(std::uint32_t) + 1) * count <= n / 64;
}

// Each destroyed byte's offset, then every destroyed byte in order.
kept_journal keep_offsets(filled_journal filled, std::size_t count, std::span<std::uint8_t> room,
                          std::size_t &used) {
    auto *const offsets = reinterpret_cast<std::uint32_t *>(room.data());
    std::size_t k = 0;
    for (std::size_t w = 0; w < filled.lost_at.size(); ++w)
        for (std::uint64_t bits = filled.lost_at[w]; bits; bits &= bits - 1)
            offsets[k++] = static_cast<std::uint32_t>(64 * w + std::countr_zero(bits));
    std::uint8_t *const originals = room.data() + sizeof(std::uint32_t) * count;
    spell_out(filled, count, originals);
    used = kept_room(sizeof(std::uint32_t) * count + count);
    return {0, {}, {}, {originals, count}, {offsets, count}};
}

} // namespace

namespace codepage {

kept_journal keep_with(const kernel &kernel, std::span<const std::uint8_t> translation,
                       filled_journal filled, std::span<std::uint8_t> room, std::size_t &used,
                       direction back) {
    const std::uint8_t possible = possible_classes(back);
    const std::size_t n = translation.size();
    assert(room.size() >= kept_room(n) && filled.lost_at.size() >= journal_words(n));
    used = 0;
    // Which classes the destroyed bytes became, and how many there are.
    std::size_t count = 0;
    for (std::size_t w = 0; w < journal_words(n); ++w)
        count += static_cast<std::size_t>(codepage::bit_count(filled.lost_at[w]));
    if (count == 0)
        return {};
    if (few(count, n))
        return keep_offsets(filled, count, room, used);
    const std::uint8_t classes =
        kernel.classes(translation.data(), n, possible, filled.lost_at.data(), nullptr);
    // A bit for each byte of those classes, a piece at a time.
    auto *const words = reinterpret_cast<std::uint64_t *>(room.data());
    bit_writer positions{words};
    const codepage::bits_fn gather = kernel.gather;
    for (std::size_t start = 0; start < n && word_bytes(positions.at) < n; start += piece) {
        const std::size_t length = std::min(piece, n - start);
        std::uint64_t candidates[piece / 64];
        kernel.classes(translation.data() + start, length, classes, nullptr, candidates);
        const std::uint64_t *const gone = filled.lost_at.data() + start / 64;
        for (std::size_t w = 0; w < journal_words(length); ++w) {
            assert((gone[w] & ~candidates[w]) == 0);
            positions.put(gather(gone[w], candidates[w]), (codepage::bit_count(candidates[w])));
        }
    }
    const std::size_t position_bytes = word_bytes(positions.at);
    const std::size_t kept = filled.originals.size(), repeat_bytes = word_bytes(count);
    const bool with_repeats = repeat_bytes + kept < count;
    const std::size_t size = position_bytes + (with_repeats ? repeat_bytes + kept : count);
    if (size >= n) { // the bytes themselves take less room
        std::copy(translation.begin(), translation.end(), room.begin());
        undo_positions(kernel, room.first(n), filled, back);
        used = kept_room(n);
        return {0, {}, {}, room.first(n), {}};
    }
    kept_journal packed{classes, {words, position_bytes / 8}, {}, {}, {}};
    std::uint8_t *at = room.data() + position_bytes;
    if (with_repeats) {
        std::copy_n(filled.repeats.begin(), repeat_bytes / 8,
                    reinterpret_cast<std::uint64_t *>(at));
        packed.repeats = {reinterpret_cast<const std::uint64_t *>(at), repeat_bytes / 8};
        at += repeat_bytes;
        std::copy_n(filled.originals.begin(), kept, at);
        packed.originals = {at, kept};
    } else {
        spell_out(filled, count, at);
        packed.originals = {at, count};
    }
    used = kept_room(size);
    return packed;
}

// Each byte back to its original through the kernel's lookup (`back`), then
// the destroyed ones from the journal, by the kernel too: a piece at a time,
// each piece's positions found first from its translation.
void undo_with(const kernel &kernel, std::span<std::uint8_t> bytes, kept_journal undo,
               direction back) {
    const std::size_t n = bytes.size();
    if (undo.classes == 0) {
        if (!undo.offsets.empty()) { // a few destroyed bytes
            kernel.run(bytes.data(), bytes.data(), n, back, nullptr);
            for (std::size_t k = 0; k < undo.offsets.size(); ++k)
                bytes[undo.offsets[k]] = undo.originals[k];
        } else if (!undo.originals.empty()) { // kept whole
            assert(undo.originals.size() == n);
            std::copy(undo.originals.begin(), undo.originals.end(), bytes.begin());
        } else { // nothing was destroyed
            kernel.run(bytes.data(), bytes.data(), n, back, nullptr);
        }
        return;
    }
    placing from{undo.repeats.data(), undo.repeats.size(), undo.originals};
    bit_reader positions{undo.positions.data()};
    std::uint64_t lost_at[piece / 64];
    const codepage::bits_fn scatter = kernel.scatter;
    for (std::size_t start = 0; start < n; start += piece) {
        const std::size_t length = std::min(piece, n - start);
        std::uint8_t *const p = bytes.data() + start;
        kernel.classes(p, length, undo.classes, nullptr, lost_at);
        for (std::size_t w = 0; w < journal_words(length); ++w)
            lost_at[w] = scatter(positions.get((codepage::bit_count(lost_at[w]))), lost_at[w]);
        kernel.run(p, p, length, back, nullptr);
        kernel.place(p, length, lost_at, from);
    }
}

} // namespace codepage

kept_journal keep_dos_to_windows(std::span<const std::uint8_t> translation, filled_journal filled,
                                 std::span<std::uint8_t> room, std::size_t &used) {
    return codepage::keep_with(codepage::chosen_kernel(), translation, filled, room, used,
                               direction::from_windows);
}

kept_journal keep_windows_to_dos(std::span<const std::uint8_t> translation, filled_journal filled,
                                 std::span<std::uint8_t> room, std::size_t &used) {
    return codepage::keep_with(codepage::chosen_kernel(), translation, filled, room, used,
                               direction::from_dos);
}

void undo_dos_to_windows(std::span<std::uint8_t> bytes, kept_journal undo) {
    codepage::undo_with(codepage::chosen_kernel(), bytes, undo, direction::from_windows);
}

void undo_windows_to_dos(std::span<std::uint8_t> bytes, kept_journal undo) {
    codepage::undo_with(codepage::chosen_kernel(), bytes, undo, direction::from_dos);
}
