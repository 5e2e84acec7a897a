#include "imagesource.h"

#include "imagecheck.h"

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cdrip {
namespace {

constexpr int64_t kRaw = 2352;

std::string lowerExtension(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    std::string e = path.substr(dot);
    for (char& c : e)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return e;
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}

// An open file descriptor, closed once.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

bool readAt(int fd, uint64_t at, void* out, size_t n) {
    auto* p = static_cast<uint8_t*>(out);
    while (n > 0) {
        const ssize_t got = ::pread(fd, p, n, off_t(at));
        if (got <= 0)
            return false;
        p += got, at += uint64_t(got), n -= size_t(got);
    }
    return true;
}

const char* const kPcmOnly = "only 16-bit 44.1 kHz stereo PCM is read";

// The chunks of a RIFF WAVE file: "fmt " must describe 16-bit 44.1 kHz stereo PCM, and
// "data" must lie inside the file.
void probeWave(int fd, uint64_t size, const std::string& name, FileFacts& f) {
    f.format = FileFormat::Wave;
    bool haveFormat = false;
    uint64_t at = 12;
    for (int chunks = 0; chunks < 1000 && at + 8 <= size; ++chunks) {
        uint8_t head[8];
        if (!readAt(fd, at, head, 8))
            break;
        const uint64_t length = le32(head + 4);
        if (std::memcmp(head, "fmt ", 4) == 0) {
            uint8_t fmt[40] = {};
            if (length < 16 || !readAt(fd, at + 8, fmt, size_t(std::min<uint64_t>(length, 40)))) {
                f.error = name + ": a WAVE format chunk too short";
                return;
            }
            const uint16_t tag = le16(fmt), channels = le16(fmt + 2), bits = le16(fmt + 14);
            const uint32_t rate = le32(fmt + 4);
            // WAVE_FORMAT_EXTENSIBLE names its sample format in a GUID whose first two
            // bytes are the plain format tag.
            const bool pcm = tag == 1 || (tag == 0xFFFE && length >= 40 && le16(fmt + 24) == 1);
            if (!pcm) {
                f.error =
                    name + ": WAVE format " + std::to_string(tag) + " is not PCM; " + kPcmOnly;
                return;
            }
            if (bits != 16 || rate != 44100 || channels != 2) {
                f.error = name + ": " + std::to_string(bits) + "-bit " + std::to_string(rate) +
                          " Hz " + std::to_string(channels) + "-channel PCM; " + kPcmOnly;
                return;
            }
            haveFormat = true;
        } else if (std::memcmp(head, "data", 4) == 0) {
            if (!haveFormat) {
                f.error = name + ": a WAVE file without a format chunk before its data";
                return;
            }
            if (at + 8 + length > size) {
                f.error = name + ": its WAVE data chunk claims " + std::to_string(length) +
                          " bytes, the file holds " + std::to_string(size - at - 8) +
                          " after its header";
                return;
            }
            f.payloadBytes = length; // the reader finds the chunk again with waveDataStart
            return;
        }
        at += 8 + length + (length & 1);
    }
    f.error = name + ": a WAVE file without a data chunk";
}

// Where the sample data of a WAVE file begins (the "data" chunk's body); 0 when none.
uint64_t waveDataStart(int fd, uint64_t size) {
    uint64_t at = 12;
    for (int chunks = 0; chunks < 1000 && at + 8 <= size; ++chunks) {
        uint8_t head[8];
        if (!readAt(fd, at, head, 8))
            return 0;
        if (std::memcmp(head, "data", 4) == 0)
            return at + 8;
        const uint64_t length = le32(head + 4);
        at += 8 + length + (length & 1);
    }
    return 0;
}

struct FlacCloser {
    void operator()(FLAC__StreamDecoder* d) const { FLAC__stream_decoder_delete(d); }
};
using FlacPtr = std::unique_ptr<FLAC__StreamDecoder, FlacCloser>;

struct FlacInfo {
    bool have = false, failed = false;
    FLAC__StreamMetadata_StreamInfo info{};
};

FLAC__StreamDecoderWriteStatus noWrite(const FLAC__StreamDecoder*, const FLAC__Frame*,
                                       const FLAC__int32* const[], void*) {
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}
void takeInfo(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* data) {
    if (m->type == FLAC__METADATA_TYPE_STREAMINFO) {
        static_cast<FlacInfo*>(data)->info = m->data.stream_info;
        static_cast<FlacInfo*>(data)->have = true;
    }
}
void noteInfoError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data) {
    static_cast<FlacInfo*>(data)->failed = true;
}

void probeFlac(const std::string& path, const std::string& name, FileFacts& f) {
    f.format = FileFormat::Flac;
    FlacPtr dec(FLAC__stream_decoder_new());
    FlacInfo info;
    if (!dec ||
        FLAC__stream_decoder_init_file(dec.get(), path.c_str(), noWrite, takeInfo, noteInfoError,
                                       &info) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        f.error = name + ": cannot be opened as FLAC";
        return;
    }
    if (!FLAC__stream_decoder_process_until_end_of_metadata(dec.get()) || !info.have ||
        info.failed) {
        f.error = name + ": a FLAC file without a readable stream header";
        return;
    }
    const auto& s = info.info;
    if (s.bits_per_sample != 16 || s.sample_rate != 44100 || s.channels != 2) {
        f.error = name + ": FLAC of " + std::to_string(s.bits_per_sample) + "-bit " +
                  std::to_string(s.sample_rate) + " Hz " + std::to_string(s.channels) +
                  "-channel audio; only 16-bit 44.1 kHz stereo is read";
        return;
    }
    if (s.total_samples == 0) {
        f.error = name + ": a FLAC file that does not say how many samples it holds";
        return;
    }
    f.payloadBytes = s.total_samples * 4;
}

} // namespace

