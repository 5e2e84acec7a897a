// The encoder library's calls as the core reaches them: a table of function
// pointers bound to liblame_enc, which tests replace with fakes.
#pragma once

#include "libs/lame_enc/lame_enc.h"

#include <cstdint>

// A 32-bit boolean as the encoder library takes it: 0 is false, anything else true.
using LongBool = int32_t;
constexpr LongBool LongTrue = -1;
constexpr LongBool LongFalse = 0;

struct TLameDll {
    uint32_t (*beVersion)(BE_VERSION_RECORD* version);
    uint32_t (*beInitStream)(const BE_CONFIG_RECORD* config, uint32_t* samples,
                             uint32_t* bufferSize, uint32_t* stream);
    uint32_t (*beEncodeChunk)(uint32_t stream, uint32_t nSamples, const int16_t* input,
                              uint8_t* output, uint32_t* outputBytes);
    uint32_t (*beDeinitStream)(uint32_t stream, uint8_t* output, uint32_t* outputBytes);
    uint32_t (*beGetInfoTag)(uint32_t stream, uint8_t* output, uint32_t outputSize,
                             uint32_t* outputBytes);
    uint32_t (*beCloseStream)(uint32_t stream);
};

// The table bound to the linked liblame_enc.
const TLameDll& RealLameDll();

// The table in use; RealLameDll() unless a test swapped in another.
const TLameDll& LameDll();

// Puts `table` in use for as long as the object lives, then restores the previous table.
class TLameDllOverride {
public:
    explicit TLameDllOverride(const TLameDll& table);
    ~TLameDllOverride();
    TLameDllOverride(const TLameDllOverride&) = delete;
    TLameDllOverride& operator=(const TLameDllOverride&) = delete;

private:
    const TLameDll* previous_;
};
