// The translation kernels behind dos_to_windows and windows_to_dos. Every
// kernel gives exactly the bytes of the portable one; the fastest that the
// processor supports is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace codepage {

enum class direction { to_windows, to_dos };

// Translates n bytes from `in` to `out`; the two are the same buffer or do not overlap.
using kernel_fn = void (*)(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction);

struct kernel {
    const char *name;
    kernel_fn run;
};

// One table lookup per byte: the reference for every other kernel.
void translate_portable(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction);

// Every kernel this processor can run, the portable one first and the fastest last.
std::span<const kernel> supported_kernels();

} // namespace codepage
