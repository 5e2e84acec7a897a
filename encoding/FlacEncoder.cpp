#include "encoding/FlacEncoder.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <cstring>

namespace Encoding {

namespace {

constexpr uint8_t BlockPadding = 1;
constexpr uint8_t BlockComment = 4;
constexpr std::size_t BlockHeaderBytes = 4;
constexpr uint32_t SeekPointSeconds = 10;

struct TBlock {
    uint8_t Type = 0;
    bool Last = false;
    std::size_t Offset = 0; // of its 4-byte header
    std::size_t Length = 0; // of its body
};

// The metadata blocks of `size` bytes that start with "fLaC"; false when they are cut
// short or the bytes are no FLAC stream.
bool ReadBlocks(const uint8_t* data, std::size_t size, std::vector<TBlock>& blocks) {
    blocks.clear();
    if (size < 4 || std::memcmp(data, "fLaC", 4) != 0) {
        return false;
    }
    std::size_t pos = 4;
    for (;;) {
        if (size - pos < BlockHeaderBytes) {
            return false;
        }
        TBlock b;
        b.Type = data[pos] & 0x7F;
        b.Last = (data[pos] & 0x80) != 0;
        b.Offset = pos;
        b.Length =
            std::size_t{data[pos + 1]} << 16 | std::size_t{data[pos + 2]} << 8 | data[pos + 3];
        pos += BlockHeaderBytes + b.Length;
        if (pos > size) {
            return false;
        }
        blocks.push_back(b);
        if (b.Last) {
            return true;
        }
    }
}

void PutHeader(std::vector<uint8_t>& out, uint8_t type, bool last, std::size_t length) {
    out.push_back(static_cast<uint8_t>(type | (last ? 0x80 : 0)));
    out.push_back(static_cast<uint8_t>(length >> 16));
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.push_back(static_cast<uint8_t>(length));
}

std::string StateText(const FLAC__StreamEncoder* encoder) {
    const FLAC__StreamEncoderState state = FLAC__stream_encoder_get_state(encoder);
    if (state == FLAC__STREAM_ENCODER_VERIFY_MISMATCH_IN_AUDIO_DATA) {
        return "the FLAC encoder's verification found a frame that decodes differently";
    }
    return std::string("the FLAC encoder failed: ") + FLAC__StreamEncoderStateString[state];
}

} // namespace

// libFLAC's callbacks: the writes go to the sink at the encoder's position, so that
// STREAMINFO and the seek table are completed in place when the stream ends.
struct FlacCallbacks {
    static FLAC__StreamEncoderWriteStatus Write(const FLAC__StreamEncoder*,
                                                const FLAC__byte buffer[], size_t bytes, uint32_t,
                                                uint32_t, void* client) {
        auto* self = static_cast<TFlacEncoder*>(client);
        if (self->Discarding) {
            return FLAC__STREAM_ENCODER_WRITE_STATUS_OK; // a stream given up writes nothing more
        }
        const bool ok = self->Pos == self->End ? self->Sink->Append(buffer, bytes)
                                               : self->Sink->WriteAt(self->Pos, buffer, bytes);
        if (!ok) {
            self->SinkFailed = true;
            return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
        }
        if (self->InInit) {
            self->Head.insert(self->Head.end(), buffer, buffer + bytes);
        }
        self->Pos += bytes;
        self->End = std::max(self->End, self->Pos);
        return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    }
    static FLAC__StreamEncoderSeekStatus Seek(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                              void* client) {
        auto* self = static_cast<TFlacEncoder*>(client);
        if (offset > self->End) {
            return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
        }
        self->Pos = offset;
        return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
    }
    static FLAC__StreamEncoderTellStatus Tell(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                              void* client) {
        *offset = static_cast<TFlacEncoder*>(client)->Pos;
        return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
    }
};

TFlacEncoder::~TFlacEncoder() {
    Release();
}

void TFlacEncoder::Release() {
    if (Encoder != nullptr) {
        // Deleting finishes a stream still open; its last writes go nowhere.
        Discarding = true;
        FLAC__stream_encoder_delete(Encoder);
        Encoder = nullptr;
        Discarding = false;
    }
    for (FLAC__StreamMetadata* m : Metadata) {
        FLAC__metadata_object_delete(m);
    }
    Metadata.clear();
}

bool TFlacEncoder::Fail(std::string* error, const std::string& what) {
    *error = SinkFailed ? "cannot write the FLAC file: " + Sink->Error() : what;
    return false;
}

bool TFlacEncoder::AddMetadata(const TFlacOptions& o, std::string* error) {
    FLAC__StreamMetadata* seek = FLAC__metadata_object_new(FLAC__METADATA_TYPE_SEEKTABLE);
    Metadata.push_back(seek);
    const uint64_t spacing = uint64_t{o.SampleRate} * SeekPointSeconds;
    const bool points =
        o.ExpectedSamples > 0
            ? FLAC__metadata_object_seektable_template_append_spaced_points_by_samples(
                  seek, static_cast<uint32_t>(spacing), o.ExpectedSamples)
            : FLAC__metadata_object_seektable_template_append_placeholders(seek, 1);
    if (!points || !FLAC__metadata_object_seektable_template_sort(seek, true)) {
        *error = "cannot make the FLAC seek table";
        return false;
    }
    if (o.Cover) {
        FLAC__StreamMetadata* picture = FLAC__metadata_object_new(FLAC__METADATA_TYPE_PICTURE);
        Metadata.push_back(picture);
        picture->data.picture.type = static_cast<FLAC__StreamMetadata_Picture_Type>(o.Cover->Type);
        ImageSize(o.Cover->Data, picture->data.picture.width, picture->data.picture.height,
                  picture->data.picture.depth);
        std::string mime = o.Cover->Mime;
        std::vector<FLAC__byte> text(o.Cover->Description.begin(), o.Cover->Description.end());
        text.push_back(0);
        std::vector<FLAC__byte> data(o.Cover->Data.begin(), o.Cover->Data.end());
        const char* why = nullptr;
        if (!FLAC__metadata_object_picture_set_mime_type(picture, mime.data(), true) ||
            !FLAC__metadata_object_picture_set_description(picture, text.data(), true) ||
            !FLAC__metadata_object_picture_set_data(picture, data.data(),
                                                    static_cast<FLAC__uint32>(data.size()), true) ||
            !FLAC__metadata_object_picture_is_legal(picture, &why)) {
            *error = std::string("cannot store the cover in the FLAC file") +
                     (why != nullptr ? std::string(": ") + why : std::string());
            return false;
        }
    }
    FLAC__StreamMetadata* tags = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    Metadata.push_back(tags);
    for (const TComment& c : o.Comments) {
        FLAC__StreamMetadata_VorbisComment_Entry entry;
        if (!ValidCommentName(c.Name) ||
            !FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, c.Name.c_str(),
                                                                            c.Value.c_str()) ||
            !FLAC__metadata_object_vorbiscomment_append_comment(tags, entry, false)) {
            *error = "cannot store the comment " + c.Name + " (not UTF-8?)";
            return false;
        }
    }
    FLAC__StreamMetadata* padding = FLAC__metadata_object_new(FLAC__METADATA_TYPE_PADDING);
    Metadata.push_back(padding);
    padding->length = FlacPaddingBytes;
    for (FLAC__StreamMetadata* m : Metadata) {
        if (m == nullptr) {
            *error = "out of memory for the FLAC metadata";
            return false;
        }
    }
    return true;
}

