#include "cdaccess/CDRIP.h"

#include "cdaccess/EncodeFeed.h"

#include "encoding/LameCoder.h"
#include "settings/globals.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The drive parameter block: one for the whole process, shared by every ripper
// component. The library fills it and reads it back.
uint8_t ParamBlock[CDROMParamsSize];

constexpr int32_t SectorsPerMinute = 4500; // 75 sectors a second
constexpr int32_t SectorsPerSecond = 75;
// The disc key counts from the start of the lead-in pregap: 2 seconds.
constexpr uint32_t PregapSectors = 150;
constexpr std::size_t WavHeaderSize = 44;

int32_t ReadInt32LE(const uint8_t* p) {
    const uint32_t v =
        uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    return static_cast<int32_t>(v);
}

void PutUInt32LE(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

void PutUInt16LE(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// "name.wav" -> "name.mp3"; the extension is the part of the file name (after the
// last "/") from its last dot on, and is appended when there is none.
std::string ChangeFileExt(const std::string& name, const std::string& ext) {
    const std::size_t slash = name.rfind('/');
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return name + ext;
    }
    return name.substr(0, dot) + ext;
}

// The 44-byte RIFF/WAVE header for dataSize bytes of 16-bit PCM.
std::array<uint8_t, WavHeaderSize> WavHeader(const TPCMFormat& fmt, uint32_t dataSize) {
    std::array<uint8_t, WavHeaderSize> h{};
    std::memcpy(&h[0], "RIFF", 4);
    PutUInt32LE(&h[4], dataSize + 36);
    std::memcpy(&h[8], "WAVE", 4);
    std::memcpy(&h[12], "fmt ", 4);
    PutUInt32LE(&h[16], 16);
    PutUInt16LE(&h[20], 1); // PCM
    PutUInt16LE(&h[22], fmt.Channels);
    PutUInt32LE(&h[24], fmt.SampleRate);
    PutUInt32LE(&h[28], fmt.Channels * fmt.SampleRate * 2);
    PutUInt16LE(&h[32], static_cast<uint16_t>(fmt.Channels * 2));
    PutUInt16LE(&h[34], 16);
    std::memcpy(&h[36], "data", 4);
    PutUInt32LE(&h[40], dataSize);
    return h;
}

} // namespace

EListError::EListError(int index)
    : std::out_of_range("List index out of bounds (" + std::to_string(index) + ")") {}

TPCMFormat PCMFormatOf(TOutputFormat format) {
    switch (format) {
    case TOutputFormat::STEREO44100:
        return {44100, 2, 2352};
    case TOutputFormat::MONO44100:
        return {44100, 1, 1176};
    case TOutputFormat::STEREO22050:
        return {22050, 2, 1176};
    case TOutputFormat::MONO22050:
        return {22050, 1, 588};
    case TOutputFormat::STEREO11025:
        return {11025, 2, 588};
    case TOutputFormat::MONO11025:
        return {11025, 1, 294};
    }
    return {44100, 2, 2352};
}

void TTrackList::Check(int Index) const {
    if (Index < 0 || Index >= Count()) {
        throw EListError(Index);
    }
}

const std::string& TTrackList::Strings(int Index) const {
    Check(Index);
    return Items[static_cast<std::size_t>(Index)].first;
}

const TTrack& TTrackList::Objects(int Index) const {
    Check(Index);
    return Items[static_cast<std::size_t>(Index)].second;
}

// ---------------------------------------------------------------------------
// Construction, drives and the table of contents

TCDRIP::TCDRIP(const TCdRipDll& Table) : Dll(Table) {
    try {
        Version = std::to_string(Dll.CR_GetCDRipVersion());
        if (Dll.CR_Init() != CRFailure) {
            if (Dll.CR_GetCDROMParameters(ParamBlock) != CRFailure) {
                CopyParameters();
                FCDRomNum = Dll.CR_GetActiveCDROM();
                FJitterCorrect = true;
                PutUInt32LE(&ParamBlock[CDROMParamsJitter], static_cast<uint32_t>(CRTrue));
            }
            ReadToc();
        }
        JitterErrorCount = 0;
    } catch (...) {
        throw ECDRIPError("Initialization failure");
    }
}

