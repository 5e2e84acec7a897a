#include "cdaccess/EncodeFeed.h"

#include "cdaccess/CDRIP.h"
#include "encoding/LameCoder.h"
#include "settings/globals.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

std::string WriteErrorText(const OutputFiles::TPartialFile* file) {
    const int error = file != nullptr && file->Error() != 0 ? file->Error() : ENOSPC;
    const std::string name = file != nullptr ? file->FinalName() : std::string();
    return "Write error: " + name + ": " + OutputFiles::ErrorText(error);
}

void TEncodeFeed::Start(TLameCoder& coder, OutputFiles::TPartialFile& file, std::size_t passBytes) {
    Coder = &coder;
    File = &file;
    const uint32_t status = coder.InitStream();
    Open = status == 0;
    if (status != 0 || coder.Samples() == 0 || coder.BufferSize() == 0) {
        const std::string refused = RefusedMP3Setting(coder.EncoderConfig());
        throw ECDRIPError("Unable to start the MP3 encoder" +
                          (refused.empty() ? std::string() : ": " + refused));
    }
    PassBytes = passBytes;
    ChunkSize = std::size_t{coder.Samples()} * 2;
    ChunkBuffer.resize(coder.Samples());
    // Room for the output of every whole chunk one pass can hold, so that a pass
    // writes its MP3 bytes at once.
    const std::size_t chunksPerPass =
        std::max<std::size_t>(1, (passBytes + ChunkSize - 1) / ChunkSize);
    Mp3Buffer.resize(chunksPerPass * coder.BufferSize());
    Pending.resize(passBytes + ChunkSize);
}

void TEncodeFeed::Encode(std::size_t count) {
    const std::size_t total = Carry + std::min(count, PassBytes);
    const std::size_t k = total / ChunkSize;
    const std::size_t room = Coder->BufferSize();
    std::size_t produced = 0;
    for (std::size_t j = 0; j < k; ++j) {
        std::memcpy(ChunkBuffer.data(), Pending.data() + j * ChunkSize, ChunkSize);
        uint32_t out = 0;
        Coder->EncodeChunk(ChunkBuffer.data(), Mp3Buffer.data() + produced, &out);
        produced += std::min<std::size_t>(out, room);
    }
    if (produced > 0 && !File->Write(Mp3Buffer.data(), produced)) {
        throw ECDRIPError(WriteErrorText(File));
    }
    Carry = total - k * ChunkSize;
    std::memmove(Pending.data(), Pending.data() + k * ChunkSize, Carry);
}

void TEncodeFeed::Feed(const uint8_t* data, std::size_t count) {
    while (count > 0) {
        const std::size_t piece = std::min(count, PassBytes);
        std::memcpy(Space(), data, piece);
        Encode(piece);
        data += piece;
        count -= piece;
    }
}

bool TEncodeFeed::Flush() {
    if (Mp3Buffer.empty()) {
        return true;
    }
    bool flushed = WriteTail();
    uint32_t count = 0;
    Coder->DeinitStream(Mp3Buffer.data(), &count);
    const std::size_t n = std::min<std::size_t>(count, Mp3Buffer.size());
    flushed = (n == 0 || File->Write(Mp3Buffer.data(), n)) && flushed;
    if (Coder->WriteVBRHeader() != LongFalse) {
        std::vector<uint8_t> frame;
        if (Coder->GetInfoTag(frame) == 0 && !frame.empty()) {
            File->WriteAt(0, frame.data(), frame.size());
        }
    }
    return flushed;
}

// Encodes the PCM left over after the last whole chunk (less than one chunk), so that
// the end of the track is not lost. Returns false when its MP3 bytes could not all be
// written.
bool TEncodeFeed::WriteTail() {
    if (Carry < 2 || ChunkBuffer.empty()) {
        return true;
    }
    // Whole sample frames only: the encoder takes no half of a stereo frame.
    const std::size_t channels = std::max<std::size_t>(1, Coder->InputChannels());
    const std::size_t samples = Carry / 2 / channels * channels;
    if (samples == 0) {
        return true;
    }
    std::memcpy(ChunkBuffer.data(), Pending.data(), samples * 2);
    uint32_t count = 0;
    Coder->EncodeChunk(ChunkBuffer.data(), static_cast<uint32_t>(samples), Mp3Buffer.data(),
                       &count);
    Carry = 0;
    const std::size_t n = std::min<std::size_t>(count, Mp3Buffer.size());
    return n == 0 || File->Write(Mp3Buffer.data(), n);
}

void TEncodeFeed::Close() {
    if (Open) {
        Open = false;
        Coder->CloseStream();
    }
    Pending = {};
    ChunkBuffer = {};
    Mp3Buffer = {};
}

bool FinishFeed(TEncodeFeed& feed, std::exception_ptr& error) {
    bool flushed = true;
    if (feed.StreamOpen()) {
        RunEndStep(error, [&] { flushed = feed.Flush(); });
    }
    RunEndStep(error, [&] { feed.Close(); });
    return flushed;
}
