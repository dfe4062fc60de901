// The walk through the file: its bytes taken in blocks, every block counted,
// and the first 64 KiB read closely, as is every later block whose counts
// depart from those read before.
#include "codepage/kernels.hpp"
#include "steps.hpp"
#include "thresholds.hpp"

#include <algorithm>
#include <cstring>

namespace codepage::identifier {

namespace {

using namespace codepage::model;

constexpr std::array<std::string_view, all_verdicts.size()> names = {
    "ASCII",    "CP737",    "CP1253", "ISO-8859-7", "UTF-8",
    "UTF-16LE", "UTF-16BE", "other",  "unsure",     "empty"};

static_assert(block_size == std::tuple_size_v<decltype(identification::pending)>);
static_assert(block_size % stretch_size == 0 && read_first % block_size == 0);

// Reads a block closely, stretch by stretch; `at` is where it begins.
void read_closely(identification &id, std::span<const std::uint8_t> block, std::uint64_t at) {
    if (at != id.close_end) { // after blocks not read closely
        restart_words(id.dos);
        restart_words(id.windows);
        restart_utf8(id);
    }
    for (std::size_t done = 0; done < block.size(); done += stretch_size) {
        const auto part =
            block.subspan(done, std::min<std::size_t>(stretch_size, block.size() - done));
        check_utf8(id, part);
        read_words(id.dos, dos_reading, part);
        read_words(id.windows, windows_reading, part);
        if (id.utf16_possible)
            count_utf16_text(id, part);
        if (part.size() == stretch_size)
            close_stretch(id, at + done);
    }
    id.close_end = at + block.size();
}

// A block whose stretches lean away from the file's first leaning is left out
// of the reference: the reference is what the file is.
bool leans_away(const stretch_record &before, const stretch_record &after) {
    const leaning first = first_leaning(after);
    for (std::size_t l = 1; l < leanings; ++l)
        if (static_cast<leaning>(l) != first && after.count[l] > before.count[l])
            return true;
    return false;
}

// Takes in a whole block, or the file's last; `at` is where it begins.
void take_block(identification &id, std::span<const std::uint8_t> block, std::uint64_t at) {
    block_counts c;
    count_block(id, block, at, c);
    if (at >= read_first && !departs(id.reference, c))
        return;
    const stretch_record before = id.stretches;
    read_closely(id, block, at);
    if (!leans_away(before, id.stretches))
        add_to_reference(id.reference, c);
}

} // namespace

} // namespace codepage::identifier

using namespace codepage::identifier;

std::string_view verdict_name(verdict v) {
    return names[static_cast<std::size_t>(v)];
}

std::optional<verdict> verdict_named(std::string_view name) {
    for (const verdict v : all_verdicts)
        if (verdict_name(v) == name)
            return v;
    return std::nullopt;
}

identification::identification() : identification(codepage::chosen_kernel()) {}

identification::identification(const codepage::kernel &k) : counter(&k) {}

void identify_more(identification &id, std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < bytes.size() && id.size + i < id.start.size(); ++i)
        id.start[id.size + i] = bytes[i];
    while (!bytes.empty()) {
        if (id.pending_size == 0 && bytes.size() >= block_size) {
            // A whole block, taken where it lies.
            take_block(id, bytes.first(block_size), id.size);
            id.size += block_size;
            bytes = bytes.subspan(block_size);
            continue;
        }
        const std::size_t taken = std::min(block_size - id.pending_size, bytes.size());
        std::memcpy(id.pending.data() + id.pending_size, bytes.data(), taken);
        id.pending_size += taken;
        id.size += taken;
        bytes = bytes.subspan(taken);
        if (id.pending_size == block_size) {
            take_block(id, {id.pending.data(), block_size}, id.size - block_size);
            id.pending_size = 0;
        }
    }
}

void codepage::identifier::finish(identification &id) {
    if (id.pending_size > 0) {
        const std::size_t last = id.pending_size;
        id.pending_size = 0;
        take_block(id, {id.pending.data(), last}, id.size - last);
    }
    // The last stretch, cut short by the end of the file.
    if (id.close_end == id.size && id.size % stretch_size != 0)
        close_stretch(id, id.size / stretch_size * stretch_size);
}

finding identify_end(const identification &held) {
    identification id = held;
    finish(id);
    return verdict_of(id);
}

finding identify(std::span<const std::uint8_t> bytes) {
    identification id;
    identify_more(id, bytes);
    return identify_end(id);
}

finding identify(std::span<const std::uint8_t> bytes, const codepage::kernel &k) {
    identification id(k);
    identify_more(id, bytes);
    return identify_end(id);
}
