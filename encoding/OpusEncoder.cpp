#include "encoding/OpusEncoder.h"

#include "encoding/OggOpusTags.h"

#include <opus/opusenc.h>

#include <cstring>

namespace Encoding {

struct OpusCallbacks {
    static int Write(void* user, const unsigned char* data, opus_int32 length) {
        auto* self = static_cast<TOpusEncoder*>(user);
        const auto count = static_cast<std::size_t>(length);
        if (!self->Sink->Append(data, count)) {
            self->SinkFailed = true;
            return 1;
        }
        if (!self->HeadDone) {
            self->Head.insert(self->Head.end(), data, data + count);
            if (const std::size_t n = OpusHeaderLength(self->Head.data(), self->Head.size())) {
                self->Head.resize(n);
                self->HeadDone = true;
            }
        }
        return 0;
    }
    static int Close(void*) { return 0; }
};

TOpusEncoder::~TOpusEncoder() {
    Release();
}

void TOpusEncoder::Release() {
    if (Encoder != nullptr) {
        ope_encoder_destroy(Encoder);
        Encoder = nullptr;
    }
    if (Tags != nullptr) {
        ope_comments_destroy(Tags);
        Tags = nullptr;
    }
}

bool TOpusEncoder::Fail(std::string* error, const std::string& what, int code) {
    if (SinkFailed) {
        *error = "cannot write the Opus file: " + Sink->Error();
    } else {
        *error = what + (code != OPE_OK ? std::string(": ") + ope_strerror(code) : std::string());
    }
    Release();
    return false;
}

bool TOpusEncoder::Open(TByteSink& sink, const TOpusOptions& o, std::string* error) {
    Release();
    Sink = &sink;
    Channels = o.Channels;
    SinkFailed = HeadDone = false;
    Head.clear();
    Frames.Reset(o.Channels);
    Fed = 0;
    const uint32_t maxRate = 256 * o.Channels;
    if (o.Channels < 1 || o.Channels > 2 || o.SampleRate < 8000 || o.SampleRate > 192000 ||
        o.Bitrate < 6 || o.Bitrate > maxRate) {
        *error = "Opus cannot take " + std::to_string(o.Channels) + " channels at " +
                 std::to_string(o.SampleRate) + " Hz, " + std::to_string(o.Bitrate) +
                 " kbit/s (6 to " + std::to_string(maxRate) + ")";
        return false;
    }
    Tags = ope_comments_create();
    if (Tags == nullptr) {
        return Fail(error, "cannot start the Opus encoder", OPE_ALLOC_FAIL);
    }
    for (const TComment& c : o.Comments) {
        if (!ValidCommentName(c.Name)) {
            return Fail(error, "cannot store the comment " + c.Name, OPE_BAD_ARG);
        }
        if (const int status = ope_comments_add(Tags, c.Name.c_str(), c.Value.c_str());
            status != OPE_OK) {
            return Fail(error, "cannot store the comment " + c.Name, status);
        }
    }
    if (o.Cover) {
        // The same PICTURE block a FLAC file holds, so that both formats say the same;
        // bytes that are no image of a known type are refused.
        uint32_t width = 0, height = 0, depth = 0;
        if (!ImageSize(o.Cover->Data, width, height, depth)) {
            return Fail(error, "cannot store the cover in the Opus file", OPE_INVALID_PICTURE);
        }
        const std::string block = Base64(PictureBlock(*o.Cover));
        if (const int status = ope_comments_add(Tags, "METADATA_BLOCK_PICTURE", block.c_str());
            status != OPE_OK) {
            return Fail(error, "cannot store the cover in the Opus file", status);
        }
    }
    const OpusEncCallbacks callbacks{OpusCallbacks::Write, OpusCallbacks::Close};
    int status = OPE_OK;
    Encoder =
        ope_encoder_create_callbacks(&callbacks, this, Tags, static_cast<opus_int32>(o.SampleRate),
                                     static_cast<int>(o.Channels), 0, &status);
    if (Encoder == nullptr) {
        return Fail(error, "cannot start the Opus encoder", status);
    }
    const int settings[] = {
        ope_encoder_ctl(Encoder, OPE_SET_SERIALNO(static_cast<opus_int32>(o.Serial & 0x7FFFFFFF))),
        ope_encoder_ctl(Encoder, OPE_SET_COMMENT_PADDING(OpusCommentPadding)),
        ope_encoder_ctl(Encoder, OPE_SET_HEADER_GAIN(0)),
        ope_encoder_ctl(Encoder, OPUS_SET_BITRATE(static_cast<opus_int32>(o.Bitrate * 1000))),
        ope_encoder_ctl(Encoder, OPUS_SET_VBR(1)),
    };
    for (int s : settings) {
        if (s != OPE_OK) {
            return Fail(error, "the Opus encoder refused a setting", s);
        }
    }
    return true;
}

bool TOpusEncoder::Feed(const uint8_t* pcm, std::size_t bytes, std::string* error) {
    if (Encoder == nullptr) {
        *error = "the Opus encoder is not open";
        return false;
    }
    const std::size_t frames = Frames.Take(pcm, bytes, Buffer);
    if (frames == 0) {
        return true;
    }
    if (const int status = ope_encoder_write(Encoder, Buffer.data(), static_cast<int>(frames));
        status != OPE_OK) {
        return Fail(error, "the Opus encoder failed", status);
    }
    Fed += frames;
    return true;
}

bool TOpusEncoder::Finish(const TVorbisComments& extra, std::string* error) {
    if (Encoder == nullptr) {
        *error = "the Opus encoder is not open";
        return false;
    }
    if (const int status = ope_encoder_drain(Encoder); status != OPE_OK) {
        return Fail(error, "the Opus encoder could not end the stream", status);
    }
    Release();
    if (extra.empty()) {
        return true;
    }
    if (!HeadDone || !PatchOpusTags(Head, extra, error)) {
        if (!HeadDone) {
            *error = "the Opus header was not written";
        }
        return false;
    }
    if (!Sink->WriteAt(0, Head.data(), Head.size())) {
        *error = "cannot write the Opus file: " + Sink->Error();
        return false;
    }
    return true;
}

} // namespace Encoding
