// The gradient bar, checked on the pixels it paints.
#include "ui/GradProgress.h"

#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QLocale>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <ostream>

namespace {

using TColor = TGradProgress::TColor;

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int Count = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            ++Count;
        return false;
    }
};

QImage Render(TGradProgress& bar) {
    return bar.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The colour of a pixel as "#rrggbb".
QString Name(const QImage& img, int x, int y) {
    return QColor(img.pixel(x, y)).name();
}

// The box around every pixel close to the given colour (text is drawn smoothed);
// empty when there is none.
QRect PixelsOf(const QImage& img, QColor c, const QRect& area) {
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (std::abs(qRed(img.pixel(x, y)) - c.red()) < 48 &&
                std::abs(qGreen(img.pixel(x, y)) - c.green()) < 48 &&
                std::abs(qBlue(img.pixel(x, y)) - c.blue()) < 48)
                box |= QRect(x, y, 1, 1);
    return box;
}

// The box around every pixel that the text changed.
QRect TextPixels(const QImage& plain, const QImage& text, const QRect& area) {
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (plain.pixel(x, y) != text.pixel(x, y))
                box |= QRect(x, y, 1, 1);
    return box;
}

// The bar of the progress dialog's size with red, blue and green that are easy to tell.
struct HalfBar {
    TGradProgress bar;
    HalfBar() {
        bar.resize(270, 16);
        bar.SetStartColor(TGradProgress::clRed);
        bar.SetEndColor(TGradProgress::clBlue);
        bar.SetBackColor(0x00FF00);
        bar.SetPosition(50);
    }
};

} // namespace

TEST(GradProgress, DefaultsAtCreation) {
    TGradProgress bar;
    EXPECT_EQ(bar.width(), 150);
    EXPECT_EQ(bar.height(), 16);
    EXPECT_EQ(bar.Style(), TGradProgress::gsHorizontal);
    EXPECT_EQ(bar.BevelStyle(), TGradProgress::bsLowered);
    EXPECT_EQ(bar.BevelWidth(), 1);
    EXPECT_EQ(bar.StartColor(), 0xFF0000u);
    EXPECT_EQ(bar.EndColor(), 0x0000FFu);
    EXPECT_EQ(bar.BackColor(), 0x8000000Fu);
    EXPECT_EQ(bar.MaxValue(), 100.0);
    EXPECT_TRUE(bar.ShowDec);
    EXPECT_TRUE(bar.ShowPercent());
    EXPECT_FALSE(bar.TrueTypeFonts().isEmpty());
}

// 50 of 100 on 270 pixels: r = n = 135, so columns 1 to 134 hold the gradient and
// 135 to 268 the background (column 0 and 269 are the bevel).
TEST(GradProgress, HalfBarColumns) {
    HalfBar h;
    h.bar.SetShowPercent(false);
    const QImage img = Render(h.bar);
    struct Column {
        int x;
        QColor c;
    };
    // f = round(255 * x / 135); red 255 - f, blue f.
    const Column expected[] = {
        {1, QColor(253, 0, 2)},    // f = round(1.89) = 2
        {67, QColor(128, 0, 127)}, // f = round(126.56) = 127
        {134, QColor(2, 0, 253)},  // f = round(253.11) = 253
        {135, QColor(0, 255, 0)},  // the background starts at the fill front
        {268, QColor(0, 255, 0)},
    };
    for (const Column& col : expected)
        for (int y = 1; y <= 14; ++y)
            ASSERT_EQ(Name(img, col.x, y), col.c.name()) << "column " << col.x << " row " << y;
    const QColor shadow = TGradProgress::ColorToQColor(TGradProgress::clBtnShadow);
    const QColor light = TGradProgress::ColorToQColor(TGradProgress::clBtnHighlight);
    EXPECT_EQ(Name(img, 100, 0), (shadow).name());
    EXPECT_EQ(Name(img, 0, 8), (shadow).name());
    EXPECT_EQ(Name(img, 100, 15), (light).name());
    EXPECT_EQ(Name(img, 269, 8), (light).name());
}