bool TFlacEncoder::Open(TByteSink& sink, const TFlacOptions& o, std::string* error) {
    Release();
    Sink = &sink;
    Channels = o.Channels;
    Pos = End = Fed = 0;
    SinkFailed = false;
    Head.clear();
    Frames.Reset(o.Channels);
    if (o.Channels < 1 || o.Channels > 2 || o.SampleRate == 0 || o.Compression > 8) {
        *error = "FLAC cannot take " + std::to_string(o.Channels) + " channels at " +
                 std::to_string(o.SampleRate) + " Hz, compression level " +
                 std::to_string(o.Compression) + " (0 to 8)";
        return false;
    }
    Encoder = FLAC__stream_encoder_new();
    if (Encoder == nullptr || !AddMetadata(o, error)) {
        if (Encoder == nullptr) {
            *error = "cannot start the FLAC encoder";
        }
        Release();
        return false;
    }
    FLAC__stream_encoder_set_verify(Encoder, true);
    FLAC__stream_encoder_set_channels(Encoder, o.Channels);
    FLAC__stream_encoder_set_bits_per_sample(Encoder, 16);
    FLAC__stream_encoder_set_sample_rate(Encoder, o.SampleRate);
    FLAC__stream_encoder_set_compression_level(Encoder, o.Compression);
    FLAC__stream_encoder_set_total_samples_estimate(Encoder, o.ExpectedSamples);
    FLAC__stream_encoder_set_metadata(Encoder, Metadata.data(),
                                      static_cast<uint32_t>(Metadata.size()));
    InInit = true;
    const FLAC__StreamEncoderInitStatus status = FLAC__stream_encoder_init_stream(
        Encoder, FlacCallbacks::Write, FlacCallbacks::Seek, FlacCallbacks::Tell, nullptr, this);
    InInit = false;
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        const std::string why = status == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR
                                    ? StateText(Encoder)
                                    : std::string("cannot start the FLAC encoder: ") +
                                          FLAC__StreamEncoderInitStatusString[status];
        Fail(error, why);
        Release();
        return false;
    }
    return true;
}

