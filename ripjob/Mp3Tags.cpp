#include "ripjob/Mp3Tags.h"

#include "cdaccess/OutputFiles.h"
#include "encoding/MP3Info.h"

std::string WriteTitleTag(const std::string& path, const std::string& title) {
    TMP3Info info;
    try {
        info.SetFilename(path);
        info.SetTitle(title);
        info.Save();
    } catch (const std::exception& e) {
        return e.what();
    }
    if (info.Saved()) {
        return {};
    }
    // Save reports input/output failures only through Saved; the system says why.
    return info.SystemError() != 0 ? OutputFiles::ErrorText(info.SystemError()) : info.Error();
}

bool Mp3TagStep::Write(const std::string& path, const JobTrack& track, std::string* error) const {
    if (const std::string why = WriteTitleTag(path, track.Title); !why.empty()) {
        *error = track.FileName + ": cannot write the title tag: " + why;
        return false;
    }
    const auto fields = Fields.find(track.Number);
    if (fields == Fields.end()) {
        return true;
    }
    std::string why;
    if (!Metadata::WriteId3v2Tag(path, fields->second, &why)) {
        // The reason names the file the user asked for, not the temporary one.
        for (std::size_t at = why.find(path); !path.empty() && at != std::string::npos;
             at = why.find(path, at + track.FileName.size())) {
            why.replace(at, path.size(), track.FileName);
        }
        *error = track.FileName + ": cannot write the ID3v2 tag: " +
                 (why.empty() ? std::string("unknown error") : why);
        return false;
    }
    return true;
}
