// Properties of the translators on arbitrary bytes. The first byte of the
// input picks where the text is cut in two; the rest is the text.
#include "codepage/codepage.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;
using in_place = void (*)(std::span<std::uint8_t>);
using journaled = translated (*)(std::span<const std::uint8_t>, std::span<std::uint8_t>, journal);
using keeping = kept_journal (*)(std::span<const std::uint8_t>, filled_journal,
                                 std::span<std::uint8_t>, std::size_t &);
using undoing = void (*)(std::span<std::uint8_t>, kept_journal);

void require(bool holds) {
    if (!holds)
        std::abort();
}

// Translated whole, in place, and in two pieces by the journaling form: all
// the same, and the same length, with nothing written past the end; and each
// piece's journal undoes it to exactly the original.
bytes translate_every_way(const bytes &text, std::size_t cut, in_place whole, journaled piecewise,
                          keeping keep, undoing undo) {
    bytes once = text;
    whole(once);
    require(once.size() == text.size());

    const std::uint8_t guard = 0xA5;
    bytes pieces(text.size() + 1, guard);
    const std::span<const std::uint8_t> in(text);
    const std::span<std::uint8_t> out(pieces);
    const std::size_t words = (text.size() + 63) / 64;
    std::vector<std::uint64_t> lost_at(words), repeats(words);
    bytes originals(text.size() + 1);
    bytes undone(text.size());
    std::vector<std::uint64_t> room(text.size() / 8 + 1); // kept_room(size) bytes
    for (auto [from, to] : {std::pair{std::size_t{0}, cut}, {cut, text.size()}}) {
        const std::size_t n = to - from;
        std::fill(originals.begin(), originals.end(), guard);
        const translated t =
            piecewise(in.subspan(from, n), out.subspan(from, n), {lost_at, repeats, originals});
        require(t.originals <= t.lost && t.lost <= n && originals[t.originals] == guard);
        require(t.changed == !std::equal(in.begin() + from, in.begin() + to, out.begin() + from));
        std::copy(out.begin() + from, out.begin() + to, undone.begin() + from);
        const auto piece = std::span(undone).subspan(from, n);
        std::size_t used = 0;
        const kept_journal kept = keep(
            piece,
            {std::span(lost_at).first((n + 63) / 64), std::span(repeats).first((t.lost + 63) / 64),
             std::span(originals).first(t.originals)},
            {reinterpret_cast<std::uint8_t *>(room.data()), room.size() * 8}, used);
        require(used <= kept_room(n));
        undo(piece, kept);
    }
    require(undone == text);
    require(pieces.back() == guard);
    pieces.pop_back();
    require(pieces == once);
    return once;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const bytes text(data + 1, data + size);
    const std::size_t cut = text.empty() ? 0 : data[0] % (text.size() + 1);

    const bytes windows = translate_every_way(text, cut, dos_to_windows, dos_to_windows,
                                              keep_dos_to_windows, undo_dos_to_windows);
    const bytes dos = translate_every_way(text, cut, windows_to_dos, windows_to_dos,
                                          keep_windows_to_dos, undo_windows_to_dos);
    bytes back_to_dos = windows, back_to_windows = dos;
    windows_to_dos(back_to_dos);
    dos_to_windows(back_to_windows);

    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint8_t b = text[i];
        if (b < 0x80) {
            // Below 0x80 only the tilde changes, and only on the way to DOS.
            require(windows[i] == b);
            require(dos[i] == (b == '~' ? 0xF7 : b));
            continue;
        }
        // A byte that lands in the other page's upper half is a Greek letter
        // and comes back as itself; the plus-minus sign is the one substitute
        // that lands there.
        if (windows[i] >= 0x80)
            require(back_to_dos[i] == b);
        if (dos[i] >= 0x80 && b != 0xB1)
            require(back_to_windows[i] == b);
    }
    return 0;
}
