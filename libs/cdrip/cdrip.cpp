// The library's calls: one process-wide state behind one lock.
#include "cdrip.h"

#include "faults.h"
#include "handles.h"
#include "imagecheck.h"
#include "imagesource.h"
#include "onepass.h"
#include "player.h"
#include "ripper.h"
#include "sectorsource.h"

#include <cdio/logging.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cdrip {
namespace {

using Clock = std::chrono::steady_clock;

struct Drive {
    std::string source; // device path or image path
    bool image = false;
    CR_DRIVE_PARAMS params{};
    bool trayOpen = false;
    Clock::time_point trayClosesAt{};
    bool changed = false; // a real drive's disc changed since its table was read
    // What the reader knows of the drive's cache, across the ranges read from it.
    std::shared_ptr<cdrip::ReadHistory> readHistory = std::make_shared<cdrip::ReadHistory>();
    // Secure readings planned ahead of the one pass, with the reads made for them.
    std::shared_ptr<cdrip::SecurePlans> plans = std::make_shared<cdrip::SecurePlans>();
    // Proven sectors handed to the next range (CR_HandProvenSectors).
    std::vector<uint8_t> proven;
    int32_t provenEnd = -1;
    // Where the next secure range's reading ends (CR_SetSecureReach; -1: none set).
    int32_t reachLast = -1;
    // A real drive, kept open from range to range (null until the first range).
    std::shared_ptr<cdrip::CddaHandle> cdda;
};

struct Library {
    std::vector<Drive> drives;
    size_t active = 0;
    std::vector<CR_TOCENTRY> toc; // tracks, then the lead-out
    Faults faults;
    int traySeconds = 5;
    std::unique_ptr<Ripper> ripper;
    // Figures of the last range, kept after its ripper is closed.
    int32_t lastPercent = 0, lastErrors = 0;
    uint32_t lastErrFirst = 0, lastErrLast = 0;
    int64_t sectorsRead = 0; // by the reads of the open or last range
    // The largest drive cache, in sectors, a range since the table of contents was read
    // found too large to defeat on the disc (0: none).
    int32_t undefeatedCache = 0;
    Player player;
};

std::mutex lock;
std::unique_ptr<Library> lib;

constexpr int32_t kDefaultChunk = 26;
constexpr int32_t kDefaultRetries = 20;
constexpr int32_t kMaxOffset = 44100; // samples: one second either way

void quietLog(cdio_log_level_t, const char*) {}

void setId(CR_DRIVE_PARAMS& p, const std::string& text) {
    std::memset(p.id, 0, sizeof p.id);
    std::memcpy(p.id, text.data(), std::min(text.size(), sizeof p.id - 1));
}

CR_DRIVE_PARAMS defaultParams(int32_t index, bool image) {
    CR_DRIVE_PARAMS p{};
    p.sectorsPerChunk = kDefaultChunk;
    p.paranoiaRetries = kDefaultRetries;
    p.driveIndex = index;
    p.isVirtual = image ? CR_TRUE : CR_FALSE;
    p.speed = image ? 48 : 0; // a real drive's speed is not known here
    p.jitterCorrection = CR_TRUE;
    p.endian = 1; // audio samples arrive little-endian
    p.atapi = CR_TRUE;
    p.outputFormat = CR_STEREO44100;
    return p;
}

std::string trimmed(const char* text) {
    std::string s(text ? text : "");
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

void addRealDrives(Library& l) {
    char** devices = cdio_get_devices(DRIVER_DEVICE);
    for (char** d = devices; d && *d; ++d) {
        Drive drive;
        drive.source = *d;
        drive.params = defaultParams(int32_t(l.drives.size()), false);
        std::string id;
        if (CdioPtr cdio = openCdio(drive.source, false)) {
            cdio_hwinfo_t hw{};
            if (cdio_get_hwinfo(cdio.get(), &hw))
                id = trimmed(hw.psz_vendor) + " " + trimmed(hw.psz_model) + " " +
                     trimmed(hw.psz_revision) + " ";
        }
        setId(drive.params, id + drive.source);
        l.drives.push_back(std::move(drive));
    }
    if (devices)
        cdio_free_device_list(devices);
}

void addImageDrives(Library& l) {
    const char* env = std::getenv("CDRIP_IMAGES");
    std::string all = env ? env : "";
    size_t pos = 0;
    while (pos < all.size()) {
        size_t colon = all.find(':', pos);
        std::string path = all.substr(pos, colon == std::string::npos ? colon : colon - pos);
        pos = colon == std::string::npos ? all.size() : colon + 1;
        if (path.empty())
            continue;
        Drive drive;
        drive.source = path;
        drive.image = true;
        drive.params = defaultParams(int32_t(l.drives.size()), true);
        setId(drive.params, "VELMORA VIRTUAL-CD 1.20 " + path);
        l.drives.push_back(std::move(drive));
    }
}

int trayDelay() {
    const char* env = std::getenv("CDRIP_TRAY_SECONDS");
    if (!env || !*env)
        return 5;
    char* end = nullptr;
    long v = std::strtol(env, &end, 10);
    return (*end == '\0' && v >= 0 && v <= 3600) ? int(v) : 5;
}

Drive* activeDrive() {
    if (!lib || lib->drives.empty())
        return nullptr;
    return &lib->drives[lib->active];
}

bool trayOpen(Drive& d) {
    if (d.trayOpen && Clock::now() >= d.trayClosesAt)
        d.trayOpen = false; // the virtual tray has closed by itself
    return d.trayOpen;
}

// Why a real drive cannot be read now, in the user's words; "" when its driver sees
// nothing wrong.
std::string deviceProblem(const Drive& d) {
    switch (deviceState(d.source)) {
    case DeviceState::Gone:
        return "the drive is gone";
    case DeviceState::TrayOpen:
        return "the drive's tray is open";
    case DeviceState::NoDisc:
        return "no disc in the drive";
    case DeviceState::NotReady:
        return "the drive is not ready";
    case DeviceState::NoAccess:
        return "no permission to open " + d.source;
    default:
        return {};
    }
}

// Whether the disc of a real drive changed since its table of contents was read: the
// driver tells a change once, the drive keeps it until the table is read again.
bool discChanged(Drive& d) {
    if (deviceMediaChanged(d.source))
        d.changed = true;
    return d.changed;
}

// Why reading from a real drive must stop ("" when it may go on): the drive went away,
// its tray opened, its disc went or was changed.
std::string readingStops(Drive& d) {
    std::string why = deviceProblem(d);
    if (why.empty() && discChanged(d))
        why = "the disc was changed";
    if (!why.empty())
        d.cdda.reset(); // opened again for the next disc
    return why;
}

// Stops what runs against the active drive: its playback and an open ripper.
void releaseDrive(Library& l) {
    l.player.stop();
    l.ripper.reset();
}

// Forgets what the ranges read from the drive left for the ranges after them: which
// sectors it read lately (what its cache may hold), where it went on, the sectors a
// range decided past its end and the reads planned ahead. All of it is of the disc that
// was read; a table of contents read again may be of another disc, whose first reads
// must not be taken as cache hits of the old one, nor its first sectors from the old
// one's. An open ripper keeps the history it started with.
void forgetReads(Drive& d) {
    d.readHistory = std::make_shared<cdrip::ReadHistory>();
    d.plans->plans.clear(); // reads made of the disc that was there before
}

bool sameToc(const std::vector<CR_TOCENTRY>& a, const std::vector<CR_TOCENTRY>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0);
}

void setGap(CR_TOCENTRY& e, int32_t gap) {
    const auto g = uint16_t(std::clamp<int32_t>(gap, 0, 0xFFFF));
    std::memcpy(e.reserved, &g, 2); // little-endian on every platform we build for
}

int32_t gapOf(const CR_TOCENTRY& e) {
    uint16_t g = 0;
    std::memcpy(&g, e.reserved, 2);
    return g;
}

// Sectors before data track `t` (starting at `start`) that belong to no audio track:
// an image says so itself (INDEX 00 or PREGAP of its cue sheet); a real disc with a
// second session leaves 11,400 sectors between the sessions; otherwise 150. Never more
// than the audio track before it can give (`room`).
int32_t dataGap(CdIo_t* cdio, bool image, track_t t, int32_t start, int32_t room) {
    int32_t gap = 150;
    if (image) {
        const lsn_t pregap = cdio_get_track_pregap_lsn(cdio, t);
        gap = pregap == CDIO_INVALID_LSN || pregap > start ? 0 : start - pregap;
    } else {
        lsn_t lastSession = 0;
        if (cdio_get_last_session(cdio, &lastSession) == DRIVER_OP_SUCCESS && lastSession > 0)
            gap = 11400;
    }
    return std::clamp(gap, 0, std::max(0, room));
}

// The table of contents of an image read from its sheet: each track at its INDEX 01, a
// data track after an audio track with its own pregap (INDEX 00 or PREGAP) as its gap.
bool sheetToc(const Drive& d, std::vector<CR_TOCENTRY>& toc) {
    SheetDisc disc;
    std::string why;
    if (!loadSheet(d.source, &disc, &why))
        return false;
    for (const SheetTrack& t : disc.tracks) {
        CR_TOCENTRY e{};
        e.startSector = t.start;
        e.flags = t.audio ? CR_TOC_AUDIO : CR_TOC_DATA;
        e.trackNumber = uint8_t(t.number);
        toc.push_back(e);
    }
    for (size_t i = 1; i < toc.size(); ++i)
        if (toc[i].flags == CR_TOC_DATA && toc[i - 1].flags == CR_TOC_AUDIO)
            setGap(toc[i], std::clamp(disc.tracks[i].start - disc.tracks[i].pregap, 0,
                                      toc[i].startSector - toc[i - 1].startSector - 1));
    CR_TOCENTRY out{};
    out.startSector = disc.leadout;
    out.flags = toc.back().flags;
    out.trackNumber = 0xAA;
    toc.push_back(out);
    return true;
}

bool readToc(const Drive& d, std::vector<CR_TOCENTRY>& toc) {
    if (d.image && isSheetImage(d.source))
        return sheetToc(d, toc);
    CdioPtr cdio = openCdio(d.source, d.image);
    if (!cdio)
        return false;
    const track_t firstTrack = cdio_get_first_track_num(cdio.get());
    const track_t count = cdio_get_num_tracks(cdio.get());
    if (firstTrack == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0 || count > 99)
        return false;
    uint8_t lastFlags = CR_TOC_AUDIO;
    for (track_t t = firstTrack; t < firstTrack + count; ++t) {
        CR_TOCENTRY e{};
        const lsn_t start = cdio_get_track_lsn(cdio.get(), t);
        if (start == CDIO_INVALID_LSN)
            return false;
        // libcdio can place a track before sector 0 (a cdrdao TOC whose data starts
        // with an offset); the disc's audio starts at sector 0 at the earliest.
        e.startSector = std::max<int32_t>(start, 0);
        // Audio with copy or pre-emphasis bits is still audio that can be ripped.
        e.flags =
            cdio_get_track_format(cdio.get(), t) == TRACK_FORMAT_AUDIO ? CR_TOC_AUDIO : CR_TOC_DATA;
        e.trackNumber = uint8_t(t);
        lastFlags = e.flags;
        toc.push_back(e);
    }
    // A data track after an audio track: its gap (pregap) belongs to no audio track.
    for (size_t i = 1; i < toc.size(); ++i)
        if (toc[i].flags == CR_TOC_DATA && toc[i - 1].flags == CR_TOC_AUDIO)
            setGap(toc[i], dataGap(cdio.get(), d.image, track_t(firstTrack + i), toc[i].startSector,
                                   toc[i].startSector - toc[i - 1].startSector - 1));
    CR_TOCENTRY out{};
    out.startSector = cdio_get_track_lsn(cdio.get(), CDIO_CDROM_LEADOUT_TRACK);
    out.flags = lastFlags;
    out.trackNumber = 0xAA;
    if (out.startSector == CDIO_INVALID_LSN || out.startSector <= toc.back().startSector)
        return false;
    for (size_t i = 1; i < toc.size(); ++i)
        if (toc[i].startSector <= toc[i - 1].startSector)
            return false;
    toc.push_back(out);
    return true;
}

// The sectors of a drive: an image with a sheet through the sheet's reader, anything
// else (a real drive, an NRG image) through libcdio.
std::unique_ptr<SectorSource> openDriveSource(const Drive& d) {
    if (d.image && isSheetImage(d.source))
        return openSheetSource(d.source);
    return openCddaSource(d.source, d.image);
}

// The sectors a range reads: a real drive through the handle it keeps open.
std::unique_ptr<SectorSource> rangeSource(Drive& d) {
    if (d.image)
        return openDriveSource(d);
    if (!d.cdda)
        d.cdda = openCdda(d.source, false);
    return cddaSource(d.cdda);
}

// The first sector a rip may start at: 0 when track 1 is audio (audio before its
// INDEX 01 is its pregap, or a hidden track), else the first track's start.
int32_t firstRippable(const std::vector<CR_TOCENTRY>& toc) {
    return toc.front().flags == CR_TOC_AUDIO ? 0 : toc.front().startSector;
}

// A range is rippable when it lies inside the disc and touches only audio tracks.
bool audioRange(const std::vector<CR_TOCENTRY>& toc, int32_t first, int32_t last) {
    if (toc.size() < 2 || first > last || first < firstRippable(toc) ||
        last >= toc.back().startSector)
        return false;
    for (size_t i = 0; i + 1 < toc.size(); ++i) {
        // A data track's gap counts as part of it.
        const int32_t start = toc[i].startSector - gapOf(toc[i]), end = toc[i + 1].startSector - 1;
        if (toc[i].flags != CR_TOC_AUDIO && first <= end && last >= start)
            return false;
    }
    return true;
}

void keepRangeFigures(Library& l) {
    if (!l.ripper)
        return;
    l.lastPercent = l.ripper->percent();
    l.lastErrors = l.ripper->errorCount();
    l.ripper->lastErrorRange(&l.lastErrFirst, &l.lastErrLast);
    l.undefeatedCache = std::max(l.undefeatedCache, l.ripper->undefeatedCache());
}

// The reader's settings for a range of the active drive (start..end checked).
RipSettings rangeSettings(const Drive& d, int32_t startSector, int32_t endSector) {
    RipSettings s;
    s.paranoia = d.params.jitterCorrection != CR_FALSE;
    s.format = d.params.outputFormat;
    s.sectorsPerChunk = d.params.sectorsPerChunk;
    s.retries = d.params.paranoiaRetries;
    s.discLast = lib->toc.back().startSector - 1;
    s.offsetSamples = d.params.readOffset;
    if (const char* log = std::getenv("CDRIP_READ_LOG"))
        s.readLog = log;
    s.history = d.readHistory;
    // The disc's audio: from the first audio track's start to the last one's end.
    s.audioFirst = startSector;
    s.audioLast = endSector;
    for (size_t i = 0; i + 1 < lib->toc.size(); ++i) {
        if (lib->toc[i].flags != CR_TOC_AUDIO)
            continue;
        s.audioFirst =
            std::min(s.audioFirst, i == 0 ? firstRippable(lib->toc) : lib->toc[i].startSector);
        const CR_TOCENTRY& next = lib->toc[i + 1];
        s.audioLast = std::max(s.audioLast, next.startSector - gapOf(next) - 1);
    }
    return s;
}

} // namespace
} // namespace cdrip

