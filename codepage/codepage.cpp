#include "codepage.hpp"

#include "kernels.hpp"

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
