#include "FakeLibs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

FakeCdRip& Cd(const char* call) {
    FakeCdRip& f = *FakeCdRip::Current;
    f.Log(call);
    return f;
}

FakeDrive* ActiveDrive(FakeCdRip& f) {
    if (f.Active < 0 || f.Active >= static_cast<int32_t>(f.Drives.size())) {
        return nullptr;
    }
    return &f.Drives[static_cast<std::size_t>(f.Active)];
}

int32_t GetParams(uint8_t* block) {
    FakeCdRip& f = Cd("CR_GetCDROMParameters");
    FakeDrive* d = ActiveDrive(f);
    if (f.GetParamsFails || d == nullptr) {
        return 1;
    }
    std::memset(block, 0, CDROMParamsIDSize);
    std::memcpy(block, d->Id.data(), std::min(d->Id.size(), CDROMParamsIDSize - 1));
    std::memcpy(block + CDROMParamsSpeed, &d->Speed, 4);
    std::memcpy(block + CDROMParamsDriveTable, d->DriveTable.data(), d->DriveTable.size());
    block[CDROMParamsOutputFormat] = d->OutputFormat;
    std::memcpy(block + CDROMParamsJitter, &d->Jitter, 4);
    return 0;
}

int32_t SetParams(uint8_t* block) {
    FakeCdRip& f = Cd("CR_SetCDROMParameters");
    f.BlockSet.assign(block, block + CDROMParamsSize);
    return f.SetParamsStatus;
}

int32_t ReadToc() {
    FakeCdRip& f = Cd("CR_ReadToc");
    FakeDrive* d = ActiveDrive(f);
    return d != nullptr && d->HasDisc ? 0 : 1;
}

int32_t NumTocEntries() {
    FakeCdRip& f = Cd("CR_GetNumTocEntries");
    FakeDrive* d = ActiveDrive(f);
    return d == nullptr || d->Toc.empty() ? 0 : static_cast<int32_t>(d->Toc.size()) - 1;
}

TTocEntry TocEntry(int32_t index) {
    FakeCdRip& f = Cd("CR_GetTocEntry");
    FakeDrive* d = ActiveDrive(f);
    if (d == nullptr || index < 0 || index >= static_cast<int32_t>(d->Toc.size())) {
        return {};
    }
    return d->Toc[static_cast<std::size_t>(index)];
}

int32_t OpenRipper(int32_t* size, int32_t, int32_t) {
    FakeCdRip& f = Cd("CR_OpenRipper");
    *size = f.BufferSize;
    f.Delivered = 0;
    f.ChunkIndex = 0;
    return f.OpenStatus;
}

uint64_t TotalBytes(const FakeCdRip& f) {
    uint64_t total = 0;
    for (const FakeChunk& c : f.Chunks) {
        total += c.Status == 1 ? 0 : static_cast<uint64_t>(c.Bytes);
    }
    return total;
}

int32_t RipChunk(uint8_t* buffer, int32_t* count, int32_t) {
    FakeCdRip& f = Cd("CR_RipChunk");
    if (f.ChunkIndex >= f.Chunks.size()) {
        *count = 0;
        return 1;
    }
    const FakeChunk c = f.Chunks[f.ChunkIndex];
    if (c.Bytes > f.BufferSize) {
        ADD_FAILURE() << "scripted chunk of " << c.Bytes << " bytes exceeds the buffer size "
                      << f.BufferSize;
        *count = 0;
        return 1;
    }
    *count = c.Status == 1 ? 0 : c.Bytes;
    for (int32_t i = 0; i < *count; ++i) {
        buffer[i] = PcmByte(f.Delivered + static_cast<uint64_t>(i));
    }
    f.Delivered += static_cast<uint64_t>(*count);
    if (f.OnChunk) {
        f.OnChunk(f.ChunkIndex);
    }
    ++f.ChunkIndex;
    return c.Status;
}

int32_t Percent() {
    FakeCdRip& f = Cd("CR_GetPercentCompleted");
    const uint64_t total = TotalBytes(f);
    return total == 0 ? 100 : static_cast<int32_t>(f.Delivered * 100 / total);
}

} // namespace

FakeCdRip* FakeCdRip::Current = nullptr;

void FakeCdRip::Log(const std::string& call) {
    Calls.push_back(call);
    if (call == ThrowIn) {
        throw std::runtime_error(call + " raised");
    }
}

int FakeCdRip::Count(const std::string& call) const {
    return static_cast<int>(std::count(Calls.begin(), Calls.end(), call));
}

