#pragma once

#include "verify/RipRecord.h"

#include <string>

// "6 of 6 tracks accurately ripped", "6 tracks ripped, not in the AccurateRip database", ...
std::string RipSummary(const RipRecord& record);

// The plain-text rip log.
std::string FormatRipLog(const RipRecord& record);

// The JSON report: program, drive, read_offset, settings {name: value}, disc {key,
// cddb_id, accuraterip_id, musicbrainz_id, artist, album}, tracks [{number, file, title,
// sectors, damaged, damaged_sectors, crc32, test_crc32, accuraterip {v1, v2, result,
// confidence}, outcome, reason}], not_read [{number, file, title, outcome, reason}], exit.
// Checksums as 8 hex digits.
std::string FormatRipJson(const RipRecord& record);

// The log's path in folder: the album title when known, else the disc key, then
// ".log"; " (2)", " (3)", ... before ".log" when the name is taken, so that a new job
// never overwrites an old log.
std::string RipLogPath(const std::string& folder, const RipRecord& record);
// The n-th candidate: "<name>.log" for n 1, "<name> (n).log" after.
std::string RipLogPath(const std::string& folder, const RipRecord& record, int n);

// Writes the log to RipLogPath; returns the path, or empty when it could not be written.
std::string WriteRipLog(const std::string& folder, const RipRecord& record);