TCDRIP::~TCDRIP() = default;

void TCDRIP::CopyParameters() {
    std::memcpy(CDRomID.data(), ParamBlock, CDROMParamsIDSize);
    const uint8_t* t = &ParamBlock[CDROMParamsDriveTable];
    DriveTable.DriveType = static_cast<TDriveType>(t[0]);
    DriveTable.ReadMethod = static_cast<TReadMethod>(t[1]);
    DriveTable.SetSpeed = static_cast<TSetSpeed>(t[2]);
    DriveTable.Endian = static_cast<TEndian>(t[3]);
    DriveTable.EnableMode = static_cast<TEnableMode>(t[4]);
    DriveTable.Density = ReadInt32LE(&t[5]);
    DriveTable.Atapi = ReadInt32LE(&t[9]);
    FOutputFormat = static_cast<TOutputFormat>(ParamBlock[CDROMParamsOutputFormat]);
    Speed = ReadInt32LE(&ParamBlock[CDROMParamsSpeed]);
}

void TCDRIP::ReadToc() {
    if (Dll.CR_ReadToc() == CRFailure) {
        return;
    }
    const int32_t n = Dll.CR_GetNumTocEntries();
    std::vector<TocEntryFigures> entries;
    for (int32_t i = 0; i < n; ++i) {
        const TTocEntry e = Dll.CR_GetTocEntry(i);
        // 0x10 exactly is an audio track; copy or pre-emphasis bits make it "Data".
        entries.push_back({e.StartSector, e.Gap, e.Flag == 0x10});
    }
    const TTocEntry leadOut = n > 0 ? Dll.CR_GetTocEntry(n) : TTocEntry{};
    Disc = BuildDiscTracks(entries, {leadOut.StartSector, leadOut.Gap, false});
    for (const DiscTrack& t : Disc.Tracks) {
        TTrack track;
        track.TrackNum = t.Number;
        track.StartSector = t.FirstSector;
        // Up to the next track's gap: a data track's pregap is not this track's audio.
        track.EndSector = t.LastBeforeGap;
        track.TrackType = t.IsAudio() ? "Audio" : "Data";
        Tracks.Add("Track" + TwoDigits(t.Number), std::move(track));
    }
}

std::string TCDRIP::DriveStatusText() const {
    std::array<char, 1024> text{};
    if (Dll.CR_GetDriveStatusText == nullptr ||
        Dll.CR_GetDriveStatusText(text.data(), static_cast<int32_t>(text.size())) == CRFailure) {
        return "";
    }
    text.back() = '\0';
    return text.data();
}

std::string TCDRIP::CDRomIDText() const {
    const auto end = std::find(CDRomID.begin(), CDRomID.end(), '\0');
    return std::string(CDRomID.begin(), end);
}

int32_t TCDRIP::GetNumCDROM() {
    return Dll.CR_GetNumCDROM();
}

void TCDRIP::SetCDRomNum(int32_t Value) {
    Tracks.Clear();
    Disc = {};
    try {
        if (Dll.CR_SetActiveCDROM(Value) != CRFailure &&
            Dll.CR_GetCDROMParameters(ParamBlock) != CRFailure) {
            CopyParameters();
            FCDRomNum = Value;
        }
        ReadToc();
    } catch (...) {
        Tracks.Clear();
        Disc = {};
        throw ECDRIPError("Initialization failure");
    }
}

bool TCDRIP::IsAudioTrack(int Index) const {
    return Tracks.Objects(Index).TrackType == "Audio";
}

std::string TCDRIP::GetTrackTime(int Index) const {
    const DiscTrack* t = Disc.Find(Index + 1);
    if (Index < 0 || Index >= Tracks.Count() || t == nullptr) {
        return "00:00";
    }
    return LengthText(t->ShownSectors());
}

