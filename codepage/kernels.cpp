#include "kernels.hpp"

#include "tables.hpp"

#include <array>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define GRKPAGE_X86 1
#endif

namespace codepage {

namespace {

constexpr const byte_map &map_for(direction d) {
    return d == direction::to_dos ? to_dos_map : to_windows_map;
}

} // namespace

void translate_portable(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction d) {
    const byte_map &map = map_for(d);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = map[in[i]];
}

#ifdef GRKPAGE_X86
namespace {

// The upper half is a 128-byte table: eight rows of 16 picked by bits 4-6 of
// the byte and looked up by its low nibble with a byte shuffle. A byte below
// 0x80 keeps its value, but for the tilde on the way to DOS.
template <direction D>
__attribute__((target("avx2"))) void avx2_loop(const std::uint8_t *in, std::uint8_t *out,
                                               std::size_t n) {
    const byte_map &map = map_for(D);
    __m256i rows[8];
    for (int k = 0; k < 8; ++k)
        rows[k] = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(map.data() + 128 + 16 * k)));
    const __m256i low_nibble = _mm256_set1_epi8(0x0F);
    const __m256i tilde = _mm256_set1_epi8('~');
    const __m256i approx = _mm256_set1_epi8(static_cast<char>(0xF7));

    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + i));
        const __m256i lo = _mm256_and_si256(x, low_nibble);
        __m256i r[8];
        for (int k = 0; k < 8; ++k)
            r[k] = _mm256_shuffle_epi8(rows[k], lo);
        // blendv picks by the top bit of each byte: shift bits 4, 5 and 6 there.
        const __m256i bit4 = _mm256_slli_epi16(x, 3);
        const __m256i bit5 = _mm256_slli_epi16(x, 2);
        const __m256i bit6 = _mm256_add_epi8(x, x);
        const __m256i r01 = _mm256_blendv_epi8(r[0], r[1], bit4);
        const __m256i r23 = _mm256_blendv_epi8(r[2], r[3], bit4);
        const __m256i r45 = _mm256_blendv_epi8(r[4], r[5], bit4);
        const __m256i r67 = _mm256_blendv_epi8(r[6], r[7], bit4);
        const __m256i r03 = _mm256_blendv_epi8(r01, r23, bit5);
        const __m256i r47 = _mm256_blendv_epi8(r45, r67, bit5);
        const __m256i upper = _mm256_blendv_epi8(r03, r47, bit6);
        __m256i y = _mm256_blendv_epi8(x, upper, x);
        if constexpr (D == direction::to_dos)
            y = _mm256_blendv_epi8(y, approx, _mm256_cmpeq_epi8(x, tilde));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), y);
    }
    translate_portable(in + i, out + i, n - i, D);
}

void translate_avx2(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction d) {
    if (d == direction::to_dos)
        avx2_loop<direction::to_dos>(in, out, n);
    else
        avx2_loop<direction::to_windows>(in, out, n);
}

// One two-table byte permute looks up all 64 bytes in the 128-byte upper half.
#define GRKPAGE_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi")))

template <direction D>
GRKPAGE_VBMI inline __m512i vbmi_step(__m512i x, __m512i first, __m512i second) {
    const __m512i upper = _mm512_permutex2var_epi8(first, x, second);
    __m512i y = _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), x, upper);
    if constexpr (D == direction::to_dos)
        y = _mm512_mask_mov_epi8(y, _mm512_cmpeq_epi8_mask(x, _mm512_set1_epi8('~')),
                                 _mm512_set1_epi8(static_cast<char>(0xF7)));
    return y;
}

template <direction D>
GRKPAGE_VBMI void vbmi_loop(const std::uint8_t *in, std::uint8_t *out, std::size_t n) {
    const byte_map &map = map_for(D);
    const __m512i first = _mm512_loadu_si512(map.data() + 128);
    const __m512i second = _mm512_loadu_si512(map.data() + 192);
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64)
        _mm512_storeu_si512(out + i, vbmi_step<D>(_mm512_loadu_si512(in + i), first, second));
    if (i < n) {
        const __mmask64 rest = (__mmask64{1} << (n - i)) - 1; // n - i < 64
        _mm512_mask_storeu_epi8(
            out + i, rest, vbmi_step<D>(_mm512_maskz_loadu_epi8(rest, in + i), first, second));
    }
}

void translate_vbmi(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction d) {
    if (d == direction::to_dos)
        vbmi_loop<direction::to_dos>(in, out, n);
    else
        vbmi_loop<direction::to_windows>(in, out, n);
}

} // namespace
#endif

std::span<const kernel> supported_kernels() {
    static const auto kernels = [] {
        struct list {
            std::array<kernel, 3> all{};
            std::size_t count = 0;
        } found;
        found.all[found.count++] = {"portable", translate_portable};
#ifdef GRKPAGE_X86
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2"))
            found.all[found.count++] = {"avx2", translate_avx2};
        if (__builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw"))
            found.all[found.count++] = {"avx512vbmi", translate_vbmi};
#endif
        return found;
    }();
    return {kernels.all.data(), kernels.count};
}

} // namespace codepage
