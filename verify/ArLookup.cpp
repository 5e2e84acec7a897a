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
    case ArResult::BadAnswer:
        return "bad answer";
    }
    return "unreachable";
}

std::string ArVerdictText(const ArTrackVerdict& v) {
    std::string text = ArResultWord(v.Result);
    if (v.Result == ArResult::Accurate) {
        text += " (confidence " + std::to_string(v.Confidence) + ", v" + std::to_string(v.Version) +
                ")";
    } else if (!v.Problem.empty()) {
        text += " (" + v.Problem + ")";
    }
    return text;
}

std::string AccurateRipBase() {
    return Http::BaseAddress("VELMORA_ACCURATERIP_URL", kAccurateRipBase);
}

std::string DbarUrl(const std::string& base, const AccurateRipIds& ids) {
    const std::string id1 = Hex8(ids.Id1);
    const std::string folders = {id1[7], '/', id1[6], '/', id1[5]};
    return base + "/" + folders + "/dBAR-" + ids.Text() + ".bin";
}

namespace {

bool ForTheDisc(const DbarRecord& record, const AccurateRipIds& disc) {
    return record.Tracks.size() == static_cast<std::size_t>(disc.AudioTracks) &&
           record.Id1 == disc.Id1 && record.Id2 == disc.Id2 && record.Cddb == disc.Cddb;
}

std::string RecordIds(const DbarRecord& record) {
    AccurateRipIds ids;
    ids.AudioTracks = static_cast<int>(record.Tracks.size());
    ids.Id1 = record.Id1;
    ids.Id2 = record.Id2;
    ids.Cddb = record.Cddb;
    return ids.Text();
}

} // namespace

ArDiscAnswer DbarAnswer(const AccurateRipIds& disc, std::string_view bytes) {
    ArDiscAnswer answer;
    answer.Disc = disc;
    answer.State = ArDiscAnswer::Found;
    answer.File = ParseDbar(bytes);
    return answer;
}

ArDiscAnswer FetchDbar(const AccurateRipIds& ids, long timeoutSeconds) {
    ArDiscAnswer answer;
    answer.Disc = ids;
    const Http::Response r =
        Http::Get(DbarUrl(AccurateRipBase(), ids), timeoutSeconds, kMaxDbarBytes);
    if (r.Status == 404) {
        answer.State = ArDiscAnswer::NotFound;
    } else if (r.Status == 200 && r.Error.empty()) {
        answer = DbarAnswer(ids, r.Body);
    } else if (r.Status == 200) {
        answer.State = ArDiscAnswer::Bad; // the body was cut off at its limit
        answer.Error = r.Error;
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
    if (answer.State == ArDiscAnswer::Unreachable || answer.State == ArDiscAnswer::Bad) {
        verdict.Result =
            answer.State == ArDiscAnswer::Bad ? ArResult::BadAnswer : ArResult::Unreachable;
        verdict.Problem = answer.Error;
        return verdict;
    }
    bool known = false;
    std::string otherDisc;
    for (const DbarRecord& record : answer.File.Records) {
        if (!ForTheDisc(record, answer.Disc)) {
            otherDisc = "a record for another disc, " + RecordIds(record);
            continue;
        }
        if (index >= record.Tracks.size() || record.Tracks[index].Confidence == 0) {
            continue; // an empty slot: a track too short to check, or a missing entry
        }
        known = true;
        const DbarTrack& t = record.Tracks[index];
        const int version = t.Checksum == v2 ? 2 : t.Checksum == v1 ? 1 : 0;
        if (version != 0 && t.Confidence > verdict.Confidence) {
            verdict = ArTrackVerdict{ArResult::Accurate, t.Confidence, version, {}};
        }
    }
    if (verdict.Result == ArResult::Accurate) {
        return verdict;
    }
    // Without a match, a file that was cut off proves nothing: the matching record may
    // have been in the part that is missing. Nor does one that holds another disc.
    if (!answer.File.WellFormed() || !otherDisc.empty()) {
        verdict.Result = ArResult::BadAnswer;
        verdict.Problem = !answer.File.WellFormed() ? answer.File.Problem : otherDisc;
        return verdict;
    }
    verdict.Result = known ? ArResult::NotAccurate : ArResult::NotInDatabase;
    return verdict;
}