FakeDrive& FakeCdRip::AddDrive(const std::vector<int32_t>& starts,
                               const std::vector<uint8_t>& flags) {
    FakeDrive d;
    d.Id = "FAKE DRIVE " + std::to_string(Drives.size());
    for (std::size_t i = 0; i < starts.size(); ++i) {
        TTocEntry e;
        e.StartSector = starts[i];
        e.Flag = i < flags.size() ? flags[i] : 0x10;
        e.TrackNumber = static_cast<uint8_t>(i + 1 < starts.size() ? i + 1 : 0xAA);
        d.Toc.push_back(e);
    }
    d.HasDisc = !starts.empty();
    Drives.push_back(d);
    return Drives.back();
}

const TCdRipDll FakeCdRip::Table = {
    [] { return Cd("CR_GetCDRipVersion").Version; },
    [] { return Cd("CR_Init").InitStatus; },
    [] { return static_cast<int32_t>(Cd("CR_GetNumCDROM").Drives.size()); },
    [] { return Cd("CR_GetActiveCDROM").Active; },
    [](int32_t drive) {
        FakeCdRip& f = Cd("CR_SetActiveCDROM");
        if (drive < 0 || drive >= static_cast<int32_t>(f.Drives.size())) {
            return 1;
        }
        f.Active = drive;
        return 0;
    },
    GetParams,
    SetParams,
    ReadToc,
    NumTocEntries,
    TocEntry,
    OpenRipper,
    RipChunk,
    [](uint32_t* a, uint32_t* b) {
        FakeCdRip& f = Cd("CR_GetLastJitterErrorPosition");
        *a = f.JitterA;
        *b = f.JitterB;
        return 0;
    },
    Percent,
    [] { return Cd("CR_GetNumberOfJitterErrors").JitterCount; },
    [] {
        Cd("CR_CloseRipper");
        return 0;
    },
    [](int32_t track) {
        Cd("CR_PlayTrack").LastPlayArg = track;
        return 0;
    },
    [](int32_t pause) {
        Cd("CR_PauseCD").LastPauseArg = pause;
        return 0;
    },
    [] {
        Cd("CR_StopPlayTrack");
        return 0;
    },
    [](int32_t eject) {
        Cd("CR_EjectCD").LastEjectArg = eject;
        return 0;
    },
    [](int32_t* relative, int32_t* absolute) {
        FakeCdRip& f = Cd("CR_GetPlayPosition");
        *relative = 0;
        *absolute = f.PlayPosition;
        return 0;
    },
    [] { return Cd("CR_ReadCdText").ReadCdTextStatus; },
    [](int32_t track, int32_t field, char* buffer, int32_t size) {
        FakeCdRip& f = Cd("CR_GetCdText");
        FakeDrive* d = ActiveDrive(f);
        if (buffer == nullptr || size < 1 || field < 0 || field > 1 || track < 0) {
            return 1;
        }
        std::string text;
        if (d != nullptr && static_cast<std::size_t>(track) < d->CdText.size()) {
            text = d->CdText[static_cast<std::size_t>(track)][static_cast<std::size_t>(field)];
        }
        text.resize(std::min(text.size(), static_cast<std::size_t>(size - 1)));
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return 0;
    },
    [](char* text, int32_t size) {
        FakeCdRip& f = Cd("CR_GetDriveStatusText");
        if (text == nullptr || size < 1 || f.Drives.empty()) {
            return 1;
        }
        const std::string& why = f.Drives[static_cast<std::size_t>(f.Active)].StatusText;
        const std::size_t n = std::min(why.size(), static_cast<std::size_t>(size - 1));
        std::memcpy(text, why.data(), n);
        text[n] = '\0';
        return 0;
    },
    [](char* text, int32_t size) {
        FakeCdRip& f = Cd("CR_GetMcn");
        FakeDrive* d = ActiveDrive(f);
        if (text == nullptr || size < MCNSize || d == nullptr || !d->HasDisc) {
            return 1;
        }
        const std::string mcn = d->Mcn.substr(0, 13);
        std::memcpy(text, mcn.c_str(), mcn.size() + 1);
        return 0;
    },
    [](int32_t track, char* text, int32_t size) {
        FakeCdRip& f = Cd("CR_GetTrackIsrc");
        FakeDrive* d = ActiveDrive(f);
        if (text == nullptr || size < ISRCSize || d == nullptr || !d->HasDisc || track < 1 ||
            track + 1 > static_cast<int32_t>(d->Toc.size())) {
            return 1;
        }
        const auto i = static_cast<std::size_t>(track - 1);
        const std::string isrc = i < d->Isrc.size() ? d->Isrc[i].substr(0, 12) : std::string();
        std::memcpy(text, isrc.c_str(), isrc.size() + 1);
        return 0;
    },
    [](int32_t track, int32_t* sectors, int32_t max) {
        FakeCdRip& f = Cd("CR_GetTrackIndexes");
        FakeDrive* d = ActiveDrive(f);
        if (sectors == nullptr || max < 0 || d == nullptr || !d->HasDisc || track < 1 ||
            track + 1 > static_cast<int32_t>(d->Toc.size())) {
            return -1;
        }
        const auto i = static_cast<std::size_t>(track - 1);
        if (i >= d->Indexes.size()) {
            return 0;
        }
        const auto n = std::min<std::size_t>(d->Indexes[i].size(), static_cast<std::size_t>(max));
        std::copy(d->Indexes[i].begin(), d->Indexes[i].begin() + static_cast<std::ptrdiff_t>(n),
                  sectors);
        return static_cast<int32_t>(n);
    },
    [](int32_t track) {
        FakeCdRip& f = Cd("CR_GetTrackFlags");
        FakeDrive* d = ActiveDrive(f);
        if (d == nullptr || !d->HasDisc || track < 1 ||
            track + 1 > static_cast<int32_t>(d->Toc.size())) {
            return -1;
        }
        const auto i = static_cast<std::size_t>(track - 1);
        return i < d->Flags.size() ? d->Flags[i] : 0;
    },
    nullptr, // CR_GetSectorsRead: the fake library does not count
    nullptr, // CR_PlanSecureRange: nor plan
    nullptr, // CR_SecureRangeReady
    nullptr, // CR_GetPlannedTrips
    nullptr, // CR_DropSecurePlans
    nullptr, // CR_GetDriveC2
    nullptr, // CR_HandProvenSectors
    nullptr, // CR_DiscChanged: the disc is always the one read
    nullptr, // CR_SetSecureReach
    nullptr, // CR_GetUndefeatedCacheKB
};