std::string TCDRIP::GetDiscID() const {
    uint32_t sum = 0;
    for (int i = 0; i < Tracks.Count(); ++i) {
        // Minutes, seconds and frames of the start as packed fields; the fields are
        // not masked, so large values carry into the next one.
        const uint32_t a = static_cast<uint32_t>(Tracks.Objects(i).StartSector) + PregapSectors;
        const uint32_t m = a / SectorsPerMinute;
        const uint32_t s = (a / SectorsPerSecond) % 60;
        const uint32_t f = a % SectorsPerSecond;
        sum += m * 65536 + s * 256 + f;
    }
    if (Tracks.Count() == 1) {
        sum += static_cast<uint32_t>(Tracks.Objects(0).StartSector);
    }
    char text[16];
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(sum));
    return text;
}

bool TCDRIP::ApplyParameters() {
    try {
        return Dll.CR_SetCDROMParameters(ParamBlock) != CRFailure;
    } catch (...) {
        throw ECDRIPError("Error setting parameters");
    }
}

int32_t TCDRIP::ReadOffset() const {
    return ReadInt32LE(&ParamBlock[CDROMParamsReadOffset]);
}

void TCDRIP::SetReadOffset(int32_t Value) {
    PutUInt32LE(&ParamBlock[CDROMParamsReadOffset], static_cast<uint32_t>(Value));
}

void TCDRIP::SetJitterCorrect(bool Value) {
    if (Value == FJitterCorrect) {
        return;
    }
    FJitterCorrect = Value;
    PutUInt32LE(&ParamBlock[CDROMParamsJitter], static_cast<uint32_t>(Value ? CRTrue : CRFalse));
}

void TCDRIP::SetOutputFormat(TOutputFormat Value) {
    if (Value != FOutputFormat) {
        ParamBlock[CDROMParamsOutputFormat] = static_cast<uint8_t>(Value);
    }
    FOutputFormat = Value;
    InformCoder();
}

void TCDRIP::SetCoder(TLameCoder* Value) {
    FCoder = Value;
    InformCoder();
}

// Tells the encoder what PCM it will be handed. The MP3's own rate and mode
// (OutSampleRate, Mode) are the user's settings and stay as they are.
void TCDRIP::InformCoder() {
    if (FCoder == nullptr) {
        return;
    }
    const TPCMFormat fmt = PCMFormatOf(FOutputFormat);
    FCoder->SetSampleRate(fmt.SampleRate);
    FCoder->SetInputChannels(fmt.Channels);
}

// ---------------------------------------------------------------------------
// Extraction

// The working set of one extraction. Its end-of-track steps run once, in order,
// on every way out of RipRange.
struct TCDRIP::TRipState {
    bool Encode = false; // Encode as it was when the extraction started
    std::optional<OutputFiles::TPartialFile> File;
    bool RemoveFile = false;
    TEncodeFeed Feed;
    std::vector<uint8_t> ReadBuffer; // WAV only; the feed holds the PCM for the encoder
    bool HeaderWritten = false;
    uint64_t Announced = 0;   // data bytes the WAV header announces
    uint64_t DataWritten = 0; // PCM bytes written after the header
    uint64_t PcmTaken = 0;    // PCM bytes the library delivered for the file
};

// The first and last sector of track TrackNum's audio; EListError outside the table.
std::pair<int32_t, int32_t> TCDRIP::AudioRange(int32_t TrackNum) const {
    if (TrackNum != 0) {
        Tracks.Objects(TrackNum - 1); // track 0 is the hidden track, when there is one
    }
    const DiscTrack* t = Disc.Find(TrackNum);
    return t != nullptr ? std::pair{t->FirstAudio, t->LastAudio} : std::pair{0, -1};
}

void TCDRIP::RipTrack(int32_t TrackNum, const std::string& FileName) {
    // What an earlier track left is not this one's, also when it fails before its file.
    FileWritten = false;
    PartialKept.clear();
    if (OnBeginTrack) {
        OnBeginTrack(this, static_cast<uint16_t>(TrackNum));
    }
    if (!Replay) {
        StopIfDiscChanged();
    }
    const auto [first, last] = AudioRange(TrackNum);
    RipRange(first, last, FileName);
    if (OnEndTrack) {
        OnEndTrack(this, static_cast<uint16_t>(TrackNum));
    }
}

