#include "encoding/MP3Info.h"

#include "platform/Cp1252.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

constexpr size_t kTagSize = 128;
constexpr uint8_t kOtherGenre = 12;
constexpr size_t kTextLength = 30;
constexpr size_t kYearLength = 4;

// Record offsets of the ID3v1 fields.
constexpr size_t kTitleAt = 3;
constexpr size_t kArtistAt = 33;
constexpr size_t kAlbumAt = 63;
constexpr size_t kYearAt = 93;
constexpr size_t kCommentAt = 97;
constexpr size_t kGenreAt = 127;

// The genre table in index order; there is no name between "Swing" (83) and "Bebob" (84).
const char* const kGenreText =
    "Blues,Classic Rock,Country,Dance,Disco,Funk,Grunge,Hip-Hop,Jazz,Metal,"
    "New Age,Oldies,Other,Pop,R&B,Rap,Reggae,Rock,Techno,Industrial,"
    "Alternative,Ska,Death Metal,Pranks,Soundtrack,Euro-Techno,Ambient,Trip-Hop,Vocal,Jazz+Funk,"
    "Fusion,Trance,Classical,Instrumental,Acid,House,Game,Sound Clip,Gospel,Noise,"
    "AlternRock,Bass,Soul,Punk,Space,Meditative,Instrumental Pop,Instrumental Rock,Ethnic,"
    "Gothic,"
    "Darkwave,Techno-Industrial,Electronic,Pop-Folk,Eurodance,Dream,Southern Rock,Comedy,Cult,"
    "Gangsta,"
    "Top 40,Christian Rap,Pop/Funk,Jungle,Native American,Cabaret,New Wave,Psychedelic,Rave,"
    "Showtunes,"
    "Trailer,Lo-Fi,Tribal,Acid Punk,Acid Jazz,Polka,Retro,Musical,Rock & Roll,Hard Rock,"
    "Folk,Folk/Rock,National Folk,Swing,Bebob,Latin,Revival,Celtic,Bluegrass,Avantgarde,"
    "Gothic Rock,Progressive Rock,Psychedelic Rock,Symphonic Rock,Slow Rock,Big Band,Chorus,"
    "Easy Listening,Acoustic,Humour,"
    "Speech,Chanson,Opera,Chamber Music,Sonata,Symphony,Booty Bass,Primus,Porn Groove,Satire,"
    "Slow Jam,Club,Tango,Samba,Folklore";

std::vector<std::string> SplitGenres() {
    std::vector<std::string> names;
    std::string name;
    for (const char* p = kGenreText; *p != '\0'; ++p) {
        if (*p == ',') {
            names.push_back(name);
            name.clear();
        } else {
            name += *p;
        }
    }
    names.push_back(name);
    return names;
}

// The first `count` characters of a UTF-8 text; a byte that starts no UTF-8 sequence
// counts as one character (it becomes '?' in the tag).
std::string FirstCharacters(const std::string& text, size_t count) {
    size_t i = 0;
    for (size_t n = 0; n < count && i < text.size(); ++n) {
        char32_t cp = 0;
        const size_t length = Cp1252::decodeUtf8(text, i, cp);
        i += length == 0 ? 1 : length;
    }
    return text.substr(0, i);
}

// A field cut by position from the tag text, trailing spaces removed, as UTF-8.
std::string Field(const std::string& text, size_t offset, size_t length) {
    if (offset >= text.size()) {
        return {};
    }
    std::string field = text.substr(offset, length);
    field.erase(field.find_last_not_of(' ') + 1);
    return Cp1252::toUtf8(field);
}

void PutField(std::array<char, kTagSize>& record, size_t offset, size_t length,
              const std::string& text) {
    const std::string bytes = Cp1252::fromUtf8(text);
    std::memcpy(record.data() + offset, bytes.data(), std::min(length, bytes.size()));
}

