// The verdict: what the counts, the readings and the stretches come to, in
// order: nothing, a byte order mark, UTF-16, a container or other binary,
// ASCII, UTF-8, parts in two encodings, then the two Greek families.
#include "steps.hpp"
#include "thresholds.hpp"

#include <algorithm>

namespace codepage::identifier {

namespace {

// UTF-16 without a byte order mark, in the order where the high byte of each
// pair is at offsets of parity `high` (1: little endian): high bytes mostly of
// the alphabets (0x00-0x06, which no 8-bit text holds) and the rest of
// punctuation and symbols; low bytes hardly ever zero or a control; and the
// units read closely text, with spaces between words.
bool looks_utf16(const identification &id, int high) {
    if (!id.utf16_possible)
        return false;
    const byte_counts &c = id.counts;
    const std::uint64_t units = id.size / 2;
    const auto h = static_cast<std::size_t>(high);
    const std::uint64_t low_controls = c.controls - std::min(c.controls, c.alphabetic[h]);
    return id.size % 2 == 0 && units >= least_utf16_units && c.nul_units == 0 &&
           (c.alphabetic[h] + c.punctuation[h]) * 20 >= units * 19 &&
           c.alphabetic[h] * 2 >= units && c.zeros[1 - h] * 32 <= units &&
           low_controls * 8 <= units &&
           id.utf16_text[h] * 10 >= utf16_tenths_text * id.utf16_units &&
           id.utf16_spaces[h] * units_per_space >= id.utf16_units;
}

// Valid UTF-8: no break in its structure anywhere, no byte it never has, no
// character cut off at the end; and, where read closely, every sequence as
// short as it can be and outside the surrogates.
bool looks_utf8(const identification &id) {
    return id.counts.utf8_breaks == 0 && id.counts.never_utf8 == 0 && id.utf8_invalid == 0 &&
           !ends_inside_a_character(id);
}

// UTF-16 with a byte order mark: the rest must be UTF-16 too, its units read
// closely text, as one file appended to another is not.
finding by_byte_order_mark(const identification &id) {
    const auto &s = id.start;
    if (id.size >= 3 && s[0] == 0xEF && s[1] == 0xBB && s[2] == 0xBF) {
        if (looks_utf8(id))
            return {verdict::utf8, "byte order mark"};
        return {verdict::other, "a UTF-8 byte order mark, but not UTF-8"};
    }
    const bool le = s[0] == 0xFF && s[1] == 0xFE, be = s[0] == 0xFE && s[1] == 0xFF;
    if (id.size >= 2 && (le || be)) {
        const std::size_t h = le ? 1 : 0;
        if (id.size % 2 == 0 && id.counts.nul_units == 0 &&
            id.utf16_text[h] * 10 >= utf16_tenths_text * id.utf16_units)
            return {le ? verdict::utf16le : verdict::utf16be, "byte order mark"};
        return {verdict::other, "a UTF-16 byte order mark, but not UTF-16"};
    }
    return {verdict::unsure, ""};
}

// Bytes that no text holds.
finding binary(const identification &id) {
    const byte_counts &c = id.counts;
    if (c.nul > 0)
        return {verdict::other, "binary: " + number(c.nul) + " NUL bytes, the first at offset " +
                                    number(c.first_nul)};
    if (c.controls * bytes_per_control > id.size)
        return {verdict::other, "binary: " + number(c.controls) + " control bytes"};
    return {verdict::unsure, ""};
}

finding windows_or_iso(const identification &id, const greek_reading &r) {
    const std::string evidence = greek_evidence(r);
    const bool iso_lacks = id.counts.quarters[0] > 0 || id.counts.ae > 0;
    const bool windows_lacks = id.counts.aa > 0;
    const std::uint64_t iso = r.alpha_b6 + r.quote_a2 + r.quote_a1, windows = r.alpha_a2;
    if (iso_lacks && windows_lacks)
        return {verdict::unsure, "bytes that neither Windows-1253 nor ISO-8859-7 has"};
    if (iso_lacks)
        return {verdict::cp1253, evidence + "; bytes 0x80-0x9F or 0xAE, which ISO-8859-7 lacks"};
    // 0xAA is a letter of ISO-8859-7 that Greek has not written since 1982:
    // with nothing else written as ISO-8859-7 writes it, it tells nothing.
    if (windows_lacks && iso > 0 && windows == 0)
        return {verdict::iso_8859_7, evidence + "; byte 0xAA, which Windows-1253 lacks"};
    if (windows_lacks)
        return {verdict::unsure, "byte 0xAA, which Windows-1253 lacks, and nothing else as "
                                 "ISO-8859-7 writes it"};
    if (iso > 0 && windows > 0)
        return {verdict::unsure, "Alpha with tonos written both as in Windows-1253 and as in "
                                 "ISO-8859-7"};
    if (iso > 0)
        return {verdict::iso_8859_7, evidence + "; " + number(iso) +
                                         " Alpha with tonos or quotes as ISO-8859-7 writes them"};
    if (windows > 0)
        return {verdict::cp1253,
                evidence + "; " + number(windows) + " Alpha with tonos as Windows-1253 writes it"};
    if (r.differing > 0)
        return {verdict::unsure, number(r.differing) + " bytes that Windows-1253 and ISO-8859-7 "
                                                       "read differently, and no telling which"};
    return {verdict::cp1253, evidence + "; reads the same in ISO-8859-7"};
}

finding eight_bit(const identification &id) {
    const greek_reading dos = closed(id.dos);
    greek_reading windows = closed(id.windows);
    // 0xD2 and 0xFF were looked for in the whole file.
    windows.undefined += id.counts.windows_holes;
    // Plainly Greek in neither family, and in most of its stretches too:
    // another language, whose words read as a few Greek ones here and there
    // (as Cyrillic does in both families), not parts in two encodings.
    const bool enough = id.counts.upper() >= enough_upper ||
                        std::min(dos.bad_words, windows.bad_words) >= enough_bad_words ||
                        (latin_accents(dos) && latin_accents(windows));
    const bool plainly_other =
        enough && not_greek(dos) && not_greek(windows) && dos.letters + windows.letters > 0;
    const auto &leaned = id.stretches.count;
    const std::uint64_t greek_stretches = leaned[static_cast<std::size_t>(leaning::dos)] +
                                          leaned[static_cast<std::size_t>(leaning::windows)] +
                                          leaned[static_cast<std::size_t>(leaning::utf8)];
    const std::string not_greek_reason = "not Greek: " + number(dos.bad_words + windows.bad_words) +
                                         " runs of letters that no Greek word could be";
    if (auto two = two_encodings(id.stretches)) {
        if (plainly_other && greek_stretches < leaned[static_cast<std::size_t>(leaning::neither)])
            return {verdict::other, not_greek_reason};
        return {verdict::unsure, *two};
    }
    // Words of Greek in the other family too: parts in each.
    if (!plainly_other && dos.long_words > 0 && windows.long_words > 0)
        return {verdict::unsure, "Greek words in DOS Greek and in Windows Greek: " +
                                     number(dos.long_words) + " and " + number(windows.long_words)};
    const bool dos_greek = reads_as_greek(dos);
    const bool windows_greek = reads_as_greek(windows);
    if (dos_greek && weight(dos) >= weight(windows) + family_margin)
        return {verdict::cp737, greek_evidence(dos)};
    if (windows_greek && weight(windows) >= weight(dos) + family_margin)
        return windows_or_iso(id, windows);
    // Greek but for a few bytes that the code page lacks: damaged, or
    // something else in part.
    greek_reading whole = windows;
    whole.undefined = 0;
    if (windows.undefined * letters_per_hole <= windows.letters && reads_as_greek(whole) &&
        weight(windows) >= weight(dos) + family_margin)
        return {verdict::unsure, "Windows Greek but for " + number(windows.undefined) +
                                     " bytes that Windows-1253 and ISO-8859-7 lack"};
    // A DOS form with no letters in its upper half: whichever DOS code page
    // drew it, grkpage makes the same of it.
    if (only_shared_frames(dos) && !windows_greek)
        return {verdict::cp737, "only box drawing, which every DOS code page draws alike: " +
                                    number(dos.frame_runs) + " frame joins"};
    if (plainly_other)
        return {verdict::other, not_greek_reason};
    return {verdict::unsure,
            "too little evidence: " + number(std::max(dos.letters, windows.letters)) +
                " bytes that could be Greek letters"};
}

} // namespace

finding verdict_of(const identification &id) {
    if (id.size == 0)
        return {verdict::empty, "no bytes"};
    if (auto what = container_of(id))
        return {verdict::other, "binary: " + *what};
    if (finding bom = by_byte_order_mark(id); bom.result != verdict::unsure)
        return bom;
    if (looks_utf16(id, 1))
        return {verdict::utf16le, "every other byte that of an alphabet's character"};
    if (looks_utf16(id, 0))
        return {verdict::utf16be, "every other byte that of an alphabet's character"};
    if (finding f = binary(id); f.result != verdict::unsure)
        return f;
    const byte_counts &c = id.counts;
    if (c.upper() == 0)
        return {verdict::ascii, "no byte above 0x7F"};
    if (looks_utf8(id)) {
        const std::uint64_t characters = c.quarters[2] + c.quarters[3] - c.never_utf8;
        const bool greek_too = reads_as_greek(closed(id.dos)) || reads_as_greek(closed(id.windows));
        if (id.utf8_unlikely * sequences_per_unlikely > id.utf8_sequences ||
            (greek_too && characters < least_utf8_characters))
            return {verdict::unsure, "valid UTF-8, but it reads as 8-bit Greek too"};
        return {verdict::utf8, number(characters) + " characters of more than one byte"};
    }
    return eight_bit(id);
}

} // namespace codepage::identifier
