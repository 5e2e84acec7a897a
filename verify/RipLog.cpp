#include "verify/RipLog.h"

#include "cdaccess/OutputFiles.h"
#include "ripjob/Damage.h"

#include <nlohmann/json.hpp>

#include <filesystem>

#include <cerrno>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

namespace {

std::string HexOr(const std::optional<uint32_t>& value, const std::string& none) {
    return value ? Hex8(*value) : none;
}

nlohmann::ordered_json HexOrNull(const std::optional<uint32_t>& value) {
    return value ? nlohmann::ordered_json(Hex8(*value)) : nlohmann::ordered_json(nullptr);
}

std::string Signed(int32_t n) {
    return (n > 0 ? "+" : "") + std::to_string(n);
}

std::vector<SectorRange> RangesOf(const TrackRecord& t) {
    std::vector<SectorRange> ranges;
    for (const auto& [first, last] : t.Damaged) {
        if (first >= 0 && first <= last) {
            ranges.push_back({static_cast<uint32_t>(first), static_cast<uint32_t>(last)});
        }
    }
    return JoinRanges(ranges);
}

// "none", or "4 sectors: 1600-1602 (0:01.25 to 0:01.27), 1700 (0:02.50)": the count, every
// range, and its place in the track.
std::string DamagedText(const TrackRecord& t) {
    const std::vector<SectorRange> ranges = RangesOf(t);
    if (ranges.empty()) {
        return "none";
    }
    const std::string line = DamageLine(static_cast<int32_t>(RangeSectors(ranges)), ranges,
                                        t.FirstSector, ranges.size());
    const std::string prefix = "damaged: ";
    return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : line;
}

std::string ArText(const TrackRecord& t) {
    return ArVerdictText(t.Ar);
}

void WriteToc(std::ostream& out, const DiscToc& toc) {
    out << "Table of contents (sectors):\n";
    out << "  Track   Start  Length  Type\n";
    for (std::size_t i = 0; i < toc.Tracks.size(); ++i) {
        const int32_t end = i + 1 < toc.Tracks.size() ? toc.Tracks[i + 1].Start : toc.LeadOut;
        char line[80];
        std::snprintf(line, sizeof line, "  %5zu  %6d  %6d  %s\n", i + 1, toc.Tracks[i].Start,
                      end - toc.Tracks[i].Start, toc.Tracks[i].Audio ? "audio" : "data");
        out << line;
    }
    out << "  Lead-out at " << toc.LeadOut << "\n";
}

void WriteOutcome(std::ostream& out, const TrackRecord& t) {
    if (!t.Outcome.empty()) {
        out << "  Outcome: " << t.Outcome << "\n";
    }
    if (!t.Reason.empty()) {
        out << "  Reason: " << t.Reason << "\n";
    }
    if (!t.PartialFile.empty()) {
        out << "  Partial audio kept in: " << t.PartialFile << "\n";
    }
}

void WriteTrack(std::ostream& out, const TrackRecord& t) {
    out << "Track " << t.Number << (t.Ripped ? "" : " (not finished)") << "\n";
    out << "  File: " << t.File << "\n";
    if (!t.Title.empty()) {
        out << "  Title: " << t.Title << "\n";
    }
    out << "  Sectors: " << t.FirstSector << "-" << t.FirstSector + t.Sectors - 1 << " ("
        << t.Sectors << ")\n";
    out << "  Damaged sectors: " << DamagedText(t) << "\n";
    out << "  CRC32: " << HexOr(t.Crc32, "not available") << "\n";
    if (t.TestCrc32) {
        out << "  Test CRC32: " << Hex8(*t.TestCrc32)
            << (t.TestCrc32 == t.Crc32 ? " (same)" : " (differs)") << "\n";
    }
    out << "  AccurateRip v1: " << HexOr(t.ArV1, "not available")
        << ", v2: " << HexOr(t.ArV2, "not available") << "\n";
    out << "  AccurateRip: " << ArText(t) << "\n";
    if (!t.ProvenBy.empty()) {
        out << "  Proven by: " << t.ProvenBy << "\n";
    }
    WriteOutcome(out, t);
}

void WriteNotRead(std::ostream& out, const TrackRecord& t) {
    out << "Track " << t.Number << " (not read)\n";
    out << "  File: " << t.File << "\n";
    if (!t.Title.empty()) {
        out << "  Title: " << t.Title << "\n";
    }
    WriteOutcome(out, t);
}

// Room for " (9999).log" in a file name of 255 bytes.
constexpr std::size_t kStemBytes = 255 - 11;

// The album title comes from outside: one visible file name, whatever it holds.
std::string SafeName(const std::string& name) {
    return OutputFiles::SafeFileName(name, kStemBytes, "rip");
}

} // namespace