// A file descriptor that closes itself; Close() reports whether closing worked.
class FileHandle {
public:
    FileHandle(const std::string& name, int flags) : fd_(::open(name.c_str(), flags)) {}
    ~FileHandle() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // Size in bytes, -1 on failure.
    long long Size() const {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
    }
    bool ReadAt(char* data, size_t size, long long offset) const {
        return ::pread(fd_, data, size, offset) == static_cast<ssize_t>(size);
    }
    // Writes every byte; a short write is retried so that its cause shows in errno.
    bool WriteAt(const char* data, size_t size, long long offset) const {
        errno = 0;
        while (size > 0) {
            const ssize_t n = ::pwrite(fd_, data, size, offset);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            data += n;
            size -= static_cast<size_t>(n);
            offset += n;
        }
        return true;
    }
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool FileExists(const std::string& name) {
    std::error_code ec;
    const auto status = std::filesystem::status(name, ec);
    return !ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

[[noreturn]] void RaiseReadError(const std::string& name, int error) {
    throw std::filesystem::filesystem_error("Cannot read the ID3 tag", name,
                                            std::error_code(error, std::generic_category()));
}

bool StartsWithTag(const FileHandle& file, long long size) {
    char id[3]{};
    return size >= static_cast<long long>(kTagSize) &&
           file.ReadAt(id, sizeof(id), size - static_cast<long long>(kTagSize)) &&
           std::memcmp(id, "TAG", 3) == 0;
}

} // namespace

TMP3Info::TMP3Info() : genres_(SplitGenres()) {
    genre_ = genres_[genreID_];
}

void TMP3Info::SetFilename(const std::string& value) {
    filename_ = value;
    ReadID3();
}

void TMP3Info::SetArtist(const std::string& value) {
    artist_ = FirstCharacters(value, kTextLength);
    Fire(onChange);
}

void TMP3Info::SetTitle(const std::string& value) {
    title_ = FirstCharacters(value, kTextLength);
    Fire(onChange);
}

void TMP3Info::SetAlbum(const std::string& value) {
    album_ = FirstCharacters(value, kTextLength);
    Fire(onChange);
}

void TMP3Info::SetYear(const std::string& value) {
    year_ = FirstCharacters(value, kYearLength);
    Fire(onChange);
}

void TMP3Info::SetComment(const std::string& value) {
    comment_ = FirstCharacters(value, kTextLength);
    Fire(onChange);
}

void TMP3Info::SetGenreID(uint8_t value) {
    SetGenreIndex(value);
    Fire(onChange);
}

void TMP3Info::SetGenreIndex(unsigned value) {
    genreID_ = value < genres_.size() ? static_cast<uint8_t>(value) : kOtherGenre;
    genre_ = genres_[genreID_];
}

void TMP3Info::Fire(const TNotifyEvent& event) {
    if (event) {
        event(this);
    }
}

void TMP3Info::Fail(const std::string& message) {
    error_ = message;
    Fire(onError);
}

void TMP3Info::ReadID3() {
    saved_ = false;
    valid_ = true;
    appendedSize_ = -1;
    if (!FileExists(filename_)) {
        valid_ = false;
        Fail("File doesn`t exist !");
        return;
    }
    std::array<char, kTagSize> bytes{};
    ReadLastRecord(bytes);
    const std::string text(bytes.data(), strnlen(bytes.data(), bytes.size()));
    tagIdentifier_ = text.substr(0, 3);
    if (tagIdentifier_ != "TAG") {
        valid_ = false;
        title_ = artist_ = album_ = comment_ = year_ = "";
        SetGenreIndex(kOtherGenre);
        Fail("Wrong file format or no ID3 Tag !");
        return;
    }
    title_ = Field(text, kTitleAt, kTextLength);
    artist_ = Field(text, kArtistAt, kTextLength);
    album_ = Field(text, kAlbumAt, kTextLength);
    comment_ = Field(text, kCommentAt, kTextLength);
    year_ = Field(text, kYearAt, kYearLength);
    SetGenreIndex(static_cast<unsigned char>(bytes[kGenreAt]));
    Fire(onChangeFile);
}

// Reads the file's last 128 bytes. A file that cannot be opened or read, or one shorter
// than a tag, raises an input/output error; the file is then not taken as tagged.
void TMP3Info::ReadLastRecord(std::array<char, 128>& bytes) {
    FileHandle file(filename_, O_RDONLY | O_CLOEXEC);
    if (!file.IsOpen()) {
        valid_ = false;
        RaiseReadError(filename_, errno);
    }
    const long long size = file.Size();
    if (size < static_cast<long long>(kTagSize)) {
        valid_ = false;
        RaiseReadError(filename_, size < 0 ? errno : EINVAL);
    }
    if (!file.ReadAt(bytes.data(), bytes.size(), size - static_cast<long long>(kTagSize))) {
        valid_ = false;
        RaiseReadError(filename_, errno != 0 ? errno : EIO);
    }
}

std::array<char, 128> TMP3Info::BuildRecord() const {
    std::array<char, kTagSize> record;
    record.fill(' ');
    std::memcpy(record.data(), "TAG", 3);
    PutField(record, kTitleAt, kTextLength, title_);
    PutField(record, kArtistAt, kTextLength, artist_);
    PutField(record, kAlbumAt, kTextLength, album_);
    PutField(record, kYearAt, kYearLength, year_);
    PutField(record, kCommentAt, kTextLength, comment_);
    record[kGenreAt] = static_cast<char>(genreID_);
    return record;
}

// Clears the read-only state (the owner's missing write bit); false when it stays.
bool TMP3Info::MakeWritable() const {
    struct stat st {};
    if (::stat(filename_.c_str(), &st) != 0) {
        return false;
    }
    if ((st.st_mode & S_IWUSR) != 0) {
        return true;
    }
    return ::chmod(filename_.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0 &&
           ::stat(filename_.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) != 0;
}

void TMP3Info::Save() {
    saved_ = true;
    if (!FileExists(filename_)) {
        valid_ = false;
        saved_ = false;
        Fail("File doesn`t exist or is not valid !");
        return;
    }
    const auto record = BuildRecord();
    if (!MakeWritable()) {
        saved_ = false;
        Fail("Can't write ID3 tag information !");
        return;
    }
    saved_ = WriteRecord(record);
}

// Writes over the file's tag when it has one: the one the last read found, or the one
// the last Save appended (so saving twice does not stack two tags); appends otherwise.
// Only bytes that still begin with "TAG" are overwritten: a file that changed since the read
// keeps its audio and gets a tag appended.
bool TMP3Info::WriteRecord(const std::array<char, 128>& record) {
    systemError_ = 0;
    FileHandle file(filename_, O_RDWR | O_CLOEXEC);
    if (!file.IsOpen()) {
        systemError_ = errno;
        return false;
    }
    const long long size = file.Size();
    if (size < 0) {
        systemError_ = errno;
        return false;
    }
    const bool ownAppended = appendedSize_ >= 0 && size == appendedSize_;
    const bool overwrite = (valid_ || ownAppended) && StartsWithTag(file, size);
    const long long offset = overwrite ? size - static_cast<long long>(kTagSize) : size;
    if (!file.WriteAt(record.data(), record.size(), offset)) {
        // A short write (a full disk, a file-size limit) would leave the start of a tag
        // ("TA") after the audio: an appended record is cut off again.
        systemError_ = errno != 0 ? errno : ENOSPC;
        if (!overwrite && ::ftruncate(file.Fd(), size) != 0) {
            systemError_ = errno;
        }
        return false;
    }
    if (!file.Close()) {
        systemError_ = errno;
        return false;
    }
    if (!overwrite) {
        appendedSize_ = size + static_cast<long long>(kTagSize);
    }
    return true;
}

void TMP3Info::RemoveID3() {
    if (!FileExists(filename_)) {
        Fail("File doesn`t exist !");
        return;
    }
    if (!valid_) {
        Fail("File is already untagged !");
        return;
    }
    if (!MakeWritable()) {
        Fail("Can\u00B4t write ID3 tag information !");
        return;
    }
    FileHandle file(filename_, O_RDWR | O_CLOEXEC);
    if (!file.IsOpen()) {
        Fail("Could not open file !");
        return;
    }
    const long long size = file.Size();
    // Cut only a tag: a file changed since the read that no longer ends in one keeps its
    // audio.
    if (!StartsWithTag(file, size)) {
        valid_ = false;
        Fail("File is already untagged !");
        return;
    }
    if (::ftruncate(file.Fd(), size - static_cast<long long>(kTagSize)) == 0) {
        valid_ = false;
    }
    file.Close();
}
