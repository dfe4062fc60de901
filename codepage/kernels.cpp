// The kernels in one ordered table, slowest first, which both the choice at
// run time and the build's cap read.
#include "kernels/common.hpp"

#include <array>
#include <string_view>

namespace codepage {

namespace {

constexpr bool always() {
    return true;
}

constexpr kernel every_kernel[] = {
    {"portable", always, translate_portable, classes_portable, place_portable, count_portable,
     gather_portable, scatter_portable},
#ifdef GRKPAGE_X86
    {"ssse3", ssse3_supported, translate_ssse3, classes_portable, place_ssse3, count_portable,
     gather_portable, scatter_portable},
    // These two run only where the processor has BMI2 as well.
    {"avx2", avx2_supported, translate_avx2, classes_avx2, place_ssse3, count_avx2, gather_bmi2,
     scatter_bmi2},
    {"avx512vbmi", avx512vbmi_supported, translate_avx512vbmi, classes_avx512vbmi, place_avx512vbmi,
     count_avx512vbmi, gather_bmi2, scatter_bmi2},
#endif
#ifdef __aarch64__
    // Every ARM64 processor has NEON, which the portable counts use there.
    {"neon", always, translate_neon, classes_portable, place_portable, count_portable,
     gather_portable, scatter_portable},
#endif
};
constexpr std::size_t kernel_count = std::size(every_kernel);

// The place of the kernel named `name` in the table, or kernel_count.
constexpr std::size_t place_of(std::string_view name) {
    for (std::size_t k = 0; k < kernel_count; ++k)
        if (name == every_kernel[k].name)
            return k;
    return kernel_count;
}

// The last kernel the choice may take.
#ifdef GRKPAGE_KERNEL
constexpr std::size_t cap = place_of(GRKPAGE_KERNEL);
static_assert(cap < kernel_count, "GRKPAGE_KERNEL names no kernel of this processor family");
#else
constexpr std::size_t cap = kernel_count - 1;
#endif

} // namespace

std::span<const kernel> supported_kernels() {
    static const auto found = [] {
        struct list {
            std::array<kernel, kernel_count> all{};
            std::size_t count = 0;
        } supported;
        for (const kernel &k : every_kernel)
            if (k.supported())
                supported.all[supported.count++] = k;
        return supported;
    }();
    return {found.all.data(), found.count};
}

const kernel &chosen_kernel() {
    static const kernel &chosen = []() -> const kernel & {
        const kernel *best = &supported_kernels().front();
        for (const kernel &k : supported_kernels())
            if (place_of(k.name) <= cap)
                best = &k;
        return *best;
    }();
    return chosen;
}

} // namespace codepage
