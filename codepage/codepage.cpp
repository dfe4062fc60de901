#include "codepage.hpp"

#include "kernels.hpp"

#include <cassert>

namespace {

using codepage::direction;

void translate(std::span<const std::uint8_t> from, std::span<std::uint8_t> to, direction d) {
    assert(to.size() >= from.size());
    static const codepage::kernel_fn fastest = codepage::supported_kernels().back().run;
    fastest(from.data(), to.data(), from.size(), d);
}

} // namespace

void dos_to_windows(std::span<const std::uint8_t> from, std::span<std::uint8_t> to) {
    translate(from, to, direction::to_windows);
}

void windows_to_dos(std::span<const std::uint8_t> from, std::span<std::uint8_t> to) {
    translate(from, to, direction::to_dos);
}

void dos_to_windows(std::span<std::uint8_t> bytes) { translate(bytes, bytes, direction::to_windows); }

void windows_to_dos(std::span<std::uint8_t> bytes) { translate(bytes, bytes, direction::to_dos); }
