#pragma once

#include "metadata/Id3v2Tag.h"
#include "ripjob/RipJob.h"

#include <map>

// The tags of an MP3 track: the ID3v1 title tag at its end (the track's title) and the
// ID3v2 tag at its start. The ID3v2 fields of every track are worked out before the job
// starts, so that writing them reaches nothing but the file.
class Mp3TagStep : public TagStep {
public:
    // The ID3v2 fields by track number; a track without an entry gets no ID3v2 tag.
    std::map<int, Metadata::TagFields> Fields;
    bool Write(const std::string& path, const JobTrack& track, std::string* error) const override;
};

// Writes the ID3v1 title tag into the file; "" or what went wrong.
std::string WriteTitleTag(const std::string& path, const std::string& title);
