#include "Drive.h"

#include <linux/cdrom.h>
#include <scsi/scsi.h>
#include <scsi/scsi_ioctl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

namespace emudrive {
namespace {

// Sense keys and additional sense codes the drive reports.
constexpr uint8_t kNotReady = 0x02, kMediumError = 0x03, kIllegalRequest = 0x05,
                  kUnitAttention = 0x06;
constexpr int kC2Bytes = 294; // one bit per byte of a sector

Outcome check(uint8_t key, uint8_t asc, uint8_t ascq, int32_t info = -1) {
    Outcome o;
    o.errnoValue = EIO;
    o.checkCondition = true;
    o.sense = Sense{key, asc, ascq, info};
    return o;
}

Outcome invalidCommand() {
    return check(kIllegalRequest, 0x20, 0x00); // INVALID COMMAND OPERATION CODE
}

Outcome invalidField() {
    return check(kIllegalRequest, 0x24, 0x00); // INVALID FIELD IN CDB
}

Outcome kernelError(int e) {
    Outcome o;
    o.errnoValue = e;
    return o;
}

uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void putBe16(uint8_t* p, unsigned v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

void putBe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// MSF of an LSN (two seconds of lead-in before LSN 0), binary.
void msf(int lsn, uint8_t* m, uint8_t* s, uint8_t* f) {
    const int lba = lsn + 150;
    *m = uint8_t(lba / 4500);
    *s = uint8_t(lba / 75 % 60);
    *f = uint8_t(lba % 75);
}

// An address field of READ TOC / READ SUB-CHANNEL: LBA or 0,M,S,F.
void putAddress(uint8_t* p, int lsn, bool useMsf) {
    if (!useMsf) {
        putBe32(p, uint32_t(lsn));
        return;
    }
    p[0] = 0;
    msf(lsn, &p[1], &p[2], &p[3]);
}

Outcome reply(const std::vector<uint8_t>& bytes, uint8_t* data, unsigned length) {
    std::memcpy(data, bytes.data(), std::min<size_t>(bytes.size(), length));
    return Outcome{};
}

// CRC of a CD-TEXT pack: CCITT polynomial, inverted, big-endian.
uint16_t packCrc(const uint8_t* p) {
    uint16_t crc = 0;
    for (int i = 0; i < 16; ++i) {
        crc ^= uint16_t(p[i] << 8);
        for (int b = 0; b < 8; ++b)
            crc = uint16_t(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return uint16_t(~crc);
}

bool inRange(const Fault& f, int lsn) {
    return lsn >= f.first && lsn <= f.last;
}

} // namespace

bool Drive::configure(const Model& model, std::string* error) {
    flushLog(); // what the last model's drive did, to its own log
    model_ = model;
    logOut_.reset(); // opened again at the next line: a test may have removed the file
    disc_ = Disc{};
    if (!model.cue.empty() && model.tray != "nodisc" &&
        !loadDisc(model.cue, model.twoSessions, &disc_, error))
        return false;
    tray_ = model.tray == "open" ? Tray::Open : Tray::Closed;
    gone_ = false;
    mediaChanged_ = unitAttention_ = false;
    readCommands_ = 0;
    rng_ = model.seed * 2654435761u + 1;
    nextSector_ = -1;
    landed_ = 0;
    lastDelivered_.clear();
    readBefore_.clear();
    burstLeft_.clear();
    for (size_t i = 0; i < model.faults.size(); ++i)
        if (model.faults[i].kind == "burst")
            burstLeft_[int(i)] = model.faults[i].count;
    cache_.clear();
    cacheOrder_.clear();
    stats_ = Stats{};
    return true;
}

unsigned Drive::random() {
    rng_ = rng_ * 1103515245u + 12345u;
    return rng_ >> 8;
}

Outcome Drive::notReady() const {
    if (tray_ == Tray::Open)
        return check(kNotReady, 0x3A, 0x02); // MEDIUM NOT PRESENT - TRAY OPEN
    return check(kNotReady, 0x3A, 0x01);     // MEDIUM NOT PRESENT - TRAY CLOSED
}

Outcome Drive::packet(const uint8_t* cdb, uint8_t* data, unsigned length) {
    if (gone_)
        return kernelError(ENODEV);
    ++stats_.commands;
    const uint8_t op = cdb[0];
    // Commands that work without a disc and do not report a pending change.
    switch (op) {
    case 0x12:
        return inquiry(data, length);
    case 0x03: { // REQUEST SENSE
        std::vector<uint8_t> s(18, 0);
        s[0] = 0x70;
        s[7] = 10;
        return reply(s, data, std::min<unsigned>(length, cdb[4]));
    }
    case 0x4A:
        return eventStatus(cdb, data, length);
    case 0x1B:
        return startStop(cdb);
    case 0x1E:
        return Outcome{}; // PREVENT ALLOW MEDIUM REMOVAL
    case 0x1A:
        return modeSense(cdb, data, length, false);
    case 0x5A:
        return modeSense(cdb, data, length, true);
    case 0x15:
    case 0x55:
        return Outcome{}; // MODE SELECT: block size and the like, taken
    case 0xBB:
        return Outcome{}; // SET CD SPEED
    default:
        break;
    }
    if (unitAttention_) {
        unitAttention_ = false;
        return check(kUnitAttention, 0x28,
                     0x00); // NOT READY TO READY CHANGE, MEDIUM MAY HAVE CHANGED
    }
    switch (op) {
    case 0x00:
        return ready() ? Outcome{} : notReady(); // TEST UNIT READY
    case 0xBE:
        return readCd(cdb, data, length);
    case 0x28:
        return readTen(cdb, data, length, false);
    case 0xA8:
        return readTen(cdb, data, length, true);
    case 0x43:
        return ready() ? readToc(cdb, data, length) : notReady();
    case 0x42:
        return ready() ? readSubchannel(cdb, data, length) : notReady();
    case 0x25:
        return ready() ? readCapacity(data, length) : notReady();
    case 0x51: { // READ DISC INFORMATION
        if (!ready())
            return notReady();
        std::vector<uint8_t> r(34, 0);
        putBe16(&r[0], 32);
        r[2] = 0x0E; // complete disc, complete last session
        r[3] = uint8_t(disc_.tracks.front().number);
        r[4] = disc_.twoSessions ? 2 : 1;
        r[5] =
            uint8_t(disc_.twoSessions ? disc_.tracks.back().number : disc_.tracks.front().number);
        r[6] = uint8_t(disc_.tracks.back().number);
        r[8] = disc_.twoSessions ? 0x20 : 0x00;
        return reply(r, data, length);
    }
    default:
        return invalidCommand();
    }
}

Outcome Drive::inquiry(uint8_t* data, unsigned length) {
    std::vector<uint8_t> r(36, ' ');
    r[0] = 0x05; // CD/DVD device
    r[1] = 0x80; // removable
    r[2] = 0x05;
    r[3] = 0x32;
    r[4] = 31;
    r[5] = r[6] = r[7] = 0;
    auto put = [&](size_t at, size_t size, const std::string& text) {
        std::memcpy(&r[at], text.data(), std::min(size, text.size()));
    };
    put(8, 8, model_.vendor);
    put(16, 16, model_.product);
    put(32, 4, model_.revision);
    return reply(r, data, length);
}

Outcome Drive::eventStatus(const uint8_t* cdb, uint8_t* data, unsigned length) {
    std::vector<uint8_t> r(8, 0);
    if (!(cdb[4] & 0x10)) { // only the media class is offered
        putBe16(&r[0], 2);
        r[2] = 0x80; // no event available
        r[3] = 0x10;
        r.resize(4);
        return reply(r, data, length);
    }
    putBe16(&r[0], 6);
    r[2] = 0x04;
    r[3] = 0x10;
    r[4] = mediaChanged_ ? 0x02 : 0x00; // new media
    r[5] = uint8_t((tray_ == Tray::Open ? 0x01 : 0) | (disc_.present ? 0x02 : 0));
    return reply(r, data, length);
}

Outcome Drive::startStop(const uint8_t* cdb) {
    const bool loadEject = cdb[4] & 0x02, start = cdb[4] & 0x01;
    if (!loadEject)
        return Outcome{};
    control("tray", start ? "closed" : "open", nullptr);
    return Outcome{};
}

Outcome Drive::readCapacity(uint8_t* data, unsigned length) {
    std::vector<uint8_t> r(8, 0);
    putBe32(&r[0], uint32_t(disc_.leadout - 1));
    putBe32(&r[4], 2048);
    return reply(r, data, length);
}

Outcome Drive::modeSense(const uint8_t* cdb, uint8_t* data, unsigned length, bool ten) {
    const uint8_t page = cdb[2] & 0x3F, control = cdb[2] >> 6;
    const bool blockDescriptor = !(cdb[1] & 0x08);
    if (control == 3)
        return check(kIllegalRequest, 0x39, 0x00); // SAVING PARAMETERS NOT SUPPORTED
    std::vector<uint8_t> pages;
    auto add = [&](uint8_t code, std::vector<uint8_t> bytes) {
        if (page != code && page != 0x3F)
            return;
        if (control == 1) // changeable: nothing is
            std::fill(bytes.begin() + 2, bytes.end(), 0);
        pages.insert(pages.end(), bytes.begin(), bytes.end());
    };
    add(0x01, {0x01, 0x0A, 0x00, 0x01, 0, 0, 0, 0, 0x01, 0, 0, 0});
    add(0x0E, {0x0E, 0x0E, 0x04, 0, 0, 0, 0, 0, 0x01, 0xFF, 0x02, 0xFF, 0, 0, 0, 0});
    std::vector<uint8_t> caps(22, 0);
    caps[0] = 0x2A;
    caps[1] = 20;
    caps[4] = 0x01 | 0x40; // audio play, multi-session
    caps[5] = uint8_t(0x01 | 0x02 | 0x20 | 0x40 | (model_.c2 ? 0x10 : 0)); // CD-DA, accurate,
                                                                           // ISRC, UPC, C2 pointers
    caps[6] = 0x01 | 0x08 | 0x20; // lock, eject, tray loading
    caps[7] = 0x03;
    putBe16(&caps[8], unsigned(model_.speed * 176));
    putBe16(&caps[10], 256);
    // Buffer Size Supported, in KB: the cache's own size unless the model says otherwise.
    const long bufferKB =
        model_.cacheReportKB >= 0 ? model_.cacheReportKB : long(model_.cache) * kSectorBytes / 1024;
    putBe16(&caps[12], unsigned(std::min(bufferKB, 65535L)));
    putBe16(&caps[14], unsigned(model_.speed * 176));
    add(0x2A, caps);
    if (pages.empty())
        return invalidField();
    const size_t header = ten ? 8 : 4, descriptor = blockDescriptor ? 8 : 0;
    std::vector<uint8_t> r(header + descriptor, 0);
    if (descriptor)
        putBe32(&r[header + 4], 2048); // reserved byte then a 3-byte block length
    r.insert(r.end(), pages.begin(), pages.end());
    if (ten) {
        putBe16(&r[0], unsigned(r.size() - 2));
        putBe16(&r[6], unsigned(descriptor));
    } else {
        r[0] = uint8_t(r.size() - 1);
        r[3] = uint8_t(descriptor);
    }
    const unsigned allocation = ten ? unsigned(cdb[7] << 8 | cdb[8]) : cdb[4];
    return reply(r, data, std::min(length, allocation));
}

std::vector<uint8_t> Drive::fullToc() const {
    std::vector<uint8_t> r(4, 0);
    auto entry = [&](int session, bool data, uint8_t point, int lsn, uint8_t pmin, uint8_t psec) {
        uint8_t e[11] = {
            uint8_t(session), uint8_t(0x10 | (data ? 4 : 0)), 0, point, 0, 0, 0, 0, pmin, psec, 0};
        if (lsn >= 0)
            msf(lsn, &e[8], &e[9], &e[10]);
        r.insert(r.end(), e, e + 11);
    };
    const Track& first = disc_.tracks.front();
    const size_t audio = disc_.twoSessions ? disc_.tracks.size() - 1 : disc_.tracks.size();
    const Track& lastOne = disc_.tracks[audio - 1];
    entry(1, first.data, 0xA0, -1, uint8_t(first.number), 0x00);
    entry(1, lastOne.data, 0xA1, -1, uint8_t(lastOne.number), 0);
    entry(1, lastOne.data, 0xA2, disc_.twoSessions ? disc_.audioEnd : disc_.leadout, 0, 0);
    for (size_t i = 0; i < audio; ++i)
        entry(1, disc_.tracks[i].data, uint8_t(disc_.tracks[i].number), disc_.tracks[i].start, 0,
              0);
    if (disc_.twoSessions) {
        const Track& d = disc_.tracks.back();
        entry(2, true, 0xA0, -1, uint8_t(d.number), 0x20);
        entry(2, true, 0xA1, -1, uint8_t(d.number), 0);
        entry(2, true, 0xA2, disc_.leadout, 0, 0);
        entry(2, true, uint8_t(d.number), d.start, 0, 0);
    }
    putBe16(&r[0], unsigned(r.size() - 2));
    r[2] = 1;
    r[3] = disc_.twoSessions ? 2 : 1;
    return r;
}

std::vector<uint8_t> Drive::cdText() const {
    std::vector<uint8_t> packs;
    int sequence = 0, counts[16] = {};
    const int lastTrack = disc_.tracks.back().number, firstTrack = disc_.tracks.front().number;
    for (uint8_t type : {uint8_t(0x80), uint8_t(0x81)}) {
        std::vector<std::pair<int, uint8_t>> chars; // (track, byte)
        bool any = false;
        for (int t = 0; t <= lastTrack; ++t) {
            std::string text;
            if (t == 0)
                text = type == 0x80 ? disc_.title : disc_.performer;
            for (const Track& track : disc_.tracks)
                if (t > 0 && track.number == t)
                    text = type == 0x80 ? track.title : track.performer;
            if (t > 0 && t < firstTrack)
                continue;
            any = any || !text.empty();
            for (char c : text)
                chars.push_back({t, uint8_t(c)});
            chars.push_back({t, 0});
        }
        if (!any)
            continue;
        for (size_t i = 0; i < chars.size(); i += 12) {
            uint8_t p[18] = {type, uint8_t(chars[i].first), uint8_t(sequence++), 0};
            size_t position = 0;
            while (position < i && chars[i - position - 1].first == chars[i].first)
                ++position;
            p[3] = uint8_t(std::min<size_t>(position, 15));
            for (size_t k = 0; k < 12 && i + k < chars.size(); ++k)
                p[4 + k] = chars[i + k].second;
            putBe16(&p[16], packCrc(p));
            packs.insert(packs.end(), p, p + 18);
            ++counts[type - 0x80];
        }
    }
    if (packs.empty())
        return {};
    counts[15] = 3;
    uint8_t info[36] = {0x00, uint8_t(firstTrack), uint8_t(lastTrack), 0};
    for (int k = 0; k < 16; ++k)
        info[4 + k] = uint8_t(counts[k]);
    info[20] = uint8_t(sequence + 2); // last sequence number of block 0
    info[28] = 0x09;                  // English
    for (int k = 0; k < 3; ++k) {
        uint8_t p[18] = {0x8F, uint8_t(k), uint8_t(sequence++), 0};
        std::memcpy(&p[4], &info[12 * k], 12);
        putBe16(&p[16], packCrc(p));
        packs.insert(packs.end(), p, p + 18);
    }
    return packs;
}

Outcome Drive::readToc(const uint8_t* cdb, uint8_t* data, unsigned length) {
    const bool useMsf = cdb[1] & 0x02;
    int format = cdb[2] & 0x0F;
    if (format == 0)
        format = cdb[9] >> 6; // the older place of the format
    const unsigned allocation = unsigned(cdb[7] << 8 | cdb[8]);
    length = std::min(length, allocation);
    std::vector<uint8_t> r(4, 0);
    if (format == 0) {
        const int from = cdb[6];
        for (const Track& t : disc_.tracks) {
            if (t.number < from)
                continue;
            uint8_t e[8] = {0, uint8_t(0x10 | (t.data ? 4 : 0)), uint8_t(t.number), 0};
            putAddress(&e[4], t.start, useMsf);
            r.insert(r.end(), e, e + 8);
        }
        if (from > disc_.tracks.back().number && from != 0xAA)
            return invalidField();
        uint8_t e[8] = {0, uint8_t(0x10 | (disc_.tracks.back().data ? 4 : 0)), 0xAA, 0};
        putAddress(&e[4], disc_.leadout, useMsf);
        r.insert(r.end(), e, e + 8);
        r[2] = uint8_t(disc_.tracks.front().number);
        r[3] = uint8_t(disc_.tracks.back().number);
    } else if (format == 1) {
        const Track& t = disc_.twoSessions ? disc_.tracks.back() : disc_.tracks.front();
        uint8_t e[8] = {0, uint8_t(0x10 | (t.data ? 4 : 0)), uint8_t(t.number), 0};
        putAddress(&e[4], t.start, useMsf);
        r.insert(r.end(), e, e + 8);
        r[2] = 1;
        r[3] = disc_.twoSessions ? 2 : 1;
    } else if (format == 2) {
        r = fullToc();
    } else if (format == 5) {
        const std::vector<uint8_t> packs = cdText();
        if (packs.empty())
            return invalidField(); // drives without CD-TEXT on the disc refuse the format
        r.insert(r.end(), packs.begin(), packs.end());
    } else {
        return invalidField();
    }
    if (format != 2)
        putBe16(&r[0], unsigned(r.size() - 2));
    return reply(r, data, length);
}

std::string Drive::mcn() const {
    return model_.mcn.empty() ? disc_.mcn : model_.mcn;
}

std::string Drive::isrc(int track) const {
    const auto it = model_.isrc.find(track);
    if (it != model_.isrc.end())
        return it->second;
    for (const Track& t : disc_.tracks)
        if (t.number == track)
            return t.isrc;
    return {};
}

Outcome Drive::readSubchannel(const uint8_t* cdb, uint8_t* data, unsigned length) {
    const bool subQ = cdb[2] & 0x40, useMsf = cdb[1] & 0x02;
    const uint8_t format = cdb[3];
    length = std::min(length, unsigned(cdb[7] << 8 | cdb[8]));
    std::vector<uint8_t> r(4, 0);
    r[1] = 0x15; // no audio status
    if (!subQ)
        return reply(r, data, length);
    r.resize(24, 0);
    putBe16(&r[2], 20);
    r[4] = format;
    if (format == 1) {
        r[5] = 0x10;
        r[6] = uint8_t(disc_.tracks.front().number);
        r[7] = 1;
        putAddress(&r[8], 0, useMsf);
        putAddress(&r[12], 0, useMsf);
        r.resize(16);
        putBe16(&r[2], 12);
    } else if (format == 2) {
        const std::string code = mcn();
        if (!code.empty()) {
            r[8] = 0x80; // MCVAL
            std::memcpy(&r[9], code.data(), std::min<size_t>(code.size(), 13));
        }
    } else if (format == 3) {
        const int track = cdb[6];
        bool known = false;
        for (const Track& t : disc_.tracks)
            known = known || t.number == track;
        if (!known)
            return invalidField();
        r[5] = 0x10;
        r[6] = uint8_t(track);
        const std::string code = isrc(track);
        if (!code.empty()) {
            r[8] = 0x80; // TCVAL
            std::memcpy(&r[9], code.data(), std::min<size_t>(code.size(), 12));
        }
    } else {
        return invalidField();
    }
    return reply(r, data, length);
}

void Drive::audioSector(int lsn, int shiftBytes, uint8_t* out) const {
    const long long audioBytes = static_cast<long long>(disc_.audioEnd) * kSectorBytes;
    const long long from = static_cast<long long>(lsn) * kSectorBytes -
                           static_cast<long long>(model_.offset) * 4 + shiftBytes;
    // Before the disc's first sample and past its audio a read gets silence.
    std::memset(out, 0, kSectorBytes);
    const long long lo = std::max(from, 0LL), hi = std::min(from + kSectorBytes, audioBytes);
    if (lo < hi)
        std::memcpy(out + (lo - from), disc_.bin.data() + lo, size_t(hi - lo));
    // Disc sectors that hold wrong bytes: every read of them gets the same wrong
    // bytes, from wherever it starts (at the drive's offset, shifted or not).
    for (const Fault& f : model_.faults) {
        if (f.kind != "wrong")
            continue;
        const int first = std::min(1000, kSectorBytes - f.count); // of each sector
        for (int i = 0; i < kSectorBytes; ++i) {
            const long long at = from + i;
            if (at < 0 || at >= audioBytes || !inRange(f, int(at / kSectorBytes)))
                continue;
            const int b = int(at % kSectorBytes) - first;
            if (b >= 0 && b < f.count) {
                const uint8_t x = uint8_t(0x5A + b);
                out[i] = uint8_t(out[i] ^ (x != 0 ? x : 0xA5));
            }
        }
    }
}

int Drive::readShift(int start) {
    // A stretch where the drive finds its place by addresses that are off (a damaged
    // subcode, a mastering fault): every read that seeks to a place there lands off the
    // same way; one that goes on into it from before, or on from the last, stays right. And one
    // whose re-reads land elsewhere than its first read (slowed down, it reads at another offset).
    for (const Fault& f : model_.faults) {
        if (f.kind == "land" && inRange(f, start) && start != nextSector_)
            return landed_ = f.count;
        if (f.kind == "later" && inRange(f, start) && size_t(start) < readBefore_.size() &&
            readBefore_[size_t(start)])
            return f.count;
    }
    // A read that goes on from where the last one ended goes on as that one landed.
    if (start == nextSector_ && landed_ != 0)
        return landed_;
    landed_ = 0;
    for (const Fault& f : model_.faults)
        if (f.kind == "jitter" && inRange(f, start) && int(random() % 100) < f.percent) {
            const int steps = std::max(1, f.count / 4);
            const int k = 1 + int(random() % unsigned(steps));
            return (random() & 1 ? 4 : -4) * k;
        }
    return 0;
}

bool Drive::mediaSector(int lsn, int shiftBytes, uint8_t* out, uint8_t* c2, bool* damaged) {
    *damaged = false;
    std::memset(c2, 0, kC2Bytes);
    for (size_t i = 0; i < model_.faults.size(); ++i) {
        const Fault& f = model_.faults[i];
        if ((f.kind == "bad" || f.kind == "echo") && inRange(f, lsn))
            return false;
        if (f.kind == "burst" && inRange(f, lsn) && burstLeft_[int(i)] > 0)
            return false;
    }
    audioSector(lsn, shiftBytes, out);
    for (const Fault& f : model_.faults) {
        const bool scratch = f.kind == "c2bad" || f.kind == "c2quiet";
        if ((!scratch && f.kind != "c2false") || !inRange(f, lsn))
            continue;
        // A scratch: a run of samples that read differently every time, flagged in C2
        // (c2bad) or not (c2quiet: a drive whose error pointers miss what its correction
        // got wrong). c2false: the bytes are right and the pointers flag a run anyway.
        const int first = int(random() % 2000) & ~3, run = 64 + int(random() % 256);
        for (int b = first; b < std::min(kSectorBytes, first + run); ++b) {
            if (scratch)
                out[b] = uint8_t(out[b] ^ (1 + random() % 255));
            if (f.kind != "c2quiet")
                c2[b / 8] = uint8_t(c2[b / 8] | (0x80 >> (b % 8)));
        }
        *damaged = *damaged || scratch;
    }
    return true;
}

void Drive::cacheStore(int lsn, const uint8_t* bytes, const uint8_t* c2, bool ahead) {
    if (model_.cache <= 0)
        return;
    if (cache_.find(lsn) == cache_.end())
        cacheOrder_.push_back(lsn);
    cache_[lsn] = Cached{std::vector<uint8_t>(bytes, bytes + kSectorBytes),
                         std::vector<uint8_t>(c2, c2 + kC2Bytes), ahead};
    while (int(cacheOrder_.size()) > model_.cache) {
        cache_.erase(cacheOrder_.front());
        cacheOrder_.pop_front();
    }
}

// A read of `count` sectors from `lba`, `fromMedia` of them from the disc, the first of
// those at `firstMedia`: the head seeks when that is not where it stands (the sectors
// the cache answers before it take no seek). A sector read ahead takes the disc's time
// when the host takes it: the drive reads ahead between commands, and a host that reads
// on asks for it before the drive is much further (what it never asks for costs nothing:
// the next command stops the reading ahead).
void Drive::clock(int lba, int count, int fromMedia, int firstMedia, int aheadHits) {
    stats_.clockSeconds += (count - fromMedia - aheadHits) * 0.0002; // over the bus
    stats_.clockSeconds += aheadHits / (75.0 * model_.speed);
    // A drive that spins takes real time too, for each sector it reads from the disc
    // (read ahead ones as the host takes them; sectors from its cache only cross the
    // bus), which what runs meanwhile (a look-up) and the host's own clock can be
    // measured against.
    if (model_.paceMicros > 0 && fromMedia + aheadHits > 0) {
        const long micros = long(model_.paceMicros) * (fromMedia + aheadHits);
        stats_.pacedMicros += micros;
        std::this_thread::sleep_for(std::chrono::microseconds(micros));
    }
    if (fromMedia == 0)
        return;
    if (firstMedia != nextSector_) {
        ++stats_.seeks;
        const double span = std::max(1, disc_.leadout);
        stats_.clockSeconds += 0.08 + 0.12 * std::abs(firstMedia - nextSector_) / span;
    }
    stats_.clockSeconds += fromMedia / (75.0 * model_.speed);
    nextSector_ = lba + count;
}

void Drive::changeDisc() {
    std::string error;
    const std::string cue = model_.changeTo.empty() ? model_.cue : model_.changeTo;
    Disc next;
    if (loadDisc(cue, model_.twoSessions, &next, &error))
        disc_ = std::move(next);
    cache_.clear();
    cacheOrder_.clear();
    readBefore_.clear();
    mediaChanged_ = unitAttention_ = true;
    ++changedAtMs_;
    log("change " + cue);
}

// Read-ahead: the drive goes on reading the sectors after a read into its cache, landed
// as that read ended, up to a sector it cannot read or holds already, or the audio's end.
// It takes no time of the host's (the drive reads while the host takes the data) and
// leaves the head past them.
int Drive::readOn(int from, int shiftBytes) {
    int n = 0;
    std::vector<uint8_t> bytes(kSectorBytes), c2(kC2Bytes);
    for (int s = from; n < model_.readAhead && s < disc_.audioEnd && cache_.count(s) == 0; ++s) {
        bool damaged = false;
        if (!mediaSector(s, shiftBytes, bytes.data(), c2.data(), &damaged))
            break;
        if (readBefore_.size() < size_t(disc_.leadout))
            readBefore_.resize(size_t(disc_.leadout));
        readBefore_[size_t(s)] = true;
        cacheStore(s, bytes.data(), c2.data(), true);
        ++n;
    }
    stats_.sectorsReadAhead += n;
    if (n > 0)
        nextSector_ = from + n;
    return n;
}

// A burst clears a little with every read that reached it.
void Drive::afterRead(int first, int last) {
    for (auto& [index, left] : burstLeft_) {
        const Fault& f = model_.faults[size_t(index)];
        if (left > 0 && first <= f.last && last >= f.first)
            --left;
    }
}

Outcome Drive::readCd(const uint8_t* cdb, uint8_t* data, unsigned length) {
    ++readCommands_;
    const int type = (cdb[1] >> 2) & 7;
    const int lba = int32_t(be32(&cdb[2]));
    const int count = cdb[6] << 16 | cdb[7] << 8 | cdb[8];
    auto reaches = [&](int sector) { return sector >= lba && sector < lba + count; };
    if ((model_.goneAfterReads >= 0 && readCommands_ > model_.goneAfterReads) ||
        (model_.goneAt >= 0 && reaches(model_.goneAt))) {
        gone_ = true;
        log("gone");
        return kernelError(ENODEV);
    }
    if ((model_.changeAfterReads >= 0 && readCommands_ == model_.changeAfterReads + 1) ||
        (model_.changeAt >= 0 && reaches(model_.changeAt))) {
        model_.changeAt = model_.changeAfterReads = -1; // once
        changeDisc();
        unitAttention_ = false;
        return check(kUnitAttention, 0x28, 0x00);
    }
    if (!ready())
        return notReady();
    const int c2Field = (cdb[9] >> 1) & 3;
    if (count == 0)
        return Outcome{};
    if (count > model_.maxSectors)
        return kernelError(EINVAL); // beyond what the host adapter transfers
    if (!(cdb[9] & 0x10) || (cdb[10] & 7) != 0 || c2Field == 3 || (c2Field && !model_.c2) ||
        (type != 0 && type != 1))
        return invalidField();
    const int block = kSectorBytes + (c2Field == 1 ? kC2Bytes : c2Field == 2 ? kC2Bytes + 2 : 0);
    if (length < unsigned(count * block))
        return kernelError(EINVAL);
    // A host adapter's limit is in bytes: with C2 pointers fewer sectors fit a transfer.
    if (model_.maxBytes > 0 && count * block > model_.maxBytes)
        return kernelError(EINVAL);
    ++stats_.reads;
    for (int s = lba; s < lba + count; ++s) {
        if (s < 0 || s >= disc_.leadout || disc_.binSector(s) < 0) {
            ++stats_.failedReads;
            return check(kIllegalRequest, 0x21, 0x00, s); // LBA OUT OF RANGE
        }
        if (type == 1 && s >= disc_.audioEnd) { // beyond the audio: a data track
            ++stats_.failedReads;
            return check(kIllegalRequest, 0x64, 0x00, s); // ILLEGAL MODE FOR THIS TRACK
        }
    }
    // The head moves only for what the cache does not answer: where the read's first such
    // sector is where the last read from the disc ended, the drive goes on from there; a read
    // the cache answers whole moves nothing and lands nowhere.
    int mediaFrom = lba;
    while (mediaFrom < lba + count && cache_.count(mediaFrom) != 0)
        ++mediaFrom;
    const int shift = mediaFrom < lba + count ? readShift(mediaFrom) : 0;
    stats_.shiftedReads += shift != 0 ? 1 : 0;
    // A read that slips part-way: right up to a sector within it, shifted after; and a
    // transfer that ends early while the command reports success (the host's buffer
    // keeps what it held past the end).
    int slipAt = count, slipShift = 0, delivered = count, partBytes = 0;
    for (const Fault& f : model_.faults) {
        if (count < 2 || !inRange(f, lba) || int(random() % 100) >= f.percent)
            continue;
        if (f.kind == "slip" && slipAt == count) {
            slipAt = 1 + int(random() % unsigned(count - 1));
            const int steps = std::max(1, f.count / 4);
            slipShift = (random() & 1 ? 4 : -4) * (1 + int(random() % unsigned(steps)));
        } else if ((f.kind == "short" || f.kind == "shortpart") && delivered == count) {
            delivered = 1 + int(random() % unsigned(count - 1));
            // The transfer ends inside the next sector: the first bytes of it (whole
            // samples, never all of its audio) are written too.
            if (f.kind == "shortpart")
                partBytes = 4 * (1 + int(random() % unsigned(kSectorBytes / 4 - 1)));
        }
    }
    std::string hitText; // the sectors answered from the cache, as ranges
    int hitFirst = -1, hitLast = -2;
    auto endHits = [&] {
        if (hitFirst >= 0)
            hitText += " " + std::to_string(hitFirst) + "-" + std::to_string(hitLast);
        hitFirst = -1;
    };
    int fromMedia = 0, hits = 0, aheadHits = 0, firstMedia = -1;
    bool lastFromMedia = false; // the read's last sector came from the disc
    bool stalePending = false;
    for (const Fault& f : model_.faults)
        stalePending = stalePending || (f.kind == "stale" && inRange(f, lba));
    std::vector<uint8_t> bytes(kSectorBytes), c2(kC2Bytes);
    for (int i = 0; i < delivered; ++i) {
        const int s = lba + i;
        uint8_t* out = data + size_t(i) * size_t(block);
        const auto hit = cache_.find(s);
        lastFromMedia = hit == cache_.end();
        if (hit != cache_.end()) {
            bytes = hit->second.bytes;
            c2 = hit->second.c2;
            ++hits;
            aheadHits += std::exchange(hit->second.ahead, false) ? 1 : 0;
            if (s != hitLast + 1)
                endHits();
            if (hitFirst < 0)
                hitFirst = s;
            hitLast = s;
        } else {
            bool damaged = false;
            if (s >= disc_.audioEnd) { // a data sector, read raw
                std::memcpy(bytes.data(), &disc_.bin[size_t(disc_.binSector(s)) * kSectorBytes],
                            kSectorBytes);
                std::fill(c2.begin(), c2.end(), 0);
            } else if (!mediaSector(s, i < slipAt ? shift : shift + slipShift, bytes.data(),
                                    c2.data(), &damaged)) {
                // A drive whose cache keeps, for a sector it failed to read, what its buffer
                // held: the last sector it delivered, which a re-read answered from the
                // cache then gets as if it had read.
                for (const Fault& f : model_.faults)
                    if (f.kind == "echo" && inRange(f, s) && !lastDelivered_.empty())
                        cacheStore(s, lastDelivered_.data(), std::vector<uint8_t>(kC2Bytes).data());
                ++stats_.failedReads;
                stats_.sectorsRead += i;
                stats_.sectorsFromCache += hits;
                stats_.sectorsFromMedia += fromMedia;
                clock(lba, i, fromMedia, firstMedia, aheadHits);
                afterRead(lba, s);
                log("read " + std::to_string(lba) + " " + std::to_string(count) + " failed at " +
                    std::to_string(s));
                return check(kMediumError, 0x11, 0x00, s); // UNRECOVERED READ ERROR
            }
            if (stalePending && i == 0 && !lastDelivered_.empty()) {
                bytes = lastDelivered_; // the buffer was not refilled
                stalePending = false;
            }
            if (fromMedia++ == 0)
                firstMedia = s;
            if (readBefore_.size() < size_t(disc_.leadout))
                readBefore_.resize(size_t(disc_.leadout));
            readBefore_[size_t(s)] = true;
            cacheStore(s, bytes.data(), c2.data());
        }
        std::memcpy(out, bytes.data(), kSectorBytes);
        if (c2Field) {
            std::memcpy(out + kSectorBytes, c2.data(), kC2Bytes);
            if (c2Field == 2) {
                const bool any =
                    std::any_of(c2.begin(), c2.end(), [](uint8_t b) { return b != 0; });
                out[kSectorBytes + kC2Bytes] = any ? 0x01 : 0; // block error byte, then a pad
                out[kSectorBytes + kC2Bytes + 1] = 0;
            }
        }
        lastDelivered_ = bytes;
    }
    endHits();
    if (partBytes > 0 && delivered < count) {
        bool damaged = false;
        if (lba + delivered < disc_.audioEnd &&
            mediaSector(lba + delivered, shift, bytes.data(), c2.data(), &damaged))
            std::memcpy(data + size_t(delivered) * size_t(block), bytes.data(), size_t(partBytes));
    }
    stats_.sectorsRead += delivered;
    stats_.sectorsFromCache += hits;
    stats_.sectorsFromMedia += fromMedia;
    stats_.shortTransfers += delivered < count ? 1 : 0;
    stats_.slips += slipAt < delivered ? 1 : 0;
    clock(lba, delivered, fromMedia, firstMedia, aheadHits);
    afterRead(lba, lba + delivered - 1);
    const int ahead = model_.readAhead > 0 && delivered == count && lastFromMedia
                          ? readOn(lba + count, slipAt < count ? shift + slipShift : shift)
                          : 0;
    log("read " + std::to_string(lba) + " " + std::to_string(count) + " cache " +
        std::to_string(hits) + " shift " + std::to_string(shift) +
        (slipAt < delivered ? " slip " + std::to_string(lba + slipAt) : "") +
        (delivered < count ? " short " + std::to_string(delivered) : "") +
        (ahead > 0 ? " ahead " + std::to_string(ahead) : "") +
        (hitText.empty() ? "" : " hits" + hitText));
    return Outcome{};
}

Outcome Drive::readTen(const uint8_t* cdb, uint8_t* data, unsigned length, bool twelve) {
    if (!ready())
        return notReady();
    if ((cdb[1] & 0x08) && model_.fuaFlushes) { // FUA: the drive goes to the medium
        cache_.clear();
        cacheOrder_.clear();
        ++stats_.cacheFlushes;
        log("flush");
    }
    const int lba = int32_t(be32(&cdb[2]));
    const int count = twelve ? int(be32(&cdb[6])) : (cdb[7] << 8 | cdb[8]);
    if (length < unsigned(count) * 2048u)
        return kernelError(EINVAL);
    for (int i = 0; i < count; ++i) {
        const int s = lba + i, at = disc_.binSector(s);
        if (at < 0)
            return check(kIllegalRequest, 0x21, 0x00, s);
        if (s < disc_.audioEnd)
            return check(kIllegalRequest, 0x64, 0x00, s); // audio has no 2048-byte blocks
        std::memcpy(data + size_t(i) * 2048, &disc_.bin[size_t(at) * kSectorBytes + 16], 2048);
    }
    return Outcome{};
}

long Drive::readBlocks(long long position, uint8_t* out, unsigned long length, int* err) {
    if (gone_) {
        *err = ENODEV;
        return -1;
    }
    if (!ready()) {
        *err = ENOMEDIUM;
        return -1;
    }
    unsigned long done = 0;
    while (done < length) {
        const long long at = position + static_cast<long long>(done);
        const int lsn = int(at / 2048), within = int(at % 2048);
        const int binSector = disc_.binSector(lsn);
        if (binSector < 0)
            break; // the end of the device
        if (lsn < disc_.audioEnd) {
            if (done == 0) {
                *err = EIO;
                return -1;
            }
            break;
        }
        const unsigned long n = std::min<unsigned long>(length - done, 2048u - unsigned(within));
        std::memcpy(out + done, &disc_.bin[size_t(binSector) * kSectorBytes + 16 + size_t(within)],
                    n);
        done += n;
    }
    return long(done);
}

long Drive::ioctl(unsigned long request, void* arg, int* err) {
    *err = 0;
    if (gone_) {
        *err = ENODEV;
        return -1;
    }
    auto fail = [&](int e) {
        *err = e;
        return -1L;
    };
    switch (request) {
    case CDROM_GET_CAPABILITY:
        return CDC_CLOSE_TRAY | CDC_OPEN_TRAY | CDC_LOCK | CDC_SELECT_SPEED | CDC_MULTI_SESSION |
               CDC_MCN | CDC_MEDIA_CHANGED | CDC_PLAY_AUDIO | CDC_DRIVE_STATUS | CDC_GENERIC_PACKET;
    case CDROM_DRIVE_STATUS:
        return tray_ == Tray::Open ? CDS_TRAY_OPEN : disc_.present ? CDS_DISC_OK : CDS_NO_DISC;
    case CDROM_DISC_STATUS:
        if (!ready())
            return tray_ == Tray::Open ? CDS_TRAY_OPEN : CDS_NO_DISC;
        return disc_.dataStart > 0 ? CDS_MIXED : CDS_AUDIO;
    case CDROM_MEDIA_CHANGED: {
        const bool changed = mediaChanged_;
        mediaChanged_ = false;
        return changed ? 1 : 0;
    }
#ifdef CDROM_TIMED_MEDIA_CHANGE
    case CDROM_TIMED_MEDIA_CHANGE: {
        auto* info = static_cast<cdrom_timed_media_change_info*>(arg);
        info->media_flags = info->last_media_change < changedAtMs_ ? MEDIA_CHANGED_FLAG : 0;
        info->last_media_change = changedAtMs_;
        return 0;
    }
#endif
    case CDROMEJECT:
        control("tray", "open", nullptr);
        return 0;
    case CDROMCLOSETRAY:
        control("tray", "closed", nullptr);
        return 0;
    case CDROM_LOCKDOOR:
    case CDROM_SELECT_SPEED:
    case CDROMEJECT_SW:
    case CDROMSTOP:
    case CDROMSTART:
        return 0;
    case SCSI_IOCTL_GET_IDLUN: {
        int* idlun = static_cast<int*>(arg);
        idlun[0] = model_.minor; // target, lun, channel and host 0 but the target
        idlun[1] = 0;
        return 0;
    }
    case SCSI_IOCTL_GET_BUS_NUMBER:
        *static_cast<int*>(arg) = 0;
        return 0;
    default:
        break;
    }
    if (request == CDROMREADTOCHDR || request == CDROMREADTOCENTRY ||
        request == CDROMMULTISESSION || request == CDROM_GET_MCN || request == CDROMSUBCHNL) {
        if (!ready())
            return fail(ENOMEDIUM);
        if (unitAttention_)
            unitAttention_ = false; // the kernel takes the change in and reads afresh
    }
    switch (request) {
    case CDROMREADTOCHDR: {
        auto* h = static_cast<cdrom_tochdr*>(arg);
        h->cdth_trk0 = uint8_t(disc_.tracks.front().number);
        h->cdth_trk1 = uint8_t(disc_.tracks.back().number);
        return 0;
    }
    case CDROMREADTOCENTRY: {
        auto* e = static_cast<cdrom_tocentry*>(arg);
        int lsn = -1;
        bool data = false;
        if (e->cdte_track == CDROM_LEADOUT) {
            lsn = disc_.leadout;
            data = disc_.tracks.back().data;
        }
        for (const Track& t : disc_.tracks)
            if (t.number == e->cdte_track) {
                lsn = t.start;
                data = t.data;
            }
        if (lsn < 0)
            return fail(EINVAL);
        e->cdte_adr = 1;
        e->cdte_ctrl = data ? CDROM_DATA_TRACK : 0;
        e->cdte_datamode = data ? 1 : 0;
        if (e->cdte_format == CDROM_LBA)
            e->cdte_addr.lba = lsn;
        else if (e->cdte_format == CDROM_MSF)
            msf(lsn, &e->cdte_addr.msf.minute, &e->cdte_addr.msf.second, &e->cdte_addr.msf.frame);
        else
            return fail(EINVAL);
        return 0;
    }
    case CDROMMULTISESSION: {
        auto* m = static_cast<cdrom_multisession*>(arg);
        const int lsn = disc_.twoSessions ? disc_.dataStart : 0;
        m->xa_flag = disc_.twoSessions ? 1 : 0;
        if (m->addr_format == CDROM_LBA)
            m->addr.lba = lsn;
        else if (m->addr_format == CDROM_MSF)
            msf(lsn, &m->addr.msf.minute, &m->addr.msf.second, &m->addr.msf.frame);
        else
            return fail(EINVAL);
        return 0;
    }
    case CDROM_GET_MCN: {
        auto* m = static_cast<cdrom_mcn*>(arg);
        std::memset(m->medium_catalog_number, 0, sizeof m->medium_catalog_number);
        const std::string code = mcn();
        std::memcpy(m->medium_catalog_number, code.data(), std::min<size_t>(code.size(), 13));
        return 0;
    }
    case CDROMSUBCHNL: {
        auto* s = static_cast<cdrom_subchnl*>(arg);
        const uint8_t format = s->cdsc_format;
        std::memset(s, 0, sizeof *s);
        s->cdsc_format = format;
        s->cdsc_audiostatus = CDROM_AUDIO_NO_STATUS;
        s->cdsc_trk = uint8_t(disc_.tracks.front().number);
        s->cdsc_ind = 1;
        return 0;
    }
    default:
        return fail(request == DVD_READ_STRUCT ? EIO : ENOTTY);
    }
}

bool Drive::control(const std::string& key, const std::string& value, std::string* error) {
    std::string ignored;
    std::string* e = error ? error : &ignored;
    if (key == "tray") {
        if (value == "open") {
            if (tray_ != Tray::Open) {
                cache_.clear();
                cacheOrder_.clear();
                mediaChanged_ = true;
                ++changedAtMs_;
            }
            tray_ = Tray::Open;
        } else if (value == "closed") {
            if (tray_ == Tray::Open && disc_.present) {
                mediaChanged_ = unitAttention_ = true;
                ++changedAtMs_;
            }
            tray_ = Tray::Closed;
        } else if (value == "nodisc") {
            disc_ = Disc{};
            tray_ = Tray::Closed;
            mediaChanged_ = true;
            ++changedAtMs_;
        } else {
            *e = "tray is open, closed or nodisc";
            return false;
        }
        log("tray " + value);
        return true;
    }
    if (key == "gone") {
        gone_ = value != "0";
        return true;
    }
    if (key == "change") {
        if (!value.empty())
            model_.changeTo = value;
        changeDisc();
        return true;
    }
    if (key == "insert") {
        Disc next;
        if (!loadDisc(value, model_.twoSessions, &next, e))
            return false;
        disc_ = std::move(next);
        tray_ = Tray::Closed;
        mediaChanged_ = unitAttention_ = true;
        ++changedAtMs_;
        return true;
    }
    if (key == "reset_stats") {
        stats_ = Stats{};
        return true;
    }
    *e = "unknown control: " + key;
    return false;
}

std::string Drive::statsJson() const {
    flushLog();
    char line[512];
    std::snprintf(
        line, sizeof line,
        "{\"commands\":%ld,\"reads\":%ld,\"sectors_read\":%ld,\"sectors_from_cache\":%ld,"
        "\"sectors_from_media\":%ld,\"seeks\":%ld,\"failed_reads\":%ld,"
        "\"cache_flushes\":%ld,\"slips\":%ld,\"short_transfers\":%ld,\"sectors_read_ahead\":%ld,"
        "\"shifted_reads\":%ld,\"paced_us\":%ld,"
        "\"clock_seconds\":%.3f,\"speed\":%d}",
        stats_.commands, stats_.reads, stats_.sectorsRead, stats_.sectorsFromCache,
        stats_.sectorsFromMedia, stats_.seeks, stats_.failedReads, stats_.cacheFlushes,
        stats_.slips, stats_.shortTransfers, stats_.sectorsReadAhead, stats_.shiftedReads,
        stats_.pacedMicros, stats_.clockSeconds, model_.speed);
    return line;
}

void Drive::log(const std::string& line) const {
    if (model_.logFile.empty())
        return;
    // Kept in memory, not written at each command: a write inside a command can wait on
    // the file system (a busy host's disk, a build beside the tests), and the reader's
    // clock would see a cache hit as slow as a read of the disc.
    logPending_ += line;
    logPending_ += '\n';
    if (logPending_.size() >= kLogFlushBytes)
        flushLog();
}

void Drive::flushLog() const {
    if (logPending_.empty() || model_.logFile.empty())
        return;
    if (!logOut_)
        logOut_.reset(std::fopen(model_.logFile.c_str(), "a"));
    if (logOut_) {
        std::fwrite(logPending_.data(), 1, logPending_.size(), logOut_.get());
        std::fflush(logOut_.get());
    }
    logPending_.clear();
}

} // namespace emudrive
