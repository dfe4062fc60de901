#include "codepage.hpp"

#include "kernels.hpp"
#include "tables.hpp"

#include <algorithm>
#include <bit>
#include <cassert>

namespace {

using codepage::direction;

translated translate(std::span<const std::uint8_t> from, std::span<std::uint8_t> to, direction d,
                     codepage::journal_writer *writer = nullptr) {
    assert(to.size() >= from.size());
    static const codepage::kernel_fn chosen = codepage::chosen_kernel().run;
    return chosen(from.data(), to.data(), from.size(), d, writer);
}

translated translate(std::span<const std::uint8_t> from, std::span<std::uint8_t> to, direction d,
                     journal undo) {
    assert(undo.lost_at.size() >= journal_words(from.size()) &&
           undo.repeats.size() >= journal_words(from.size()) &&
           undo.originals.size() >= from.size());
    codepage::journal_writer writer{undo.lost_at.data(), undo.repeats.data(),
                                    undo.originals.data()};
    return translate(from, to, d, &writer);
}

void undo_with(std::span<std::uint8_t> bytes, filled_journal undo,
               const codepage::byte_map &inverse) {
    if (undo.lost_at.empty() && undo.originals.size() == bytes.size() && !bytes.empty()) {
        std::copy(undo.originals.begin(), undo.originals.end(), bytes.begin()); // kept whole
        return;
    }
    for (auto &b : bytes)
        b = inverse[b];
    // In order, so that a repeat finds the byte before it already put back.
    std::size_t k = 0, next = 0;
    for (std::size_t word = 0; word < undo.lost_at.size(); ++word)
        for (std::uint64_t bits = undo.lost_at[word]; bits; bits &= bits - 1, ++k) {
            const std::size_t at = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
            assert(at < bytes.size() && k / 64 < undo.repeats.size());
            if (undo.repeats[k / 64] >> (k % 64) & 1) {
                assert(at > 0);
                bytes[at] = bytes[at - 1];
            } else {
                assert(next < undo.originals.size());
                bytes[at] = undo.originals[next++];
            }
        }
}

} // namespace

void dos_to_windows(std::span<const std::uint8_t> from, std::span<std::uint8_t> to) {
    translate(from, to, direction::to_windows);
}

void windows_to_dos(std::span<const std::uint8_t> from, std::span<std::uint8_t> to) {
    translate(from, to, direction::to_dos);
}

void dos_to_windows(std::span<std::uint8_t> bytes) {
    translate(bytes, bytes, direction::to_windows);
}

void windows_to_dos(std::span<std::uint8_t> bytes) {
    translate(bytes, bytes, direction::to_dos);
}

translated dos_to_windows(std::span<const std::uint8_t> from, std::span<std::uint8_t> to,
                          journal undo) {
    return translate(from, to, direction::to_windows, undo);
}

translated windows_to_dos(std::span<const std::uint8_t> from, std::span<std::uint8_t> to,
                          journal undo) {
    return translate(from, to, direction::to_dos, undo);
}

void undo_dos_to_windows(std::span<std::uint8_t> bytes, filled_journal undo) {
    undo_with(bytes, undo, codepage::from_windows_map);
}

void undo_windows_to_dos(std::span<std::uint8_t> bytes, filled_journal undo) {
    undo_with(bytes, undo, codepage::from_dos_map);
}
