#include "codepage.hpp"

#include "kernels.hpp"
#include "tables.hpp"

#include <cassert>

namespace {

using codepage::direction;

translated translate(std::span<const std::uint8_t> from, std::span<std::uint8_t> to, direction d,
                     std::uint64_t *lost_at = nullptr, std::uint8_t *lost = nullptr) {
    assert(to.size() >= from.size());
    static const codepage::kernel_fn fastest = codepage::supported_kernels().back().run;
    return fastest(from.data(), to.data(), from.size(), d, lost_at, lost);
}

translated translate(std::span<const std::uint8_t> from, std::span<std::uint8_t> to, direction d,
                     journal undo) {
    assert(undo.lost_at.size() >= (from.size() + 63) / 64 && undo.lost.size() >= from.size());
    return translate(from, to, d, undo.lost_at.data(), undo.lost.data());
}

void undo_with(std::span<std::uint8_t> bytes, std::span<const std::uint64_t> lost_at,
               std::span<const std::uint8_t> lost, const codepage::byte_map &inverse) {
    for (auto &b : bytes)
        b = inverse[b];
    std::size_t next = 0;
    for (std::size_t word = 0; word < lost_at.size(); ++word)
        for (std::uint64_t bits = lost_at[word]; bits; bits &= bits - 1) {
            const std::size_t at = word * 64 + static_cast<std::size_t>(__builtin_ctzll(bits));
            assert(at < bytes.size() && next < lost.size());
            bytes[at] = lost[next++];
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

void undo_dos_to_windows(std::span<std::uint8_t> bytes, std::span<const std::uint64_t> lost_at,
                         std::span<const std::uint8_t> lost) {
    undo_with(bytes, lost_at, lost, codepage::from_windows_map);
}

void undo_windows_to_dos(std::span<std::uint8_t> bytes, std::span<const std::uint64_t> lost_at,
                         std::span<const std::uint8_t> lost) {
    undo_with(bytes, lost_at, lost, codepage::from_dos_map);
}
