// Vorbis comments as stored, the image sizes of covers, the comment patches of FLAC and
// Opus headers, and the tag update of finished files (the album gain) read back by
// libFLAC, libopusfile, the flac command and mutagen.
#include "AudioCheck.h"
#include "FlacDecode.h"

#include "cdaccess/Mutagen.h"
#include "encoding/FlacEncoder.h"
#include "encoding/OggOpusTags.h"
#include "encoding/OpusEncoder.h"
#include "encoding/TagComments.h"
#include "encoding/TagUpdate.h"
#include "metadata/TrackTags.h"

#include <opusfile.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace Encoding;

namespace {

TEST(VorbisComments, SerializedAsStoredAndReadBack) {
    const TVorbisComments c = {{"TITLE", "A"}, {"ARTIST", "Zoë"}};
    const std::vector<uint8_t> bytes = SerializeComments("v", c);
    // 4 + 1 (vendor) + 4 (count) + 4 + 7 ("TITLE=A") + 4 + 11 ("ARTIST=Zoë", ë two bytes)
    const std::vector<uint8_t> expected = {
        1,   0,   0,  0, 'v', 2, 0,   0,   0,   7,   0,   0,   0,   'T', 'I', 'T',  'L', 'E',
        '=', 'A', 11, 0, 0,   0, 'A', 'R', 'T', 'I', 'S', 'T', '=', 'Z', 'o', 0xC3, 0xAB};
    EXPECT_EQ(bytes, expected);
    std::string vendor;
    TVorbisComments back;
    std::size_t used = 0;
    ASSERT_TRUE(ParseComments(bytes.data(), bytes.size(), vendor, back, used));
    EXPECT_EQ(vendor, "v");
    EXPECT_EQ(back, c);
    EXPECT_EQ(used, bytes.size());
}

struct CutRow {
    const char* name;
    std::vector<uint8_t> bytes;
};

class CommentsMalformed : public testing::TestWithParam<CutRow> {};

const CutRow CutRows[] = {
    {"empty", {}},
    {"vendor_length_cut", {1, 0, 0}},
    {"vendor_past_end", {9, 0, 0, 0, 'v'}},
    {"no_count", {1, 0, 0, 0, 'v'}},
    {"count_without_comments", {0, 0, 0, 0, 1, 0, 0, 0}},
    {"huge_count", {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0, 'A', '=', 'B'}},
    {"comment_past_end", {0, 0, 0, 0, 1, 0, 0, 0, 9, 0, 0, 0, 'A', '='}},
    {"comment_without_equals", {0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 'A', 'B'}},
};

TEST_P(CommentsMalformed, AreRefused) {
    std::string vendor;
    TVorbisComments c;
    std::size_t used = 0;
    EXPECT_FALSE(ParseComments(GetParam().bytes.data(), GetParam().bytes.size(), vendor, c, used));
}

INSTANTIATE_TEST_SUITE_P(Rows, CommentsMalformed, testing::ValuesIn(CutRows), RowNameOf{});

TEST(VorbisComments, MergeReplacesInPlaceAndAppendsNewNames) {
    const TVorbisComments old = {{"TITLE", "A"},
                                 {"replaygain_track_gain", "1.00 dB"},
                                 {"ARTIST", "B"},
                                 {"REPLAYGAIN_TRACK_GAIN", "9.00 dB"}};
    const TVorbisComments merged =
        MergeComments(old, {{"REPLAYGAIN_TRACK_GAIN", "2.00 dB"}, {"R128_ALBUM_GAIN", "5"}});
    const TVorbisComments expected = {{"TITLE", "A"},
                                      {"REPLAYGAIN_TRACK_GAIN", "2.00 dB"},
                                      {"ARTIST", "B"},
                                      {"R128_ALBUM_GAIN", "5"}};
    EXPECT_EQ(merged, expected);
    EXPECT_EQ(FindComment(merged, "r128_album_gain"), std::optional<std::string>("5"));
    EXPECT_EQ(FindComment(merged, "DATE"), std::nullopt);
}

TEST(VorbisComments, Names) {
    EXPECT_TRUE(ValidCommentName("MUSICBRAINZ_TRACKID"));
    EXPECT_TRUE(ValidCommentName(" }"));
    EXPECT_FALSE(ValidCommentName(""));
    EXPECT_FALSE(ValidCommentName("A=B"));
    EXPECT_FALSE(ValidCommentName("A~"));    // 0x7E
    EXPECT_FALSE(ValidCommentName("A\x1F")); // below 0x20
}

struct ImageRow {
    const char* name;
    std::vector<uint8_t> data;
    bool ok;
    uint32_t width, height, depth;
};

class Images : public testing::TestWithParam<ImageRow> {};

// A JPEG: SOI, an APP0 segment of 16 bytes, then SOF0 with 8-bit samples, 3 components.
const std::vector<uint8_t> Jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16,   'J',  'F',  'I',  'F',
                                   0,    1,    1,    0,    0, 1,    0,    1,    0,    0,
                                   0xFF, 0xC0, 0,    17,   8, 0x01, 0xE0, 0x02, 0x80, 3};

