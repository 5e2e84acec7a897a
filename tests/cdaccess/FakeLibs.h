#pragma once

// Fakes of the two libraries behind the call tables: a scripted CD ripping library
// (drives, table of contents, chunks) and an encoder library that records the PCM it
// is handed. Each installs itself for as long as it lives.

#include "cdaccess/CdRip_dll.h"
#include "encoding/Lame_dll.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// The PCM byte the fake library delivers at a byte offset of the range: a pattern
// that never repeats within 251 bytes, so a lost, doubled or shifted byte shows.
inline uint8_t PcmByte(uint64_t offset) {
    return static_cast<uint8_t>(offset % 251);
}

struct FakeDrive {
    std::string Id = "FAKE DRIVE";
    int32_t Speed = 24;
    std::array<uint8_t, 13> DriveTable{}; // bytes 292 to 304 of the block
    uint8_t OutputFormat = 0;
    int32_t Jitter = -1; // the jitter flag the library reports
    bool HasDisc = true;
    std::string StatusText;     // what CR_GetDriveStatusText answers
    std::vector<TTocEntry> Toc; // the tracks, then the lead-out
    // CD-TEXT: entry 0 the disc, entry N track N; each {title, performer} in UTF-8.
    std::vector<std::array<std::string, 2>> CdText;
    std::string Mcn;               // what CR_GetMcn answers
    std::vector<std::string> Isrc; // entry N-1: what CR_GetTrackIsrc(N) answers
    // Entry N-1: what CR_GetTrackIndexes(N) and CR_GetTrackFlags(N) answer (none: no
    // index points reported, no flags).
    std::vector<std::vector<int32_t>> Indexes;
    std::vector<int32_t> Flags;
};

struct FakeChunk {
    int32_t Status = 0;
    int32_t Bytes = 0;
};

class FakeCdRip {
public:
    FakeCdRip();
    ~FakeCdRip();
    FakeCdRip(const FakeCdRip&) = delete;
    FakeCdRip& operator=(const FakeCdRip&) = delete;

    static FakeCdRip* Current;
    static const TCdRipDll Table;

    // Configuration
    int32_t Version = 120;
    int32_t InitStatus = 0;
    std::vector<FakeDrive> Drives;
    int32_t Active = 0;
    bool GetParamsFails = false;
    int32_t SetParamsStatus = 0;
    std::string ThrowIn; // name of a call that raises instead of returning
    int32_t OpenStatus = 0;
    int32_t BufferSize = 4 * 2352;
    std::vector<FakeChunk> Chunks; // one per CR_RipChunk call
    uint32_t JitterA = 0;
    uint32_t JitterB = 0;
    int32_t JitterCount = 0;
    int32_t PlayPosition = 0;
    int32_t ReadCdTextStatus = 0;
    std::function<void(std::size_t chunk)> OnChunk; // after chunk i was delivered

    // Record
    std::vector<std::string> Calls;
    std::vector<uint8_t> BlockSet; // the block of the last CR_SetCDROMParameters
    uint64_t Delivered = 0;        // PCM bytes delivered in the open range
    std::size_t ChunkIndex = 0;
    int32_t LastPlayArg = 0;
    int32_t LastPauseArg = 0;
    int32_t LastEjectArg = 0;

    int Count(const std::string& call) const;
    // Adds a drive whose disc has tracks starting at `starts`, the last value being
    // the lead-out; flags default to audio (0x10).
    FakeDrive& AddDrive(const std::vector<int32_t>& starts, const std::vector<uint8_t>& flags = {});
    void Log(const std::string& call);
};

// Chunks that add up to `total` bytes in blocks of `block`, the last one status 4;
// the current fake's block size grows to `block` when it is smaller.
inline std::vector<FakeChunk> Script(int32_t total, int32_t block) {
    FakeCdRip::Current->BufferSize = std::max(FakeCdRip::Current->BufferSize, block);
    std::vector<FakeChunk> chunks;
    for (int32_t done = 0; done < total; done += block) {
        chunks.push_back({0, std::min(block, total - done)});
    }
    chunks.back().Status = CRFinished;
    return chunks;
}

// The first `count` bytes the fake library delivers for a range.
inline std::vector<uint8_t> Pattern(std::size_t count) {
    std::vector<uint8_t> v(count);
    for (std::size_t i = 0; i < count; ++i) {
        v[i] = PcmByte(i);
    }
    return v;
}

class FakeLame {
public:
    FakeLame();
    ~FakeLame();
    FakeLame(const FakeLame&) = delete;
    FakeLame& operator=(const FakeLame&) = delete;

    static FakeLame* Current;
    static const TLameDll Table;

    // Configuration
    uint32_t InitStatus = BE_OK;
    uint32_t Samples = 1152 * 2; // 16-bit samples per chunk, all channels counted
    uint32_t BufferSize = 8192;
    uint32_t BytesPerChunk = 10; // MP3 bytes returned per chunk ('M')
    std::string Flush = "FLUSH";
    std::string InfoTag = "INFO";
    // Faults: the beEncodeChunk call of this index (0 is the first) returns ChunkStatus
    // and writes nothing; the other calls return their status.
    int FailChunkAt = -1;
    uint32_t ChunkStatus = BE_ERR_ENCODER;
    uint32_t DeinitStatus = BE_OK;
    uint32_t InfoTagStatus = BE_OK;
    uint32_t CloseStatus = BE_OK;

    // Record
    std::vector<std::string> Calls;
    std::vector<uint8_t> Pcm;         // every byte handed to beEncodeChunk, in order
    std::vector<uint32_t> ChunkSizes; // sample counts of the calls
    BE_CONFIG_RECORD Config{};        // record of the last beInitStream

    int Count(const std::string& call) const;

private:
    TLameDllOverride Override;
};
