#include "metadata/ReleaseChoice.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <set>

namespace Metadata {

namespace {

std::string Folded(const std::string& text) {
    std::string out;
    for (char c : text)
        if (static_cast<unsigned char>(c) > ' ' || (!out.empty() && out.back() != ' '))
            out += char(std::tolower(static_cast<unsigned char>(c) > ' ' ? c : ' '));
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

bool SameText(const std::string& a, const std::string& b) {
    const std::string fa = Folded(a);
    return !fa.empty() && fa == Folded(b);
}

// How many CD-TEXT titles (the album's and the tracks') the release has too.
int64_t CdTextScore(const Release& r, const DiscEvidence& e) {
    int64_t score = SameText(e.Album, r.Title) ? 1 : 0;
    for (std::size_t i = 0; i < e.Titles.size() && i < r.Tracks.size(); ++i)
        score += SameText(e.Titles[i], r.Tracks[i].Title) ? 1 : 0;
    return score;
}

bool European(const std::string& country) {
    static const std::set<std::string> codes = {
        "AD", "AL", "AT", "BA", "BE", "BG", "BY", "CH", "CY", "CZ", "DE", "DK", "EE", "ES", "FI",
        "FR", "GB", "GR", "HR", "HU", "IE", "IS", "IT", "LI", "LT", "LU", "LV", "MC", "MD", "ME",
        "MK", "MT", "NL", "NO", "PL", "PT", "RO", "RS", "SE", "SI", "SK", "SM", "UA", "VA"};
    return codes.count(country) != 0;
}

// 2: released in the user's country; 1: in Europe for a European user, or worldwide.
int64_t CountryScore(const Release& r, const DiscEvidence& e) {
    if (e.Country.empty() || r.Country.empty())
        return 0;
    if (r.Country == e.Country)
        return 2;
    return r.Country == "XW" || (r.Country == "XE" && European(e.Country)) ? 1 : 0;
}

// The evidence as keys, strongest first; a larger key wins.
constexpr std::size_t KeyCount = 5;
using Keys = std::array<int64_t, KeyCount>;

const char* const KeyReasons[KeyCount] = {"the disc's MCN is its barcode",
                                          "the disc's CD-TEXT titles", "its track lengths",
                                          "your country", "the nearest track lengths"};

Keys KeysOf(const Release& r, const DiscEvidence& e) {
    const std::string mcn = BarcodeDigits(e.Mcn);
    Keys k{};
    k[0] = !mcn.empty() && mcn == BarcodeDigits(r.Barcode) ? 1 : 0;
    k[1] = CdTextScore(r, e);
    // Without the disc ID, lengths that fit better count before the country.
    k[2] = r.DiscIdMatch ? 0 : -r.Distance;
    k[3] = CountryScore(r, e);
    k[4] = r.DiscIdMatch ? -r.Distance : 0;
    return k;
}

bool Number(const std::string& text) {
    return !text.empty() && text.size() < 6 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

ReleasePick ByEvidence(const std::vector<Release>& releases, const DiscEvidence& e) {
    std::vector<Keys> keys;
    for (const Release& r : releases)
        keys.push_back(KeysOf(r, e));
    // The first of the largest: the answer's order decides the rest.
    ReleasePick pick;
    for (std::size_t i = 1; i < keys.size(); ++i)
        if (keys[i] > keys[pick.Index])
            pick.Index = i;
    if (releases.size() == 1) {
        pick.Reason = "the only release for this disc";
        return pick;
    }
    pick.Reason = "listed first";
    // The strongest key that sets it apart from those equal to it on the keys before.
    std::vector<std::size_t> rivals;
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (i != pick.Index)
            rivals.push_back(i);
    for (std::size_t k = 0; k < KeyCount && !rivals.empty(); ++k) {
        std::vector<std::size_t> tied;
        for (std::size_t i : rivals)
            if (keys[i][k] == keys[pick.Index][k])
                tied.push_back(i);
        if (tied.empty()) {
            pick.Reason = KeyReasons[k];
            if (k == 3)
                pick.Reason += " (" + e.Country + ")";
            return pick;
        }
        rivals = std::move(tied);
    }
    return pick;
}

} // namespace

std::string BarcodeDigits(const std::string& code) {
    std::string digits;
    for (char c : code)
        if (c >= '0' && c <= '9' && !(digits.empty() && c == '0'))
            digits += c;
    return digits;
}

std::string LocaleCountry() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value == nullptr || *value == '\0')
            continue;
        std::string locale = value;
        const std::size_t under = locale.find('_');
        if (under == std::string::npos)
            return {};
        std::string country;
        for (std::size_t i = under + 1;
             i < locale.size() && std::isalpha(static_cast<unsigned char>(locale[i])); ++i)
            country += char(std::toupper(static_cast<unsigned char>(locale[i])));
        return country.size() == 2 ? country : std::string();
    }
    return {};
}

ReleasePick ChooseRelease(const std::vector<Release>& releases, const DiscEvidence& evidence,
                          const std::string& wanted) {
    if (!wanted.empty()) {
        if (Number(wanted)) {
            const std::size_t n = std::stoul(wanted);
            if (n >= 1 && n <= releases.size())
                return {n - 1, "your choice", {}};
        }
        for (std::size_t i = 0; i < releases.size(); ++i)
            if (releases[i].Id == wanted)
                return {i, "your choice", {}};
    }
    ReleasePick pick = ByEvidence(releases, evidence);
    if (!wanted.empty())
        pick.Error = "release " + wanted + " is not one of the " + std::to_string(releases.size()) +
                     " MusicBrainz lists for this disc";
    return pick;
}

} // namespace Metadata
