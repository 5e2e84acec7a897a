#include "verify/RipProof.h"

DiscToc TocOf(const TTrackList& tracks) {
    DiscToc toc;
    for (int i = 0; i < tracks.Count(); ++i) {
        const TTrack& t = tracks.Objects(i);
        toc.Tracks.push_back({t.StartSector, t.TrackType == "Audio"});
        toc.LeadOut = t.EndSector + 1;
    }
    return toc;
}

void DescribeDisc(const TCDRIP& rip, RipRecord& record) {
    record.Drive = rip.CDRomIDText();
    record.ReadOffset = rip.ReadOffset();
    record.Toc = TocOf(rip.Tracks);
    record.DiscKey = rip.GetDiscID();
    record.CddbId = Hex8(CddbDiscId(record.Toc));
    record.AccurateRipId = AccurateRipDiscIds(record.Toc).Text();
    record.MusicBrainzId = MusicBrainzDiscId(record.Toc);
}

ProofTap::ProofTap(TCDRIP& rip, const DiscToc& toc, int trackNum) : Rip(rip) {
    const auto index = static_cast<std::size_t>(trackNum - 1);
    if (rip.OutputFormat() != TOutputFormat::STEREO44100 || index >= toc.Tracks.size()) {
        return;
    }
    std::size_t firstAudio = toc.Tracks.size();
    std::size_t lastAudio = 0;
    for (std::size_t i = 0; i < toc.Tracks.size(); ++i) {
        if (toc.Tracks[i].Audio) {
            firstAudio = std::min(firstAudio, i);
            lastAudio = i;
        }
    }
    const int32_t end = index + 1 < toc.Tracks.size() ? toc.Tracks[index + 1].Start : toc.LeadOut;
    Proof = std::make_unique<TrackProof>(end - toc.Tracks[index].Start, index == firstAudio,
                                         index == lastAudio);
    TrackProof* proof = Proof.get();
    Rip.OnPCM = [proof](const uint8_t* data, std::size_t count) { proof->Update(data, count); };
}

ProofTap::~ProofTap() {
    if (Proof) {
        Rip.OnPCM = nullptr;
    }
}

void ProofTap::StoreChecksums(TrackRecord& track) const {
    if (!Proof) {
        return;
    }
    track.Crc32 = Proof->Crc.Value();
    track.ArV1 = Proof->Ar.V1();
    track.ArV2 = Proof->Ar.V2();
}

void ProofTap::StoreTestCrc(TrackRecord& track) const {
    if (Proof) {
        track.TestCrc32 = Proof->Crc.Value();
    }
}

void ApplyAccurateRip(RipRecord& record, const ArDiscAnswer& answer) {
    for (TrackRecord& t : record.Tracks) {
        if (!t.ArV1 || !t.ArV2 || !t.Ripped) {
            t.Ar = {ArResult::NotAvailable, 0, 0};
            continue;
        }
        t.Ar = MatchTrack(answer, static_cast<std::size_t>(t.Number - 1), *t.ArV1, *t.ArV2);
    }
}

void SetAccurateRip(RipRecord& record, ArResult result) {
    for (TrackRecord& t : record.Tracks) {
        t.Ar = {result, 0, 0};
    }
}
