// The AccurateRip answer (a dBAR file) as a hostile server could send it: the parser
// and the matching over every track must hold, whatever the bytes.

#include "verify/ArLookup.h"
#include "verify/Dbar.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

// Ends the run as a crash would, so that libFuzzer keeps the input.
void Require(bool ok) {
    if (!ok) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const DbarFile file = ParseDbar(bytes);
    std::size_t used = 0;
    for (const DbarRecord& r : file.Records) {
        Require(!r.Tracks.empty() && r.Tracks.size() <= 255);
        used += 13 + 9 * r.Tracks.size();
    }
    Require(used <= size);
    Require(file.WellFormed() == (used == size && size > 0));
    // The disc the records were asked for: the first record's, when there is one, so
    // that matching runs over records that vouch.
    AccurateRipIds disc;
    if (!file.Records.empty()) {
        const DbarRecord& first = file.Records.front();
        disc = {static_cast<int>(first.Tracks.size()), first.Id1, first.Id2, first.Cddb};
    }
    const ArDiscAnswer answer = DbarAnswer(disc, bytes);
    for (std::size_t index = 0; index < 100; ++index) {
        const ArTrackVerdict v = MatchTrack(answer, index, 0x12345678u, 0x9abcdef0u);
        Require(v.Result != ArResult::Accurate || (v.Confidence > 0 && v.Version > 0));
        Require(v.Result != ArResult::BadAnswer || !v.Problem.empty());
    }
    return 0;
}
