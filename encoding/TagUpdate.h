#pragma once

#include "encoding/ByteSink.h"
#include "encoding/VorbisComments.h"

#include <string>

// Changing the tags of a finished file (the album gain, known when the job ends) by
// writing a new copy: the caller puts the copy beside the file and renames it over
// the file, so that the old file stays whole until the new one is.
namespace Encoding {

enum class TTaggedFormat { Flac, Opus };

// Copies the FLAC or Opus file at `path` into `out` with `set` merged into its comments;
// the audio bytes are copied as they are. False with the reason when the file cannot be
// read or is not of that format.
bool CopyWithComments(const std::string& path, TTaggedFormat format, const TVorbisComments& set,
                      TByteSink& out, std::string* error);

// Puts each of `set` into the ID3v2 tag of the MP3 file at `path` as a TXXX frame with
// the name as description (REPLAYGAIN_TRACK_GAIN, ...), as taggers write them, replacing
// frames of the same description; the ID3v1 tag at the end stays as it is.
bool WriteId3UserTexts(const std::string& path, const TVorbisComments& set, std::string* error);

} // namespace Encoding
