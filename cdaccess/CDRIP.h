#pragma once

#include "cdaccess/CdRip_dll.h"
#include "cdaccess/OutputFiles.h"
#include "ripjob/Damage.h"
#include "ripjob/DiscTracks.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

class TLameCoder;
class TCDRIP;

// The ripper's exception: a fixed message text and nothing else.
class ECDRIPError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An index outside a list: "List index out of bounds (<index>)".
class EListError : public std::out_of_range {
public:
    explicit EListError(int index);
};

// Drive table values; each is stored as one byte in the parameter block.
enum class TDriveType : uint8_t {
    GENERIC,
    TOSHIBA,
    TOSHIBANEW,
    IBM,
    NEC,
    DEC,
    IMS,
    KODAK,
    RICOH,
    HP,
    PHILIPS,
    PLASMON,
    GRUNDIGCDR100IPW,
    MITSUMICDR,
    PLEXTOR,
    SONY,
    YAMAHA,
    NRC,
    IMSCDD5,
    CUSTOMDRIVE
};
enum class TReadMethod : uint8_t {
    READMMC,
    READ10,
    READNEC,
    READSONY,
    READMMC2,
    READMMC3,
    READC1,
    READC2,
    READC3
};
enum class TSetSpeed : uint8_t {
    SPEEDNONE,
    SPEEDMMC,
    SPEEDSONY,
    SPEEDYAMAHA,
    SPEEDTOSHIBA,
    SPEEDPHILIPS,
    SPEEDNEC
};
enum class TEndian : uint8_t { BIGENDIAN, LITTLEENDIAN };
enum class TEnableMode : uint8_t { ENABLENONE, ENABLESTD };

// The PCM format the library delivers during extraction.
enum class TOutputFormat : uint8_t {
    STEREO44100,
    MONO44100,
    STEREO22050,
    MONO22050,
    STEREO11025,
    MONO11025
};

// Sample rate, channel count and PCM bytes per sector of an output format.
struct TPCMFormat {
    uint32_t SampleRate;
    uint16_t Channels;
    uint32_t BytesPerSector; // channels * rate * 2 / 75
};
TPCMFormat PCMFormatOf(TOutputFormat format);

using TProgressEvent = std::function<void(TCDRIP* Sender, uint16_t PercentComplete)>;
using TProcessTrackEvent = std::function<void(TCDRIP* Sender, uint16_t TrackNum)>;

// One entry of the disc's table of contents.
struct TTrack {
    int32_t TrackNum = 0;    // 1-based position in the table of contents
    int32_t StartSector = 0; // first sector
    int32_t EndSector = 0;   // last sector: before the next entry's gap and start sector
    std::string TrackType;   // "Audio" or "Data"
};

// The drive parameters of the active drive, mirroring bytes 292 to 304 of the
// parameter block. Assigning them never reaches the library.
struct TDriveTableClass {
    TDriveType DriveType = TDriveType::GENERIC;
    TReadMethod ReadMethod = TReadMethod::READMMC;
    TSetSpeed SetSpeed = TSetSpeed::SPEEDNONE;
    TEndian Endian = TEndian::BIGENDIAN;
    TEnableMode EnableMode = TEnableMode::ENABLENONE;
    int32_t Density = 0;
    int32_t Atapi = 0; // 32-bit boolean
};

// The track table: one named entry ("Track01", ...) per track, each with its TTrack.
class TTrackList {
public:
    int Count() const { return static_cast<int>(Items.size()); }
    // Name and track of entry Index; EListError outside the list.
    const std::string& Strings(int Index) const;
    const TTrack& Objects(int Index) const;
    void Add(std::string Name, TTrack Track) {
        Items.emplace_back(std::move(Name), std::move(Track));
    }
    void Clear() { Items.clear(); }

private:
    void Check(int Index) const;
    std::vector<std::pair<std::string, TTrack>> Items;
};

// The ripper component: the program's gateway to the CD ripping library. Lists the
// drives, selects one, reads its table of contents, extracts tracks to WAV or,
// through the attached encoder, to MP3, and drives CD audio playback.
class TCDRIP {
public:
    // Initialises the library and reads the active drive. Throws ECDRIPError
    // "Initialization failure" when a call raises; a failure status only skips the
    // steps that depend on it.
    explicit TCDRIP(const TCdRipDll& Dll = CdRipDll());
    ~TCDRIP();
    TCDRIP(const TCDRIP&) = delete;
    TCDRIP& operator=(const TCDRIP&) = delete;