TEST(GradProgress, HalfBarText) {
    HalfBar h;
    const QRect inner(1, 1, 268, 14);
    h.bar.SetShowPercent(false);
    const QImage plain = Render(h.bar);
    h.bar.SetShowPercent(true);
    h.bar.ShowDec = false;
    EXPECT_EQ(h.bar.PercentText(), "50%");
    const QImage whole = Render(h.bar);
    h.bar.ShowDec = true;
    EXPECT_EQ(h.bar.PercentText(), QString("50") + QLocale().decimalPoint() + "0%");
    const QImage dec = Render(h.bar);

    EXPECT_TRUE(PixelsOf(plain, Qt::white, inner).isEmpty());
    const QRect wholeBox = TextPixels(plain, whole, inner);
    const QRect decBox = TextPixels(plain, dec, inner);
    ASSERT_FALSE(wholeBox.isEmpty());
    ASSERT_FALSE(decBox.isEmpty());
    // Centred on column 135; "50.0%" is wider than "50%".
    EXPECT_NEAR(wholeBox.center().x(), 135, 8);
    EXPECT_NEAR(decBox.center().x(), 135, 8);
    EXPECT_GT(decBox.width(), wholeBox.width());
    EXPECT_NEAR(wholeBox.center().y(), 8, 2);
}

struct RoundCase {
    const char* name;
    double position;
    const char* text;
};

// Test names show the row's name instead of its bytes.
void PrintTo(const RoundCase& row, std::ostream* os) {
    *os << row.name;
}

class GradProgressRounding : public testing::TestWithParam<RoundCase> {};

TEST_P(GradProgressRounding, WholePercent) {
    TGradProgress bar;
    bar.resize(200, 16);
    bar.ShowDec = false;
    bar.SetPosition(GetParam().position);
    EXPECT_EQ(bar.PercentText(), GetParam().text);
}