bool isSheetImage(const std::string& path) {
    const std::string e = lowerExtension(path);
    return e == ".cue" || e == ".toc";
}

FileFacts probeFile(const std::string& path, DeclaredType declared) {
    FileFacts f;
    const std::string name = baseName(path);
    if (std::string why = fileProblem(path); !why.empty()) {
        f.error = why;
        return f;
    }
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (fd.fd < 0 || ::fstat(fd.fd, &st) != 0) {
        f.error = path + ": cannot be opened";
        return f;
    }
    const uint64_t size = uint64_t(st.st_size);
    uint8_t magic[12] = {};
    const bool headed = size >= 12 && readAt(fd.fd, 0, magic, 12);
    if (declared != DeclaredType::TocData && headed && std::memcmp(magic, "RIFF", 4) == 0 &&
        std::memcmp(magic + 8, "WAVE", 4) == 0) {
        probeWave(fd.fd, size, name, f);
        return f;
    }
    if (declared != DeclaredType::TocData && headed && std::memcmp(magic, "fLaC", 4) == 0) {
        probeFlac(path, name, f);
        return f;
    }
    if (declared == DeclaredType::Wave) {
        f.error = name + ": named as WAVE, but neither a RIFF WAVE nor a FLAC file";
        return f;
    }
    f.format = declared == DeclaredType::Motorola ? FileFormat::Motorola : FileFormat::Binary;
    f.payloadBytes = size;
    return f;
}

bool loadSheet(const std::string& path, SheetDisc* disc, std::string* error) {
    if (std::string why = fileProblem(path); !why.empty()) {
        *error = why;
        return false;
    }
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (fd.fd < 0 || ::fstat(fd.fd, &st) != 0) {
        *error = path + ": cannot be opened";
        return false;
    }
    if (uint64_t(st.st_size) > kSheetMaxBytes) {
        *error = baseName(path) + ": larger than 1 MiB: not a sheet";
        return false;
    }
    std::string bytes(size_t(st.st_size), '\0');
    if (!bytes.empty() && !readAt(fd.fd, 0, bytes.data(), bytes.size())) {
        *error = path + ": cannot be read";
        return false;
    }
    return parseSheet(bytes, path, lowerExtension(path) == ".toc", probeFile, disc, error);
}

// ---- Reading ----

struct SheetImage::Flac {
    FlacPtr decoder;
    std::vector<uint8_t> block; // the last decoded block, little-endian PCM
    uint64_t blockFirst = 0;    // its first sample frame
    bool failed = false;

