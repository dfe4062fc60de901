// The translation kernels behind dos_to_windows and windows_to_dos. Every
// kernel gives exactly the bytes (and the journal) of the portable one; the
// fastest that the processor supports is used.
#pragma once

#include "codepage.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace codepage {

enum class direction { to_windows, to_dos };

// Translates n bytes from `in` to `out`; the two are the same buffer or do not
// overlap. With `lost_at` set, also fills the journal: (n + 63) / 64 words of
// lost_at and up to n bytes of `lost`. Without it, `lost` is not used and
// nothing is counted as lost.
using kernel_fn = translated (*)(const std::uint8_t *in, std::uint8_t *out, std::size_t n,
                                 direction, std::uint64_t *lost_at, std::uint8_t *lost);

struct kernel {
    const char *name;
    kernel_fn run;
};

// One table lookup per byte: the reference for every other kernel.
translated translate_portable(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction,
                              std::uint64_t *lost_at, std::uint8_t *lost);

// Every kernel this processor can run, the portable one first and the fastest last.
std::span<const kernel> supported_kernels();

} // namespace codepage