// Halves go to the even neighbour.
INSTANTIATE_TEST_SUITE_P(Halves, GradProgressRounding,
                         testing::Values(RoundCase{"TwoAndAHalf", 2.5, "2%"},
                                         RoundCase{"ThreeAndAHalf", 3.5, "4%"},
                                         RoundCase{"JustOverAHalf", 2.51, "3%"},
                                         RoundCase{"Full", 100, "100%"},
                                         RoundCase{"Empty", 0, "0%"}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(GradProgress, BevelWidthLeavesFourPixels) {
    TGradProgress bar;
    bar.resize(270, 16);
    bar.SetBevelWidth(6); // 12 <= 16 - 4
    EXPECT_EQ(bar.BevelWidth(), 6);
    bar.SetBevelWidth(7); // 14 > 12: refused
    EXPECT_EQ(bar.BevelWidth(), 6);
    bar.SetBevelWidth(0);
    EXPECT_EQ(bar.BevelWidth(), 6);
    bar.SetBevelWidth(2);
    bar.SetShowPercent(false);
    bar.SetBackColor(0x00FF00);
    const QImage img = Render(bar);
    const QColor shadow = TGradProgress::ColorToQColor(TGradProgress::clBtnShadow);
    EXPECT_EQ(Name(img, 100, 1), (shadow).name());            // second ring
    EXPECT_EQ(Name(img, 100, 2), (QColor(0, 255, 0)).name()); // inside
}

TEST(GradProgress, PositionBounds) {
    TGradProgress bar;
    bar.SetPosition(30);
    bar.SetPosition(-5);
    EXPECT_EQ(bar.Position(), 30);
    bar.SetPosition(150);
    EXPECT_EQ(bar.Position(), 100);
    bar.SetMaxValue(40);
    EXPECT_EQ(bar.Position(), 40);
    bar.SetMaxValue(0); // refused: every length would divide by it
    EXPECT_EQ(bar.MaxValue(), 40);
    bar.SetStep(5);
    bar.SetMaxValue(100);
    bar.Stepit();
    EXPECT_EQ(bar.Position(), 45);
}

TEST(GradProgress, PaintsAtOnceOnlyOnChange) {
    TGradProgress bar;
    bar.show();
    QCoreApplication::processEvents();
    PaintCounter counter;
    bar.installEventFilter(&counter);
    bar.SetPosition(10);
    EXPECT_EQ(counter.Count, 1);
    bar.SetPosition(10);
    EXPECT_EQ(counter.Count, 1);
    bar.ShowDec = false; // a plain field: no paint
    EXPECT_EQ(counter.Count, 1);
    bar.removeEventFilter(&counter);
}

// The progress dialog's colours: the components of the menu colour are taken as
// stored, so the gradient runs from red 4 to blue, while the background shows the
// real menu colour.
TEST(GradProgress, MenuColourGradient) {
    TGradProgress bar;
    bar.resize(270, 16);
    bar.SetStartColor(TGradProgress::clMenu);
    bar.SetEndColor(TGradProgress::clBlue);
    bar.SetBackColor(TGradProgress::clMenu);
    bar.SetShowPercent(false);
    bar.SetPosition(50);
    const QImage img = Render(bar);
    // Column 1: f = 2, red 4 + round(2 * -4 / 255) = 4, blue 2.
    EXPECT_EQ(Name(img, 1, 8), (QColor(4, 0, 2)).name());
    // Column 134: f = 253, red 4 + round(-3.97) = 0, blue 253.
    EXPECT_EQ(Name(img, 134, 8), (QColor(0, 0, 253)).name());
    EXPECT_EQ(Name(img, 200, 8), (TGradProgress::ColorToQColor(TGradProgress::clMenu)).name());
}

TEST(GradProgress, SystemColours) {
    EXPECT_EQ(TGradProgress::ColorToQColor(0x8000000F),
              QApplication::palette().color(QPalette::Button));
    EXPECT_EQ(TGradProgress::ColorToQColor(0x80000008),
              QApplication::palette().color(QPalette::WindowText));
    EXPECT_EQ(TGradProgress::ColorToQColor(0x00336699), QColor(0x99, 0x66, 0x33));
}

// A vertical bar too narrow for its text writes it turned: taller than wide.
TEST(GradProgress, VerticalTextTurned) {
    TGradProgress bar;
    bar.resize(16, 120);
    bar.SetStyle(TGradProgress::gsVertical);
    bar.SetStartColor(TGradProgress::clRed);
    bar.SetEndColor(TGradProgress::clRed);
    bar.SetBackColor(0x00FF00);
    bar.SetPosition(25);
    const QImage img = Render(bar);
    // The filled part runs from the inner bottom up to row 120 - 30 = 90.
    EXPECT_EQ(Name(img, 3, 92), (QColor(255, 0, 0)).name());
    EXPECT_EQ(Name(img, 3, 88), (QColor(0, 255, 0)).name());
    const QRect text = PixelsOf(img, Qt::white, QRect(1, 1, 14, 118));
    ASSERT_FALSE(text.isEmpty());
    EXPECT_GT(text.height(), text.width());
}

namespace {

// Relative luminance and contrast ratio after the accessibility guidelines (WCAG 2).
double Luminance(QRgb c) {
    const auto linear = [](int v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(c)) + 0.7152 * linear(qGreen(c)) + 0.0722 * linear(qBlue(c));
}

double Contrast(QRgb a, QRgb b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

struct ContrastCase {
    const char* name;
    double position;
    TColor back; // the unfilled rest: the menu colour of a light or a dark desktop
};

void PrintTo(const ContrastCase& row, std::ostream* os) {
    *os << row.name;
}

class GradProgressContrast : public testing::TestWithParam<ContrastCase> {};

} // namespace

// The progress dialog's bar (white text, gradient from the menu colour to blue) at the
// fill levels a rip passes through. Each text pixel is compared with the same pixel of
// the bar painted without text; over the fill and over the rest, the strongest stroke
// of the text must reach 4.5:1 against what lies under it.
TEST_P(GradProgressContrast, TextReadsOverFillAndRest) {
    TGradProgress bar;
    bar.resize(270, 16);
    bar.SetStartColor(TGradProgress::clMenu);
    bar.SetEndColor(TGradProgress::clBlue);
    bar.SetBackColor(GetParam().back);
    bar.SetFontColor(TGradProgress::clWhite);
    bar.ShowDec = false;
    bar.SetPosition(GetParam().position);
    bar.SetShowPercent(false);
    const QImage plain = Render(bar);
    bar.SetShowPercent(true);
    const QImage text = Render(bar);
    const int front = static_cast<int>(std::lround(GetParam().position * 270 / 100));
    double best[2] = {0, 0}; // over the fill, over the rest
    int pixels[2] = {0, 0};
    for (int y = 1; y < 15; ++y)
        for (int x = 1; x < 269; ++x)
            if (plain.pixel(x, y) != text.pixel(x, y)) {
                const int part = x < front ? 0 : 1;
                ++pixels[part];
                best[part] = std::max(best[part], Contrast(plain.pixel(x, y), text.pixel(x, y)));
            }
    ASSERT_GT(pixels[0] + pixels[1], 20) << "no text painted";
    for (int part = 0; part < 2; ++part) {
        if (pixels[part] > 0) {
            EXPECT_GE(best[part], 4.5) << (part == 0 ? "over the fill" : "over the rest");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, GradProgressContrast,
    testing::Values(ContrastCase{"LightAt0", 0, 0xF0F0F0}, ContrastCase{"LightAt26", 26, 0xF0F0F0},
                    ContrastCase{"LightAt50", 50, 0xF0F0F0},
                    ContrastCase{"LightAt100", 100, 0xF0F0F0}, ContrastCase{"DarkAt0", 0, 0x352B22},
                    ContrastCase{"DarkAt26", 26, 0x352B22}, ContrastCase{"DarkAt50", 50, 0x352B22},
                    ContrastCase{"DarkAt100", 100, 0x352B22}),
    [](const auto& row) { return std::string(row.param.name); });