    uint64_t blockEnd() const { return blockFirst + block.size() / 4; }
};

namespace {

FLAC__StreamDecoderWriteStatus keepBlock(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                         const FLAC__int32* const buffer[], void* data) {
    auto& f = *static_cast<std::vector<uint8_t>*>(data);
    const unsigned n = frame->header.blocksize;
    f.resize(size_t(n) * 4 + 8);
    // The first 8 bytes carry the block's first sample number.
    const uint64_t first = frame->header.number.sample_number;
    std::memcpy(f.data(), &first, 8);
    uint8_t* out = f.data() + 8;
    for (unsigned i = 0; i < n; ++i) {
        for (unsigned c = 0; c < 2; ++c) {
            const auto v = uint16_t(int16_t(buffer[c][i]));
            *out++ = uint8_t(v & 0xFF);
            *out++ = uint8_t(v >> 8);
        }
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}
void skipMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata*, void*) {}
void noteError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

} // namespace

SheetImage::SheetImage() = default;

SheetImage::~SheetImage() {
    for (int fd : fds_)
        if (fd >= 0)
            ::close(fd);
}

bool SheetImage::open(const std::string& path, std::string* error) {
    std::string why;
    if (!loadSheet(path, &disc_, &why)) {
        if (error)
            *error = why;
        return false;
    }
    starts_.clear();
    int64_t at = 0;
    for (const Piece& p : disc_.pieces) {
        starts_.push_back(at);
        at += p.frames;
    }
    fds_.assign(disc_.files.size(), -1);
    flac_.clear();
    flac_.resize(disc_.files.size());
    return true;
}