    // --- Properties
    // The library table this ripper calls (the linked library, or a test's fakes).
    const TCdRipDll& Library() const { return Dll; }
    TLameCoder* Coder() const { return FCoder; }
    // Stores the encoder and tells it the PCM format of OutputFormat.
    void SetCoder(TLameCoder* Value);
    int32_t CDRomNum() const { return FCDRomNum; }
    // Selects drive Value and re-reads its table of contents.
    void SetCDRomNum(int32_t Value);
    TDriveTableClass DriveTable;
    TOutputFormat OutputFormat() const { return FOutputFormat; }
    // Writes the format into the parameter block and tells the encoder.
    void SetOutputFormat(TOutputFormat Value);
    bool Encode = false;
    bool WriteWAV = false;
    bool JitterCorrect() const { return FJitterCorrect; }
    // Writes the jitter flag into the parameter block when the value changes.
    void SetJitterCorrect(bool Value);
    // One pass: the next extractions read each sector once, and the sectors that fail
    // or carry C2 errors come back as damaged (suspect) sectors, to be read again with
    // jitter correction; nothing else is proven. Off: as the jitter flag says.
    bool OnePass() const;
    void SetOnePass(bool Value);
    TProcessTrackEvent OnBeginTrack;
    TProcessTrackEvent OnEndTrack;
    TProgressEvent OnProgress;
    std::string Version;
    int32_t Speed = 0;

    // The read offset in samples, in the parameter block for the next extraction.
    int32_t ReadOffset() const;
    void SetReadOffset(int32_t Value);

    // Sees every chunk of PCM as the library delivers it, before resampling is undone
    // or anything is encoded: 44.1 kHz stereo when OutputFormat is STEREO44100.
    std::function<void(const uint8_t* Data, std::size_t Count)> OnPCM;

    // Runs after every extraction chunk so that pending window messages are handled
    // (the GUI sets it to its event processing; empty elsewhere).
    std::function<void()> ProcessMessages;

    // --- Public state
    std::array<char, 256> CDRomID{}; // active drive's identification, zero-terminated
    // CDRomID up to its first zero character.
    std::string CDRomIDText() const;
    // Why the active drive holds no readable disc ("" when it holds one, or when the
    // library cannot say).
    std::string DriveStatusText() const;
    // True when the disc in the drive is not the one Tracks describes: another table of
    // contents now, a media change the drive saw, an open tray, no disc (the library's
    // CR_DiscChanged); false when it is, or when the library cannot tell. Reads the
    // table again, not the audio. RipTrack, CaptureTrack (but for a one pass) and
    // ReadTrack ask it before they read a track from the drive.
    bool DiscChanged() const;
    TTrackList Tracks;
    // The same table of contents as one record per track (see ripjob/DiscTracks.h),
    // built with Tracks; every range, checksum and length is taken from it.
    DiscTracks Disc;
    std::vector<std::string> JitterErrors; // "a b" per pass with a jitter error
    std::vector<SectorRange> DamagedRuns;  // the same runs as sector ranges
    int32_t JitterErrorCount = 0;
    int32_t LastPlayPosition = 0;
    bool Aborted() const { return FAbort; }

    // --- Drives and table of contents
    int32_t GetNumCDROM();
    // True when track Index (0-based) is an audio track; EListError outside the table.
    bool IsAudioTrack(int Index) const;
    // "m:ss", or "00:00" when Index is outside the table.
    std::string GetTrackTime(int Index) const;
    // The disc key that names the disc's section in cdplayer.ini.
    std::string GetDiscID() const;
    // Hands the parameter block to the library; false on a failure status.
    bool ApplyParameters();

