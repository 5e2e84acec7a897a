#include "ui/GradProgress.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cmath>

namespace {

// System colour indices and the palette roles that stand for them here.
QPalette::ColorRole RoleOfSystemColor(unsigned index) {
    switch (index) {
    case 5: // window
        return QPalette::Base;
    case 6: // window frame
        return QPalette::Shadow;
    case 7: // menu text
    case 8: // window text
        return QPalette::WindowText;
    case 9:  // caption text
    case 14: // highlight text
        return QPalette::HighlightedText;
    case 13:
        return QPalette::Highlight;
    case 16: // button shadow
        return QPalette::Dark;
    case 17: // grey text
        return QPalette::PlaceholderText;
    case 18:
        return QPalette::ButtonText;
    case 20: // button highlight
        return QPalette::Light;
    case 21: // 3D dark shadow
        return QPalette::Shadow;
    case 22: // 3D light
        return QPalette::Midlight;
    case 23: // info text
        return QPalette::ToolTipText;
    case 24:
        return QPalette::ToolTipBase;
    case 15: // button face
        return QPalette::Button;
    default: // menu (4), background, app workspace, ...
        return QPalette::Window;
    }
}

// Rounds halves to the even neighbour, as the bar's lengths and whole percentages do.
int RoundEven(double v) {
    return static_cast<int>(std::nearbyint(v));
}
// Rounds halves away from zero, as the gradient's colour steps do.
int RoundAway(double v) {
    return static_cast<int>(std::lround(v));
}

} // namespace

TGradProgress::TGradProgress(QWidget* parent) : QWidget(parent) {
    resize(150, 16);
    QFont f = font(); // the user interface's default font stands for "Default"
    f.setPointSize(8);
    setFont(f);
    ComputeSteps();
    const QStringList families = QFontDatabase::families();
    for (const QString& family : families)
        if (QFontDatabase::isScalable(family))
            FTrueTypeFonts << family;
    FTrueTypeFonts.sort();
    ShowDec = true;
}