bool SheetImage::readBytes(int file, uint64_t at, size_t n, uint8_t* out) {
    int& fd = fds_[size_t(file)];
    const SheetFile& f = disc_.files[size_t(file)];
    if (fd < 0) {
        fd = ::open(f.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        if (f.facts.format == FileFormat::Wave) {
            struct stat st {};
            const uint64_t start =
                ::fstat(fd, &st) == 0 ? waveDataStart(fd, uint64_t(st.st_size)) : 0;
            if (start == 0)
                return false;
            waveStart_.resize(disc_.files.size(), 0);
            waveStart_[size_t(file)] = start;
        }
    }
    const uint64_t base = f.facts.format == FileFormat::Wave ? waveStart_[size_t(file)] : 0;
    if (!readAt(fd, base + at, out, n))
        return false;
    if (f.facts.format == FileFormat::Motorola)
        for (size_t i = 0; i + 1 < n; i += 2)
            std::swap(out[i], out[i + 1]);
    return true;
}

bool SheetImage::readFlac(int file, uint64_t firstFrame, int64_t frames, uint8_t* out) {
    std::unique_ptr<Flac>& f = flac_[size_t(file)];
    if (!f) {
        f = std::make_unique<Flac>();
        f->decoder.reset(FLAC__stream_decoder_new());
        if (!f->decoder ||
            FLAC__stream_decoder_init_file(f->decoder.get(), disc_.files[size_t(file)].path.c_str(),
                                           keepBlock, skipMetadata, noteError,
                                           &raw_) != FLAC__STREAM_DECODER_INIT_STATUS_OK ||
            !FLAC__stream_decoder_process_until_end_of_metadata(f->decoder.get())) {
            f.reset();
            return false;
        }
    }
    while (frames > 0) {
        if (firstFrame >= f->blockFirst && firstFrame < f->blockEnd()) {
            const uint64_t skip = firstFrame - f->blockFirst;
            const int64_t n = std::min<int64_t>(frames, int64_t(f->blockEnd() - firstFrame));
            std::memcpy(out, f->block.data() + skip * 4, size_t(n) * 4);
            out += n * 4, firstFrame += uint64_t(n), frames -= n;
            continue;
        }
        raw_.clear();
        const bool ok = firstFrame == f->blockEnd() && !f->block.empty()
                            ? FLAC__stream_decoder_process_single(f->decoder.get())
                            : FLAC__stream_decoder_seek_absolute(f->decoder.get(), firstFrame);
        if (!ok || raw_.size() < 8) {
            // A failed seek leaves the decoder unusable: start it afresh next time.
            f.reset();
            return false;
        }
        std::memcpy(&f->blockFirst, raw_.data(), 8);
        f->block.assign(raw_.begin() + 8, raw_.end());
        if (f->block.empty() || firstFrame < f->blockFirst) {
            f.reset();
            return false;
        }
    }
    return true;
}

bool SheetImage::readPiece(const Piece& p, int64_t from, int64_t frames, uint8_t* out) {
    if (p.kind == Piece::Silence) {
        std::memset(out, 0, size_t(frames) * 4);
        return true;
    }
    const bool flac = disc_.files[size_t(p.file)].facts.format == FileFormat::Flac;
    if (p.kind == Piece::Data && !(flac && p.unit == kRaw)) {
        std::memset(out, 0, size_t(frames) * 4);
        if (from % kFramesPerSector != 0 || frames != kFramesPerSector)
            return true; // a data sector cut by the sheet's layout: no whole sector to give
        const uint64_t at = p.at + uint64_t(from / kFramesPerSector) * uint64_t(p.unit);
        // A sector stored without its sync and header gets its user data after them.
        const size_t n = size_t(std::min<int64_t>(p.unit, kRaw - 16));
        return p.unit >= kRaw ? readBytes(p.file, at, size_t(kRaw), out)
                              : readBytes(p.file, at, n, out + 16);
    }
    if (flac)
        return readFlac(p.file, (p.at / 4) + uint64_t(from), frames, out);
    return readBytes(p.file, p.at + uint64_t(from) * 4, size_t(frames) * 4, out);
}

namespace {

class SheetSource final : public SectorSource {
public:
    bool open(const std::string& path, std::string* error) { return image_.open(path, error); }
    int32_t read(int32_t lsn, int32_t count, uint8_t* out, uint8_t* /*c2*/) override {
        return out && count > 0 ? image_.read(lsn, count, out) : 0;
    }

private:
    SheetImage image_;
};

} // namespace

std::unique_ptr<SectorSource> openSheetSource(const std::string& path, std::string* error) {
    auto s = std::make_unique<SheetSource>();
    if (!s->open(path, error))
        return nullptr;
    return s;
}

int32_t SheetImage::wholeSectorsInPiece(size_t i, int64_t frame, int32_t most) const {
    if (i >= disc_.pieces.size() || most <= 1)
        return 0;
    const Piece& p = disc_.pieces[i];
    if (p.kind != Piece::Audio || disc_.files[size_t(p.file)].facts.format == FileFormat::Flac)
        return 0;
    const int64_t from = frame - starts_[i];
    if (from < 0 || from >= p.frames)
        return 0;
    return int32_t(std::min<int64_t>(most, (p.frames - from) / kFramesPerSector));
}

int32_t SheetImage::read(int32_t lsn, int32_t count, uint8_t* out) {
    for (int32_t s = 0; s < count; ++s) {
        const int32_t sector = lsn + s;
        if (sector < 0 || sector >= disc_.leadout)
            return s;
        int64_t frame = int64_t(sector) * kFramesPerSector;
        int64_t left = kFramesPerSector;
        uint8_t* at = out + size_t(s) * size_t(kRaw);
        size_t i =
            size_t(std::upper_bound(starts_.begin(), starts_.end(), frame) - starts_.begin()) - 1;
        // The sectors from here that lie whole in one stretch of a raw or WAVE file are
        // read with one call: a command of many sectors costs one read of the file, not
        // one a sector.
        if (const int32_t run =
                wholeSectorsInPiece(i, frame, std::min(count - s, disc_.leadout - sector));
            run > 1 &&
            readPiece(disc_.pieces[i], frame - starts_[i], int64_t(run) * kFramesPerSector, at)) {
            s += run - 1;
            continue;
        }
        while (left > 0 && i < disc_.pieces.size()) {
            const Piece& p = disc_.pieces[i];
            const int64_t from = frame - starts_[i];
            const int64_t n = std::min(left, p.frames - from);
            if (n > 0) {
                if (!readPiece(p, from, n, at))
                    return s;
                at += n * 4, frame += n, left -= n;
            }
            ++i;
        }
        if (left > 0)
            return s;
    }
    return count;
}

} // namespace cdrip