using namespace cdrip;

extern "C" {

int32_t CR_GetCDRipVersion(void) {
    return CDRIP_VERSION;
}

CR_STATUS CR_Init(void) {
    std::lock_guard<std::mutex> guard(lock);
    try {
        lib.reset();
        cdio_log_set_handler(quietLog);
        auto l = std::make_unique<Library>();
        addRealDrives(*l);
        addImageDrives(*l);
        l->faults = parseFaults(std::getenv("CDRIP_FAULTS"));
        l->traySeconds = trayDelay();
        lib = std::move(l);
        return CR_STATUS_OK;
    } catch (...) {
        return CR_STATUS_FAIL;
    }
}

CR_STATUS CR_DeInit(void) {
    std::lock_guard<std::mutex> guard(lock);
    if (!lib)
        return CR_STATUS_FAIL;
    lib.reset();
    return CR_STATUS_OK;
}

int32_t CR_GetNumCDROM(void) {
    std::lock_guard<std::mutex> guard(lock);
    return lib ? int32_t(lib->drives.size()) : 0;
}

int32_t CR_GetActiveCDROM(void) {
    std::lock_guard<std::mutex> guard(lock);
    return lib ? int32_t(lib->active) : 0;
}

CR_STATUS CR_SetActiveCDROM(int32_t index) {
    std::lock_guard<std::mutex> guard(lock);
    if (!lib || index < 0 || size_t(index) >= lib->drives.size())
        return CR_STATUS_FAIL;
    if (size_t(index) != lib->active) {
        releaseDrive(*lib);
        lib->toc.clear();
        lib->active = size_t(index);
    }
    return CR_STATUS_OK;
}

CR_STATUS CR_GetCDROMParameters(CR_DRIVE_PARAMS* params) {
    std::lock_guard<std::mutex> guard(lock);
    Drive* d = activeDrive();
    if (!d || !params)
        return CR_STATUS_FAIL;
    *params = d->params;
    return CR_STATUS_OK;
}

CR_STATUS CR_SetCDROMParameters(const CR_DRIVE_PARAMS* params) {
    std::lock_guard<std::mutex> guard(lock);
    Drive* d = activeDrive();
    if (!d || !params)
        return CR_STATUS_FAIL;
    CR_DRIVE_PARAMS p;
    std::memcpy(&p, params, sizeof p); // the caller's block may be unaligned
    const int32_t chunk = p.sectorsPerChunk == 0 ? kDefaultChunk : p.sectorsPerChunk;
    const int32_t retries = p.paranoiaRetries == 0 ? kDefaultRetries : p.paranoiaRetries;
    if (p.outputFormat > CR_MONO11025 || chunk < 1 || chunk > 75 || retries < 1 || retries > 1000 ||
        p.readOffset < -kMaxOffset || p.readOffset > kMaxOffset ||
        (p.readMode != CR_READ_AS_JITTER && p.readMode != CR_READ_ONE_PASS))
        return CR_STATUS_FAIL;
    d->params.readOffset = p.readOffset;
    d->params.readMode = p.readMode;
    d->params.jitterCorrection = p.jitterCorrection;
    d->params.outputFormat = p.outputFormat;
    d->params.sectorsPerChunk = chunk;
    d->params.paranoiaRetries = retries;
    return CR_STATUS_OK;
}

CR_STATUS CR_ReadToc(void) {
    std::lock_guard<std::mutex> guard(lock);
    Drive* d = activeDrive();
    if (!d)
        return CR_STATUS_FAIL;
    lib->toc.clear();
    lib->undefeatedCache = 0;
    forgetReads(*d);
    if (d->image && trayOpen(*d))
        return CR_STATUS_FAIL;
    try {
        if (!d->image) {
            if (!deviceProblem(*d).empty())
                return CR_STATUS_FAIL;
            // A change the driver saw before this table is none for it.
            deviceMediaChanged(d->source);
        }
        d->changed = false;
        std::vector<CR_TOCENTRY> toc;
        d->cdda.reset();
        if (!readToc(*d, toc))
            return CR_STATUS_FAIL;
        lib->toc = std::move(toc);
        return CR_STATUS_OK;
    } catch (...) {
        return CR_STATUS_FAIL;
    }
}

int32_t CR_GetNumTocEntries(void) {
    std::lock_guard<std::mutex> guard(lock);
    return lib && !lib->toc.empty() ? int32_t(lib->toc.size() - 1) : 0;
}

CR_TOCENTRY CR_GetTocEntry(int32_t index) {
    std::lock_guard<std::mutex> guard(lock);
    if (!lib || index < 0 || size_t(index) >= lib->toc.size())
        return CR_TOCENTRY{};
    return lib->toc[size_t(index)];
}

int32_t CR_DiscChanged(void) {
    std::lock_guard<std::mutex> guard(lock);
    Drive* d = activeDrive();
    if (!d || lib->toc.empty() || (d->image && trayOpen(*d)))
        return CR_TRUE;
    try {
        if (d->changed || (!d->image && !deviceProblem(*d).empty()))
            return CR_TRUE;
        if (!d->image && discChanged(*d))
            return CR_TRUE;
        std::vector<CR_TOCENTRY> toc;
        if (!readToc(*d, toc) || !sameToc(toc, lib->toc))
            d->changed = true; // until the table is read again
        return d->changed ? CR_TRUE : CR_FALSE;
    } catch (...) {
        return CR_TRUE;
    }
}

CR_STATUS CR_OpenRipper(int32_t* bufferSize, int32_t startSector, int32_t endSector) {
    std::lock_guard<std::mutex> guard(lock);
    Drive* d = activeDrive();
    if (!d || !bufferSize || lib->ripper || !audioRange(lib->toc, startSector, endSector))
        return CR_STATUS_FAIL;
    if (d->image && (trayOpen(*d) || d->changed))
        return CR_STATUS_FAIL;
    try {
        if (!d->image && !readingStops(*d).empty())
            return CR_STATUS_FAIL;
        RipSettings s = rangeSettings(*d, startSector, endSector);
        if (d->params.readMode == CR_READ_ONE_PASS)
            s = onePassSettings(s);
        std::vector<uint8_t> proven = std::move(d->proven);
        const int32_t provenEnd = d->provenEnd;
        d->proven.clear();
        d->provenEnd = -1;
        const int32_t reachLast = d->reachLast;
        d->reachLast = -1;
        auto r = std::make_unique<Ripper>();
        // The simulated faults apply to virtual drives only.
        std::unique_ptr<SectorSource> source = rangeSource(*d);
        if (d->image)
            source = withFaults(std::move(source), &lib->faults);
        lib->sectorsRead = 0;
        source = countingSectors(std::move(source), &lib->sectorsRead);
        // A secure range planned ahead takes the reads made for it; a one-pass range
        // makes the planned reads on its way.
        auto plan =
            std::find_if(d->plans->plans.begin(), d->plans->plans.end(), [&](const SecurePlan& p) {
                return p.first == startSector && p.last == endSector;
            });
        if (s.paranoia && plan != d->plans->plans.end()) {
            SecurePlan taken = std::move(*plan);
            d->plans->plans.erase(plan);
            source = plannedSectors(std::move(source), std::move(taken), d->readHistory, s.discLast,
                                    s.audioFirst, s.audioLast);
        } else if (d->params.readMode == CR_READ_ONE_PASS && d->plans->pending()) {
            source =
                errandSectors(std::move(source), d->plans, d->readHistory, s.discLast, s.audioLast);
        } else if (s.paranoia) {
            s.provenBefore = std::move(proven);
            s.provenEnd = provenEnd;
            s.takePassCopy = true;
            s.reachLast = reachLast;
        }
        if (!r->open(std::move(source), startSector, endSector, s))
            return CR_STATUS_FAIL;
        *bufferSize = r->bufferSize();
        lib->ripper = std::move(r);
        lib->lastPercent = lib->lastErrors = 0;
        lib->lastErrFirst = lib->lastErrLast = 0;
        return CR_STATUS_OK;
    } catch (...) {
        return CR_STATUS_FAIL;
    }
}

CR_STATUS CR_RipChunk(uint8_t* buffer, int32_t* numBytes, int32_t /*flag*/) {
    std::lock_guard<std::mutex> guard(lock);
    if (numBytes)
        *numBytes = 0;
    if (!lib || !lib->ripper || !buffer || !numBytes)
        return CR_STATUS_FAIL;
    try {
        Drive& d = lib->drives[lib->active];
        // A real drive is asked before and after each chunk: bytes read after its disc
        // changed or while it went away are not the track's.
        if (!d.image && !readingStops(d).empty()) {
            keepRangeFigures(*lib);
            lib->ripper.reset();
            return CR_STATUS_FAIL;
        }
        CR_STATUS s = lib->ripper->chunk(buffer, numBytes);
        keepRangeFigures(*lib);
        if (!d.image && !readingStops(d).empty()) {
            *numBytes = 0;
            lib->ripper.reset();
            return CR_STATUS_FAIL;
        }
        return s;
    } catch (...) {
        return CR_STATUS_FAIL;
    }
}

CR_STATUS CR_GetLastJitterErrorPosition(uint32_t* first, uint32_t* last) {
    std::lock_guard<std::mutex> guard(lock);
    if (!first || !last)
        return CR_STATUS_FAIL;
    *first = lib ? lib->lastErrFirst : 0;
    *last = lib ? lib->lastErrLast : 0;
    return CR_STATUS_OK;
}

int32_t CR_GetPercentCompleted(void) {
    std::lock_guard<std::mutex> guard(lock);
    return lib ? lib->lastPercent : 0;
}

int32_t CR_GetNumberOfJitterErrors(void) {
    std::lock_guard<std::mutex> guard(lock);
    return lib ? lib->lastErrors : 0;
}

int64_t CR_GetSectorsRead(void) {
    std::lock_guard<std::mutex> guard(lock);
    return lib ? lib->sectorsRead : 0;
}

CR_STATUS CR_PlanSecureRange(int32_t startSector, int32_t endSector) {
    std::lock_guard<std::mutex> guard(lock);
    Drive* d = activeDrive();
    if (!d || !audioRange(lib->toc, startSector, endSector))
        return CR_STATUS_FAIL;
    try {
        RipSettings s = rangeSettings(*d, startSector, endSector);
        s.paranoia = true;
        // The drive's cache as it reported it when it was opened for a range, or as its
        // reads showed it larger since (before that, the 8 MB every drive is taken to
        // have: a plan for a cache found too large later only costs its reads, the secure
        // reading proves nothing by them).
        const int32_t cache = d->image  ? 0
                              : d->cdda ? driveCacheSectors(cacheKBOf(*d->cdda))
                                        : kDriveCacheSectors;
        // No cache: every read comes from the disc anyway. One too large to defeat: the
        // secure reading reads once and proves nothing by re-reads, so nothing to plan.
        const int32_t said = d->cdda ? saidCacheSectors(cacheKBOf(*d->cdda)) : 0;
        if (defeatedCache(cache, s.discLast) == 0 || cacheUndefeatable(cache, said, s.discLast))
            return CR_STATUS_OK;
        SecurePlan plan;
        plan.first = startSector;
        plan.last = endSector;
        plan.reads = secureReadsOf(s, startSector, endSector);
        auto& plans = d->plans->plans;
        plans.erase(std::remove_if(plans.begin(), plans.end(),
                                   [&](const SecurePlan& p) {
                                       return p.first == startSector && p.last == endSector;
                                   }),
                    plans.end());
        if (plans.size() >= 8)
            plans.erase(plans.begin());
        plans.push_back(std::move(plan));
        return CR_STATUS_OK;
    } catch (...) {
        return CR_STATUS_FAIL;
    }
}

int32_t CR_SecureRangeReady(int32_t startSector, int32_t endSector) {
    std::lock_guard<std::mutex> guard(lock);
    Drive* d = activeDrive();
    if (!d)
        return CR_TRUE;
    for (const SecurePlan& p : d->plans->plans)
        if (p.first == startSector && p.last == endSector && !p.ready())
            return CR_FALSE;
    return CR_TRUE;
}

int32_t CR_GetUndefeatedCacheKB(void) {
    std::lock_guard<std::mutex> guard(lock);
    if (!lib)
        return 0;
    if (lib->ripper)
        lib->undefeatedCache = std::max(lib->undefeatedCache, lib->ripper->undefeatedCache());
    return int32_t((int64_t(lib->undefeatedCache) * kSectorBytes + 1023) / 1024);
}

int32_t CR_GetDriveC2(void) {
    std::lock_guard<std::mutex> guard(lock);
    Drive* d = activeDrive();
    if (!d || !d->cdda)
        return -1;
    const C2Support c2 = c2SupportOf(*d->cdda);
    return c2 == C2Support::Yes ? 1 : c2 == C2Support::No ? 0 : -1;
}

CR_STATUS CR_HandProvenSectors(int32_t endSector, const uint8_t* sectors, int32_t count) {
    std::lock_guard<std::mutex> guard(lock);
    Drive* d = activeDrive();
    if (!d || !sectors || count < 1)
        return CR_STATUS_FAIL;
    try {
        const int32_t keep = std::min(count, int32_t{8});
        d->proven.assign(sectors + size_t(count - keep) * kSectorBytes,
                         sectors + size_t(count) * kSectorBytes);
        d->provenEnd = endSector;
        return CR_STATUS_OK;
    } catch (...) {
        return CR_STATUS_FAIL;
    }
}

CR_STATUS CR_SetSecureReach(int32_t lastSector) {
    std::lock_guard<std::mutex> guard(lock);
    Drive* d = activeDrive();
    if (!d)
        return CR_STATUS_FAIL;
    d->reachLast = std::max(lastSector, int32_t{-1});
    return CR_STATUS_OK;
}

int64_t CR_GetPlannedTrips(void) {
    std::lock_guard<std::mutex> guard(lock);
    Drive* d = activeDrive();
    return d ? d->plans->trips : 0;
}

CR_STATUS CR_DropSecurePlans(void) {
    std::lock_guard<std::mutex> guard(lock);
    Drive* d = activeDrive();
    if (!d)
        return CR_STATUS_FAIL;
    d->plans->plans.clear();
    d->plans->trips = 0;
    return CR_STATUS_OK;
}

CR_STATUS CR_CloseRipper(void) {
    std::lock_guard<std::mutex> guard(lock);
    if (!lib || !lib->ripper)
        return CR_STATUS_FAIL;
    keepRangeFigures(*lib);
    lib->ripper.reset();
    return CR_STATUS_OK;
}

CR_STATUS CR_GetDriveStatusText(char* text, int32_t size) {
    std::lock_guard<std::mutex> guard(lock);
    Drive* d = activeDrive();
    if (!d || !text || size < 1)
        return CR_STATUS_FAIL;
    std::string why;
    try {
        if (d->image && trayOpen(*d)) {
            why = "the tray is open";
        } else if (d->image && isSheetImage(d->source)) {
            SheetDisc disc;
            loadSheet(d->source, &disc, &why);
        } else if (d->image) {
            why = imageProblem(d->source);
            if (why.empty() && !openCdio(d->source, true))
                why = d->source + ": not a disc image libcdio can read";
        } else {
            why = deviceProblem(*d);
            if (why.empty() && !lib->toc.empty() && discChanged(*d))
                why = "the disc was changed";
            if (why.empty() && !openCdio(d->source, false))
                why = "the drive cannot be opened";
        }
        if (why.empty() && d->image && d->changed && !lib->toc.empty())
            why = "the disc was changed"; // found by CR_DiscChanged
        if (why.empty()) {
            std::vector<CR_TOCENTRY> toc;
            if (!readToc(*d, toc))
                why = d->image ? d->source + ": no readable table of contents"
                               : "the disc in the drive has no readable table of contents";
        }
    } catch (...) {
        why = "the drive cannot be read";
    }
    const size_t n = std::min(why.size(), size_t(size - 1));
    std::memcpy(text, why.data(), n);
    text[n] = '\0';
    return CR_STATUS_OK;
}

CR_STATUS CR_PlayTrack(int32_t track) {
    std::lock_guard<std::mutex> guard(lock);
    Drive* d = activeDrive();
    if (!d || track < 1 || size_t(track) >= lib->toc.size())
        return CR_STATUS_FAIL;
    const CR_TOCENTRY& e = lib->toc[size_t(track - 1)];
    if (e.flags != CR_TOC_AUDIO || (d->image && trayOpen(*d)))
        return CR_STATUS_FAIL;
    try {
        // Another disc's sectors are not this track's.
        if (d->changed || (!d->image && discChanged(*d)))
            return CR_STATUS_FAIL;
        const CR_TOCENTRY& next = lib->toc[size_t(track)];
        const int32_t last = next.startSector - gapOf(next) - 1;
        const Drive drive = *d;
        return lib->player.play([drive] { return openDriveSource(drive); }, e.startSector, last)
                   ? CR_STATUS_OK
                   : CR_STATUS_FAIL;
    } catch (...) {
        return CR_STATUS_FAIL;
    }
}

CR_STATUS CR_PauseCD(int32_t pause) {
    std::lock_guard<std::mutex> guard(lock);
    if (!lib)
        return CR_STATUS_FAIL;
    return lib->player.pause(pause != CR_FALSE) ? CR_STATUS_OK : CR_STATUS_FAIL;
}

CR_STATUS CR_StopPlayTrack(void) {
    std::lock_guard<std::mutex> guard(lock);
    if (!lib)
        return CR_STATUS_FAIL;
    lib->player.stop();
    return CR_STATUS_OK;
}

CR_STATUS CR_EjectCD(int32_t eject) {
    std::lock_guard<std::mutex> guard(lock);
    Drive* d = activeDrive();
    if (!d)
        return CR_STATUS_FAIL;
    releaseDrive(*lib);
    d->cdda.reset();
    if (eject != CR_FALSE)
        lib->toc.clear();
    if (d->image) {
        d->trayOpen = eject != CR_FALSE;
        d->trayClosesAt = Clock::now() + std::chrono::seconds(lib->traySeconds);
        return CR_STATUS_OK;
    }
    driver_return_code_t rc = eject != CR_FALSE ? cdio_eject_media_drive(d->source.c_str())
                                                : cdio_close_tray(d->source.c_str(), nullptr);
    return rc == DRIVER_OP_SUCCESS ? CR_STATUS_OK : CR_STATUS_FAIL;
}

CR_STATUS CR_GetPlayPosition(int32_t* relative, int32_t* absolute) {
    std::lock_guard<std::mutex> guard(lock);
    if (!lib || !relative || !absolute)
        return CR_STATUS_FAIL;
    lib->player.position(relative, absolute);
    return CR_STATUS_OK;
}

} // extern "C"

