#include "imagecheck.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace cdrip {
namespace {

std::string lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string extensionOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    return lower(path.substr(dot));
}

uint64_t bigEndian(const uint8_t* p, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | p[i];
    return v;
}

bool knownChunk(const char* id) {
    static const char* const ids[] = {"CUES", "CUEX", "DAOI", "DAOX", "CDTX",
                                      "ETNF", "ETN2", "SINF", "SINX", "MTYP",
                                      "DINF", "TOCT", "RELO", "AFNM", "END!"};
    for (const char* known : ids)
        if (std::memcmp(id, known, 4) == 0)
            return true;
    return false;
}

} // namespace

std::string fileProblem(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return path + ": no such file";
    if (!S_ISREG(st.st_mode))
        return path + ": not a regular file";
    return "";
}

std::string nrgProblem(const ReadAt& read, uint64_t size) {
    uint8_t foot[12];
    if (size < 12 || !read(size - 12, foot, 12))
        return "too short for an NRG image";
    uint64_t offset = 0, chainEnd = 0;
    if (std::memcmp(foot, "NER5", 4) == 0) {
        offset = bigEndian(foot + 4, 8);
        chainEnd = size - 12;
    } else if (std::memcmp(foot + 4, "NERO", 4) == 0) {
        offset = bigEndian(foot + 8, 4);
        chainEnd = size - 8;
    } else {
        return "no NRG footer (NER5 or NERO) at the end";
    }
    if (offset >= chainEnd)
        return "the NRG footer points beyond the image";
    for (int chunks = 0; chunks < 10000; ++chunks) {
        uint8_t head[8];
        if (offset + 8 > chainEnd || !read(offset, head, 8))
            return "the NRG chunk chain runs past the end of the image";
        char id[5] = {};
        std::memcpy(id, head, 4);
        const uint64_t length = bigEndian(head + 4, 4);
        if (!knownChunk(id)) {
            std::string shown;
            for (char c : std::string(id, 4))
                shown += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
            return "unknown NRG chunk \"" + shown + "\"";
        }
        if (std::memcmp(id, "END!", 4) == 0)
            return "";
        if (length == 0 || offset + 8 + length > chainEnd)
            return std::string("NRG chunk ") + id + " of " + std::to_string(length) +
                   " bytes does not fit in the image";
        offset += 8 + length;
    }
    return "the NRG chunk chain does not end";
}

std::string imageProblem(const std::string& path) {
    if (std::string why = fileProblem(path); !why.empty())
        return why;
    const std::string ext = extensionOf(path);
    if (ext == ".nrg") {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return path + ": cannot be opened";
        struct stat st {};
        ::fstat(fd, &st);
        const ReadAt readAt = [fd](uint64_t at, void* out, size_t n) {
            return ::pread(fd, out, n, off_t(at)) == ssize_t(n);
        };
        std::string why = nrgProblem(readAt, uint64_t(st.st_size));
        ::close(fd);
        return why.empty() ? "" : path + ": " + why;
    }
    return "";
}

} // namespace cdrip
