#include "cdaccess/OutputFiles.h"

#include "encoding/ByteSink.h"
#include "platform/Paths.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <stdio.h>
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

// Asked while a direct write waits for room; set once by the front end.
std::atomic<StopCheck> Stop{nullptr};

// Encoder threads make partial files at once: the generator is theirs in turn.
struct SharedGenerator {
    std::mutex Lock; // guards Generator
    std::mt19937 Generator{std::random_device{}() ^ static_cast<unsigned>(::getpid())};
};

SharedGenerator& Generator() {
    static SharedGenerator shared; // made once, thread-safe; used only under its lock
    return shared;
}

std::string RandomSuffix() {
    static constexpr char Alphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof Alphabet - 2);
    std::string s;
    SharedGenerator& g = Generator();
    std::lock_guard lock(g.Lock);
    for (std::size_t i = 0; i < RandomChars; ++i) {
        s += Alphabet[pick(g.Generator)];
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
    throw EFCreateError("Cannot create file " + name + ": " + ErrorText(error), error);
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

namespace {

constexpr const char* LookAlikeSlash = "\xE2\x88\x95"; // U+2215 DIVISION SLASH
constexpr const char* LookAlikeDot = "\xE2\x80\xA4";   // U+2024 ONE DOT LEADER

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// A C1 control character (U+0080 to U+009F) in UTF-8 starts at `at`.
bool IsC1At(const std::string& text, std::size_t at) {
    return static_cast<unsigned char>(text[at]) == 0xC2 && at + 1 < text.size() &&
           static_cast<unsigned char>(text[at + 1]) >= 0x80 &&
           static_cast<unsigned char>(text[at + 1]) <= 0x9F;
}

// The part, cut to `room` bytes at a character boundary; `cut` set when it was longer.
std::string FitPart(const std::string& part, std::size_t room, bool& cut) {
    if (part.size() <= room) {
        return part;
    }
    cut = true;
    return CutAtCharacter(part, room);
}

} // namespace

std::string TitleFromOutside(const std::string& title) {
    std::string out;
    for (char c : title) {
        if (c == '/') {
            out += LookAlikeSlash;
        } else {
            out += IsControl(c) ? ' ' : c;
        }
    }
    return out;
}

std::string VisiblePart(const std::string& part) {
    std::size_t dots = 0;
    while (dots < part.size() && part[dots] == '.') {
        ++dots;
    }
    std::string out;
    for (std::size_t i = 0; i < dots; ++i) {
        out += LookAlikeDot;
    }
    return out + part.substr(dots);
}

std::string CutAtCharacter(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text;
    }
    std::size_t end = maxBytes;
    while (end > 0 && IsContinuationByte(text[end])) {
        --end;
    }
    return text.substr(0, end);
}

TOutputName MakeOutputName(const std::string& outDir, const std::string& title, bool mp3) {
    TOutputName result;
    std::string folder = TrimControl(outDir);
    if (folder.empty() || folder.back() != '/') {
        folder += '/';
    }
    const std::string extension = mp3 ? ".mp3" : ".wav";
    const std::string t = TrimControl(title);
    if (IsInvalidTitle(t)) {
        // Never created: the refusal shows the name as the title formed it.
        result.Path = folder + t + extension;
        return result;
    }
    std::string path = folder;
    std::size_t from = 0;
    for (;;) {
        const std::size_t slash = t.find('/', from);
        const std::string part = VisiblePart(t.substr(from, slash - from));
        if (slash == std::string::npos) {
            path += FitPart(part, NameMax - extension.size(), result.Shortened) + extension;
            break;
        }
        path += FitPart(part, NameMax, result.Shortened) + "/";
        from = slash + 1;
    }
    result.Path = path;
    return result;
}

std::string OutputName(const std::string& outDir, const std::string& title, bool mp3) {
    return MakeOutputName(outDir, title, mp3).Path;
}

