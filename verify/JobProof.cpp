#include "verify/JobProof.h"

#include "platform/AppInfo.h"
#include "settings/globals.h"
#include "verify/ArLookup.h"
#include "verify/DriveOffsets.h"
#include "verify/RipLog.h"
#include "verify/RipProof.h"

#include <ctime>
#include <sstream>

bool TrackDamaged(const TrackRecord& track) {
    return !track.Damaged.empty() || (track.TestCrc32 && track.TestCrc32 != track.Crc32);
}

std::string AlbumTitleOf(const TCDRIP& rip) {
    std::string artist, album, year, genre;
    std::vector<std::string> titles;
    // ReadCDInfo puts "No Title" where the disc has no album title.
    if (!ReadCDInfo(rip.GetDiscID(), artist, album, year, genre, titles) || album == "No Title") {
        return {};
    }
    return album;
}

JobProofOptions ProofOptionsOfSettings() {
    JobProofOptions options;
    options.AccurateRip = Settings.AccurateRip;
    options.ReadOffset = Settings.ReadOffset;
    options.ArFirst = Settings.AccurateRipFirst;
    options.ArMinConfidence = Settings.AccurateRipConfidence;
    return options;
}

std::string TrackProofText(const TrackRecord& t) {
    std::string text = "CRC32 " + (t.Crc32 ? Hex8(*t.Crc32) : std::string("not available"));
    if (t.TestCrc32) {
        text += ", test CRC32 " + Hex8(*t.TestCrc32) +
                (t.TestCrc32 == t.Crc32 ? " (same)" : " (differs: damaged)");
    }
    if (!t.Damaged.empty()) {
        text += ", damaged sectors";
    }
    text += ", AccurateRip " + ArVerdictText(t.Ar);
    if (!t.ProvenBy.empty()) {
        text += "; proven by " + t.ProvenBy;
    }
    return text;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

JobProof::JobProof(TCDRIP& rip, JobProofOptions options) : Rip(rip), Options(options) {}

void JobProof::Start(const std::string& program, const std::string& albumTitle) {
    std::optional<int32_t> offset = Options.ReadOffset;
    if (!offset) {
        offset = DriveReadOffset(Rip.CDRomIDText(), Options.TimeoutSeconds);
    }
    Rip.SetReadOffset(offset.value_or(0));
    Record = RipRecord{};
    Record.Program = program;
    Record.Version = std::string(AppInfo::Version);
    Record.Date = UtcNow();
    Record.AlbumTitle = albumTitle;
    Record.Settings = {{"Jitter correction", Rip.JitterCorrect() ? "on" : "off"},
                       {"Test read", Options.Test ? "on" : "off"}};
    DescribeDisc(Rip, Record);
}

TrackRecord* JobProof::Find(int32_t TrackNum) {
    for (TrackRecord& t : Record.Tracks) {
        if (t.Number == TrackNum) {
            return &t;
        }
    }
    return nullptr;
}

const TrackRecord* JobProof::Find(int32_t TrackNum) const {
    return const_cast<JobProof*>(this)->Find(TrackNum);
}

void JobProof::RipTrack(int32_t TrackNum, const std::string& FileName) {
    ReadTrackWith(TrackNum, FileName, [&] { Rip.RipTrack(TrackNum, FileName); });
}

void JobProof::MarkFailed(int32_t TrackNum) {
    if (TrackRecord* t = Find(TrackNum)) {
        TrackRecord fresh;
        fresh.Number = t->Number;
        fresh.File = t->File;
        fresh.FirstSector = t->FirstSector;
        fresh.Sectors = t->Sectors;
        fresh.Ripped = false;
        *t = fresh;
    }
}

void JobProof::MarkUnfinished(int32_t TrackNum) {
    if (TrackRecord* t = Find(TrackNum)) {
        t->Ripped = false;
    }
}

void JobProof::ReadTrackWith(int32_t TrackNum, const std::string& FileName,
                             const std::function<void()>& read) {
    if (TrackNum != 0) {
        Rip.Tracks.Objects(TrackNum - 1); // EListError outside the table; 0: hidden track
    }
    const DiscTrack* track = Rip.Disc.Find(TrackNum);
    TrackRecord fresh;
    fresh.Number = TrackNum;
    fresh.File = FileName;
    fresh.FirstSector = track != nullptr ? track->FirstAudio : 0;
    fresh.Sectors = track != nullptr ? track->AudioSectors() : 0;
    fresh.Ripped = false;
    Record.Tracks.push_back(fresh);
    const std::size_t errorsBefore = Rip.DamagedRuns.size();
    {
        ProofTap tap(Rip, TrackNum);
        read();
        tap.StoreChecksums(*Find(TrackNum));
    }
    TrackRecord& t = *Find(TrackNum);
    for (std::size_t i = errorsBefore; i < Rip.DamagedRuns.size(); ++i) {
        const SectorRange& run = Rip.DamagedRuns[i];
        t.Damaged.emplace_back(static_cast<int32_t>(run.first), static_cast<int32_t>(run.last));
    }
    t.Ripped = !Rip.Aborted();
    if (Options.Test && t.Ripped) {
        TestRead(t);
    }
}

void JobProof::TestRead(TrackRecord& track) {
    ProofTap tap(Rip, track.Number);
    if (!tap.Available()) {
        return;
    }
    Rip.ReadTrack(track.Number);
    if (Rip.Aborted()) {
        track.Ripped = false;
        return;
    }
    tap.StoreTestCrc(track);
}

bool JobProof::Damaged(int32_t TrackNum) const {
    const TrackRecord* t = Find(TrackNum);
    return t != nullptr && TrackDamaged(*t);
}

bool JobProof::AnyDamaged() const {
    for (const TrackRecord& t : Record.Tracks) {
        if (TrackDamaged(t)) {
            return true;
        }
    }
    return false;
}

std::string JobProof::Finish(const std::string& folder, int exitStatus) {
    Lookup();
    return WriteLog(folder, exitStatus);
}

void JobProof::Lookup() {
    bool anyChecksum = false;
    for (const TrackRecord& t : Record.Tracks) {
        anyChecksum = anyChecksum || t.ArV1.has_value();
    }
    if (!Options.AccurateRip) {
        SetAccurateRip(Record, ArResult::Off);
    } else if (!anyChecksum) {
        SetAccurateRip(Record, ArResult::NotAvailable);
    } else if (Prefetched) {
        ApplyAccurateRip(Record, *Prefetched);
    } else {
        ApplyAccurateRip(Record, FetchDbar(AccurateRipDiscIds(Record.Toc), Options.TimeoutSeconds));
    }
}

std::string JobProof::WriteLog(const std::string& folder, int exitStatus) {
    Record.Exit = exitStatus;
    return WriteRipLog(folder, Record, &LogError);
}
