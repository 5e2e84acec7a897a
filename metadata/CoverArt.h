#pragma once

#include "metadata/DiscTitles.h"
#include "metadata/TrackTags.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// The release's front cover from the Cover Art Archive: the request (at most one a
// second, bounded in time and size), the image's real type from its bytes, and the
// cover file written once beside the job's files.
namespace Metadata {

// The most a cover may be; a larger answer is refused.
constexpr std::size_t MaxCoverBytes = std::size_t(8) << 20;

// The address of the archive: VELMORA_COVERART_URL when set, else the public one.
std::string CoverArtBase();

// base + "/release/<mbid>/front-500": the front image, 500 pixels wide.
std::string FrontCoverUrl(const std::string& base, const std::string& releaseId);

// The image's type by its first bytes: JPEG (FF D8 FF) or PNG (its 8-byte signature).
// Null when it is neither.
std::shared_ptr<CoverImage> CoverFromBytes(std::vector<uint8_t> bytes);

struct CoverResult {
    std::shared_ptr<const CoverImage> Image; // null: no cover
    bool Missing = false;                    // the archive has no front cover (404): a normal case
    std::string Message;                     // one line for the user when there is no cover
};

// Fetches the release's front cover: one request, at most timeoutSeconds. Never throws.
CoverResult FetchFrontCover(const std::string& releaseId, long timeoutSeconds = 10);

// Waits for this process's next cover request slot (one a second, as MusicBrainz asks
// of its services' clients). Safe to call from several threads.
void WaitForCoverSlot(std::chrono::milliseconds interval = std::chrono::milliseconds(1000));

// Writes "cover.jpg" or "cover.png" (by the image's type) into `folder` through a
// hidden partial file. An existing file of that name is replaced only when
// `overwrite`; otherwise it is kept and *error says so. *path receives the name.
bool SaveCoverFile(const std::string& folder, const CoverImage& cover, bool overwrite,
                   std::string* path, std::string* error);

// ---- Once per job

// From the settings (CoverArt=0, EmbedCover=0 in [System]) and the command line
// (--no-cover, --cover-file-only).
struct CoverChoice {
    bool Fetch = true; // ask the archive at all
    bool Embed = true; // put the cover into the tags too, not only into the cover file
};

// Fetches the chosen release's front cover into titles.Cover when `choice` asks for it
// and a release was found. Returns one line for the user when there is no cover (a
// missing one included, said once here), else "".
std::string FetchJobCover(DiscTitles& titles, const CoverChoice& choice, long timeoutSeconds = 10);

// Writes the job's cover file into `folder` (once, at the job's end, when some track was
// written). Returns one line for the user when it could not, else "".
std::string SaveJobCover(const DiscTitles& titles, const std::string& folder, bool overwrite);

} // namespace Metadata
