#pragma once

#include "cdaccess/OutputFiles.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

class TLameCoder;

// "Write error: <file>: <reason>", naming the file the user asked for; "No space left
// on device" when the file kept no reason.
std::string WriteErrorText(const OutputFiles::TPartialFile* file);

// Feeds one track's PCM to an encoder stream and writes the MP3 into its file: the PCM
// is cut into whole encoder chunks in the order it comes, the rest after the last whole
// chunk is encoded at the end, and the final VBR header frame goes over the first frame.
// The extraction of TCDRIP and the pipeline's encoder workers both go through it, so
// that the same PCM gives the same bytes whoever encodes it.
// "MP3 encoder error: <what went wrong>" for a status of the encoder library.
std::string EncoderErrorText(uint32_t status);

class TEncodeFeed {
public:
    // Opens the stream of `coder` (with its current settings) for PCM that comes in
    // pieces of at most passBytes. Throws ECDRIPError "Unable to start the MP3 encoder"
    // (with the refused setting when there is one).
    void Start(TLameCoder& coder, OutputFiles::TPartialFile& file, std::size_t passBytes);
    // Where the next piece (at most passBytes) goes; Encode then takes `count` bytes of it.
    uint8_t* Space() { return Pending.data() + Carry; }
    // Encodes the whole chunks of what is waiting and writes their MP3 bytes at once;
    // ECDRIPError with WriteErrorText when they cannot all be written, with
    // EncoderErrorText when the encoder refuses a chunk.
    void Encode(std::size_t count);
    // Space and Encode over `count` bytes in pieces of passBytes.
    void Feed(const uint8_t* data, std::size_t count);
    // The end of the stream: the rest, the encoder's last bytes and the VBR header frame.
    // False when MP3 bytes could not all be written; ECDRIPError with EncoderErrorText
    // when the encoder fails. Does nothing when not started.
    bool Flush();
    // Closes the encoder stream when it is open, and releases the buffers; then
    // ECDRIPError with EncoderErrorText when the encoder refused the close.
    void Close();
    bool StreamOpen() const { return Open; }

private:
    bool WriteTail();
    void CheckStatus(uint32_t status);
    void CheckCount(uint32_t count, std::size_t room);

    TLameCoder* Coder = nullptr;
    OutputFiles::TPartialFile* File = nullptr;
    bool Open = false;
    bool Failed = false; // a call of the stream failed: it is neither fed nor flushed again
    std::size_t PassBytes = 0;
    std::size_t ChunkSize = 0;
    std::size_t Carry = 0; // PCM bytes at the front of Pending waiting for a whole chunk
    std::vector<uint8_t> Pending;
    std::vector<int16_t> ChunkBuffer;
    std::vector<uint8_t> Mp3Buffer;
};

// Runs one end-of-track step. A failure inside it does not stop the steps after it;
// the first failure is kept in `error` unless an earlier one is there.
template <typename Body> void RunEndStep(std::exception_ptr& error, Body&& body) {
    try {
        body();
    } catch (...) {
        if (!error) {
            error = std::current_exception();
        }
    }
}

// Flushes an open stream and closes the encoder, each as an end-of-track step. False
// when the flush bytes could not all be written.
bool FinishFeed(TEncodeFeed& feed, std::exception_ptr& error);