// ---- CD-TEXT ----
// Kept apart from the rest of the library state: read once per disc by
// CR_ReadCdText, handed out field by field by CR_GetCdText.

#include <cdio/cdtext.h>

#include <array>
#include <stdexcept>

namespace cdrip {
namespace {

constexpr int kCdTextTracks = 100; // 0 is the disc, 1..99 the tracks
using CdTextFields = std::array<std::array<std::string, 2>, kCdTextTracks>;
CdTextFields cdText;
std::string cdTextEncoding; // how the sheet's text was read; empty for a disc

// A sheet's TITLE and PERFORMER lines (or its CD_TEXT blocks), as UTF-8.
void sheetCdText(const Drive& d, CdTextFields& out, std::string& encoding) {
    SheetDisc disc;
    std::string why;
    if (!loadSheet(d.source, &disc, &why))
        throw std::runtime_error(why);
    out[0] = {disc.title, disc.performer};
    for (const SheetTrack& t : disc.tracks)
        out[size_t(t.number)] = {t.title, t.performer};
    encoding = disc.encoding;
}

void readCdText(const Drive& d, CdTextFields& out, std::string& encoding) {
    if (d.image && isSheetImage(d.source))
        return sheetCdText(d, out, encoding);
    CdioPtr cdio = openCdio(d.source, d.image);
    if (!cdio)
        throw std::runtime_error("no disc");
    cdtext_t* text = cdio_get_cdtext(cdio.get()); // owned by the handle
    if (!text)
        return;
    const cdtext_field_t fields[2] = {CDTEXT_FIELD_TITLE, CDTEXT_FIELD_PERFORMER};
    for (int t = 0; t < kCdTextTracks; ++t)
        for (int f = 0; f < 2; ++f)
            if (const char* value = cdtext_get_const(text, fields[f], track_t(t)))
                out[size_t(t)][size_t(f)] = value;
}

// The longest prefix of `text` of at most `room` bytes that ends on a character.
size_t utf8Prefix(const std::string& text, size_t room) {
    if (text.size() <= room)
        return text.size();
    size_t n = room;
    while (n > 0 && (uint8_t(text[n]) & 0xC0) == 0x80)
        --n; // text[n] continues a character that would be cut
    return n;
}

} // namespace
} // namespace cdrip

