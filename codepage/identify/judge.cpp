// The rules on one reading: whether it reads as Greek, plainly does not, or
// as frames alone.
#include "steps.hpp"
#include "thresholds.hpp"

#include <algorithm>

namespace codepage::identifier {

namespace {

std::int64_t signed_count(std::uint64_t n) {
    return static_cast<std::int64_t>(n);
}

} // namespace

std::uint64_t strays(const greek_reading &r) {
    const std::uint64_t explained = r.letters + r.boxes + r.marks;
    return r.upper > explained ? r.upper - explained : 0;
}

std::string number(std::uint64_t n) {
    return std::to_string(n);
}

std::int64_t weight(const greek_reading &r) {
    return r.pairs_score - 64 * signed_count(r.bad_words) -
           32 * signed_count(r.odd_symbols + r.broken_frames + r.stuck_frames);
}

// Greek text reads well letter pair by letter pair, in words as Greek writes
// them, and its letters explain its upper half but for a few bytes. Text
// mostly in capitals is held to a higher bar.
bool reads_as_greek(const greek_reading &r) {
    const std::uint64_t good = r.words - r.bad_words;
    const auto pairs = signed_count(r.pairs);
    const std::int64_t clean = r.bad_words == 0 && r.words >= clean_words ? clean_allowance : 0;
    const std::int64_t capitals_bar = pairs >= long_pairs ? bar_capitals_long : bar_capitals;
    const std::int64_t bar = (r.capitals * 2 > r.letters ? capitals_bar : bar_small) - clean +
                             std::max<std::int64_t>(0, short_pairs - pairs) / 4;
    return r.undefined == 0 && good >= least_good_words && r.letters >= least_letters &&
           r.good_letters * 10 >= least_word_tenths * good &&
           r.bad_words * words_per_bad_word <= r.words &&
           r.in_latin * words_per_latin_word <= r.words &&
           r.latin_edges * words_per_latin_edge <= r.words &&
           r.odd_symbols * letters_per_odd_symbol <= r.letters &&
           r.broken_frames * joins_per_broken_frame <= r.frame_runs + 1 &&
           r.stuck_frames * letters_per_stuck_frame <= r.letters &&
           strays(r) * good_letters_per_stray <= r.good_letters && r.pairs_score >= bar * pairs;
}

// Unlikely letter pairs are proof only with some of what no Greek text holds,
// or when far below anything Greek: names from other languages are written
// in Greek too.
bool not_greek(const greek_reading &r) {
    const auto pairs = signed_count(r.pairs);
    return r.undefined > 0 || r.bad_words * 2 >= r.words + 1 ||
           r.odd_symbols * 4 >= r.letters + 1 || r.broken_frames > r.frame_runs ||
           (r.bad_words * 5 >= r.words + 1 && r.pairs_score < 0) ||
           r.pairs_score < far_below * pairs;
}

bool latin_accents(const greek_reading &r) {
    return r.in_latin > 0 && r.in_latin == r.words;
}

bool only_shared_frames(const greek_reading &r) {
    return r.letters == 0 && r.upper == r.shared_boxes && r.frame_runs >= least_frame_joins &&
           r.broken_frames * joins_per_broken_form <= r.frame_runs;
}

std::string greek_evidence(const greek_reading &r) {
    std::string s = number(r.letters) + " Greek letters in " + number(r.words) + " words";
    if (r.frame_runs)
        s += ", " + number(r.frame_runs) + " frame joins";
    return s;
}

} // namespace codepage::identifier
