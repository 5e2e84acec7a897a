#pragma once

#include "metadata/TrackTags.h"

#include <string>

// The ID3v2.4 tag at the start of an MP3 file, written with TagLib beside the ID3v1
// tag at its end (which stays byte for byte as it was, last in the file).
namespace Metadata {

// Writes the tag, text in UTF-8, replacing an ID3v2 tag the file had, with the frames
// and descriptions the names taggers write: TIT2, TPE1, TALB, TPE2, TSOP, TSO2, TRCK
// "n/total", TPOS "n/total", TDRC (the date as given: year, year-month or full date),
// TSRC, UFID "http://musicbrainz.org" (the recording ID), TXXX "MusicBrainz Album Id",
// "MusicBrainz Disc Id", "MusicBrainz Release Track Id", "MusicBrainz Artist Id" and
// "MusicBrainz Album Artist Id" (one value per artist), "MusicBrainz Release Group Id",
// "MusicBrainz Album Type", "MusicBrainz Album Status", "MusicBrainz Album Release
// Country", "BARCODE", "CATALOGNUMBER", "ASIN", and an APIC front cover. A field that
// is not known gives no frame. False with the reason in *error when the file cannot be
// read as MP3 or cannot be written.
bool WriteId3v2Tag(const std::string& path, const TagFields& fields, std::string* error);

// "n/total", "n" without a total, "" without n.
std::string NumberOfTotal(int number, int total);

} // namespace Metadata