// Hands the parameter block over and opens the library's ripper for the range; the
// size of its largest chunk. ECDRIPError when either is refused.
int32_t TCDRIP::OpenRange(int32_t StartSector, int32_t EndSector) {
    if (!ApplyParameters()) {
        throw ECDRIPError("Invalid CD-ROM parameters");
    }
    FAbort = false;
    int32_t size = 0;
    if (Dll.CR_OpenRipper(&size, StartSector, EndSector) == CRFailure) {
        StopIfDriveFailed();
        throw ECDRIPError("Unable to read the track");
    }
    return size;
}

void TCDRIP::ReadTrack(int32_t TrackNum) {
    StopIfDiscChanged();
    const auto [first, last] = AudioRange(TrackNum);
    const int32_t size = OpenRange(first, last);
    struct Closer {
        const TCdRipDll& Dll;
        ~Closer() { Dll.CR_CloseRipper(); }
    } closer{Dll};
    std::vector<uint8_t> buffer(static_cast<std::size_t>(std::max(size, 0)));
    while (!FAbort) {
        int32_t n = 0;
        const int32_t status = Dll.CR_RipChunk(buffer.data(), &n, CRTrue);
        if (status == CRFailure) {
            StopIfDriveFailed();
            break; // no range open any more: nothing further will come
        }
        if (OnPCM) {
            OnPCM(buffer.data(), static_cast<std::size_t>(std::clamp(n, 0, size)));
        }
        if (OnProgress) {
            OnProgress(this, static_cast<uint16_t>(Dll.CR_GetPercentCompleted()));
        }
        if (ProcessMessages) {
            ProcessMessages();
        }
        if (status == CRFinished) {
            break;
        }
    }
}

void TCDRIP::CaptureTrack(int32_t TrackNum,
                          const std::function<void(const uint8_t*, std::size_t)>& Sink) {
    // A one pass proves nothing by itself: what it read of another disc matches no
    // checksum of this one's, and the secure reading that follows asks.
    if (!Replay && !OnePass()) {
        StopIfDiscChanged();
    }
    const auto [first, last] = AudioRange(TrackNum);
    CaptureRange(first, last, Sink);
}

void TCDRIP::CaptureRange(int32_t StartSector, int32_t EndSector,
                          const std::function<void(const uint8_t*, std::size_t)>& Sink) {
    const int32_t replayed = TakeReplay();
    int32_t size = replayed > 0 ? replayed : OpenRange(StartSector, EndSector);
    struct Closer {
        TCDRIP& Rip;
        ~Closer() {
            if (Rip.FReplaying) {
                Rip.JitterErrorCount = std::exchange(Rip.FReplayDamaged, 0);
                Rip.FReplaying.reset();
                return;
            }
            try {
                Rip.JitterErrorCount = Rip.Dll.CR_GetNumberOfJitterErrors();
            } catch (...) {
            }
            Rip.Dll.CR_CloseRipper();
        }
    } closer{*this};
    size = std::max(size, 0);
    std::vector<uint8_t> buffer(static_cast<std::size_t>(size));
    ReadLoop(
        size, [&buffer] { return buffer.data(); }, Sink);
}

int32_t TCDRIP::TakeReplay() {
    FReplaying = std::move(Replay);
    Replay.reset();
    if (!FReplaying && !ReplayStopped) {
        return 0;
    }
    if (!FReplaying) {
        FReplaying = std::make_shared<const std::vector<uint8_t>>();
    }
    FAbort = ReplayStopped;
    ReplayStopped = false;
    // What the replayed PCM holds of damage is listed as a read lists it.
    FReplayDamaged = 0;
    for (const SectorRange& r : std::exchange(ReplayDamage, {})) {
        JitterErrors.push_back(std::to_string(r.first) + " " + std::to_string(r.last));
        DamagedRuns.push_back(r);
        FReplayDamaged += static_cast<int32_t>(r.last - r.first + 1);
    }
    // The chunks of a default extraction: 26 sectors.
    return static_cast<int32_t>(26 * PCMFormatOf(FOutputFormat).BytesPerSector);
}