extern "C" {

CR_STATUS CR_ReadCdText(void) {
    std::lock_guard<std::mutex> guard(lock);
    for (auto& track : cdText)
        track = {};
    cdTextEncoding.clear();
    Drive* d = activeDrive();
    if (!d || (d->image && trayOpen(*d)))
        return CR_STATUS_FAIL;
    try {
        CdTextFields fields;
        std::string encoding;
        readCdText(*d, fields, encoding);
        cdText = std::move(fields);
        cdTextEncoding = std::move(encoding);
        return CR_STATUS_OK;
    } catch (...) {
        return CR_STATUS_FAIL;
    }
}

CR_STATUS CR_GetCdText(int32_t track, int32_t field, char* buffer, int32_t bufferSize) {
    std::lock_guard<std::mutex> guard(lock);
    if (!buffer || bufferSize < 1 || track < 0 || track >= kCdTextTracks ||
        (field != CR_CDTEXT_TITLE && field != CR_CDTEXT_PERFORMER && field != CR_CDTEXT_ENCODING))
        return CR_STATUS_FAIL;
    static const std::string none;
    const std::string& text = field == CR_CDTEXT_ENCODING ? (track == 0 ? cdTextEncoding : none)
                                                          : cdText[size_t(track)][size_t(field)];
    const size_t n = utf8Prefix(text, size_t(bufferSize) - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return CR_STATUS_OK;
}

} // extern "C"

// ---- Catalogue number and recording codes ----
// Asked of libcdio at each call, like the drive's status: the disc may have changed.

#include <cdio/memory.h>

namespace cdrip {
namespace {

// A string libcdio allocated, freed once.
struct CdioString {
    char* text = nullptr;
    explicit CdioString(char* t) : text(t) {}
    CdioString(const CdioString&) = delete;
    CdioString& operator=(const CdioString&) = delete;
    ~CdioString() { cdio_free(text); }
};

bool allOf(const std::string& s, size_t from, size_t to, int (*test)(int)) {
    for (size_t i = from; i < to; ++i)
        if (!test(uint8_t(s[i])))
            return false;
    return true;
}

int isUpperOrDigit(int c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

int isUpper(int c) {
    return c >= 'A' && c <= 'Z';
}

int isDigit(int c) {
    return c >= '0' && c <= '9';
}

// 13 digits, not all zero (drives without a catalogue number answer zeros).
std::string validMcn(const char* raw) {
    const std::string s = raw ? raw : "";
    if (s.size() != 13 || !allOf(s, 0, 13, isDigit) || s == std::string(13, '0'))
        return {};
    return s;
}

// CCXXXYYNNNNN: a country code of two letters, a registrant of three letters or
// digits, then seven digits.
std::string validIsrc(const char* raw) {
    const std::string s = raw ? raw : "";
    if (s.size() != 12 || !allOf(s, 0, 2, isUpper) || !allOf(s, 2, 5, isUpperOrDigit) ||
        !allOf(s, 5, 12, isDigit))
        return {};
    return s;
}

// A handle on the active drive's disc, or null (tray open, no readable disc).
CdioPtr openDisc(Drive& d) {
    if (d.image && trayOpen(d))
        return nullptr;
    CdioPtr cdio = openCdio(d.source, d.image);
    if (!cdio || cdio_get_num_tracks(cdio.get()) == CDIO_INVALID_TRACK)
        return nullptr;
    return cdio;
}

void putText(const std::string& value, char* text, int32_t size) {
    const size_t n = std::min(value.size(), size_t(size - 1));
    std::memcpy(text, value.data(), n);
    text[n] = '\0';
}

} // namespace
} // namespace cdrip

extern "C" {

CR_STATUS CR_GetMcn(char* text, int32_t size) {
    std::lock_guard<std::mutex> guard(lock);
    if (!text || size < 1)
        return CR_STATUS_FAIL;
    text[0] = '\0';
    Drive* d = activeDrive();
    if (!d || size < CR_MCN_SIZE)
        return CR_STATUS_FAIL;
    try {
        if (d->image && isSheetImage(d->source)) {
            SheetDisc disc;
            std::string why;
            if (trayOpen(*d) || !loadSheet(d->source, &disc, &why))
                return CR_STATUS_FAIL;
            putText(validMcn(disc.catalog.c_str()), text, size);
            return CR_STATUS_OK;
        }
        CdioPtr cdio = openDisc(*d);
        if (!cdio)
            return CR_STATUS_FAIL;
        CdioString mcn(cdio_get_mcn(cdio.get()));
        putText(validMcn(mcn.text), text, size);
        return CR_STATUS_OK;
    } catch (...) {
        return CR_STATUS_FAIL;
    }
}

CR_STATUS CR_GetTrackIsrc(int32_t track, char* text, int32_t size) {
    std::lock_guard<std::mutex> guard(lock);
    if (!text || size < 1)
        return CR_STATUS_FAIL;
    text[0] = '\0';
    Drive* d = activeDrive();
    if (!d || size < CR_ISRC_SIZE || track < 1 || track > 99)
        return CR_STATUS_FAIL;
    try {
        if (d->image && isSheetImage(d->source)) {
            SheetDisc disc;
            std::string why;
            if (trayOpen(*d) || !loadSheet(d->source, &disc, &why))
                return CR_STATUS_FAIL;
            for (const SheetTrack& t : disc.tracks)
                if (t.number == track) {
                    putText(validIsrc(t.isrc.c_str()), text, size);
                    return CR_STATUS_OK;
                }
            return CR_STATUS_FAIL;
        }
        CdioPtr cdio = openDisc(*d);
        if (!cdio)
            return CR_STATUS_FAIL;
        const track_t first = cdio_get_first_track_num(cdio.get());
        const track_t count = cdio_get_num_tracks(cdio.get());
        if (first == CDIO_INVALID_TRACK || track < first || track >= first + count)
            return CR_STATUS_FAIL;
        CdioString isrc(cdio_get_track_isrc(cdio.get(), track_t(track)));
        putText(validIsrc(isrc.text), text, size);
        return CR_STATUS_OK;
    } catch (...) {
        return CR_STATUS_FAIL;
    }
}

} // extern "C"

// ---- Index points and track flags ----
// Asked at each call, like the drive's status: an image from its sheet, a real drive
// from what libcdio reports of it.

namespace cdrip {
namespace {

// The active drive's sheet; false when the drive has none or it cannot be read.
bool activeSheet(SheetDisc* disc) {
    Drive* d = activeDrive();
    if (!d || !d->image || !isSheetImage(d->source) || trayOpen(*d))
        return false;
    std::string why;
    return loadSheet(d->source, disc, &why);
}

const SheetTrack* sheetTrack(const SheetDisc& disc, int32_t track) {
    for (const SheetTrack& t : disc.tracks)
        if (t.number == track)
            return &t;
    return nullptr;
}

} // namespace
} // namespace cdrip

extern "C" {

int32_t CR_GetTrackIndexes(int32_t track, int32_t* sectors, int32_t max) {
    std::lock_guard<std::mutex> guard(lock);
    Drive* d = activeDrive();
    if (!d || !sectors || max < 0 || (d->image && trayOpen(*d)))
        return -1;
    try {
        std::vector<int32_t> points;
        if (d->image && isSheetImage(d->source)) {
            SheetDisc disc;
            const SheetTrack* t = activeSheet(&disc) ? sheetTrack(disc, track) : nullptr;
            if (!t)
                return -1;
            points = {t->pregap, t->start};
            points.insert(points.end(), t->indexes.begin(), t->indexes.end());
        } else {
            CdioPtr cdio = openCdio(d->source, d->image);
            if (!cdio || track < 1 || track > 99)
                return -1;
            const lsn_t start = cdio_get_track_lsn(cdio.get(), track_t(track));
            if (start == CDIO_INVALID_LSN)
                return -1;
            // libcdio knows a pregap for some images only; a drive through it reports none.
            const lsn_t pregap = cdio_get_track_pregap_lsn(cdio.get(), track_t(track));
            if (pregap == CDIO_INVALID_LSN || pregap > start)
                return 0;
            points = {std::max<int32_t>(pregap, 0), std::max<int32_t>(start, 0)};
        }
        const int32_t n = std::min<int32_t>(max, int32_t(points.size()));
        std::copy(points.begin(), points.begin() + n, sectors);
        return n;
    } catch (...) {
        return -1;
    }
}

int32_t CR_GetTrackFlags(int32_t track) {
    std::lock_guard<std::mutex> guard(lock);
    Drive* d = activeDrive();
    if (!d || (d->image && trayOpen(*d)))
        return -1;
    try {
        if (d->image && isSheetImage(d->source)) {
            SheetDisc disc;
            const SheetTrack* t = activeSheet(&disc) ? sheetTrack(disc, track) : nullptr;
            if (!t)
                return -1;
            return (t->pre ? CR_FLAG_PRE : 0) | (t->dcp ? CR_FLAG_DCP : 0) |
                   (t->fourChannel ? CR_FLAG_4CH : 0);
        }
        CdioPtr cdio = openCdio(d->source, d->image);
        if (!cdio || track < 1 || track > 99 ||
            cdio_get_track_lsn(cdio.get(), track_t(track)) == CDIO_INVALID_LSN)
            return -1;
        int32_t flags = 0;
        if (cdio_get_track_preemphasis(cdio.get(), track_t(track)) == CDIO_TRACK_FLAG_TRUE)
            flags |= CR_FLAG_PRE;
        if (cdio_get_track_copy_permit(cdio.get(), track_t(track)) == CDIO_TRACK_FLAG_TRUE)
            flags |= CR_FLAG_DCP;
        if (cdio_get_track_channels(cdio.get(), track_t(track)) == 4)
            flags |= CR_FLAG_4CH;
        return flags;
    } catch (...) {
        return -1;
    }
}

} // extern "C"
