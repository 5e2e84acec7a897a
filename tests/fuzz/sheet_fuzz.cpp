// Cue sheets and cdrdao TOC files as anyone may write them: whatever the bytes, the
// parser either refuses with the sheet's name first, or gives a disc whose pieces add up
// to its lead-out, whose tracks follow each other, and that reads no byte beyond the
// files it names. The first byte chooses a cue sheet (even) or a TOC file (odd); the
// files the sheet names hold a length made from their names.

#include "libs/cdrip/sheet.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Require(bool ok) {
    if (!ok)
        std::abort(); // libFuzzer keeps the input
}

cdrip::FileFacts Probe(const std::string& path, cdrip::DeclaredType declared) {
    cdrip::FileFacts f;
    uint32_t h = 2166136261u;
    for (char c : path)
        h = (h ^ uint8_t(c)) * 16777619u;
    if (h % 13 == 0) {
        f.error = path + ": no such file";
        return f;
    }
    // Mostly whole sectors; now and then a partial sector or a partial sample.
    f.payloadBytes = uint64_t(h % 3000) * 2352 + (h % 7 == 0 ? (h >> 8) % 2352 : 0);
    f.format = declared == cdrip::DeclaredType::Motorola ? cdrip::FileFormat::Motorola
               : h % 5 == 0                              ? cdrip::FileFormat::Flac
                                                         : cdrip::FileFormat::Binary;
    return f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const bool toc = data[0] & 1;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    cdrip::SheetDisc disc;
    std::string error;
    const bool ok =
        cdrip::parseSheet(text, toc ? "/d/x.toc" : "/d/x.cue", toc, Probe, &disc, &error);
    if (!ok) {
        Require(error.rfind(toc ? "x.toc" : "x.cue", 0) == 0);
        return 0;
    }
    Require(!disc.tracks.empty() && disc.tracks.size() <= 99);
    Require(disc.leadout >= 1 && disc.leadout <= cdrip::kSheetMaxSectors);
    int64_t frames = 0;
    for (const cdrip::Piece& p : disc.pieces) {
        Require(p.frames > 0);
        frames += p.frames;
        if (p.kind == cdrip::Piece::Silence)
            continue;
        Require(p.file >= 0 && size_t(p.file) < disc.files.size());
        const uint64_t payload = disc.files[size_t(p.file)].facts.payloadBytes;
        const uint64_t end =
            p.kind == cdrip::Piece::Audio
                ? p.at + uint64_t(p.frames) * 4
                : p.at + uint64_t(p.frames / cdrip::kFramesPerSector) * uint64_t(p.unit);
        Require(end <= payload);
    }
    Require(frames == int64_t(disc.leadout) * cdrip::kFramesPerSector);
    int32_t before = -1;
    for (size_t i = 0; i < disc.tracks.size(); ++i) {
        const cdrip::SheetTrack& t = disc.tracks[i];
        const int32_t end = i + 1 < disc.tracks.size() ? disc.tracks[i + 1].pregap : disc.leadout;
        Require(t.pregap > before || (i == 0 && t.pregap == 0));
        Require(t.pregap <= t.start && t.start < end);
        int32_t last = t.start;
        for (int32_t at : t.indexes) {
            Require(at > last && at < end);
            last = at;
        }
        before = t.start;
    }
    return 0;
}