std::string RipSummary(const RipRecord& record) {
    int ripped = 0;
    int accurate = 0;
    int damaged = 0;
    int unknown = 0;
    int unreachable = 0;
    int bad = 0;
    int off = 0;
    int notAccurate = 0;
    int checked = 0;
    std::string problem; // the first answer's that cannot vouch
    for (const TrackRecord& t : record.Tracks) {
        ripped += t.Ripped ? 1 : 0;
        damaged += t.Damaged.empty() ? 0 : 1;
        // The hidden track (0, audio before track 1) has no entry in the database: it
        // is ripped, but neither checked nor counted against the disc's answer.
        if (t.Number < 1) {
            continue;
        }
        ++checked;
        // A damaged track is counted as damaged only.
        const bool sound = t.Damaged.empty() && (!t.TestCrc32 || t.TestCrc32 == t.Crc32);
        notAccurate += t.Ripped && sound && t.Ar.Result == ArResult::NotAccurate ? 1 : 0;
        accurate += t.Ar.Result == ArResult::Accurate ? 1 : 0;
        unknown += t.Ar.Result == ArResult::NotInDatabase ? 1 : 0;
        unreachable += t.Ar.Result == ArResult::Unreachable ? 1 : 0;
        bad += t.Ar.Result == ArResult::BadAnswer ? 1 : 0;
        if (t.Ar.Result == ArResult::BadAnswer && problem.empty()) {
            problem = t.Ar.Problem;
        }
        off += t.Ar.Result == ArResult::Off || t.Ar.Result == ArResult::NotAvailable ? 1 : 0;
    }
    const int total = static_cast<int>(record.Tracks.size());
    const std::string tracks = std::to_string(ripped) + (ripped == 1 ? " track" : " tracks");
    std::string text;
    if (off == checked) {
        text = tracks + " ripped";
    } else if (unknown == checked) {
        text = tracks + " ripped, not in the AccurateRip database";
    } else if (unreachable == checked) {
        text = tracks + " ripped, the AccurateRip database did not answer";
    } else if (bad == checked) {
        text = tracks + " ripped, the AccurateRip answer cannot vouch: " + problem;
    } else {
        text = std::to_string(accurate) + " of " + std::to_string(checked) +
               (checked == 1 ? " track" : " tracks") + " accurately ripped";
    }
    if (ripped < total) {
        text += "; " + std::to_string(total - ripped) + " not finished";
    }
    if (damaged > 0) {
        text += "; " + std::to_string(damaged) + " with damaged sectors";
    }
    if (notAccurate > 0) {
        text += "; " + std::to_string(notAccurate) + " not accurate";
    }
    return text;
}

std::string FormatRipLog(const RipRecord& r) {
    std::ostringstream out;
    out << r.Program << " " << r.Version << "\n";
    out << "Date: " << r.Date << "\n";
    out << "Drive: " << r.Drive << "\n";
    out << "Read offset: " << Signed(r.ReadOffset) << " samples\n";
    out << "Settings:\n";
    for (const auto& [name, value] : r.Settings) {
        out << "  " << name << ": " << value << "\n";
    }
    out << "Disc: " << (r.AlbumTitle.empty() ? r.DiscKey : r.AlbumTitle) << "\n";
    if (!r.Artist.empty()) {
        out << "  Artist: " << r.Artist << "\n";
    }
    if (!r.Album.empty()) {
        out << "  Album: " << r.Album << "\n";
    }
    out << "  Disc key: " << r.DiscKey << "\n";
    out << "  CDDB disc ID: " << r.CddbId << "\n";
    out << "  AccurateRip ID: " << r.AccurateRipId << "\n";
    out << "  MusicBrainz disc ID: " << r.MusicBrainzId << "\n";
    WriteToc(out, r.Toc);
    for (const TrackRecord& t : r.Tracks) {
        WriteTrack(out, t);
    }
    for (const TrackRecord& t : r.NotRead) {
        WriteNotRead(out, t);
    }
    out << "Summary: " << RipSummary(r) << "\n";
    return out.str();
}