    // --- Extraction
    // Extracts track TrackNum (1-based) into FileName (".mp3" when Encode). The track
    // is written to a temporary file beside it that takes the name when the track has
    // ended (see OutputFiles::TPartialFile).
    void RipTrack(int32_t TrackNum, const std::string& FileName);
    // True when the last extraction left its file under the final name: a finished
    // track, or one that ended early where no file of that name existed before. False
    // when nothing was written or the previous file was kept.
    bool FileWritten = false;
    // Where the last extraction left what it read of a track that the drive failed part
    // way (it went away, its disc was changed): its temporary file, kept under that name
    // so that the final name never holds a track cut short by the drive. Empty when
    // nothing was read or kept.
    std::string PartialKept;
    // Runs at the end of an extraction, once the track's bytes are all in its temporary
    // file and before that file takes the final name, when it will take it (a finished
    // track, or one that ended early where nothing was under the name before): the
    // track's tags go there, so that the final name never holds a file half tagged.
    // False, with the reason in *Error, ends the track as a failed write does
    // (ECDRIPError with the reason).
    std::function<bool(const std::string& TempName, std::string* Error)> BeforeFinish;
    // How the next track's file is made: what its final rename may replace, and
    // whether it makes (and on failure removes) its folders.
    OutputFiles::TPartialOptions OutputOptions;
    // Reads track TrackNum (1-based) once more without writing anything: its PCM goes
    // to OnPCM only (the second read of a test). Progress and ProcessMessages run as
    // during an extraction; Abort stops it. ECDRIPError as RipTrack.
    void ReadTrack(int32_t TrackNum);
    // Reads track TrackNum (1-based) as an extraction does, jitter errors and
    // JitterErrorCount included, but hands its PCM (in OutputFormat) to Sink instead of
    // writing a file: the reading half of the parallel rip. Progress, ProcessMessages and
    // Abort as during an extraction; ECDRIPError as RipTrack, and what Sink throws.
    void CaptureTrack(int32_t TrackNum,
                      const std::function<void(const uint8_t* Data, std::size_t Count)>& Sink);
    // The same for the sectors StartSector..EndSector of the disc (the read offset
    // applies as for a track).
    void CaptureRange(int32_t StartSector, int32_t EndSector,
                      const std::function<void(const uint8_t* Data, std::size_t Count)>& Sink);
    // PCM (in OutputFormat) for the next RipTrack or CaptureTrack to deliver instead of
    // reading the drive: a track proven already. It is taken by that call (and
    // cleared); its chunks go through OnPCM, progress and ProcessMessages as if read,
    // with the runs of ReplayDamage (disc sectors, as a read lists them) as its damaged
    // sectors. With ReplayStopped, the call ends as a stopped one at once, before it
    // delivers anything.
    std::shared_ptr<const std::vector<uint8_t>> Replay;
    std::vector<SectorRange> ReplayDamage;
    bool ReplayStopped = false;
    // Sectors the last extraction's reads asked the drive for; -1 when the library
    // cannot say.
    int64_t SectorsRead() const;
    // Secure readings planned ahead of the one pass: PlanSecureRange(first, last) has the
    // one-pass extractions that follow make the reads a secure extraction of first..last
    // will need (false when the library cannot plan); SecureRangeReady says whether they
    // are all made; PlannedTrips counts the reads made away from the pass;
    // DropSecurePlans forgets them all.
    bool PlanSecureRange(int32_t First, int32_t Last);
    bool SecureRangeReady(int32_t First, int32_t Last) const;
    int64_t PlannedTrips() const;
    void DropSecurePlans();
    // Hands the next secure extraction the Sectors (whole disc sectors as the drive
    // delivers them) proven another way right before sector End, as the library's
    // CR_HandProvenSectors; nothing when the library cannot take them.
    void HandProvenSectors(int32_t End, const std::vector<uint8_t>& Sectors);
    // Tells the next secure extraction that nothing after it goes on from it: its
    // reading ends near disc sector Last (CR_SetSecureReach); nothing when the library
    // cannot.
    void SetSecureReach(int32_t Last);
    // The reads the secure reading may spend to prove one sector.
    int32_t ParanoiaRetries() const;
    void SetParanoiaRetries(int32_t Value);
    // Whether the drive returns C2 error pointers with its reads: 1 yes, 0 it refused
    // them (read without them), -1 not known (nothing read yet, an image).
    int DriveC2() const;
    // The drive's cache in KB where it was too large to defeat on this disc, so that
    // nothing was proven by re-reads (0: it never was).
    int32_t UndefeatedCacheKB() const;
    // Stops the running extraction before its next chunk.
    void Abort() { FAbort = true; }

    // --- Playback (statuses passed back unchanged)
    int32_t PlayTrack(int32_t TrackNum);
    int32_t PauseCD(bool Pause);
    int32_t StopPlay();
    int32_t EjectCD(bool Eject);
    // True when the play position moved by 10 or more since the previous call.
    bool IsPlaying();

private:
    void CopyParameters();
    void ReadToc();
    void InformCoder();
    std::pair<int32_t, int32_t> AudioRange(int32_t TrackNum) const;
    struct TRipState;
    int32_t OpenRange(int32_t StartSector, int32_t EndSector);
    void StopIfDriveFailed() const;
    void StopIfDiscChanged() const;
    void RipRange(int32_t StartSector, int32_t EndSector, std::string FileName);
    void StartOutput(TRipState& st, const std::string& FileName, uint64_t sectors, int32_t size);
    void ChunkLoop(TRipState& st, int32_t size);
    void ReadLoop(int32_t size, const std::function<uint8_t*()>& where,
                  const std::function<void(const uint8_t*, std::size_t)>& take);
    void ReplayLoop(int32_t size, const std::function<uint8_t*()>& where,
                    const std::function<void(const uint8_t*, std::size_t)>& take);
    // Takes Replay for the extraction about to start; the size of its chunks, or 0
    // when there is none and the drive is read.
    int32_t TakeReplay();
    bool EndOfTrack(TRipState& st, std::exception_ptr& error);
    void FixWavSizes(TRipState& st);

    const TCdRipDll& Dll;
    TLameCoder* FCoder = nullptr;
    int32_t FCDRomNum = 0;
    TOutputFormat FOutputFormat = TOutputFormat::STEREO44100;
    bool FJitterCorrect = false;
    bool FAbort = false;
    bool FDriveFailed = false; // the range ended because the drive or its disc went away
    std::shared_ptr<const std::vector<uint8_t>> FReplaying; // the extraction's replayed PCM
    int32_t FReplayDamaged = 0; // the damaged sectors of the replay under way
};