bool TFlacEncoder::Feed(const uint8_t* pcm, std::size_t bytes, std::string* error) {
    if (Encoder == nullptr) {
        *error = "the FLAC encoder is not open";
        return false;
    }
    // The channels apart, as libFLAC keeps them: it copies each channel whole, where it
    // would sort interleaved samples out one by one (for its verifying decoder too).
    const std::size_t frames = Frames.TakeChannels(pcm, bytes, First, Second);
    const FLAC__int32* const channels[2] = {First.data(), Second.data()};
    if (frames > 0 &&
        !FLAC__stream_encoder_process(Encoder, channels, static_cast<uint32_t>(frames))) {
        return Fail(error, StateText(Encoder));
    }
    Fed += frames;
    return true;
}

bool TFlacEncoder::Finish(const TVorbisComments& extra, std::string* error) {
    if (Encoder == nullptr) {
        *error = "the FLAC encoder is not open";
        return false;
    }
    const bool finished = FLAC__stream_encoder_finish(Encoder);
    const std::string why = finished ? std::string() : StateText(Encoder);
    Release();
    if (!finished) {
        return Fail(error, why);
    }
    if (extra.empty()) {
        return true;
    }
    uint64_t offset = 0;
    std::size_t replaced = 0;
    std::vector<uint8_t> bytes;
    if (!FlacCommentPatch(Head, extra, offset, replaced, bytes, error)) {
        return false;
    }
    if (bytes.size() != replaced) {
        *error = "no room for the gain in the FLAC comments";
        return false;
    }
    if (!Sink->WriteAt(offset, bytes.data(), bytes.size())) {
        *error = "cannot write the FLAC file: " + Sink->Error();
        return false;
    }
    return true;
}

std::size_t FlacMetadataLength(const uint8_t* data, std::size_t size) {
    std::vector<TBlock> blocks;
    if (!ReadBlocks(data, size, blocks)) {
        return 0;
    }
    return blocks.back().Offset + BlockHeaderBytes + blocks.back().Length;
}

bool FlacComments(const std::vector<uint8_t>& head, std::string& vendor,
                  TVorbisComments& comments) {
    std::vector<TBlock> blocks;
    if (!ReadBlocks(head.data(), head.size(), blocks)) {
        return false;
    }
    for (const TBlock& b : blocks) {
        std::size_t used = 0;
        if (b.Type == BlockComment) {
            return ParseComments(head.data() + b.Offset + BlockHeaderBytes, b.Length, vendor,
                                 comments, used);
        }
    }
    return false;
}

bool FlacCommentPatch(const std::vector<uint8_t>& head, const TVorbisComments& set,
                      uint64_t& offset, std::size_t& replaced, std::vector<uint8_t>& bytes,
                      std::string* error) {
    std::vector<TBlock> blocks;
    std::string vendor;
    TVorbisComments comments;
    if (!ReadBlocks(head.data(), head.size(), blocks) || !FlacComments(head, vendor, comments)) {
        *error = "the FLAC file has no readable comment block";
        return false;
    }
    const auto vc = std::find_if(blocks.begin(), blocks.end(),
                                 [](const TBlock& b) { return b.Type == BlockComment; });
    const auto next = vc + 1;
    const bool padded = next != blocks.end() && next->Type == BlockPadding;
    const TBlock& last = padded ? *next : *vc;
    offset = vc->Offset;
    replaced = last.Offset + BlockHeaderBytes + last.Length - vc->Offset;
    const std::vector<uint8_t> body = SerializeComments(vendor, MergeComments(comments, set));
    if (body.size() >= (std::size_t{1} << 24)) {
        *error = "the FLAC comments are too long";
        return false;
    }
    bytes.clear();
    // The padding keeps what is left of the space, or the default room when it must grow.
    const std::size_t room = replaced >= body.size() + 2 * BlockHeaderBytes
                                 ? replaced - body.size() - 2 * BlockHeaderBytes
                                 : FlacPaddingBytes;
    PutHeader(bytes, BlockComment, false, body.size());
    bytes.insert(bytes.end(), body.begin(), body.end());
    PutHeader(bytes, BlockPadding, last.Last, room);
    bytes.resize(bytes.size() + room, 0);
    if (!padded && vc->Last) {
        bytes[0] &= 0x7F; // the padding after it is now the last block
    }
    return true;
}

} // namespace Encoding
