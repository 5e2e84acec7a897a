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

std::string EncoderErrorText(uint32_t status) {
    switch (status) {
    case BE_ERR_BAD_RECORD:
        return "MP3 encoder error: the settings record was refused";
    case BE_ERR_BAD_PARAMETER:
        return "MP3 encoder error: a value was refused";
    case BE_ERR_BAD_HANDLE:
        return "MP3 encoder error: the stream is not open";
    case BE_ERR_NULL_POINTER:
        return "MP3 encoder error: a buffer is missing";
    case BE_ERR_OUT_OF_ORDER:
        return "MP3 encoder error: a call out of order";
    case BE_ERR_BUFFER_TOO_SMALL:
        return "MP3 encoder error: its output did not fit the buffer";
    case BE_ERR_ENCODER:
        return "MP3 encoder error: the encoder failed";
    case BE_ERR_NO_MEMORY:
        return "MP3 encoder error: out of memory";
    default:
        return "MP3 encoder error: status " + std::to_string(status);
    }
}

// A call of the stream that did not succeed ends the track: what it wrote so far is
// not the whole MP3, and the stream is not fed or flushed again.
void TEncodeFeed::CheckStatus(uint32_t status) {
    if (status != BE_OK) {
        Failed = true;
        throw ECDRIPError(EncoderErrorText(status));
    }
}

// Output bytes the encoder claims beyond the room it was given: taken as a failure,
// never as that many bytes of the buffer.
void TEncodeFeed::CheckCount(uint32_t count, std::size_t room) {
    if (count > room) {
        CheckStatus(BE_ERR_BUFFER_TOO_SMALL);
    }
}

void TEncodeFeed::Start(TLameCoder& coder, OutputFiles::TPartialFile& file, std::size_t passBytes) {
    Coder = &coder;
    File = &file;
    Failed = false;
    Carry = 0;
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
    if (Failed) {
        throw ECDRIPError(EncoderErrorText(BE_ERR_OUT_OF_ORDER));
    }
    const std::size_t total = Carry + std::min(count, PassBytes);
    const std::size_t k = total / ChunkSize;
    const std::size_t room = Coder->BufferSize();
    std::size_t produced = 0;
    for (std::size_t j = 0; j < k; ++j) {
        std::memcpy(ChunkBuffer.data(), Pending.data() + j * ChunkSize, ChunkSize);
        uint32_t out = 0;
        CheckStatus(Coder->EncodeChunk(ChunkBuffer.data(), Mp3Buffer.data() + produced, &out));
        CheckCount(out, room);
        produced += out;
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
    if (Mp3Buffer.empty() || Failed) {
        return true;
    }
    bool flushed = WriteTail();
    uint32_t count = 0;
    CheckStatus(Coder->DeinitStream(Mp3Buffer.data(), &count));
    CheckCount(count, Mp3Buffer.size());
    flushed = (count == 0 || File->Write(Mp3Buffer.data(), count)) && flushed;
    if (Coder->WriteVBRHeader() != LongFalse) {
        std::vector<uint8_t> frame;
        CheckStatus(Coder->GetInfoTag(frame));
        // Without its header frame a VBR file keeps the placeholder, and players take
        // a wrong length from it.
        flushed = (frame.empty() || File->WriteAt(0, frame.data(), frame.size())) && flushed;
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
    Carry = 0;
    CheckStatus(Coder->EncodeChunk(ChunkBuffer.data(), static_cast<uint32_t>(samples),
                                   Mp3Buffer.data(), &count));
    CheckCount(count, Mp3Buffer.size());
    return count == 0 || File->Write(Mp3Buffer.data(), count);
}

void TEncodeFeed::Close() {
    uint32_t status = BE_OK;
    if (Open) {
        Open = false;
        status = Coder->CloseStream();
    }
    Pending = {};
    ChunkBuffer = {};
    Mp3Buffer = {};
    CheckStatus(status);
}

bool FinishFeed(TEncodeFeed& feed, std::exception_ptr& error) {
    bool flushed = true;
    if (feed.StreamOpen()) {
        RunEndStep(error, [&] { flushed = feed.Flush(); });
    }
    RunEndStep(error, [&] { feed.Close(); });
    return flushed;
}