const std::vector<uint8_t> Png = TinyPng(640, 480);

const ImageRow ImageRows[] = {
    {"png_rgb", Png, true, 640, 480, 24},
    {"png_cut_in_its_size", std::vector<uint8_t>(Png.begin(), Png.begin() + 25), false, 0, 0, 0},
    {"jpeg", Jpeg, true, 640, 480, 24},
    {"jpeg_cut_in_frame", std::vector<uint8_t>(Jpeg.begin(), Jpeg.end() - 3), false, 0, 0, 0},
    {"gif", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}, false, 0, 0, 0},
    {"empty", {}, false, 0, 0, 0},
};

TEST_P(Images, Size) {
    uint32_t w = 0, h = 0, d = 0;
    EXPECT_EQ(ImageSize(GetParam().data, w, h, d), GetParam().ok);
    if (GetParam().ok) {
        EXPECT_EQ(w, GetParam().width);
        EXPECT_EQ(h, GetParam().height);
        EXPECT_EQ(d, GetParam().depth);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, Images, testing::ValuesIn(ImageRows), RowNameOf{});

// The test vectors of RFC 4648: each length of the last group, padded.
TEST(Base64, KnownValues) {
    const std::pair<const char*, const char*> rows[] = {{"", ""},
                                                        {"f", "Zg=="},
                                                        {"fo", "Zm8="},
                                                        {"foo", "Zm9v"},
                                                        {"foob", "Zm9vYg=="},
                                                        {"fooba", "Zm9vYmE="},
                                                        {"foobar", "Zm9vYmFy"}};
    for (const auto& [text, coded] : rows) {
        EXPECT_EQ(Base64(std::vector<uint8_t>(text, text + std::strlen(text))), coded) << text;
    }
    EXPECT_EQ(Base64({0xFB, 0xFF, 0xBF}), "+/+/");
}

// The PICTURE block: its fields big-endian, the size from the image's own bytes.
TEST(PictureBlock, FieldsInOrder) {
    TPicture p;
    p.Mime = "image/png";
    p.Description = "d";
    p.Data = TinyPng(2, 3);
    std::vector<uint8_t> expected = {0, 0, 0, 3, 0, 0, 0, 9};
    expected.insert(expected.end(), p.Mime.begin(), p.Mime.end());
    expected.insert(expected.end(), {0, 0,  0, 1, 'd',
                                     0, 0,  0, 2, 0,
                                     0, 0,  3, 0, 0,
                                     0, 24, 0, 0, 0,
                                     0, 0,  0, 0, static_cast<uint8_t>(p.Data.size())});
    expected.insert(expected.end(), p.Data.begin(), p.Data.end());
    EXPECT_EQ(PictureBlock(p), expected);
}

TEST(OggCrc, KnownValue) {
    // The Ogg CRC of "123456789" (CRC-32/MPEG-2 without the initial all-ones: 0x89A1897F).
    const uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(OggCrc(text, sizeof text), 0x89A1897Fu);
}

std::string MakeFile(const TempFolder& dir, const std::string& name, bool opus,
                     const std::vector<uint8_t>& pcm, const TVorbisComments& tags,
                     const TVorbisComments& extra,
                     const std::optional<TPicture>& cover = std::nullopt) {
    const std::string path = dir.file(name);
    std::string error;
    bool ok = false;
    if (opus) {
        TOpusOptions o;
        o.Comments = tags;
        o.Cover = cover;
        ok = EncodeFile<TOpusEncoder>(path, o, pcm, pcm.size(), extra, &error);
    } else {
        TFlacOptions o;
        o.Comments = tags;
        o.Cover = cover;
        o.ExpectedSamples = pcm.size() / 4;
        ok = EncodeFile<TFlacEncoder>(path, o, pcm, pcm.size(), extra, &error);
    }
    EXPECT_TRUE(ok) << error;
    return path;
}

// Comments as mutagen lists them: [[name, value], ...].
nlohmann::json Pairs(const TVorbisComments& comments) {
    nlohmann::json list = nlohmann::json::array();
    for (const TComment& c : comments) {
        list.push_back(nlohmann::json::array({c.Name, c.Value}));
    }
    return list;
}

bool Copy(const std::string& from, const std::string& to, TTaggedFormat format,
          const TVorbisComments& set, std::string* error) {
    TestFileSink sink(to);
    return CopyWithComments(from, format, set, *sink, error);
}

// The album gain added to finished files: the copy has every old comment and the new
// ones, and its audio bytes are those of the original.
TEST(TagUpdate, FlacCopyGetsTheAlbumGain) {
    TempFolder dir;
    const std::vector<uint8_t> pcm = TonePcm(44100, 2, 588 * 100, 440, -10);
    const std::string flac = MakeFile(dir, "a.flac", false, pcm, {{"TITLE", "A"}},
                                      {{"REPLAYGAIN_TRACK_GAIN", "1.00 dB"}});
    const std::string copy = dir.file("b.flac");
    std::string error;
    ASSERT_TRUE(Copy(flac, copy, TTaggedFormat::Flac,
                     {{"REPLAYGAIN_ALBUM_GAIN", "-1.50 dB"}, {"REPLAYGAIN_ALBUM_PEAK", "0.500000"}},
                     &error))
        << error;
    const nlohmann::json m = MutagenVorbis(copy);
    const nlohmann::json expected = Pairs({{"TITLE", "A"},
                                           {"REPLAYGAIN_TRACK_GAIN", "1.00 dB"},
                                           {"REPLAYGAIN_ALBUM_GAIN", "-1.50 dB"},
                                           {"REPLAYGAIN_ALBUM_PEAK", "0.500000"}});
    EXPECT_EQ(m["tags"], expected);
    const std::vector<uint8_t> a = FileBytes(flac), b = FileBytes(copy);
    ASSERT_EQ(a.size(), b.size()); // the padding took the new comments
    const std::size_t audio = FlacMetadataLength(a.data(), a.size());
    EXPECT_EQ(FlacMetadataLength(b.data(), b.size()), audio);
    EXPECT_TRUE(std::equal(a.begin() + static_cast<long>(audio), a.end(),
                           b.begin() + static_cast<long>(audio)));
    EXPECT_EQ(RunCommand("flac --test --silent '" + copy + "'").Status, 0);
}

// Comments longer than the padding: the metadata grows and the audio moves, whole.
TEST(TagUpdate, FlacCopyGrowsWhenThePaddingIsTooSmall) {
    TempFolder dir;
    const std::vector<uint8_t> pcm = TonePcm(44100, 2, 588 * 50, 440, -10);
    const std::string flac = MakeFile(dir, "a.flac", false, pcm, {{"TITLE", "A"}}, {});
    const std::string copy = dir.file("b.flac");
    const std::string comment(FlacPaddingBytes * 2, 'x');
    std::string error;
    ASSERT_TRUE(Copy(flac, copy, TTaggedFormat::Flac, {{"COMMENT", comment}}, &error)) << error;
    const std::vector<uint8_t> a = FileBytes(flac), b = FileBytes(copy);
    const std::size_t audioA = FlacMetadataLength(a.data(), a.size());
    const std::size_t audioB = FlacMetadataLength(b.data(), b.size());
    EXPECT_GT(audioB, audioA + comment.size());
    EXPECT_EQ(b.size() - audioB, a.size() - audioA);
    EXPECT_TRUE(std::equal(a.begin() + static_cast<long>(audioA), a.end(),
                           b.begin() + static_cast<long>(audioB)));
    EXPECT_EQ(RunCommand("flac --test --silent '" + copy + "'").Status, 0);
    EXPECT_EQ(MutagenVorbis(copy)["tags"][1][1], comment);
}

TEST(TagUpdate, OpusCopyGetsTheAlbumGain) {
    TempFolder dir;
    const std::vector<uint8_t> pcm = TonePcm(44100, 2, 588 * 100, 440, -10);
    const std::string opus =
        MakeFile(dir, "a.opus", true, pcm, {{"TITLE", "A"}}, {{"R128_TRACK_GAIN", "100"}});
    const std::string copy = dir.file("b.opus");
    std::string error;
    ASSERT_TRUE(Copy(opus, copy, TTaggedFormat::Opus, {{"R128_ALBUM_GAIN", "-200"}}, &error))
        << error;
    const nlohmann::json expected =
        Pairs({{"TITLE", "A"}, {"R128_TRACK_GAIN", "100"}, {"R128_ALBUM_GAIN", "-200"}});
    EXPECT_EQ(MutagenVorbis(copy)["tags"], expected);
    const std::vector<uint8_t> a = FileBytes(opus), b = FileBytes(copy);
    ASSERT_EQ(a.size(), b.size());
    const std::size_t head = OpusHeaderLength(a.data(), a.size());
    EXPECT_EQ(OpusHeaderLength(b.data(), b.size()), head);
    EXPECT_TRUE(std::equal(a.begin() + static_cast<long>(head), a.end(),
                           b.begin() + static_cast<long>(head)));
    // libopusfile checks every page's CRC: a wrong one would lose the header.
    int err = 0;
    OggOpusFile* of = op_open_file(copy.c_str(), &err);
    ASSERT_NE(of, nullptr) << err;
    int gain = 0;
    EXPECT_EQ(opus_tags_get_album_gain(op_tags(of, -1), &gain), 0);
    EXPECT_EQ(gain, -200);
    EXPECT_EQ(op_pcm_total(of, -1), 640 * 100);
    op_free(of);
    EXPECT_EQ(RunCommand("opusinfo '" + copy + "'").Status, 0);
}

TEST(TagUpdate, OpusCommentsBeyondThePaddingAreRefused) {
    TempFolder dir;
    const std::vector<uint8_t> pcm = TonePcm(44100, 2, 588 * 20, 440, -10);
    const std::string opus = MakeFile(dir, "a.opus", true, pcm, {}, {});
    std::string error;
    EXPECT_FALSE(Copy(opus, dir.file("b.opus"), TTaggedFormat::Opus,
                      {{"COMMENT", std::string(2 * OpusCommentPadding, 'x')}}, &error));
    EXPECT_EQ(error, "no room for the tags in the Opus comment header");
}

struct NotTheFormatRow {
    const char* name;
    std::vector<uint8_t> bytes;
    TTaggedFormat format;
    const char* error;
};

class TagUpdateRefuses : public testing::TestWithParam<NotTheFormatRow> {};

const NotTheFormatRow NotTheFormatRows[] = {
    {"empty_flac", {}, TTaggedFormat::Flac, "not a FLAC file"},
    {"flac_cut_in_a_block",
     {'f', 'L', 'a', 'C', 0x84, 0, 0, 40, 1, 2},
     TTaggedFormat::Flac,
     "not a FLAC file"},
    {"flac_without_comments",
     {'f', 'L', 'a', 'C', 0x81, 0, 0, 2, 0, 0},
     TTaggedFormat::Flac,
     "the FLAC file has no readable comment block"},
    {"ogg_cut", {'O', 'g', 'g', 'S', 0}, TTaggedFormat::Opus, "not an Ogg Opus file"},
    {"wav_as_opus", {'R', 'I', 'F', 'F', 0, 0, 0, 0}, TTaggedFormat::Opus, "not an Ogg Opus file"},
};

TEST_P(TagUpdateRefuses, WithTheReason) {
    TempFolder dir;
    WriteFileBytes(dir.file("in"), GetParam().bytes);
    std::string error;
    EXPECT_FALSE(Copy(dir.file("in"), dir.file("out"), GetParam().format, {{"A", "B"}}, &error));
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Rows, TagUpdateRefuses, testing::ValuesIn(NotTheFormatRows), RowNameOf{});

TEST(TagUpdate, MissingFileGivesTheSystemsReason) {
    TempFolder dir;
    std::string error;
    EXPECT_FALSE(Copy(dir.file("none.flac"), dir.file("out"), TTaggedFormat::Flac, {}, &error));
    EXPECT_EQ(error, "No such file or directory");
}

// ---- The tag record as comments: every field the MP3 tag carries, under the names
// taggers write and read.

Metadata::TagFields EveryField() {
    Metadata::TagFields f;
    f.Title = "Título";
    f.Artist = "Isobel Campbell & Mark Lanegan";
    f.ArtistSort = "Campbell, Isobel & Lanegan, Mark";
    f.ArtistIds = {"art-1", "art-2"};
    f.RecordingId = "rec-4";
    f.ReleaseTrackId = "rel-t4";
    f.Isrc = "USVL11100004";
    f.Track = 4;
    f.TrackTotal = 12;
    f.Album = "Ballad";
    f.AlbumArtist = "Various Artists";
    f.AlbumArtistSort = "Various Artists, The";
    f.AlbumArtistIds = {"va-1", "va-2"};
    f.Date = "2001-10-15";
    f.Disc = 2;
    f.DiscTotal = 3;
    f.ReleaseId = "rel-us";
    f.ReleaseGroupId = "group-1";
    f.DiscId = "disc-id-28-characters-long-";
    f.AlbumType = "album; live";
    f.AlbumStatus = "official";
    f.Country = "US";
    f.Barcode = "075678164620";
    f.CatalogNumber = "CAT-US";
    f.Asin = "B00005NVQX";
    return f;
}

const TVorbisComments EveryComment = {{"TITLE", "Título"},
                                      {"ARTIST", "Isobel Campbell & Mark Lanegan"},
                                      {"ARTISTSORT", "Campbell, Isobel & Lanegan, Mark"},
                                      {"ALBUM", "Ballad"},
                                      {"ALBUMARTIST", "Various Artists"},
                                      {"ALBUMARTISTSORT", "Various Artists, The"},
                                      {"DATE", "2001-10-15"},
                                      {"TRACKNUMBER", "4"},
                                      {"TRACKTOTAL", "12"},
                                      {"DISCNUMBER", "2"},
                                      {"DISCTOTAL", "3"},
                                      {"ISRC", "USVL11100004"},
                                      {"MUSICBRAINZ_TRACKID", "rec-4"},
                                      {"MUSICBRAINZ_RELEASETRACKID", "rel-t4"},
                                      {"MUSICBRAINZ_ARTISTID", "art-1"},
                                      {"MUSICBRAINZ_ARTISTID", "art-2"},
                                      {"MUSICBRAINZ_ALBUMARTISTID", "va-1"},
                                      {"MUSICBRAINZ_ALBUMARTISTID", "va-2"},
                                      {"MUSICBRAINZ_ALBUMID", "rel-us"},
                                      {"MUSICBRAINZ_RELEASEGROUPID", "group-1"},
                                      {"MUSICBRAINZ_DISCID", "disc-id-28-characters-long-"},
                                      {"RELEASETYPE", "album"},
                                      {"RELEASETYPE", "live"},
                                      {"RELEASESTATUS", "official"},
                                      {"RELEASECOUNTRY", "US"},
                                      {"BARCODE", "075678164620"},
                                      {"CATALOGNUMBER", "CAT-US"},
                                      {"ASIN", "B00005NVQX"}};

struct RecordRow {
    const char* name;
    Metadata::TagFields fields;
    TVorbisComments comments;
};

class RecordComments : public testing::TestWithParam<RecordRow> {};

Metadata::TagFields With(void (*change)(Metadata::TagFields&)) {
    Metadata::TagFields f;
    change(f);
    return f;
}

const RecordRow RecordRows[] = {
    {"every_field", EveryField(), EveryComment},
    {"nothing_known", {}, {}},
    // 0 is "not known" for the numbers; 1 is a number like any other.
    {"numbers_zero",
     With([](Metadata::TagFields& f) { f.Track = f.TrackTotal = f.Disc = f.DiscTotal = 0; }),
     {}},
    {"numbers_one",
     With([](Metadata::TagFields& f) { f.Track = f.TrackTotal = f.Disc = f.DiscTotal = 1; }),
     {{"TRACKNUMBER", "1"}, {"TRACKTOTAL", "1"}, {"DISCNUMBER", "1"}, {"DISCTOTAL", "1"}}},
    {"disc_without_total", With([](Metadata::TagFields& f) { f.Disc = 4; }), {{"DISCNUMBER", "4"}}},
    {"one_type",
     With([](Metadata::TagFields& f) { f.AlbumType = "album"; }),
     {{"RELEASETYPE", "album"}}},
    {"types_with_spaces_and_an_empty_one",
     With([](Metadata::TagFields& f) { f.AlbumType = " album ;; compilation; "; }),
     {{"RELEASETYPE", "album"}, {"RELEASETYPE", "compilation"}}},
    {"empty_ids_in_a_list",
     With([](Metadata::TagFields& f) {
         f.ArtistIds = {"", "art-2", ""};
     }),
     {{"MUSICBRAINZ_ARTISTID", "art-2"}}},
};

TEST_P(RecordComments, Mapped) {
    EXPECT_EQ(CommentsOf(GetParam().fields), GetParam().comments);
}

INSTANTIATE_TEST_SUITE_P(Rows, RecordComments, testing::ValuesIn(RecordRows), RowNameOf{});

TEST(RecordPicture, TheCoverAsTheFrontCover) {
    Metadata::TagFields f;
    EXPECT_EQ(PictureOf(f), std::nullopt);
    f.Cover = std::make_shared<Metadata::CoverImage>(Metadata::CoverImage{{}, "image/png", "png"});
    EXPECT_EQ(PictureOf(f), std::nullopt) << "no bytes, no picture";
    f.Cover =
        std::make_shared<Metadata::CoverImage>(Metadata::CoverImage{Jpeg, "image/jpeg", "jpg"});
    const std::optional<TPicture> p = PictureOf(f);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Type, 3u);
    EXPECT_EQ(p->Mime, "image/jpeg");
    EXPECT_EQ(p->Description, "");
    EXPECT_EQ(p->Data, Jpeg);
}