QColor TGradProgress::ColorToQColor(TColor color) {
    if (color & 0x80000000u)
        return QApplication::palette().color(QPalette::Active, RoleOfSystemColor(color & 0xFFu));
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

void TGradProgress::SetStyle(TStyle value) {
    if (value == FStyle)
        return;
    FStyle = value;
    update();
}

void TGradProgress::SetBevelStyle(TBevelStyleExt value) {
    if (value == FBevelStyle)
        return;
    FBevelStyle = value;
    update();
}

void TGradProgress::SetBevelWidth(int value) {
    if (value == FBevelWidth)
        return;
    // Keep at least four pixels of the bar free in each direction.
    if (value >= 1 && value <= 10 && 2 * value <= height() - 4 && 2 * value <= width() - 4)
        FBevelWidth = value;
    update();
}

void TGradProgress::SetStartColor(TColor value) {
    if (value == FStartColor)
        return;
    FStartColor = value;
    ComputeSteps();
    update();
}

void TGradProgress::SetEndColor(TColor value) {
    if (value == FEndColor)
        return;
    FEndColor = value;
    ComputeSteps();
    update();
}

void TGradProgress::SetPosition(double value) {
    if (value == FPosition || value < 0)
        return;
    if (value > FMaxValue)
        value = FMaxValue;
    FPosition = value;
    repaint(); // at once, not at the next turn of the event loop
}

void TGradProgress::SetMaxValue(double value) {
    // A maximum of 0 or below would make every length meaningless: refused.
    if (value == FMaxValue || !(value > 0))
        return;
    FMaxValue = value;
    if (FPosition > FMaxValue)
        FPosition = FMaxValue;
    update();
}

void TGradProgress::SetShowPercent(bool value) {
    if (value == FShowPercent)
        return;
    FShowPercent = value;
    update();
}

void TGradProgress::SetBackColor(TColor value) {
    if (value == FBackColor)
        return;
    FBackColor = value;
    update();
}

void TGradProgress::SetFontColor(TColor value) {
    if (value == FFontColor)
        return;
    FFontColor = value;
    update();
}

// The components come from the stored bytes: a system colour gives its index as red.
void TGradProgress::ComputeSteps() {
    FStartRed = FStartColor & 0xFF;
    FStartGreen = (FStartColor >> 8) & 0xFF;
    FStartBlue = (FStartColor >> 16) & 0xFF;
    FRedStep = static_cast<int>(FEndColor & 0xFF) - FStartRed;
    FGreenStep = static_cast<int>((FEndColor >> 8) & 0xFF) - FStartGreen;
    FBlueStep = static_cast<int>((FEndColor >> 16) & 0xFF) - FStartBlue;
}

QRect TGradProgress::InnerRect() const {
    const int w = FBevelStyle == bsNone ? 1 : FBevelWidth;
    return QRect(QPoint(w, w), QPoint(width() - w - 1, height() - w - 1));
}

double TGradProgress::FillExtent() const {
    const int length = FStyle == gsHorizontal ? width() : height();
    return FPosition * length / FMaxValue;
}

QString TGradProgress::PercentText() const {
    const int length = FStyle == gsHorizontal ? width() : height();
    const double p = length > 0 ? FillExtent() * 100 / length : 0.0;
    if (ShowDec)
        return QLocale().toString(p, 'f', 1) + QLatin1Char('%');
    return QString::number(RoundEven(p)) + QLatin1Char('%');
}

void TGradProgress::paintEvent(QPaintEvent*) {
    QPainter canvas(this);
    Paint(canvas);
}

void TGradProgress::Paint(QPainter& canvas) {
    DrawBevel(canvas);
    const QRect inner = InnerRect();
    if (inner.isEmpty())
        return;
    const int n = RoundEven(FillExtent());
    FBitmap = QImage(inner.right() + 1, inner.bottom() + 1, QImage::Format_RGB32);
    FBitmap.fill(Qt::black);
    QPainter bitmap(&FBitmap);
    PaintGradient(bitmap, n, inner);
    PaintBackground(bitmap, n, inner);
    if (FShowPercent)
        PaintText(bitmap, inner, n);
    bitmap.end();
    canvas.drawImage(inner.topLeft(), FBitmap, inner);
}

// Ring i runs around (i, i) to (width - i, height - i): a sunken outer edge has its
// shadow at the top and left, a raised inner edge its highlight there.
void TGradProgress::DrawBevel(QPainter& canvas) const {
    if (FBevelStyle == bsNone)
        return;
    const QColor shadow = ColorToQColor(clBtnShadow);
    const QColor light = ColorToQColor(clBtnHighlight);
    const QColor topLeft = FBevelStyle == bsLowered ? shadow : light;
    const QColor bottomRight = FBevelStyle == bsLowered ? light : shadow;
    for (int i = 0; i < FBevelWidth; ++i) {
        const int w = width() - 2 * i, h = height() - 2 * i;
        canvas.fillRect(i, i, w, 1, topLeft);
        canvas.fillRect(i, i, 1, h, topLeft);
        canvas.fillRect(i, height() - i - 1, w, 1, bottomRight);
        canvas.fillRect(width() - i - 1, i, 1, h, bottomRight);
    }
}

// One line per step from the control's own edge to the fill front, so the whole
// gradient always fits into the filled part.
void TGradProgress::PaintGradient(QPainter& bitmap, int n, const QRect& inner) const {
    for (int i = 0; i <= n; ++i) {
        const QColor c = GradientColor(i, n);
        if (FStyle == gsHorizontal)
            bitmap.fillRect(i, inner.top(), 1, inner.height(), c);
        else
            bitmap.fillRect(inner.left(), std::abs(i - height()), inner.width(), 1, c);
    }
}

QColor TGradProgress::GradientColor(int i, int n) const {
    const int f = n == 0 ? 0 : RoundAway(255.0 * i / n);
    return QColor((FStartRed + RoundAway(f * FRedStep / 255.0)) & 0xFF,
                  (FStartGreen + RoundAway(f * FGreenStep / 255.0)) & 0xFF,
                  (FStartBlue + RoundAway(f * FBlueStep / 255.0)) & 0xFF);
}

void TGradProgress::PaintBackground(QPainter& bitmap, int n, const QRect& inner) const {
    const QColor back = ColorToQColor(FBackColor);
    if (FStyle == gsHorizontal)
        bitmap.fillRect(QRect(QPoint(n, inner.top()), QPoint(width() - 1, height() - 1)), back);
    else
        bitmap.fillRect(QRect(inner.topLeft(), QPoint(inner.right(), height() - n - 1)), back);
}

namespace {

// Relative luminance and contrast ratio as the accessibility guidelines define them.
double Luminance(const QColor& c) {
    const auto linear = [](int v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.red()) + 0.7152 * linear(c.green()) + 0.0722 * linear(c.blue());
}

double Contrast(const QColor& a, const QColor& b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The font colour where it reads well on the ground (4.5:1), otherwise white or black,
// whichever stands out more.
QColor TextColorOn(const QColor& wanted, const QColor& ground) {
    if (Contrast(wanted, ground) >= 4.5)
        return wanted;
    const QColor white(Qt::white), black(Qt::black);
    return Contrast(white, ground) >= Contrast(black, ground) ? white : black;
}

} // namespace

void TGradProgress::PaintText(QPainter& bitmap, const QRect& inner, int n) {
    bitmap.setFont(font());
    bitmap.setPen(ColorToQColor(FFontColor));
    bitmap.setBrush(Qt::NoBrush);
    const QString text = PercentText();
    if (FStyle == gsVertical)
        PaintVerticalText(bitmap, inner, text);
    else
        PaintContrastingText(bitmap, inner, n, text);
}

// The text runs over the gradient and the unfilled rest alike, so each run of columns
// gets the colour that reads on what lies under it there: the font colour over the
// dark fill, a dark one over a light rest.
void TGradProgress::PaintContrastingText(QPainter& bitmap, const QRect& inner, int n,
                                         const QString& text) {
    const int flags = Qt::AlignCenter | Qt::TextSingleLine;
    const QRect box = bitmap.fontMetrics()
                          .boundingRect(inner, flags, text)
                          .adjusted(-2, 0, 2, 0)
                          .intersected(inner);
    const QColor wanted = ColorToQColor(FFontColor), back = ColorToQColor(FBackColor);
    const auto penAt = [&](int x) {
        return TextColorOn(wanted, x < n ? GradientColor(x, n) : back);
    };
    for (int x = box.left(); x <= box.right();) {
        const QColor pen = penAt(x);
        int end = x + 1;
        while (end <= box.right() && penAt(end) == pen)
            ++end;
        bitmap.setClipRect(QRect(x, inner.top(), end - x, inner.height()));
        bitmap.setPen(pen);
        bitmap.drawText(inner, flags, text);
        x = end;
    }
    bitmap.setClipping(false);
}

// A bar too narrow for its text writes it turned to run downwards; turned text
// takes a scalable font.
void TGradProgress::PaintVerticalText(QPainter& bitmap, const QRect& inner, const QString& text) {
    QFont f = bitmap.font();
    if (!FTrueTypeFonts.contains(f.family()) && !FTrueTypeFonts.isEmpty())
        f.setFamily(FTrueTypeFonts.first());
    const QFontMetrics screen{QFont()};
    const int cx = screen.horizontalAdvance(text), cy = screen.height();
    if (width() - 2 * FBevelWidth - 6 < cx) {
        bitmap.save();
        bitmap.setFont(f);
        bitmap.translate(RoundEven((width() + cy - 3) / 2.0), RoundEven((height() - cx + 3) / 2.0));
        bitmap.rotate(90);
        bitmap.drawText(QRect(0, 0, cx + cy, cy), Qt::AlignLeft | Qt::AlignTop, text);
        bitmap.restore();
    } else {
        bitmap.drawText(inner, Qt::AlignCenter | Qt::TextSingleLine, text);
    }
}
