#include "metadata/CoverArt.h"

#include "platform/HttpClient.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Metadata {

namespace {

bool StartsWith(const std::vector<uint8_t>& bytes, std::initializer_list<uint8_t> prefix) {
    if (bytes.size() < prefix.size())
        return false;
    std::size_t i = 0;
    for (uint8_t b : prefix)
        if (bytes[i++] != b)
            return false;
    return true;
}

std::string Reason(int error) {
    return std::strerror(error);
}

// Writes all of `bytes` to a new hidden file in `folder`; its name in *partial.
bool WritePartial(const std::string& folder, const std::vector<uint8_t>& bytes,
                  std::string* partial, std::string* error) {
    std::string name = folder + "/.cover.partial-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        *error = "cannot write the cover into " + folder + ": " + Reason(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error =
                "cannot write the cover into " + folder + ": " + Reason(n < 0 ? errno : ENOSPC);
            ::close(fd);
            ::unlink(name.c_str());
            return false;
        }
        done += std::size_t(n);
    }
    if (::close(fd) != 0) {
        *error = "cannot write the cover into " + folder + ": " + Reason(errno);
        ::unlink(name.c_str());
        return false;
    }
    ::fchmodat(AT_FDCWD, name.c_str(), 0644, 0);
    *partial = name;
    return true;
}

// Gives `partial` the name `name` only when nothing holds it at that moment; where the
// file system cannot rename so, a hard link does the same.
bool PlaceWithoutReplacing(const std::string& partial, const std::string& name) {
    if (::renameat2(AT_FDCWD, partial.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::link(partial.c_str(), name.c_str()) != 0)
        return false;
    ::unlink(partial.c_str());
    return true;
}

} // namespace

std::string CoverArtBase() {
    return Http::BaseAddress("VELMORA_COVERART_URL", "https://coverartarchive.org");
}

std::string FrontCoverUrl(const std::string& base, const std::string& releaseId) {
    // An MBID holds only hexadecimal digits and "-": nothing to escape.
    return base + "/release/" + releaseId + "/front-500";
}

std::shared_ptr<CoverImage> CoverFromBytes(std::vector<uint8_t> bytes) {
    auto image = std::make_shared<CoverImage>();
    if (StartsWith(bytes, {0xff, 0xd8, 0xff})) {
        image->Mime = "image/jpeg";
        image->Extension = "jpg";
    } else if (StartsWith(bytes, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'})) {
        image->Mime = "image/png";
        image->Extension = "png";
    } else {
        return nullptr;
    }
    image->Bytes = std::move(bytes);
    return image;
}

void WaitForCoverSlot(std::chrono::milliseconds interval) {
    using Clock = std::chrono::steady_clock;
    static std::mutex lock;          // guards `next`
    static Clock::time_point next{}; // when the next cover request may go out
    std::lock_guard<std::mutex> guard(lock);
    const Clock::time_point now = Clock::now();
    if (now < next)
        std::this_thread::sleep_for(next - now);
    next = Clock::now() + interval;
}

CoverResult FetchFrontCover(const std::string& releaseId, long timeoutSeconds) {
    CoverResult r;
    if (releaseId.empty()) {
        r.Message = "Cover Art Archive: no release to ask for";
        return r;
    }
    try {
        WaitForCoverSlot();
        const Http::Response answer =
            Http::Get(FrontCoverUrl(CoverArtBase(), releaseId), timeoutSeconds, MaxCoverBytes);
        if (answer.TimedOut) {
            r.Message = "the Cover Art Archive did not answer within " +
                        std::to_string(timeoutSeconds) + " s; no cover";
        } else if (answer.Status == 0) {
            r.Message =
                "the Cover Art Archive could not be reached (" + answer.Error + "); no cover";
        } else if (answer.Status == 404) {
            r.Missing = true;
            r.Message = "the Cover Art Archive has no front cover for this release";
        } else if (answer.Status != 200) {
            r.Message = "the Cover Art Archive answered HTTP " + std::to_string(answer.Status) +
                        "; no cover";
        } else if (!answer.Error.empty()) {
            r.Message =
                "the cover is larger than " + std::to_string(MaxCoverBytes >> 20) + " MB; not used";
        } else if (auto image = CoverFromBytes({answer.Body.begin(), answer.Body.end()})) {
            r.Image = std::move(image);
        } else {
            r.Message = "the Cover Art Archive's answer is not a JPEG or PNG image; no cover";
        }
    } catch (const std::exception& e) {
        r.Message = std::string("Cover Art Archive: ") + e.what();
    }
    return r;
}

bool SaveCoverFile(const std::string& folder, const CoverImage& cover, bool overwrite,
                   std::string* path, std::string* error) {
    std::string why;
    const std::string name = folder + "/cover." + cover.Extension;
    if (path)
        *path = name;
    std::string partial;
    if (!WritePartial(folder, cover.Bytes, &partial, &why)) {
        if (error)
            *error = why;
        return false;
    }
    const bool placed = overwrite ? ::rename(partial.c_str(), name.c_str()) == 0
                                  : PlaceWithoutReplacing(partial, name);
    const int code = errno;
    if (!placed)
        ::unlink(partial.c_str());
    if (placed)
        return true;
    if (error)
        *error = code == EEXIST ? name + " is already there; it was kept"
                                : "cannot write " + name + ": " + Reason(code);
    return false;
}

std::string FetchJobCover(DiscTitles& titles, const CoverChoice& choice, long timeoutSeconds) {
    titles.Cover = nullptr;
    titles.EmbedCover = choice.Embed;
    if (!choice.Fetch || titles.Chosen.Id.empty())
        return {};
    CoverResult r = FetchFrontCover(titles.Chosen.Id, timeoutSeconds);
    titles.Cover = std::move(r.Image);
    return titles.Cover ? std::string() : r.Message;
}

std::string SaveJobCover(const DiscTitles& titles, const std::string& folder, bool overwrite) {
    if (!titles.Cover)
        return {};
    std::string error;
    return SaveCoverFile(folder, *titles.Cover, overwrite, nullptr, &error) ? std::string() : error;
}

} // namespace Metadata
