#pragma once

// A FLAC file decoded by libFLAC's own decoder, with its MD5 check on: the PCM (16-bit
// little-endian, interleaved), STREAMINFO and the seek table.

#include <FLAC/metadata.h>
#include <FLAC/stream_decoder.h>

#include <cstdint>
#include <string>
#include <vector>

// What libFLAC's decoder reads from a file.
struct FlacDecoded {
    bool Ok = false;
    std::vector<uint8_t> Pcm;
    FLAC__StreamMetadata_StreamInfo Info{};
    std::vector<FLAC__StreamMetadata_SeekPoint> Seek;
};

inline FLAC__StreamDecoderWriteStatus OnFlacFrame(const FLAC__StreamDecoder*,
                                                  const FLAC__Frame* frame,
                                                  const FLAC__int32* const buffer[], void* client) {
    auto* d = static_cast<FlacDecoded*>(client);
    for (uint32_t i = 0; i < frame->header.blocksize; ++i) {
        for (uint32_t c = 0; c < frame->header.channels; ++c) {
            const auto s = static_cast<uint16_t>(static_cast<int16_t>(buffer[c][i]));
            d->Pcm.push_back(static_cast<uint8_t>(s & 0xFF));
            d->Pcm.push_back(static_cast<uint8_t>(s >> 8));
        }
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

inline void OnFlacMetadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m,
                           void* client) {
    auto* d = static_cast<FlacDecoded*>(client);
    if (m->type == FLAC__METADATA_TYPE_STREAMINFO) {
        d->Info = m->data.stream_info;
    } else if (m->type == FLAC__METADATA_TYPE_SEEKTABLE) {
        d->Seek.assign(m->data.seek_table.points,
                       m->data.seek_table.points + m->data.seek_table.num_points);
    }
}

inline void OnFlacError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* client) {
    static_cast<FlacDecoded*>(client)->Ok = false;
}

inline FlacDecoded DecodeFlac(const std::string& path) {
    FlacDecoded d;
    FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
    FLAC__stream_decoder_set_md5_checking(decoder, true);
    FLAC__stream_decoder_set_metadata_respond(decoder, FLAC__METADATA_TYPE_SEEKTABLE);
    d.Ok = FLAC__stream_decoder_init_file(decoder, path.c_str(), OnFlacFrame, OnFlacMetadata,
                                          OnFlacError, &d) == FLAC__STREAM_DECODER_INIT_STATUS_OK;
    d.Ok = FLAC__stream_decoder_process_until_end_of_stream(decoder) && d.Ok;
    // finish returns false when the MD5 of what was decoded differs from STREAMINFO's.
    d.Ok = FLAC__stream_decoder_finish(decoder) && d.Ok;
    FLAC__stream_decoder_delete(decoder);
    return d;
}