int64_t TCDRIP::SectorsRead() const {
    return Dll.CR_GetSectorsRead != nullptr ? Dll.CR_GetSectorsRead() : -1;
}

bool TCDRIP::PlanSecureRange(int32_t First, int32_t Last) {
    // The plan follows the reader's settings: the job's, not the library's last ones.
    return Dll.CR_PlanSecureRange != nullptr && ApplyParameters() &&
           Dll.CR_PlanSecureRange(First, Last) == 0;
}

bool TCDRIP::SecureRangeReady(int32_t First, int32_t Last) const {
    return Dll.CR_SecureRangeReady == nullptr || Dll.CR_SecureRangeReady(First, Last) != 0;
}

int64_t TCDRIP::PlannedTrips() const {
    return Dll.CR_GetPlannedTrips != nullptr ? Dll.CR_GetPlannedTrips() : 0;
}

void TCDRIP::DropSecurePlans() {
    if (Dll.CR_DropSecurePlans != nullptr) {
        Dll.CR_DropSecurePlans();
    }
}

void TCDRIP::HandProvenSectors(int32_t End, const std::vector<uint8_t>& Sectors) {
    const auto count = static_cast<int32_t>(Sectors.size() / 2352);
    if (Dll.CR_HandProvenSectors != nullptr && count > 0) {
        Dll.CR_HandProvenSectors(End, Sectors.data(), count);
    }
}

void TCDRIP::SetSecureReach(int32_t Last) {
    if (Dll.CR_SetSecureReach != nullptr) {
        Dll.CR_SetSecureReach(Last);
    }
}

int32_t TCDRIP::ParanoiaRetries() const {
    return ReadInt32LE(&ParamBlock[CDROMParamsRetries]);
}

void TCDRIP::SetParanoiaRetries(int32_t Value) {
    PutUInt32LE(&ParamBlock[CDROMParamsRetries], static_cast<uint32_t>(Value));
}

int32_t TCDRIP::UndefeatedCacheKB() const {
    return Dll.CR_GetUndefeatedCacheKB != nullptr ? Dll.CR_GetUndefeatedCacheKB() : 0;
}

int TCDRIP::DriveC2() const {
    return Dll.CR_GetDriveC2 != nullptr ? Dll.CR_GetDriveC2() : -1;
}

bool TCDRIP::OnePass() const {
    return ReadInt32LE(&ParamBlock[CDROMParamsReadMode]) == CRReadOnePass;
}

void TCDRIP::SetOnePass(bool Value) {
    PutUInt32LE(&ParamBlock[CDROMParamsReadMode], static_cast<uint32_t>(Value ? CRReadOnePass : 0));
}

void TCDRIP::RipRange(int32_t StartSector, int32_t EndSector, std::string FileName) {
    FileWritten = false;
    PartialKept.clear();
    FDriveFailed = false;
    const int32_t replayed = TakeReplay();
    const int32_t size = replayed > 0 ? replayed : OpenRange(StartSector, EndSector);
    TRipState st;
    st.Encode = Encode;
    std::exception_ptr error;
    try {
        if (st.Encode) {
            FileName = ChangeFileExt(FileName, ".mp3");
        }
        const uint64_t sectors = static_cast<uint64_t>(int64_t{EndSector} - StartSector + 1);
        StartOutput(st, FileName, sectors, std::max(size, 0));
        ChunkLoop(st, std::max(size, 0));
    } catch (...) {
        error = std::current_exception();
    }
    const bool flushed = EndOfTrack(st, error);
    if (error) {
        std::rethrow_exception(error);
    }
    if (!flushed) {
        throw ECDRIPError(WriteErrorText(st.File ? &*st.File : nullptr));
    }
}

