#include "encoding/MP3Info.h"

TMP3Info::TMP3Info() {}
void TMP3Info::SetFilename(const std::string& value) {
    filename_ = value;
}
void TMP3Info::SetArtist(const std::string& value) {
    artist_ = value;
}
void TMP3Info::SetTitle(const std::string& value) {
    title_ = value;
}
void TMP3Info::SetAlbum(const std::string& value) {
    album_ = value;
}
void TMP3Info::SetYear(const std::string& value) {
    year_ = value;
}
void TMP3Info::SetComment(const std::string& value) {
    comment_ = value;
}
void TMP3Info::SetGenreID(uint8_t value) {
    genreID_ = value;
}
void TMP3Info::Save() {}
void TMP3Info::RemoveID3() {}
