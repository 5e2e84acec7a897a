// The skinned frame: the hit test at the regions' edges, the hover images (at most
// one visible) and the artwork decoded through libjpeg.
#include "WindowFixture.h"
#include "ui/JpegImage.h"

#include <QFile>

namespace {

struct HitCase {
    const char* name;
    int x, y;
    int region; // SkinLayout button, SelAllRegion or NoRegion
};

class HitTest : public WindowFixture, public testing::WithParamInterface<HitCase> {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        Fake.SetDisc({750});
        Open(FakeCdRipDll());
    }
};

TEST_P(HitTest, AnswersCaptionOutsideEveryRegion) {
    const HitCase& c = GetParam();
    const QPoint at(c.x, c.y);
    EXPECT_EQ(SkinLayout::regionAt(c.x, c.y), c.region);
    Window->HoverImage(SkinLayout::Play)->show();
    const int answer = Window->WMNCHitTest(at);
    EXPECT_EQ(answer, c.region == SkinLayout::NoRegion ? TfrmMain::HTCAPTION : TfrmMain::HTCLIENT);
    // Outside the regions every hover image is hidden; inside, the hit test keeps them.
    EXPECT_EQ(Window->VisibleHoverCount(), c.region == SkinLayout::NoRegion ? 0 : 1);
    Window->Image1MouseMove(at);
    const bool button = c.region >= 0 && c.region < SkinLayout::ButtonCount;
    EXPECT_EQ(Window->VisibleHoverCount(), button ? 1 : 0);
    if (button) {
        EXPECT_TRUE(Window->HoverImages[std::size_t(c.region)]->isVisibleTo(Window.get()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Edges, HitTest,
    testing::Values(HitCase{"left_column_x36", 36, 155, SkinLayout::NoRegion},
                    HitCase{"wav_x37_y155", 37, 155, SkinLayout::ToWave},
                    HitCase{"wav_corner", 93, 190, SkinLayout::ToWave},
                    HitCase{"right_of_wav", 94, 190, SkinLayout::NoRegion},
                    HitCase{"wav_picture_below_region", 60, 193, SkinLayout::NoRegion},
                    HitCase{"mp3_top", 37, 211, SkinLayout::ToMP3},
                    HitCase{"options", 80, 283, SkinLayout::Options},
                    HitCase{"above_help", 50, 316, SkinLayout::NoRegion},
                    HitCase{"exit", 93, 373, SkinLayout::Exit},
                    HitCase{"home_page", 17, 449, SkinLayout::HomePage},
                    HitCase{"left_of_home_page", 16, 449, SkinLayout::NoRegion},
                    HitCase{"minimise", 596, 31, SkinLayout::Min},
                    HitCase{"between_min_and_close", 600, 25, SkinLayout::NoRegion},
                    HitCase{"close", 605, 22, SkinLayout::Close},
                    HitCase{"back_right_edge", 191, 449, SkinLayout::Back},
                    HitCase{"gap_back_play_left", 192, 440, SkinLayout::NoRegion},
                    HitCase{"gap_back_play_right", 205, 440, SkinLayout::NoRegion},
                    HitCase{"play", 206, 437, SkinLayout::Play},
                    HitCase{"below_play", 210, 450, SkinLayout::NoRegion},
                    HitCase{"gap_play_pause", 219, 440, SkinLayout::NoRegion},
                    HitCase{"pause", 231, 440, SkinLayout::Pause},
                    HitCase{"gap_pause_stop", 263, 440, SkinLayout::NoRegion},
                    HitCase{"stop", 277, 440, SkinLayout::Stop},
                    HitCase{"forward", 286, 440, SkinLayout::Forward},
                    HitCase{"gap_forward_eject", 310, 440, SkinLayout::NoRegion},
                    HitCase{"eject", 328, 449, SkinLayout::Eject},
                    HitCase{"select_all_left", 557, 121, SkinLayout::SelAllRegion},
                    HitCase{"select_all_right", 612, 130, SkinLayout::SelAllRegion},
                    HitCase{"left_of_select_all", 556, 125, SkinLayout::NoRegion},
                    HitCase{"below_select_all", 600, 131, SkinLayout::NoRegion},
                    HitCase{"status_line", 300, 80, SkinLayout::NoRegion}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(WindowFixture, AtMostOneHoverImageWhileThePointerWanders) {
    Fake.SetDisc({750});
    Open(FakeCdRipDll());
    Window->show();
    EXPECT_EQ(Window->VisibleHoverCount(), 0); // showing hides them all
    // Across the transport row, one pixel at a time, as the background sees it.
    int shown = 0;
    for (int x = 160; x < 340; ++x) {
        TSkinImage* before = nullptr;
        for (TSkinImage* image : Window->HoverImages)
            if (image->isVisibleTo(Window.get()))
                before = image;
        Window->SkinMouseMove(before ? before : Window->Image1, QPoint(x, 440), Qt::NoButton);
        ASSERT_LE(Window->VisibleHoverCount(), 1) << "x " << x;
        shown += Window->VisibleHoverCount();
    }
    // Every pixel inside a transport region (20+13+20+14+20+14 = 101) shows an image.
    EXPECT_EQ(shown, 101);
    Window->SkinMouseMove(Window->Image1, QPoint(300, 300), Qt::NoButton);
    EXPECT_EQ(Window->VisibleHoverCount(), 0);
}

TEST_F(WindowFixture, MouseMoveOverTheSkinReArmsTheCount) {
    Fake.SetDisc({750, 750});
    Open(FakeCdRipDll());
    Window->ListView1MouseMove();
    ASSERT_EQ(Window->ListView1Tag, 1);
    Window->SkinMouseMove(Window->Image1, QPoint(300, 300), Qt::NoButton); // no region
    EXPECT_EQ(Window->ListView1Tag, 1);
    Window->SkinMouseMove(Window->Image1, QPoint(210, 440), Qt::NoButton); // play region
    EXPECT_EQ(Window->ListView1Tag, 0);
    EXPECT_TRUE(Window->HoverImage(SkinLayout::Play)->isVisibleTo(Window.get()));
}

TEST_F(WindowFixture, HoverImagesSitAtTheirPlacesWithTheirHints) {
    Fake.SetDisc({750});
    Open(FakeCdRipDll());
    for (int i = 0; i < SkinLayout::ButtonCount; ++i) {
        const SkinLayout::Button& b = SkinLayout::Buttons[std::size_t(i)];
        const TSkinImage* image = Window->HoverImages[std::size_t(i)];
        SCOPED_TRACE(b.name);
        EXPECT_EQ(image->geometry(), QRect(b.left, b.top, b.width, b.height));
        EXPECT_EQ(image->pixmap().size(), QSize(b.width, b.height)); // the artwork was found
        EXPECT_EQ(image->statusTip(), QString::fromUtf8(b.hint));
    }
    EXPECT_EQ(Window->HoverImage(SkinLayout::Pause)->statusTip(), "Stop playing");
    EXPECT_EQ(Window->imgSelAll->statusTip(), "Select or Unselect all tracks");
    EXPECT_EQ(Window->size(), QSize(638, 480));
    EXPECT_TRUE(Window->windowFlags() & Qt::FramelessWindowHint);
}

class Jpeg : public WindowFixture {
protected:
    QString Skin(const char* name) const {
        return qEnvironmentVariable("VELMORA_TEST_BIN") + "/skin/" + name;
    }
};

TEST_F(Jpeg, DecodesTheBackgroundAndRefusesDamagedFiles) {
    const QImage background = LoadJpeg(Skin("background.jpg"));
    ASSERT_FALSE(background.isNull());
    EXPECT_EQ(background.size(), QSize(638, 480));
    // The title bar is drawn light-on-dark: its pixels are darker than the status strip.
    EXPECT_LT(qGray(background.pixel(300, 12)), qGray(background.pixel(300, 78)));

    QFile source(Skin("imgPlay.jpg"));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    struct {
        const char* name;
        QByteArray content;
        bool decodes; // libjpeg fills a file cut short after its header with grey
    } const damaged[] = {{"truncated", bytes.left(bytes.size() / 2), true},
                         {"header_only", bytes.left(20), false},
                         {"not_jpeg", QByteArray("GIF89a not a jpeg at all"), false},
                         {"empty", QByteArray(), false}};
    for (const auto& d : damaged) {
        SCOPED_TRACE(d.name);
        const QString path = QString::fromStdString(Dir) + "/" + d.name + ".jpg";
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(d.content);
        out.close();
        const QImage image = LoadJpeg(path);
        EXPECT_EQ(image.isNull(), !d.decodes);
        if (d.decodes) {
            EXPECT_EQ(image.size(), QSize(29, 23));
        }
    }
    EXPECT_TRUE(LoadJpeg(QString::fromStdString(Dir) + "/missing.jpg").isNull());
}

} // namespace