std::string SafeFileName(const std::string& text, std::size_t maxBytes,
                         const std::string& fallback) {
    std::string clean;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsC1At(text, i)) {
            ++i;
        } else if (text[i] == '/') {
            clean += '-';
        } else if (!IsControl(text[i])) {
            clean += text[i];
        }
    }
    clean = CutAtCharacter(VisiblePart(TrimControl(clean)), maxBytes);
    return TrimControl(clean).empty() ? fallback : clean;
}

std::string ShortForTerminal(const std::string& text, std::size_t maxBytes) {
    const std::string shown = EscapeControls(text);
    if (shown.size() <= maxBytes) {
        return shown;
    }
    return CutAtCharacter(shown, maxBytes) + "... (" + std::to_string(text.size()) + " bytes)";
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
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (IsC1At(text, i)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned char>(text[++i]));
            out += hex;
            continue;
        }
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

TPartialFile::TPartialFile(std::string finalName, TPartialOptions options)
    : Final(std::move(finalName)), Options(options) {
    if (Options.MakeFolders) {
        MakeFolders();
    }
    struct stat st {};
    Previous = ::lstat(Final.c_str(), &st) == 0;
    if (Previous && S_ISDIR(st.st_mode)) {
        Fail(EISDIR);
    }
    const bool special = S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode);
    if (Previous && special && Options.RegularOnly) {
        RemoveMadeFolders();
        throw EFCreateError("Cannot create file " + Final + ": " + Final + " is not a regular file",
                            EINVAL);
    }
    if (Previous && special) {
        IsDirect = true;
        Temp = Final;
        // A pipe opens without waiting: with no program reading it, opening would block
        // for ever. One that has a reader is then written as usual.
        Fd = ::open(Final.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        if (Fd < 0 && errno == ENXIO) {
            RemoveMadeFolders();
            throw EFCreateError("Cannot create file " + Final + ": no program reads this pipe",
                                ENXIO);
        }
        if (Fd < 0) {
            Fail(errno);
        }
        if (!Options.StartWrittenAgainBy.empty() && ::lseek(Fd, 0, SEEK_CUR) < 0) {
            Close();
            Done = true;
            RemoveMadeFolders();
            throw EFCreateError("Cannot create file " + Final + ": " + Final +
                                    " is a pipe or a terminal, which cannot take " +
                                    Options.StartWrittenAgainBy +
                                    ": its start is written again when the track ends (a WAV "
                                    "file can go into one)",
                                ESPIPE);
        }
        // The descriptor stays non-blocking: WriteAt waits for room itself and can
        // then give up on a stop.
        return;
    }
    if (FileNameOf(Final).size() > NameMax) {
        Fail(ENAMETOOLONG);
    }
    OpenTemp();
}

// The folders of the final name that are missing, made from the top down. mkdir's own
// reason (a read-only parent: "Permission denied") is the track's.
void TPartialFile::MakeFolders() {
    const std::string folder = FolderPartOf(Final);
    for (std::size_t slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0777) == 0) {
            MadeFolders.push_back(part);
        } else if (errno != EEXIST) {
            Fail(errno);
        }
    }
}

// Only folders this file made, only when empty: another track's file in one keeps it.
void TPartialFile::RemoveMadeFolders() {
    for (auto it = MadeFolders.rbegin(); it != MadeFolders.rend(); ++it) {
        if (::rmdir(it->c_str()) != 0) {
            break;
        }
    }
    MadeFolders.clear();
}

