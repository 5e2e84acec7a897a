// The emulated drive: the MMC commands and CD-ROM ioctls of a Linux CD drive, answered
// from a disc model. No system calls happen here; Interpose.cpp routes the device's
// file descriptors to it.
#pragma once

#include "DiscModel.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace emudrive {

// Fixed-format sense data of a failed command.
struct Sense {
    uint8_t key = 0, asc = 0, ascq = 0;
    int32_t info = -1; // the failing LBA, -1 when none
};

// What the kernel hands back for one packet: 0 and GOOD, or a SCSI CHECK CONDITION
// (-1, errno EIO, sense filled), or an error the kernel itself raises (-1 and errno).
struct Outcome {
    int errnoValue = 0; // 0: GOOD
    bool checkCondition = false;
    Sense sense;
};

class Drive {
public:
    // Takes the model, loads its disc and starts the drive's state afresh.
    bool configure(const Model& model, std::string* error);
    const Model& model() const { return model_; }

    // One MMC command (CDROM_SEND_PACKET): cdb of 12 bytes, data buffer of `length`.
    Outcome packet(const uint8_t* cdb, uint8_t* data, unsigned length);
    // A CD-ROM ioctl other than CDROM_SEND_PACKET: its return value, or -1 with *err.
    long ioctl(unsigned long request, void* arg, int* err);
    // 2048-byte data sectors at byte `position` of the block device (read(2)).
    long readBlocks(long long position, uint8_t* out, unsigned long length, int* err);

    bool gone() const { return gone_; }
    bool ready() const { return tray_ == Tray::Closed && disc_.present; }
    // Changes of state that a test makes (see README.md): tray, gone, change, insert.
    bool control(const std::string& key, const std::string& value, std::string* error);

    const Stats& stats() const { return stats_; }
    // The statistics as a JSON object; the log's lines so far are written out first.
    std::string statsJson() const;
    // One line of the log, kept until the statistics are read, the drive is set up
    // again, the program ends or a megabyte is kept.
    void log(const std::string& line) const;
    void flushLog() const;

private:
    struct FileCloser {
        void operator()(FILE* f) const { std::fclose(f); }
    };
    mutable std::unique_ptr<FILE, FileCloser> logOut_; // the log file, once a line went there
    mutable std::string logPending_;                   // lines not yet written there
    static constexpr size_t kLogFlushBytes = 1 << 20;

    enum class Tray { Closed, Open };

    Outcome readCd(const uint8_t* cdb, uint8_t* data, unsigned length);
    Outcome readTen(const uint8_t* cdb, uint8_t* data, unsigned length, bool twelve);
    Outcome readToc(const uint8_t* cdb, uint8_t* data, unsigned length);
    Outcome readSubchannel(const uint8_t* cdb, uint8_t* data, unsigned length);
    Outcome modeSense(const uint8_t* cdb, uint8_t* data, unsigned length, bool ten);
    Outcome inquiry(uint8_t* data, unsigned length);
    Outcome eventStatus(const uint8_t* cdb, uint8_t* data, unsigned length);
    Outcome startStop(const uint8_t* cdb);
    Outcome readCapacity(uint8_t* data, unsigned length);
    Outcome notReady() const;

    std::vector<uint8_t> fullToc() const;
    std::vector<uint8_t> cdText() const;
    std::string mcn() const;
    std::string isrc(int track) const;

    // The bytes of disc sector `lsn` as one read starting elsewhere delivers them.
    void audioSector(int lsn, int shiftBytes, uint8_t* out) const;
    // A sector read from the medium: false when it cannot be read (faults).
    bool mediaSector(int lsn, int shiftBytes, uint8_t* out, uint8_t* c2, bool* damaged);
    int readShift(int start);
    unsigned random();
    void afterRead(int first, int last);
    void changeDisc();
    void cacheStore(int lsn, const uint8_t* bytes, const uint8_t* c2, bool ahead = false);
    void clock(int lba, int count, int fromMedia, int firstMedia, int aheadHits);
    // After a read that ended on the media: the drive reads on into its cache.
    int readOn(int from, int shiftBytes);

    Model model_;
    Disc disc_;
    Tray tray_ = Tray::Closed;
    bool gone_ = false;
    bool mediaChanged_ = false;  // CDROM_MEDIA_CHANGED not yet told
    bool unitAttention_ = false; // the next command reports the change
    long long changedAtMs_ = 1;  // virtual time of the last change, for TIMED_MEDIA_CHANGE
    long readCommands_ = 0;
    unsigned rng_ = 1;
    int nextSector_ = -1; // where the head is after the last media read
    int landed_ = 0;      // the shift a `land` seek gave the reading that goes on from there
    std::vector<uint8_t> lastDelivered_; // the drive's buffer: the last sector delivered
    std::map<int, long> burstLeft_;      // fault index -> failing reads left
    std::vector<bool> readBefore_;       // sectors the media delivered at least once
    struct Cached {
        std::vector<uint8_t> bytes, c2;
        bool ahead = false; // read ahead, not yet delivered: the disc's time is still owed
    };
    std::map<int, Cached> cache_;
    std::deque<int> cacheOrder_;
    Stats stats_;
};

} // namespace emudrive
