// The NEON kernel, on ARM64: two four-register table lookups per 16 bytes.
#include "common.hpp"

#ifdef __aarch64__
#include <algorithm>
#include <arm_neon.h>

namespace codepage {

namespace {

// Bit i set where byte i of `x` has its top bit set.
std::uint64_t movemask(uint8x16_t x) {
    constexpr std::uint8_t weights[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t picked = vandq_u8(vcltzq_s8(vreinterpretq_s8_u8(x)), vld1q_u8(weights));
    return vaddv_u8(vget_low_u8(picked)) | std::uint64_t{vaddv_u8(vget_high_u8(picked))} << 8;
}

// The upper half is two 64-byte tables: one four-register lookup gives the
// bytes of the first (zero for the rest), a second fills in those of the
// other. A byte below 0x80 keeps its value, but for the tilde on the way to DOS.
template <direction D>
translated neon_loop(const std::uint8_t *in, std::uint8_t *out, std::size_t n,
                     journal_writer *journal) {
    const byte_map &map = map_for(D);
    const uint8x16x4_t first = vld1q_u8_x4(map.data() + 128);
    const uint8x16x4_t second = vld1q_u8_x4(map.data() + 192);
    const uint8x16_t top = vdupq_n_u8(0x80), sixty_four = vdupq_n_u8(64);
    // The journal's counters in a local: stores through its byte pointers
    // could otherwise alias them.
    journal_writer local = journal ? *journal : journal_writer{};
    if (journal)
        std::fill_n(local.lost_at, journal_words(n), 0);
    uint8x16_t differ = vdupq_n_u8(0);

    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const uint8x16_t x = vld1q_u8(in + i);
        const uint8x16_t index = vsubq_u8(x, top); // 0-127 for the upper half
        const uint8x16_t upper =
            vqtbx4q_u8(vqtbl4q_u8(first, index), second, vsubq_u8(index, sixty_four));
        const uint8x16_t high = vcgeq_u8(x, top);
        uint8x16_t y = vbslq_u8(high, upper, x);
        if constexpr (D == direction::to_dos)
            y = vbslq_u8(vceqq_u8(x, vdupq_n_u8('~')), vdupq_n_u8(0xF7), y);
        vst1q_u8(out + i, y);
        differ = vorrq_u8(differ, veorq_u8(x, y));
        if (journal) {
            // Destroyed: from the upper half into the lower, or the plus-minus sign.
            uint8x16_t gone = vandq_u8(high, vcltq_u8(y, top));
            if constexpr (D == direction::to_dos)
                gone = vorrq_u8(gone, vceqq_u8(x, vdupq_n_u8(to_dos_destroyed_upper)));
            const std::uint64_t mask = movemask(gone);
            local.lost_at[i / 64] |= mask << (i % 64);
            if (!mask)
                continue;
            // From a copy: translating in place has overwritten `in` already.
            std::uint8_t was[16];
            vst1q_u8(was, x);
            note_piece(local, was, mask);
        }
    }
    return finish_vectors(in, out, i, n, D, journal, local, vmaxvq_u8(differ) != 0);
}

} // namespace

translated translate_neon(const std::uint8_t *in, std::uint8_t *out, std::size_t n, direction d,
                          journal_writer *journal) {
    return in_direction(d, [&]<direction D>() { return neon_loop<D>(in, out, n, journal); });
}

} // namespace codepage
#endif
