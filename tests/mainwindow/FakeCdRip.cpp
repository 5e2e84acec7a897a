#include "FakeCdRip.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

FakeCdRip Fake;

void FakeCdRip::SetDisc(const std::vector<int32_t>& lengths, const std::vector<bool>& data) {
    Toc.clear();
    int32_t start = 0;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        const bool isData = i < data.size() && data[i];
        Toc.push_back({start, uint8_t(isData ? 0x14 : 0x10), uint8_t(i + 1)});
        start += lengths[i];
    }
    Toc.push_back({start, 0x10, 0xAA});
}

namespace {

int32_t Version() {
    return 115;
}
int32_t Ok() {
    return 0;
}
int32_t NumDrives() {
    return Fake.Drives;
}
int32_t SetActive(int32_t drive) {
    return drive >= 0 && drive < Fake.Drives ? 0 : 1;
}
int32_t GetParams(uint8_t* block) {
    std::memset(block, 0, CDROMParamsSize);
    std::strcpy(reinterpret_cast<char*>(block), "FAKE DRIVE 1.0");
    return 0;
}
int32_t SetParams(uint8_t*) {
    return 0;
}
int32_t ReadToc() {
    if (Fake.ThrowOnReadToc)
        throw std::runtime_error("drive fell off the bus");
    Fake.TocRead.clear();
    if (Fake.TrayOpen || Fake.Toc.empty())
        return 1;
    Fake.TocRead = Fake.Toc;
    return 0;
}
bool SameEntries(const std::vector<TTocEntry>& a, const std::vector<TTocEntry>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const TTocEntry& x, const TTocEntry& y) {
                          return x.StartSector == y.StartSector && x.Flag == y.Flag &&
                                 x.TrackNumber == y.TrackNumber && x.Gap == y.Gap;
                      });
}
int32_t DiscChanged() {
    ++Fake.DiscChecks;
    return Fake.TrayOpen || Fake.TocRead.empty() || !SameEntries(Fake.Toc, Fake.TocRead) ? -1 : 0;
}
int32_t NumEntries() {
    return Fake.TrayOpen || Fake.Toc.empty() ? 0 : int32_t(Fake.Toc.size()) - 1;
}
TTocEntry Entry(int32_t i) {
    return Fake.Toc.at(std::size_t(i));
}
int32_t OpenRipper(int32_t*, int32_t, int32_t) {
    return 1;
}
int32_t RipChunk(uint8_t*, int32_t* count, int32_t) {
    *count = 0;
    return 1;
}
int32_t JitterPos(uint32_t* a, uint32_t* b) {
    *a = *b = 0;
    return 0;
}
int32_t Zero() {
    return 0;
}
int32_t Play(int32_t n) {
    Fake.Played.push_back(n);
    return 0;
}
int32_t Pause(int32_t p) {
    Fake.Paused.push_back(p);
    return 0;
}
int32_t Stop() {
    ++Fake.Stops;
    return 0;
}
int32_t Eject(int32_t e) {
    Fake.Ejects.push_back(e);
    Fake.TrayOpen = e != 0;
    return 0;
}
int32_t PlayPos(int32_t* a, int32_t* b) {
    *a = 0;
    *b = Fake.Position;
    return 0;
}

int32_t GetCdText(int32_t track, int32_t field, char* buffer, int32_t size) {
    if (buffer == nullptr || size < 1 || field < 0 || field > 1 || track < 0)
        return 1;
    std::string text;
    if (std::size_t(track) < Fake.CdText.size())
        text = Fake.CdText[std::size_t(track)][std::size_t(field)];
    text.resize(std::min(text.size(), std::size_t(size - 1)));
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return 0;
}

int32_t StatusText(char* text, int32_t size) {
    if (text == nullptr || size < 1)
        return 1;
    const std::size_t n = std::min(Fake.StatusText.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(text, Fake.StatusText.data(), n);
    text[n] = '\0';
    return 0;
}

int32_t Mcn(char* text, int32_t size) {
    if (text == nullptr || size < MCNSize || Fake.TrayOpen || Fake.Toc.empty())
        return 1;
    const std::string mcn = Fake.Mcn.substr(0, 13);
    std::memcpy(text, mcn.c_str(), mcn.size() + 1);
    return 0;
}

int32_t Isrc(int32_t track, char* text, int32_t size) {
    if (text == nullptr || size < ISRCSize || Fake.TrayOpen || track < 1 ||
        track + 1 > int32_t(Fake.Toc.size()))
        return 1;
    const std::size_t i = std::size_t(track - 1);
    const std::string isrc = i < Fake.Isrc.size() ? Fake.Isrc[i].substr(0, 12) : std::string();
    std::memcpy(text, isrc.c_str(), isrc.size() + 1);
    return 0;
}

int32_t Indexes(int32_t track, int32_t* sectors, int32_t max) {
    if (sectors == nullptr || max < 0 || Fake.TrayOpen || track < 1 ||
        track + 1 > int32_t(Fake.Toc.size()))
        return -1;
    return 0; // the window's tests need no index points: gaps not detected
}

int32_t Flags(int32_t track) {
    if (Fake.TrayOpen || track < 1 || track + 1 > int32_t(Fake.Toc.size()))
        return -1;
    return 0;
}

const TCdRipDll table = {
    Version,    Ok,      NumDrives,  Ok,          SetActive, GetParams, SetParams, ReadToc,
    NumEntries, Entry,   OpenRipper, RipChunk,    JitterPos, Zero,      Zero,      Ok,
    Play,       Pause,   Stop,       Eject,       PlayPos,   Ok,        GetCdText, StatusText,
    Mcn,        Isrc,    Indexes,    Flags,       nullptr,   nullptr,   nullptr,   nullptr,
    nullptr,    nullptr, nullptr,    DiscChanged, nullptr,   nullptr};

} // namespace

const TCdRipDll& FakeCdRipDll() {
    return table;
}
