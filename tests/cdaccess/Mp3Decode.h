#pragma once

// Decodes an MP3 file with libmpg123, gapless (the encoder's delay and padding are
// trimmed when the file's info tag names them).

#include <gtest/gtest.h>

#include <mpg123.h>

#include <cstdint>
#include <string>
#include <vector>

struct Decoded {
    long Rate = 0;
    int Channels = 0;
    std::vector<int16_t> Samples; // interleaved
    std::size_t Frames() const { return Channels == 0 ? 0 : Samples.size() / Channels; }
};

inline Decoded DecodeMp3(const std::string& path) {
    Decoded d;
    static const int initialised = mpg123_init();
    EXPECT_EQ(initialised, MPG123_OK);
    int err = MPG123_OK;
    mpg123_handle* mh = mpg123_new(nullptr, &err);
    if (mh == nullptr) {
        ADD_FAILURE() << "mpg123_new failed";
        return d;
    }
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0);
    int encoding = 0;
    if (mpg123_open(mh, path.c_str()) != MPG123_OK ||
        mpg123_getformat(mh, &d.Rate, &d.Channels, &encoding) != MPG123_OK) {
        ADD_FAILURE() << "mpg123 cannot open " << path;
        mpg123_delete(mh);
        return d;
    }
    mpg123_format_none(mh);
    mpg123_format(mh, d.Rate, d.Channels, MPG123_ENC_SIGNED_16);
    std::vector<unsigned char> buffer(65536);
    for (;;) {
        std::size_t done = 0;
        const int r = mpg123_read(mh, buffer.data(), buffer.size(), &done);
        const auto* s = reinterpret_cast<const int16_t*>(buffer.data());
        d.Samples.insert(d.Samples.end(), s, s + done / 2);
        if (r != MPG123_OK && r != MPG123_NEW_FORMAT) {
            EXPECT_EQ(r, MPG123_DONE) << mpg123_plain_strerror(r);
            break;
        }
    }
    mpg123_close(mh);
    mpg123_delete(mh);
    return d;
}