// Creates the file, writes the WAV header or opens the encoder stream, and sizes
// the buffers once for the whole track.
void TCDRIP::StartOutput(TRipState& st, const std::string& FileName, uint64_t sectors,
                         int32_t size) {
    st.File.emplace(FileName, OutputOptions);
    const TPCMFormat fmt = PCMFormatOf(FOutputFormat);
    if (WriteWAV && !st.Encode) {
        st.Announced = sectors * fmt.BytesPerSector;
        const auto header = WavHeader(fmt, static_cast<uint32_t>(st.Announced));
        st.File->Write(header.data(), header.size());
        st.HeaderWritten = true;
    }
    if (st.Encode) {
        if (FCoder == nullptr) {
            st.RemoveFile = true;
            throw ECDRIPError("Unable to start the MP3 encoder");
        }
        InformCoder();
        try {
            st.Feed.Start(*FCoder, *st.File, static_cast<std::size_t>(size));
        } catch (...) {
            st.RemoveFile = true;
            throw;
        }
    } else {
        st.ReadBuffer.resize(static_cast<std::size_t>(size));
    }
}

void TCDRIP::ChunkLoop(TRipState& st, int32_t size) {
    ReadLoop(
        size, [&st] { return st.Encode ? st.Feed.Space() : st.ReadBuffer.data(); },
        [&st](const uint8_t* data, std::size_t got) {
            st.PcmTaken += got;
            if (st.Encode) {
                st.Feed.Encode(got);
            } else {
                if (got > 0 && !st.File->Write(data, got)) {
                    throw ECDRIPError(WriteErrorText(&*st.File));
                }
                st.DataWritten += got;
            }
        });
}

// A chunk that failed because the drive cannot be read any more (it went away, its
// tray opened, its disc was changed) ends the track with the drive's reason; other
// failures deliver nothing and the range goes on.
void TCDRIP::StopIfDriveFailed() const {
    const std::string why = DriveStatusText();
    if (!why.empty()) {
        throw ECDRIPError("Unable to read the track: " + why);
    }
}

bool TCDRIP::DiscChanged() const {
    return Dll.CR_DiscChanged != nullptr && Dll.CR_DiscChanged() != CRFalse;
}

// A track is read only from the disc Tracks describes: another disc's sectors under
// this one's titles would be a wrong file that looks right.
void TCDRIP::StopIfDiscChanged() const {
    if (!DiscChanged()) {
        return;
    }
    const std::string why = DriveStatusText();
    throw ECDRIPError("Unable to read the track: " + (why.empty() ? "the disc was changed" : why));
}

// The chunks of the open range, in order, each into the buffer `where` gives and then
// to OnPCM and `take`; jitter errors recorded, progress and ProcessMessages after each
// chunk; Abort stops before the next one.
void TCDRIP::ReadLoop(int32_t size, const std::function<uint8_t*()>& where,
                      const std::function<void(const uint8_t*, std::size_t)>& take) {
    if (FReplaying) {
        ReplayLoop(size, where, take);
        return;
    }
    for (;;) {
        if (FAbort) {
            break;
        }
        int32_t n = 0;
        uint8_t* buffer = where();
        const int32_t status = Dll.CR_RipChunk(buffer, &n, CRTrue);
        if (status == CRFailure) {
            FDriveFailed = !DriveStatusText().empty();
            StopIfDriveFailed();
        }
        if (status != CRFailure) {
            // Never trust a count beyond the buffer the library asked for.
            const auto got = static_cast<std::size_t>(std::clamp(n, 0, size));
            if (OnPCM) {
                OnPCM(buffer, got);
            }
            take(buffer, got);
        }
        if (status == CRJitter) {
            uint32_t a = 0;
            uint32_t b = 0;
            Dll.CR_GetLastJitterErrorPosition(&a, &b);
            JitterErrors.push_back(std::to_string(a) + " " + std::to_string(b));
            if (a <= b) {
                DamagedRuns.push_back({a, b});
            }
        }
        const int32_t percent = Dll.CR_GetPercentCompleted();
        if (OnProgress) {
            OnProgress(this, static_cast<uint16_t>(percent));
        }
        if (ProcessMessages) {
            ProcessMessages();
        }
        if (status == CRFinished) {
            break;
        }
    }
}

