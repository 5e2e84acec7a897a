#include "verify/ArLookup.h"

#include "platform/HttpClient.h"

std::string ArResultWord(ArResult result) {
    switch (result) {
    case ArResult::Off:
        return "off";
    case ArResult::NotAvailable:
        return "not available";
    case ArResult::Accurate:
        return "accurate";
    case ArResult::NotAccurate:
        return "not accurate";
    case ArResult::NotInDatabase:
        return "not in database";
    case ArResult::Unreachable:
        return "unreachable";
    }
    return "unreachable";
}

std::string AccurateRipBase() {
    return Http::BaseAddress("VELMORA_ACCURATERIP_URL", kAccurateRipBase);
}

std::string DbarUrl(const std::string& base, const AccurateRipIds& ids) {
    const std::string id1 = Hex8(ids.Id1);
    const std::string folders = {id1[7], '/', id1[6], '/', id1[5]};
    return base + "/" + folders + "/dBAR-" + ids.Text() + ".bin";
}

ArDiscAnswer FetchDbar(const AccurateRipIds& ids, long timeoutSeconds) {
    ArDiscAnswer answer;
    // A real answer holds at most a few hundred records of 99 tracks.
    const Http::Response r = Http::Get(DbarUrl(AccurateRipBase(), ids), timeoutSeconds, 1 << 20);
    if (r.Status == 404) {
        answer.State = ArDiscAnswer::NotFound;
    } else if (r.Status == 200 && r.Error.empty()) {
        answer.State = ArDiscAnswer::Found;
        answer.File = ParseDbar(r.Body);
    } else {
        answer.Error = !r.Error.empty() ? r.Error : "HTTP status " + std::to_string(r.Status);
    }
    return answer;
}

ArTrackVerdict MatchTrack(const ArDiscAnswer& answer, std::size_t index, uint32_t v1, uint32_t v2) {
    ArTrackVerdict verdict;
    if (answer.State == ArDiscAnswer::NotFound) {
        verdict.Result = ArResult::NotInDatabase;
        return verdict;
    }
    if (answer.State == ArDiscAnswer::Unreachable) {
        verdict.Result = ArResult::Unreachable;
        return verdict;
    }
    bool known = false;
    for (const DbarRecord& record : answer.File.Records) {
        if (index >= record.Tracks.size() || record.Tracks[index].Confidence == 0) {
            continue; // an empty slot: a track too short to check, or a missing entry
        }
        known = true;
        const DbarTrack& t = record.Tracks[index];
        const int version = t.Checksum == v2 ? 2 : t.Checksum == v1 ? 1 : 0;
        if (version != 0 && t.Confidence > verdict.Confidence) {
            verdict = ArTrackVerdict{ArResult::Accurate, t.Confidence, version};
        }
    }
    if (verdict.Result == ArResult::Accurate) {
        return verdict;
    }
    // Without a match, a file that was cut off proves nothing: the matching record may
    // have been in the part that is missing.
    verdict.Result = !answer.File.WellFormed() ? ArResult::Unreachable
                     : known                   ? ArResult::NotAccurate
                                               : ArResult::NotInDatabase;
    return verdict;
}
