// TMP3Info: reads, writes and removes the 128-byte ID3v1 tag at the end of an MP3
// file. Failures are reported through Error and onError, not by return values.
//
// Tag text is Windows-1252 in the file and UTF-8 in the program; a character that
// Windows-1252 lacks is written as "?". The 30- and 4-character limits count
// characters, not bytes. "Read-only" is the missing write permission of the owner.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TMP3Info {
public:
    using TNotifyEvent = std::function<void(TMP3Info* Sender)>;

    // GenreID 12 ("Other"), Valid and Saved false, all texts empty.
    TMP3Info();

    // Stores the name, then reads the file's tag (every time, even for the same name).
    // A file shorter than 128 bytes or one that cannot be read raises
    // std::filesystem::filesystem_error after Valid was set false.
    const std::string& Filename() const { return filename_; }
    void SetFilename(const std::string& value);
    // The text setters keep the first 30 (Year: 4) characters and fire onChange.
    const std::string& Artist() const { return artist_; }
    void SetArtist(const std::string& value);
    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& value);
    const std::string& Album() const { return album_; }
    void SetAlbum(const std::string& value);
    const std::string& Year() const { return year_; }
    void SetYear(const std::string& value);
    const std::string& Comment() const { return comment_; }
    void SetComment(const std::string& value);
    // The genre table's name at GenreID.
    const std::string& Genre() const { return genre_; }
    // A value past the table's last index becomes 12; fires onChange.
    uint8_t GenreID() const { return genreID_; }
    void SetGenreID(uint8_t value);
    bool Valid() const { return valid_; }
    bool Saved() const { return saved_; }
    // Ours: the system's error number of the last Save that failed to write (0 when
    // the write went through or failed for another reason).
    int SystemError() const { return systemError_; }
    // The last failure message; empty until the first failure, never cleared.
    const std::string& Error() const { return error_; }

    TNotifyEvent onChangeFile; // a tag was read
    TNotifyEvent onChange;     // a text property or GenreID was written
    TNotifyEvent onError;      // Error was set

    // Writes the properties as a tag over the file's tag, or appends one.
    void Save();
    // Cuts the tag off the end of the file.
    void RemoveID3();

    // The genre table: 115 names, index 0 to 114.
    const std::vector<std::string>& Genres() const { return genres_; }

private:
    void ReadID3();
    void ReadLastRecord(std::array<char, 128>& bytes);
    std::array<char, 128> BuildRecord() const;
    bool MakeWritable() const;
    bool WriteRecord(const std::array<char, 128>& record);
    void Fire(const TNotifyEvent& event);
    void Fail(const std::string& message);
    void SetGenreIndex(unsigned value);

    std::string filename_;
    std::string tagIdentifier_;
    std::string artist_;
    std::string title_;
    std::string album_;
    std::string comment_;
    std::string year_;
    std::string genre_;
    std::string error_;
    uint8_t genreID_ = 12;
    bool valid_ = false;
    bool saved_ = false;
    // Size of the file right after Save appended a tag to it; -1 when the last Save did not
    // append (or a read came since). A further Save then overwrites that tag.
    long long appendedSize_ = -1;
    int systemError_ = 0;
    std::vector<std::string> genres_;
};
