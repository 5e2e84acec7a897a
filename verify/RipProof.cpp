#include "verify/RipProof.h"

DiscToc TocOf(const DiscTracks& disc) {
    DiscToc toc;
    for (const DiscTrack& t : disc.Tracks) {
        toc.Tracks.push_back({t.FirstSector, t.IsAudio()});
    }
    toc.LeadOut = disc.LeadOut;
    return toc;
}

void DescribeDisc(const TCDRIP& rip, RipRecord& record) {
    record.Drive = rip.CDRomIDText();
    record.ReadOffset = rip.ReadOffset();
    record.Toc = TocOf(rip.Disc);
    record.DiscKey = rip.GetDiscID();
    record.CddbId = Hex8(CddbDiscId(record.Toc));
    record.AccurateRipId = AccurateRipDiscIds(record.Toc).Text();
    record.MusicBrainzId = MusicBrainzDiscId(record.Toc);
}

ProofTap::ProofTap(TCDRIP& rip, int trackNum) : Rip(rip), Hidden(trackNum == 0) {
    const DiscTrack* track = rip.Disc.Find(trackNum);
    if (rip.OutputFormat() != TOutputFormat::STEREO44100 || track == nullptr) {
        return;
    }
    Proof =
        std::make_unique<TrackProof>(track->AudioSectors(), trackNum == rip.Disc.FirstAudioNumber(),
                                     trackNum == rip.Disc.LastAudioNumber());
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
    if (Hidden) {
        return; // the hidden track (0): AccurateRip has no checksums of it
    }
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
        // The hidden track (0) has no entry in the database.
        if (!t.ArV1 || !t.ArV2 || !t.Ripped || t.Number < 1) {
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