struct TaggedFileRow {
    const char* name;
    bool opus;
    std::vector<uint8_t> cover;
    const char* mime;
    uint32_t width, height, depth;
};

class TaggedFiles : public testing::TestWithParam<TaggedFileRow> {};

// A cover the size a front image has (some 100 KB): the Opus comment header takes
// several Ogg pages.
std::vector<uint8_t> LargePng() {
    std::vector<uint8_t> png = TinyPng(500, 500);
    png.resize(100000, 0x5A);
    return png;
}

const TaggedFileRow TaggedFileRows[] = {
    {"flac_jpeg", false, Jpeg, "image/jpeg", 640, 480, 24},
    {"flac_large_png", false, LargePng(), "image/png", 500, 500, 24},
    {"opus_jpeg", true, Jpeg, "image/jpeg", 640, 480, 24},
    {"opus_large_png", true, LargePng(), "image/png", 500, 500, 24},
};

// Every comment of the record and its cover, written by the encoder with the track's
// gain and then given the album's gain: mutagen reads each back in order, and the picture
// with the type, image type and size its bytes say; the file still decodes.
TEST_P(TaggedFiles, CarryEveryCommentAndTheCover) {
    const TaggedFileRow& row = GetParam();
    TempFolder dir;
    Metadata::TagFields f = EveryField();
    f.Cover = std::make_shared<Metadata::CoverImage>(Metadata::CoverImage{row.cover, row.mime, ""});
    const std::vector<uint8_t> pcm = TonePcm(44100, 2, 588 * 100, 440, -10);
    const TVorbisComments track = {{row.opus ? "R128_TRACK_GAIN" : "REPLAYGAIN_TRACK_GAIN", "1"}};
    const TVorbisComments album = {{row.opus ? "R128_ALBUM_GAIN" : "REPLAYGAIN_ALBUM_GAIN", "2"}};
    const std::string made = MakeFile(dir, row.opus ? "a.opus" : "a.flac", row.opus, pcm,
                                      CommentsOf(f), track, PictureOf(f));
    const std::string copy = dir.file(row.opus ? "b.opus" : "b.flac");
    std::string error;
    ASSERT_TRUE(
        Copy(made, copy, row.opus ? TTaggedFormat::Opus : TTaggedFormat::Flac, album, &error))
        << error;
    TVorbisComments tagged = EveryComment;
    tagged.insert(tagged.end(), track.begin(), track.end());
    TVorbisComments updated = tagged;
    updated.insert(updated.end(), album.begin(), album.end());
    const nlohmann::json pictures = {{{"type", 3},
                                      {"mime", row.mime},
                                      {"desc", ""},
                                      {"width", row.width},
                                      {"height", row.height},
                                      {"depth", row.depth},
                                      {"size", row.cover.size()}}};
    for (const std::string& file : {made, copy}) {
        SCOPED_TRACE(file);
        const nlohmann::json m = MutagenVorbis(file);
        ASSERT_TRUE(m.is_object());
        // In Opus the picture is a comment of its own (METADATA_BLOCK_PICTURE, read as
        // the picture below); FLAC keeps it in a block.
        nlohmann::json tags = nlohmann::json::array();
        std::size_t pictureComments = 0;
        for (const auto& pair : m["tags"]) {
            if (pair[0] == "METADATA_BLOCK_PICTURE") {
                ++pictureComments;
            } else {
                tags.push_back(pair);
            }
        }
        EXPECT_EQ(pictureComments, row.opus ? 1u : 0u);
        EXPECT_EQ(tags, Pairs(file == made ? tagged : updated));
        EXPECT_EQ(m["pictures"], pictures);
        const CommandResult check =
            row.opus ? RunCommand("opusdec --quiet '" + file + "' '" + file + ".wav'")
                     : RunCommand("flac --test --silent '" + file + "'");
        EXPECT_EQ(check.Status, 0) << check.Output;
    }
    if (!row.opus) {
        const FlacDecoded d = DecodeFlac(copy);
        ASSERT_TRUE(d.Ok);
        EXPECT_EQ(d.Pcm, pcm);
    } else {
        int status = 0;
        OggOpusFile* of = op_open_file(copy.c_str(), &status);
        ASSERT_NE(of, nullptr);
        EXPECT_EQ(op_pcm_total(of, -1), 640 * 100);
        op_free(of);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, TaggedFiles, testing::ValuesIn(TaggedFileRows), RowNameOf{});

// An MP3 made by the lame command gets the gains as TXXX frames, read back by mutagen.
TEST(TagUpdate, Mp3GainsAsUserTextFrames) {
    TempFolder dir;
    const std::vector<uint8_t> pcm = TonePcm(44100, 2, 588 * 50, 440, -10);
    WriteFileBytes(dir.file("t.raw"), pcm);
    const std::string mp3 = dir.file("t.mp3");
    const CommandResult lame = RunCommand("lame --silent -r -s 44.1 --bitwidth 16 '" +
                                          dir.file("t.raw") + "' '" + mp3 + "'");
    ASSERT_EQ(lame.Status, 0) << lame.Output;
    std::string error;
    ASSERT_TRUE(WriteId3UserTexts(
        mp3, {{"REPLAYGAIN_TRACK_GAIN", "-3.00 dB"}, {"REPLAYGAIN_TRACK_PEAK", "0.316228"}},
        &error))
        << error;
    ASSERT_TRUE(WriteId3UserTexts(mp3, {{"REPLAYGAIN_TRACK_GAIN", "-4.00 dB"}}, &error)) << error;
    const nlohmann::json frames = MutagenFrames(mp3);
    ASSERT_FALSE(frames.is_null());
    EXPECT_EQ(frames["frames"].size(), 2u);
    EXPECT_EQ(frames["frames"]["TXXX:REPLAYGAIN_TRACK_GAIN"][0], "-4.00 dB");
    EXPECT_EQ(frames["frames"]["TXXX:REPLAYGAIN_TRACK_PEAK"][0], "0.316228");
}

} // namespace
