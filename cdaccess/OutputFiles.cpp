#include "cdaccess/OutputFiles.h"

#include "platform/Paths.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace OutputFiles {

namespace {

constexpr std::size_t NameMax = NAME_MAX; // longest file name (one path part) in bytes
constexpr const char* PartialMark = ".partial-";
constexpr std::size_t RandomChars = 6;

bool IsBlankChar(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

bool IsControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 32 || u == 127;
}

bool IsBadPart(const std::string& part) {
    const std::string p = TrimControl(part);
    return p.empty() || p == "." || p == "..";
}

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder part including its last "/", or "" for a bare name.
std::string FolderPartOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string RandomSuffix() {
    static const char Alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::mt19937 generator{std::random_device{}() ^ static_cast<unsigned>(::getpid())};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof Alphabet - 2);
    std::string s;
    for (std::size_t i = 0; i < RandomChars; ++i) {
        s += Alphabet[pick(generator)];
    }
    return s;
}

// "." + file name + ".partial-", with the file name cut so that the whole fits into
// one path part.
std::string TempPrefix(const std::string& finalName) {
    std::string base = FileNameOf(finalName);
    const std::size_t room = NameMax - 1 - std::strlen(PartialMark) - RandomChars;
    if (base.size() > room) {
        base.resize(room);
    }
    return FolderPartOf(finalName) + "." + base + PartialMark;
}

[[noreturn]] void CannotCreate(const std::string& name, int error) {
    throw EFCreateError("Cannot create file " + name + ": " + ErrorText(error));
}

} // namespace

namespace {

// The name with its control characters as \xHH, so that a NUL does not cut the message
// short and an escape sequence does not reach a terminal.
void AppendVisible(std::string& out, char c) {
    if (IsControl(c)) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
        out += hex;
    } else {
        out += c;
    }
}

std::string VisibleName(const std::string& name) {
    std::string out;
    for (char c : name) {
        AppendVisible(out, c);
    }
    return out;
}

} // namespace

EInvalidFileName::EInvalidFileName(const std::string& name)
    : std::runtime_error("Invalid file name: " + VisibleName(name)) {}

std::string TrimControl(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsBlankChar(text[first])) {
        ++first;
    }
    while (last > first && IsBlankChar(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
}

bool IsBlankFolder(const std::string& outDir) {
    return TrimControl(outDir).empty();
}

bool IsInvalidTitle(const std::string& title) {
    const std::string t = TrimControl(title);
    if (t.empty() || t.front() == '/') {
        return true;
    }
    for (char c : t) {
        if (IsControl(c)) {
            return true;
        }
    }
    std::size_t from = 0;
    for (;;) {
        const std::size_t slash = t.find('/', from);
        if (IsBadPart(t.substr(from, slash - from))) {
            return true;
        }
        if (slash == std::string::npos) {
            return false;
        }
        from = slash + 1;
    }
}

std::string OutputName(const std::string& outDir, const std::string& title, bool mp3) {
    std::string folder = TrimControl(outDir);
    if (folder.empty() || folder.back() != '/') {
        folder += '/';
    }
    return folder + TrimControl(title) + (mp3 ? ".mp3" : ".wav");
}

void CheckTitle(const std::string& title, const std::string& name) {
    if (IsInvalidTitle(title)) {
        throw EInvalidFileName(name);
    }
}

bool CreateFolderOf(const std::string& name) {
    const std::string folder = FolderPartOf(name);
    return folder.empty() ||
           Paths::createFolders(folder.size() > 1 ? folder.substr(0, folder.size() - 1) : folder);
}

std::string EscapeControls(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            AppendVisible(out, c);
        }
    }
    return out;
}

std::string ErrorText(int error) {
    return std::strerror(error);
}

// ---------------------------------------------------------------------------
// The partial file

TPartialFile::TPartialFile(std::string finalName) : Final(std::move(finalName)) {
    struct stat st {};
    Previous = ::lstat(Final.c_str(), &st) == 0;
    if (Previous && S_ISDIR(st.st_mode)) {
        CannotCreate(Final, EISDIR);
    }
    if (Previous && (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode))) {
        Direct = true;
        Temp = Final;
        // A pipe opens without waiting: with no program reading it, opening would block
        // for ever. One that has a reader is then written as usual.
        Fd = ::open(Final.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        if (Fd < 0 && errno == ENXIO) {
            throw EFCreateError("Cannot create file " + Final + ": no program reads this pipe");
        }
        if (Fd < 0) {
            CannotCreate(Final, errno);
        }
        ::fcntl(Fd, F_SETFL, ::fcntl(Fd, F_GETFL) & ~O_NONBLOCK);
        return;
    }
    if (FileNameOf(Final).size() > NameMax) {
        CannotCreate(Final, ENAMETOOLONG);
    }
    const std::string prefix = TempPrefix(Final);
    for (int attempt = 0; attempt < 100; ++attempt) {
        Temp = prefix + RandomSuffix();
        Fd = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (Fd >= 0 || errno != EEXIST) {
            break;
        }
    }
    if (Fd < 0) {
        CannotCreate(Final, errno);
    }
}

TPartialFile::~TPartialFile() {
    if (!Done) {
        Discard();
    }
}

bool TPartialFile::Write(const void* data, std::size_t count) {
    return WriteAt(-1, data, count);
}

bool TPartialFile::WriteAt(off_t pos, const void* data, std::size_t count) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (count > 0) {
        const ssize_t n = pos < 0 ? ::write(Fd, p, count) : ::pwrite(Fd, p, count, pos);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // A write that stops short without an error is a full disk.
            LastError = n < 0 ? errno : ENOSPC;
            return false;
        }
        p += n;
        count -= static_cast<std::size_t>(n);
        if (pos >= 0) {
            pos += n;
        }
    }
    return true;
}

bool TPartialFile::Close() {
    if (Fd < 0) {
        return true;
    }
    const int fd = Fd;
    Fd = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        LastError = errno;
        return false;
    }
    return true;
}

bool TPartialFile::Finish(bool complete) {
    Done = true;
    const bool closed = Close();
    if (Direct) {
        return true;
    }
    if (!complete && Previous) {
        ::unlink(Temp.c_str());
        return false;
    }
    if (!closed && complete) {
        ::unlink(Temp.c_str());
        CannotCreate(Final, LastError);
    }
    // rename() replaces whatever name is there, a symbolic link included, and never
    // writes through it.
    if (::rename(Temp.c_str(), Final.c_str()) != 0) {
        const int error = errno;
        ::unlink(Temp.c_str());
        CannotCreate(Final, error);
    }
    return true;
}

void TPartialFile::Discard() {
    Done = true;
    Close();
    if (!Direct) {
        ::unlink(Temp.c_str());
    }
}

} // namespace OutputFiles