FakeCdRip::FakeCdRip() {
    Current = this;
}

FakeCdRip::~FakeCdRip() {
    Current = nullptr;
}

// ---------------------------------------------------------------------------

FakeLame* FakeLame::Current = nullptr;

namespace {

FakeLame& Lame(const char* call) {
    FakeLame& f = *FakeLame::Current;
    f.Calls.push_back(call);
    return f;
}

uint32_t PutText(const std::string& text, uint8_t* out, uint32_t* count) {
    std::memcpy(out, text.data(), text.size());
    *count = static_cast<uint32_t>(text.size());
    return BE_OK;
}

} // namespace

const TLameDll FakeLame::Table = {
    [](BE_VERSION_RECORD* v) {
        *v = BE_VERSION_RECORD{};
        return uint32_t{BE_OK};
    },
    [](const BE_CONFIG_RECORD* config, uint32_t* samples, uint32_t* bufferSize, uint32_t* stream) {
        FakeLame& f = Lame("beInitStream");
        f.Config = *config;
        *samples = f.Samples;
        *bufferSize = f.BufferSize;
        *stream = 7;
        return f.InitStatus;
    },
    [](uint32_t, uint32_t nSamples, const int16_t* input, uint8_t* output, uint32_t* count) {
        FakeLame& f = Lame("beEncodeChunk");
        if (static_cast<int>(f.ChunkSizes.size()) == f.FailChunkAt) {
            f.ChunkSizes.push_back(nSamples);
            return f.ChunkStatus;
        }
        f.ChunkSizes.push_back(nSamples);
        const auto* bytes = reinterpret_cast<const uint8_t*>(input);
        f.Pcm.insert(f.Pcm.end(), bytes, bytes + std::size_t{nSamples} * 2);
        std::memset(output, 'M', f.BytesPerChunk);
        *count = f.BytesPerChunk;
        return uint32_t{BE_OK};
    },
    [](uint32_t, uint8_t* output, uint32_t* count) {
        FakeLame& f = Lame("beDeinitStream");
        if (f.DeinitStatus != BE_OK) {
            return f.DeinitStatus;
        }
        return PutText(f.Flush, output, count);
    },
    [](uint32_t, uint8_t* output, uint32_t size, uint32_t* count) {
        FakeLame& f = Lame("beGetInfoTag");
        if (f.InfoTagStatus != BE_OK) {
            return f.InfoTagStatus;
        }
        if (f.Config.writeVBRHeader == 0) {
            *count = 0;
            return uint32_t{BE_OK};
        }
        if (size < f.InfoTag.size()) {
            *count = static_cast<uint32_t>(f.InfoTag.size());
            return uint32_t{BE_ERR_BUFFER_TOO_SMALL};
        }
        return PutText(f.InfoTag, output, count);
    },
    [](uint32_t) { return Lame("beCloseStream").CloseStatus; },
};

FakeLame::FakeLame() : Override(Table) {
    Current = this;
}

FakeLame::~FakeLame() {
    Current = nullptr;
}

int FakeLame::Count(const std::string& call) const {
    return static_cast<int>(std::count(Calls.begin(), Calls.end(), call));
}
