#pragma once

#include "verify/RipRecord.h"

#include <string>

// Writes the JSON report (FormatRipJson) as a track is written: into a partial file
// beside it, then renamed, so that a full disk or a crash never leaves a short report.
// An existing file is replaced only with `overwrite` or when it is a report an earlier
// rip wrote, and never when it is one of this rip's own files. A device or a pipe
// (/dev/stdout) is written directly. False with the reason in *why otherwise.
bool WriteRipReport(const std::string& path, const RipRecord& record, bool overwrite,
                    std::string* why);
