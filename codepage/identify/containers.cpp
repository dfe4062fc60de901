// The containers a user's folder holds beside text, by their signatures:
// archives, documents, images, programs, tables and databases. Each is
// binary, however much text it holds: a stored .zip or a dBase table of DOS
// Greek reads as DOS Greek, and converting it would break its checksums,
// offsets and counts.
#include "steps.hpp"

#include <string_view>

namespace codepage::identifier {

namespace {

using namespace std::string_view_literals;

struct signature {
    std::string_view bytes; // at offset 0
    std::string_view what;
    bool printable = false; // text could begin so: taken only with a NUL or control byte too
};

// Signatures no text begins with, or none with NUL or control bytes in it.
constexpr signature signatures[] = {
    {"PK\x03\x04"sv, "a zip archive"},
    {"PK\x05\x06"sv, "a zip archive"},
    {"\x1F\x8B"sv, "a gzip file"},
    {"BZh"sv, "a bzip2 file", true},
    {"\xFD"
     "7zXZ"sv,
     "an xz file"},
    {"7z\xBC\xAF\x27\x1C"sv, "a 7-Zip archive"},
    {"Rar!\x1A\x07"sv, "a RAR archive"},
    {"%PDF-"sv, "a PDF document"},
    {"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv, "an Office document"},
    {"{\\rtf"sv, "an RTF document"},
    {"\x89PNG"sv, "a PNG image"},
    {"GIF87a"sv, "a GIF image", true},
    {"GIF89a"sv, "a GIF image", true},
    {"\xFF\xD8\xFF"sv, "a JPEG image"},
    {"II*"sv, "a TIFF image", true},
    {"MM\0*"sv, "a TIFF image"},
    {"\x7F"
     "ELF"sv,
     "a program"},
    {"\xCA\xFE\xBA\xBE"sv, "a program"},
    {"SQLite format 3"sv, "a database", true},
    {"RIFF"sv, "a sound or video file", true},
    {"OggS"sv, "a sound or video file", true},
    {"ID3"sv, "a sound file", true},
};

std::uint32_t little_endian(const identification &id, std::size_t at, std::size_t bytes) {
    std::uint32_t n = 0;
    for (std::size_t i = bytes; i-- > 0;)
        n = n << 8 | id.start[at + i];
    return n;
}

// A dBase table (III to 5, FoxPro): a version byte, a date of last update,
// the record count, the header's and a record's length, and a size that
// they add up to (with an end-of-file byte, or without).
bool dbase_table(const identification &id) {
    const auto &s = id.start;
    const bool version = s[0] == 0x03 || s[0] == 0x83 || s[0] == 0x8B || s[0] == 0xF5 ||
                         s[0] == 0x30 || s[0] == 0x31 || s[0] == 0x04 || s[0] == 0x05;
    const std::uint32_t month = s[2], day = s[3];
    const std::uint64_t records = little_endian(id, 4, 4);
    const std::uint64_t header = little_endian(id, 8, 2), record = little_endian(id, 10, 2);
    if (!version || id.size < 32 || month < 1 || month > 12 || day < 1 || day > 31 || header < 33 ||
        record < 1)
        return false;
    const std::uint64_t end = header + records * record;
    return id.size == end || id.size == end + 1;
}

// A netpbm image, P4 to P6 (PBM, PGM, PPM in binary): its header, in ASCII,
// and a size that the header gives.
bool netpbm_image(const identification &id) {
    const auto &s = id.start;
    if (s[0] != 'P' || s[1] < '4' || s[1] > '6')
        return false;
    std::size_t at = 2;
    std::uint64_t fields[3] = {0, 0, 1};
    const std::size_t needed = s[1] == '4' ? 2 : 3;
    for (std::size_t f = 0; f < needed; ++f) {
        const std::size_t begun = at;
        while (at < s.size() && (s[at] == ' ' || s[at] == '\n' || s[at] == '\r' || s[at] == '\t'))
            ++at;
        if (at == begun)
            return false;
        const std::size_t digits = at;
        fields[f] = 0;
        while (at < s.size() && s[at] >= '0' && s[at] <= '9' && at - digits < 6)
            fields[f] = fields[f] * 10 + (s[at++] - '0');
        if (at == digits || at == s.size())
            return false;
    }
    ++at; // one white space ends the header
    const std::uint64_t samples = s[1] == '6' ? 3 : 1;
    const std::uint64_t pixels = s[1] == '4'
                                     ? (fields[0] + 7) / 8 * fields[1]
                                     : fields[0] * fields[1] * samples * (fields[2] > 255 ? 2 : 1);
    return pixels > 0 && id.size == at + pixels;
}

// A Windows bitmap: its size in its header.
bool bitmap_image(const identification &id) {
    return id.start[0] == 'B' && id.start[1] == 'M' && id.size >= 26 &&
           little_endian(id, 2, 4) == id.size && little_endian(id, 6, 4) == 0;
}

} // namespace

std::optional<std::string> container_of(const identification &id) {
    const bool not_text = id.counts.nul > 0 || id.counts.controls > 0;
    for (const signature &sig : signatures)
        if (id.size >= sig.bytes.size() && (not_text || !sig.printable) &&
            std::string_view(reinterpret_cast<const char *>(id.start.data()), sig.bytes.size()) ==
                sig.bytes)
            return std::string(sig.what);
    if (dbase_table(id))
        return "a dBase table, whose fields grkpage does not convert";
    if (netpbm_image(id) || bitmap_image(id))
        return "an image";
    // A DOS program: its header, with NUL bytes in it.
    if (id.start[0] == 'M' && id.start[1] == 'Z' && id.counts.nul > 0)
        return "a program";
    return std::nullopt;
}

} // namespace codepage::identifier