void TPartialFile::OpenTemp() {
    const std::string prefix = TempPrefix(Final);
    for (int attempt = 0; attempt < 100; ++attempt) {
        Temp = prefix + RandomSuffix();
        Fd = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (Fd >= 0) {
            return;
        }
        // Another track that failed may have removed a folder this one found made.
        if (errno == ENOENT && Options.MakeFolders && attempt < 3) {
            MakeFolders();
            continue;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    Fail(errno);
}

void TPartialFile::Fail(int error) {
    RemoveMadeFolders();
    CannotCreate(Final, error);
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
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && IsDirect) {
            if (!WaitForRoom()) {
                LastError = EINTR;
                return false;
            }
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

bool TPartialFile::AppendFrom(int fd) {
    for (;;) {
        const ssize_t n = ::copy_file_range(fd, nullptr, Fd, nullptr, std::size_t{1} << 30, 0);
        if (n > 0) {
            continue;
        }
        if (n == 0) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
            errno != EBADF) {
            LastError = errno;
            return false;
        }
        break; // no copy by the kernel between these two: through this process
    }
    // Write() keeps its own error; a failed read leaves its errno here.
    int readError = 0;
    if (Encoding::ReadToEnd(
            fd, [this](const uint8_t* p, std::size_t n) { return Write(p, n); }, &readError)) {
        return true;
    }
    if (readError != 0) {
        LastError = readError;
    }
    return false;
}

// A pipe or device that takes nothing now: waits until it does, asking the stop check
// every 100 ms. False when the check says stop.
bool TPartialFile::WaitForRoom() {
    for (;;) {
        const StopCheck stop = Stop.load();
        if (stop != nullptr && stop()) {
            return false;
        }
        pollfd room{Fd, POLLOUT, 0};
        const int ready = ::poll(&room, 1, 100);
        if (ready != 0 && !(ready < 0 && errno == EINTR)) {
            return true; // room, or an error that the next write reports
        }
    }
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

// Renames the partial file to the final name without replacing more than the options
// allow. Where the file system has no RENAME_NOREPLACE, a hard link does the same:
// link() fails on a name that exists.
bool TPartialFile::Rename(int& error) {
    const bool replace = Options.Replace == TReplace::Anything ||
                         (Options.Replace == TReplace::WhatWasThere && Previous);
    // rename() replaces whatever name is there, a symbolic link included, and never
    // writes through it.
    if (replace
            ? ::rename(Temp.c_str(), Final.c_str()) == 0
            : ::renameat2(AT_FDCWD, Temp.c_str(), AT_FDCWD, Final.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    error = errno;
    if (replace || (error != EINVAL && error != ENOSYS)) {
        return false;
    }
    if (::link(Temp.c_str(), Final.c_str()) != 0) {
        error = errno;
        return false;
    }
    ::unlink(Temp.c_str());
    return true;
}

bool TPartialFile::Finish(bool complete) {
    Done = true;
    const bool closed = Close();
    if (IsDirect) {
        return true;
    }
    if (!complete && Previous) {
        ::unlink(Temp.c_str());
        return false;
    }
    if (!closed && complete) {
        ::unlink(Temp.c_str());
        Fail(LastError);
    }
    int error = 0;
    if (Rename(error)) {
        return true;
    }
    ::unlink(Temp.c_str());
    if (error == EEXIST && !complete) {
        RemoveMadeFolders();
        return false; // a track that ended early never takes a name that appeared
    }
    RemoveMadeFolders();
    if (error == EEXIST) {
        throw EFCreateError("Cannot create file " + Final + ": " + Final +
                                " already exists (--overwrite replaces it)",
                            EEXIST);
    }
    CannotCreate(Final, error);
}

void TPartialFile::Discard() {
    Done = true;
    Close();
    if (!IsDirect) {
        ::unlink(Temp.c_str());
        RemoveMadeFolders();
    }
}

std::string TPartialFile::Keep() {
    Done = true;
    Close();
    return IsDirect ? std::string() : Temp;
}

void SetStopCheck(StopCheck check) {
    Stop.store(check);
}

int OpenRegularFile(const std::string& path, std::string* error) {
    // O_NONBLOCK: opening a pipe for reading would otherwise wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        *error = ErrorText(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = "not a regular file";
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool WriteWholeFile(const std::string& name, const std::string& text, TReplace replace,
                    int& error) {
    error = 0;
    try {
        TPartialFile file(name, TPartialOptions{replace, false});
        if (!file.Direct() && replace == TReplace::Nothing && file.PreviousExisted()) {
            error = EEXIST;
            return false;
        }
        if (!file.Write(text.data(), text.size())) {
            error = file.Error();
            return false;
        }
        file.Finish(true);
        return true;
    } catch (const EFCreateError& e) {
        error = e.Code != 0 ? e.Code : EIO;
    }
    return false;
}

} // namespace OutputFiles