std::string FormatRipJson(const RipRecord& r) {
    nlohmann::ordered_json tracks = nlohmann::ordered_json::array();
    for (const TrackRecord& t : r.Tracks) {
        nlohmann::ordered_json damaged = nlohmann::ordered_json::array();
        for (const auto& [first, last] : t.Damaged) {
            damaged.push_back({first, last});
        }
        nlohmann::ordered_json entry = {
            {"number", t.Number},
            {"file", t.File},
            {"title", t.Title},
            {"sectors", t.Sectors},
            {"damaged", damaged},
            {"damaged_sectors", RangeSectors(RangesOf(t))},
            {"crc32", HexOrNull(t.Crc32)},
            {"test_crc32", HexOrNull(t.TestCrc32)},
            {"accuraterip",
             {{"v1", HexOrNull(t.ArV1)},
              {"v2", HexOrNull(t.ArV2)},
              {"result", ArResultWord(t.Ar.Result)},
              {"confidence", t.Ar.Confidence},
              {"problem", t.Ar.Problem.empty() ? nlohmann::ordered_json(nullptr)
                                               : nlohmann::ordered_json(t.Ar.Problem)}}}};
        entry["outcome"] = t.Outcome;
        entry["reason"] = t.Reason;
        entry["partial_file"] = t.PartialFile.empty() ? nlohmann::ordered_json(nullptr)
                                                      : nlohmann::ordered_json(t.PartialFile);
        entry["proven_by"] = t.ProvenBy.empty() ? nlohmann::ordered_json(nullptr)
                                                : nlohmann::ordered_json(t.ProvenBy);
        tracks.push_back(entry);
    }
    nlohmann::ordered_json notRead = nlohmann::ordered_json::array();
    for (const TrackRecord& t : r.NotRead) {
        notRead.push_back({{"number", t.Number},
                           {"file", t.File},
                           {"title", t.Title},
                           {"outcome", t.Outcome},
                           {"reason", t.Reason}});
    }
    nlohmann::ordered_json settings = nlohmann::ordered_json::object();
    for (const auto& [name, value] : r.Settings) {
        settings[name] = value;
    }
    const nlohmann::ordered_json doc = {{"program", r.Program + " " + r.Version},
                                        {"drive", r.Drive},
                                        {"read_offset", r.ReadOffset},
                                        {"settings", settings},
                                        {"disc",
                                         {{"key", r.DiscKey},
                                          {"cddb_id", r.CddbId},
                                          {"accuraterip_id", r.AccurateRipId},
                                          {"musicbrainz_id", r.MusicBrainzId},
                                          {"artist", r.Artist},
                                          {"album", r.Album}}},
                                        {"tracks", tracks},
                                        {"not_read", notRead},
                                        {"exit", r.Exit}};
    // Invalid UTF-8 in a title or a path becomes U+FFFD instead of an exception.
    return doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string RipLogPath(const std::string& folder, const RipRecord& record, int n) {
    const std::string stem =
        SafeName(record.AlbumTitle.empty() ? record.DiscKey : record.AlbumTitle);
    const std::filesystem::path dir(folder.empty() ? "." : folder);
    return (dir / (n < 2 ? stem + ".log" : stem + " (" + std::to_string(n) + ").log")).string();
}

std::string RipLogPath(const std::string& folder, const RipRecord& record) {
    int n = 1;
    while (std::filesystem::exists(RipLogPath(folder, record, n))) {
        ++n;
    }
    return RipLogPath(folder, record, n);
}

std::string WriteRipLog(const std::string& folder, const RipRecord& record, std::string* why) {
    const std::string text = FormatRipLog(record);
    // Written as a track is (a partial file, then the rename), never replacing a log:
    // a log that appears meanwhile makes the next number taken, and a full disk leaves
    // no short log behind.
    int error = 0;
    for (int n = 1; n < 10000; ++n) {
        const std::string path = RipLogPath(folder, record, n);
        if (OutputFiles::WriteWholeFile(path, text, OutputFiles::TReplace::Nothing, error)) {
            return path;
        }
        if (error != EEXIST) {
            break;
        }
    }
    if (why != nullptr) {
        *why = OutputFiles::ErrorText(error);
    }
    return {};
}
