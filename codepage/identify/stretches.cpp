// Stretches: each kilobyte read closely leans to what it reads as on its own,
// so that a file in two encodings is told from a file in either; and blocks:
// each is held against the blocks read closely before it, and read closely
// itself when its counts depart from theirs.
#include "steps.hpp"
#include "thresholds.hpp"

#include <algorithm>

namespace codepage::identifier {

namespace {

// What the stretch in hand reads as, on its own: a leaning, or two.
struct leaned {
    leaning first = leaning::none, second = leaning::none;
};

leaned lean(const identification &id) {
    const greek_reading dos = since(id.dos, id.dos_then);
    const greek_reading windows = since(id.windows, id.windows_then);
    const std::uint64_t sequences = id.utf8_sequences - id.utf8_sequences_then;
    const std::uint64_t invalid = id.utf8_invalid - id.utf8_invalid_then;
    if (invalid == 0 && sequences >= stretch_utf8)
        return {leaning::utf8};
    // Words of Greek in both families: each family's text reads as no word
    // in the other, so the stretch holds both.
    if (dos.long_words > 0 && windows.long_words > 0)
        return {leaning::dos, leaning::windows};
    // Letters in or at the edge of Latin words: a Latin-script language's,
    // however much Greek the stretch holds besides.
    const bool no_greek_word = dos.bad_words == dos.words && windows.bad_words == windows.words;
    if ((no_greek_word && strays(dos) + dos.in_latin >= stretch_latin) ||
        dos.in_latin + dos.latin_edges >= stretch_latin)
        return {leaning::neither};
    // More of what Greek text does not hold, in the family that reads better,
    // than a kilobyte of Greek ever has: a few words of another language.
    const greek_reading &better = weight(dos) >= weight(windows) ? dos : windows;
    if (dos.upper >= stretch_upper &&
        better.bad_words + better.unlikely_words + better.odd_symbols >= stretch_anomalies)
        return {leaning::neither};
    if (reads_as_greek(dos) && weight(dos) >= weight(windows) + family_margin)
        return {leaning::dos};
    if (reads_as_greek(windows) && weight(windows) >= weight(dos) + family_margin)
        return {leaning::windows};
    if (dos.upper >= stretch_upper && not_greek(dos) && not_greek(windows))
        return {leaning::neither};
    return {};
}

constexpr std::string_view leaning_name(leaning l) {
    switch (l) {
    case leaning::dos:
        return "DOS Greek";
    case leaning::windows:
        return "Windows Greek";
    case leaning::utf8:
        return "UTF-8";
    case leaning::neither:
        return "another encoding";
    case leaning::none:
        break;
    }
    return "";
}

// A count of the block beyond what its share of the reference gives it.
bool beyond(std::uint64_t seen, std::uint64_t in_reference, std::uint64_t upper,
            const block_reference &ref) {
    const std::uint64_t expected = upper * in_reference / ref.upper;
    return 2 * seen > departing_halves * expected + 2 * departing_slack;
}

} // namespace

void close_stretch(identification &id, std::uint64_t at) {
    const leaned l = lean(id);
    const auto note = [&](leaning each) {
        const auto k = static_cast<std::size_t>(each);
        if (id.stretches.count[k]++ == 0)
            id.stretches.first[k] = at;
    };
    note(l.first);
    if (l.second != leaning::none)
        note(l.second);
    id.dos_then = id.dos;
    id.windows_then = id.windows;
    id.utf8_sequences_then = id.utf8_sequences;
    id.utf8_invalid_then = id.utf8_invalid;
}

bool departs(const block_reference &ref, const block_counts &c) {
    const std::uint64_t upper = c.upper();
    if (upper == 0)
        return false; // ASCII: nothing that a reading would weigh
    if (ref.upper < reference_upper)
        return true;
    for (std::size_t q = 0; q < 4; ++q)
        if (beyond(c.quarters[q], ref.quarters[q], upper, ref))
            return true;
    if (beyond(c.utf8_pairs, ref.utf8_pairs, upper, ref))
        return true;
    // Letters of the other Greek family, two in a row: its words, however few.
    if (c.top_pairs > 2 * (upper * ref.top_pairs / ref.upper) + pairs_slack ||
        c.low_pairs > 2 * (upper * ref.low_pairs / ref.upper) + pairs_slack)
        return true;
    // Latin words with accented letters, however few, among Greek ones.
    if (c.latin_touches > 2 * (upper * ref.latin_touches / ref.upper) + touching_slack)
        return true;
    // Far fewer breaks of UTF-8's structure than before: UTF-8 among 8-bit
    // text; or breaks where there were none: 8-bit text among UTF-8. Once
    // the file has broken UTF-8's structure, breaks are not counted.
    if (!c.counted.utf8)
        return false;
    const std::uint64_t breaks = upper * ref.utf8_breaks / ref.upper;
    return 2 * c.utf8_breaks + 2 * departing_slack < breaks ||
           (ref.utf8_breaks == 0 && c.utf8_breaks > 0);
}

void add_to_reference(block_reference &ref, const block_counts &c) {
    for (std::size_t q = 0; q < 4; ++q)
        ref.quarters[q] += c.quarters[q];
    ref.upper += c.upper();
    ref.utf8_breaks += c.utf8_breaks;
    ref.utf8_pairs += c.utf8_pairs;
    ref.latin_touches += c.latin_touches;
    ref.top_pairs += c.top_pairs;
    ref.low_pairs += c.low_pairs;
}

leaning first_leaning(const stretch_record &s) {
    leaning first = leaning::none;
    for (std::size_t l = 1; l < leanings; ++l)
        if (s.count[l] > 0 &&
            (first == leaning::none || s.first[l] < s.first[static_cast<std::size_t>(first)]))
            first = static_cast<leaning>(l);
    return first;
}

std::optional<std::string> two_encodings(const stretch_record &s) {
    // The two kinds of stretch that begin first, by where they begin.
    const auto at = [&s](std::size_t l) { return s.first[l]; };
    std::size_t first = 0, second = 0;
    for (std::size_t l = 1; l < leanings; ++l) {
        if (s.count[l] == 0)
            continue;
        if (first == 0 || at(l) < at(first)) {
            second = first;
            first = l;
        } else if (second == 0 || at(l) < at(second)) {
            second = l;
        }
    }
    if (second == 0)
        return std::nullopt;
    const auto part = [&](std::size_t l) {
        return "parts in " + std::string(leaning_name(static_cast<leaning>(l))) +
               " from about offset " + number(at(l));
    };
    return part(first) + " and " + part(second);
}

} // namespace codepage::identifier