// The replayed PCM in chunks of `size`, as ReadLoop hands over what it reads.
void TCDRIP::ReplayLoop(int32_t size, const std::function<uint8_t*()>& where,
                        const std::function<void(const uint8_t*, std::size_t)>& take) {
    const std::vector<uint8_t>& pcm = *FReplaying;
    std::size_t at = 0;
    while (!FAbort && (at < pcm.size() || pcm.empty())) {
        uint8_t* buffer = where();
        const std::size_t got = std::min(static_cast<std::size_t>(size), pcm.size() - at);
        std::memcpy(buffer, pcm.data() + at, got);
        at += got;
        if (OnPCM) {
            OnPCM(buffer, got);
        }
        take(buffer, got);
        if (OnProgress) {
            OnProgress(this, static_cast<uint16_t>(pcm.empty() ? 100 : at * 100 / pcm.size()));
        }
        if (ProcessMessages) {
            ProcessMessages();
        }
        if (pcm.empty()) {
            break;
        }
    }
}

// The end-of-track steps, each as far as its object exists: flush and close the
// encoder stream, store the jitter count, close the ripper, release the buffers
// and close the file. A failure inside a step does not skip the later ones; the
// first one is kept in `error` unless an earlier error is there. Returns false when
// the flush bytes could not all be written.
bool TCDRIP::EndOfTrack(TRipState& st, std::exception_ptr& error) {
    auto step = [&error](auto&& body) { RunEndStep(error, body); };
    const bool flushed = FinishFeed(st.Feed, error);
    if (FReplaying) {
        JitterErrorCount = std::exchange(FReplayDamaged, 0);
        FReplaying.reset();
    } else {
        step([&] { JitterErrorCount = Dll.CR_GetNumberOfJitterErrors(); });
        step([&] { Dll.CR_CloseRipper(); });
    }
    st.ReadBuffer = {};
    if (st.File) {
        step([&] { FixWavSizes(st); });
        if (st.RemoveFile || (FDriveFailed && st.PcmTaken == 0)) {
            st.File->Discard();
        } else if (FDriveFailed) {
            // A track the drive failed keeps what it read, but not under the name of a
            // finished one.
            PartialKept = st.File->Keep();
        } else {
            const bool complete = !error && flushed && !FAbort;
            if (BeforeFinish && (complete || !st.File->PreviousExisted())) {
                step([&] {
                    std::string why;
                    if (!BeforeFinish(st.File->TempName(), &why)) {
                        throw ECDRIPError(why);
                    }
                });
            }
            step([&] { FileWritten = st.File->Finish(complete && !error); });
        }
    }
    return flushed;
}

// A WAV file that ends with another amount of data than its header announced (a
// cancelled track) gets both size fields rewritten to the truth.
void TCDRIP::FixWavSizes(TRipState& st) {
    if (!st.HeaderWritten || st.DataWritten == st.Announced) {
        return;
    }
    uint8_t field[4];
    PutUInt32LE(field, static_cast<uint32_t>(st.DataWritten + 36));
    st.File->WriteAt(4, field, 4);
    PutUInt32LE(field, static_cast<uint32_t>(st.DataWritten));
    st.File->WriteAt(40, field, 4);
}

// ---------------------------------------------------------------------------
// Playback

int32_t TCDRIP::PlayTrack(int32_t TrackNum) {
    return Dll.CR_PlayTrack(TrackNum);
}

int32_t TCDRIP::PauseCD(bool Pause) {
    return Dll.CR_PauseCD(Pause ? CRTrue : CRFalse);
}

int32_t TCDRIP::StopPlay() {
    return Dll.CR_StopPlayTrack();
}

int32_t TCDRIP::EjectCD(bool Eject) {
    return Dll.CR_EjectCD(Eject ? CRTrue : CRFalse);
}

bool TCDRIP::IsPlaying() {
    int32_t relative = 0;
    int32_t position = 0;
    Dll.CR_GetPlayPosition(&relative, &position);
    const int64_t distance = std::abs(int64_t{position} - LastPlayPosition);
    LastPlayPosition = position;
    return distance >= 10;
}
