#include "verify/ReportFile.h"

#include "cdaccess/OutputFiles.h"
#include "verify/RipLog.h"

#include <cerrno>
#include <fstream>

#include <sys/stat.h>

namespace {

// How every report begins (FormatRipJson: the program first).
constexpr const char* ReportStart = "{\n  \"program\": \"";

// A report an earlier rip wrote: it may be replaced without --overwrite.
bool IsReport(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string start(std::char_traits<char>::length(ReportStart), '\0');
    in.read(start.data(), static_cast<std::streamsize>(start.size()));
    return in && start == ReportStart;
}

// The same file as one of the rip's tracks (by device and inode, however it is spelt).
bool IsTrackOf(const struct stat& report, const RipRecord& record) {
    for (const TrackRecord& t : record.Tracks) {
        struct stat track {};
        if (::stat(t.File.c_str(), &track) == 0 && track.st_dev == report.st_dev &&
            track.st_ino == report.st_ino) {
            return true;
        }
    }
    return false;
}

bool WriteDirectly(const std::string& path, const std::string& text, std::string* why) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        *why = "cannot write to it";
    }
    return static_cast<bool>(out);
}

} // namespace

bool WriteRipReport(const std::string& path, const RipRecord& record, bool overwrite,
                    std::string* why) {
    std::string ignored;
    why = why != nullptr ? why : &ignored;
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))) {
        return WriteDirectly(path, FormatRipJson(record), why);
    }
    if (exists && IsTrackOf(st, record)) {
        *why = "it is a file of this rip";
        return false;
    }
    if (exists && S_ISREG(st.st_mode) && !overwrite && !IsReport(path)) {
        *why = "it exists and is not a report (--overwrite replaces it)";
        return false;
    }
    int error = 0;
    if (OutputFiles::WriteWholeFile(path, FormatRipJson(record),
                                    overwrite ? OutputFiles::TReplace::Anything
                                              : OutputFiles::TReplace::WhatWasThere,
                                    error)) {
        return true;
    }
    *why = error == EEXIST ? "it appeared meanwhile (--overwrite replaces it)"
                           : OutputFiles::ErrorText(error);
    return false;
}
