// mkskin: draws the main window's skin. The background holds every button in its
// normal look; each hover image is the same picture with that one button highlighted,
// cut out at the button's listed position and size, so the two always line up.
//
// usage: mkskin OUTPUT_DIR
#include "JpegWriter.h"
#include "ui/SkinLayout.h"

#include <QConicalGradient>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

using SkinLayout::Button;
using SkinLayout::ButtonId;

const QColor Ink(0xd6, 0xdf, 0xec);
const QColor Dim(0x8a, 0x98, 0xb0);
const QColor Accent(0x5c, 0xc8, 0xff);
const QColor PanelTop(0x27, 0x31, 0x46);
const QColor PanelBottom(0x1c, 0x24, 0x35);
const QColor Edge(0x3c, 0x4a, 0x66);

// The one family the artwork is drawn in (fonts-dejavu-core); the layout's widths are
// measured in it.
const QString Family = QStringLiteral("DejaVu Sans");

QFont font(int pixels, bool bold = false, qreal spacing = 0) {
    QFont f(Family);
    f.setPixelSize(pixels);
    f.setBold(bold);
    if (spacing != 0)
        f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

const Button& button(ButtonId id) {
    return SkinLayout::Buttons[static_cast<std::size_t>(id)];
}
QRect hoverRect(const Button& b) {
    return {b.left, b.top, b.width, b.height};
}
QRect regionRect(const Button& b) {
    return {b.x1, b.y1, b.x2 - b.x1 + 1, b.y2 - b.y1 + 1};
}
QRectF regionF(const Button& b) {
    return QRectF(regionRect(b));
}

void panel(QPainter& p, const QRectF& r, qreal radius) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, PanelTop);
    g.setColorAt(1, PanelBottom);
    p.setPen(QPen(Edge, 1));
    p.setBrush(g);
    p.drawRoundedRect(r, radius, radius);
}

void recess(QPainter& p, const QRectF& r, qreal radius) {
    p.setPen(QPen(QColor(0x0b, 0x0f, 0x18), 1));
    p.setBrush(QColor(0x12, 0x18, 0x24));
    p.drawRoundedRect(r, radius, radius);
    p.setPen(QPen(QColor(0x33, 0x3f, 0x57), 1));
    p.setBrush(Qt::NoBrush);
    p.drawLine(r.bottomLeft() + QPointF(radius, 0.5), r.bottomRight() + QPointF(-radius, 0.5));
}

// The glowing plate behind a highlighted button, filling its hover picture.
void glowPlate(QPainter& p, const QRectF& r) {
    const QRectF in = r.adjusted(1, 1, -1, -1);
    QLinearGradient g(in.topLeft(), in.bottomLeft());
    g.setColorAt(0, QColor(0x4a, 0x9c, 0xf0));
    g.setColorAt(0.5, QColor(0x2b, 0x6c, 0xd0));
    g.setColorAt(1, QColor(0x1d, 0x4e, 0xa8));
    p.setPen(QPen(QColor(0xa8, 0xe0, 0xff), 1));
    p.setBrush(g);
    const qreal radius = std::min(in.height(), in.width()) / 4;
    p.drawRoundedRect(in, radius, radius);
    p.setPen(QPen(QColor(255, 255, 255, 70), 1));
    p.drawLine(in.topLeft() + QPointF(radius, 1), in.topRight() + QPointF(-radius, 1));
}

void disc(QPainter& p, QPointF c, qreal r) {
    QConicalGradient shine(c, 30);
    const QColor stops[] = {QColor(0xc9, 0xd6, 0xe8), QColor(0x7f, 0xd4, 0xff),
                            QColor(0xe6, 0xc7, 0xff), QColor(0xff, 0xe2, 0xa8),
                            QColor(0xc9, 0xd6, 0xe8)};
    for (int i = 0; i < 5; ++i)
        shine.setColorAt(i / 4.0, stops[i]);
    p.setPen(QPen(QColor(0x0e, 0x13, 0x1d), 1));
    p.setBrush(shine);
    p.drawEllipse(c, r, r);
    p.setBrush(QColor(0x1b, 0x22, 0x31));
    p.setPen(QPen(QColor(0x9a, 0xa8, 0xbf), 1));
    p.drawEllipse(c, r * 0.3, r * 0.3);
    p.setBrush(QColor(0x0e, 0x13, 0x1d));
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, r * 0.12, r * 0.12);
}

void titleBar(QPainter& p) {
    const QRectF bar(8, 8, 622, 44);
    QLinearGradient g(bar.topLeft(), bar.bottomLeft());
    g.setColorAt(0, QColor(0x33, 0x40, 0x5c));
    g.setColorAt(1, QColor(0x1d, 0x26, 0x39));
    p.setPen(QPen(Edge, 1));
    p.setBrush(g);
    p.drawRoundedRect(bar, 8, 8);
    disc(p, QPointF(32, 30), 15);
    p.setFont(font(20, true));
    p.setPen(Qt::white);
    p.drawText(QPointF(56, 37), QStringLiteral("Velmora"));
    const int x = 56 + p.fontMetrics().horizontalAdvance(QStringLiteral("Velmora ")) + 2;
    p.setFont(font(15));
    p.setPen(Ink);
    p.drawText(QPointF(x, 36), QStringLiteral("MP3 CD Ripper"));
    const int vx = x + p.fontMetrics().horizontalAdvance(QStringLiteral("MP3 CD Ripper")) + 10;
    const QRectF badge(vx, 22, 30, 16);
    p.setPen(Qt::NoPen);
    p.setBrush(Accent);
    p.drawRoundedRect(badge, 8, 8);
    p.setFont(font(11, true));
    p.setPen(QColor(0x0e, 0x1a, 0x2a));
    p.drawText(badge, Qt::AlignCenter, QStringLiteral("2.3"));
}

void statusStrip(QPainter& p) {
    const QRectF strip(14, 64, 610, 28);
    QLinearGradient g(strip.topLeft(), strip.bottomLeft());
    g.setColorAt(0, QColor(0xc8, 0xd5, 0xe6));
    g.setColorAt(0.15, QColor(0xe4, 0xec, 0xf6));
    g.setColorAt(1, QColor(0xd4, 0xdf, 0xee));
    p.setPen(QPen(QColor(0x0b, 0x0f, 0x18), 1));
    p.setBrush(g);
    p.drawRoundedRect(strip, 5, 5);
    p.setFont(font(9, true, 1.5));
    p.setPen(QColor(0x6a, 0x7c, 0x98));
    p.drawText(QRectF(400, 64, 216, 28), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("STATUS"));
}

void heading(QPainter& p, QPointF at, const QString& text) {
    p.setFont(font(9, true, 1.5));
    p.setPen(Accent);
    p.drawText(at, text);
}

// A little wave or note glyph for the two extraction buttons.
void waveGlyph(QPainter& p, QRectF r, const QColor& c) {
    QPainterPath path;
    const int n = 9;
    const qreal heights[n] = {0.3, 0.6, 1.0, 0.5, 0.8, 0.35, 0.9, 0.55, 0.25};
    for (int i = 0; i < n; ++i) {
        const qreal x = r.left() + (i + 0.5) * r.width() / n;
        const qreal h = heights[i] * r.height() / 2;
        path.moveTo(x, r.center().y() - h);
        path.lineTo(x, r.center().y() + h);
    }
    p.setPen(QPen(c, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(path);
}

void noteGlyph(QPainter& p, QRectF r, const QColor& c) {
    p.setPen(QPen(c, 2, Qt::SolidLine, Qt::RoundCap));
    const qreal top = r.top() + 1, base = r.bottom() - 4;
    const qreal x1 = r.center().x() - 6, x2 = r.center().x() + 7;
    p.drawLine(QPointF(x1, base), QPointF(x1, top + 2));
    p.drawLine(QPointF(x2, base - 2), QPointF(x2, top));
    p.setPen(QPen(c, 3, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(x1, top + 2), QPointF(x2, top));
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QPointF(x1 - 3, base), 4, 3);
    p.drawEllipse(QPointF(x2 - 3, base - 2), 4, 3);
}

// WAV and MP3: a tile with a glyph and a label, inside the region where both overlap.
void extractButton(QPainter& p, ButtonId id, bool lit) {
    const Button& b = button(id);
    const QRectF tile =
        QRectF(regionRect(b).intersected(hoverRect(b))).adjusted(0.5, 0.5, -0.5, -0.5);
    if (lit) {
        glowPlate(p, QRectF(hoverRect(b)));
    } else {
        p.setPen(QPen(Edge, 1));
        p.setBrush(QColor(0x2c, 0x38, 0x50));
        p.drawRoundedRect(tile, 6, 6);
    }
    const QColor glyph = lit ? QColor(Qt::white) : Accent;
    const QRectF art(tile.left() + 6, tile.top() + 3, tile.width() - 12, tile.height() * 0.5);
    if (id == SkinLayout::ToWave)
        waveGlyph(p, art, glyph);
    else
        noteGlyph(p, art, glyph);
    p.setFont(font(12, true));
    p.setPen(lit ? QColor(Qt::white) : Ink);
    const QRectF label(tile.left(), tile.bottom() - 15, tile.width(), 14);
    p.drawText(label, Qt::AlignCenter, id == SkinLayout::ToWave ? "WAV" : "MP3");
}

// Options, Help, Exit: a text label at the left of its region.
void textButton(QPainter& p, ButtonId id, const QString& text, bool lit) {
    const Button& b = button(id);
    if (lit)
        glowPlate(p, QRectF(hoverRect(b)));
    p.setFont(font(11, true));
    p.setPen(lit ? QColor(Qt::white) : Ink);
    const QRectF area(hoverRect(b).left(), b.y1, hoverRect(b).width(), b.y2 - b.y1 + 1);
    p.drawText(area, Qt::AlignCenter, text);
}

void leftColumn(QPainter& p, int lit) {
    panel(p, QRectF(16.5, 102.5, 98, 326), 8);
    heading(p, QPointF(30, 126), QStringLiteral("EXTRACT"));
    p.setPen(QPen(Edge, 1));
    p.drawLine(QPointF(28, 134.5), QPointF(104, 134.5));
    extractButton(p, SkinLayout::ToWave, lit == SkinLayout::ToWave);
    extractButton(p, SkinLayout::ToMP3, lit == SkinLayout::ToMP3);
    p.setPen(QPen(Edge, 1));
    p.drawLine(QPointF(28, 259.5), QPointF(104, 259.5));
    textButton(p, SkinLayout::Options, QStringLiteral("Options"), lit == SkinLayout::Options);
    textButton(p, SkinLayout::Help, QStringLiteral("Help"), lit == SkinLayout::Help);
    textButton(p, SkinLayout::Exit, QStringLiteral("Exit"), lit == SkinLayout::Exit);
    disc(p, QPointF(65, 405), 11);
}

void trackPanel(QPainter& p) {
    panel(p, QRectF(124.5, 102.5, 500, 326), 8);
    heading(p, QPointF(136, 113), QStringLiteral("CD DRIVE"));
    recess(p, QRectF(131.5, 142.5, 484, 283), 4);
    // "Select all" beside the select-all box; imgSelAll is cut from here.
    p.setFont(font(10, true));
    p.setPen(Ink);
    p.drawText(QRectF(SkinLayout::SelAllX1 + 2, SkinLayout::SelAllY1 - 2, 56, 13),
               Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Select all"));
}

void transportSymbol(QPainter& p, ButtonId id, const QColor& c) {
    const QRectF r = regionF(button(id)).adjusted(1, 1, 0, 0);
    const qreal cy = r.center().y(), h = 5.5;
    auto tri = [&](qreal x, qreal dir) {
        const QPointF pts[3] = {{x, cy - h}, {x, cy + h}, {x + dir * 8, cy}};
        p.drawPolygon(pts, 3);
    };
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    const qreal cx = r.center().x();
    switch (id) {
    case SkinLayout::Back:
        p.drawRect(QRectF(cx - 8, cy - h, 2, 2 * h));
        tri(cx + 0, -1);
        tri(cx + 8, -1);
        break;
    case SkinLayout::Play:
        tri(cx - 4, 1);
        break;
    case SkinLayout::Pause:
        p.drawRect(QRectF(cx - 5, cy - h, 3.5, 2 * h));
        p.drawRect(QRectF(cx + 1.5, cy - h, 3.5, 2 * h));
        break;
    case SkinLayout::Stop:
        p.drawRect(QRectF(cx - 5, cy - 5, 10, 10));
        break;
    case SkinLayout::Forward:
        tri(cx - 8, 1);
        tri(cx + 0, 1);
        p.drawRect(QRectF(cx + 6, cy - h, 2, 2 * h));
        break;
    default: { // eject: a triangle over a bar
        const QPointF pts[3] = {{cx - 6, cy + 1}, {cx + 6, cy + 1}, {cx, cy - 6}};
        p.drawPolygon(pts, 3);
        p.drawRect(QRectF(cx - 6, cy + 3, 12, 2.5));
    }
    }
}

void transport(QPainter& p, int lit) {
    recess(p, QRectF(160.5, 430.5, 188, 34), 8);
    for (int id = SkinLayout::Back; id <= SkinLayout::Eject; ++id) {
        const auto bid = static_cast<ButtonId>(id);
        if (lit == id)
            glowPlate(p, QRectF(hoverRect(button(bid))));
        transportSymbol(p, bid, lit == id ? QColor(Qt::white) : Ink);
    }
    p.setFont(font(9, true, 1.5));
    p.setPen(Dim);
    p.drawText(QPointF(362, 446), QStringLiteral("CD PLAYER"));
    p.setFont(font(9));
    p.drawText(QPointF(362, 458), QStringLiteral("digital playback"));
    p.drawText(QRectF(440, 436, 180, 26), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("Velmora MP3 CD Ripper 2.3"));
}

void windowButtons(QPainter& p, int lit) {
    for (ButtonId id : {SkinLayout::Min, SkinLayout::Close}) {
        const Button& b = button(id);
        if (lit == id)
            glowPlate(p, QRectF(hoverRect(b)));
        const QRectF r = regionF(b).adjusted(1.5, 0.5, -0.5, -0.5);
        p.setPen(QPen(lit == id ? QColor(Qt::white) : Ink, 2, Qt::SolidLine, Qt::RoundCap));
        if (id == SkinLayout::Min) {
            p.drawLine(QPointF(r.left() + 1, r.bottom() - 1),
                       QPointF(r.right() - 1, r.bottom() - 1));
        } else {
            p.drawLine(r.topLeft() + QPointF(1, 1), r.bottomRight() - QPointF(1, 1));
            p.drawLine(r.topRight() + QPointF(-1, 1), r.bottomLeft() + QPointF(1, -1));
        }
    }
}

void homePage(QPainter& p, int lit) {
    const Button& b = button(SkinLayout::HomePage);
    if (lit == SkinLayout::HomePage)
        glowPlate(p, QRectF(hoverRect(b)));
    disc(p, QPointF(b.x1 + 5, b.y1 + 4.5), 5);
    p.setFont(font(10, true, 1.2));
    p.setPen(lit == SkinLayout::HomePage ? QColor(Qt::white) : Accent);
    p.drawText(QRectF(b.x1 + 13, b.y1 - 2, b.x2 - b.x1 - 12, 14), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("VELMORA"));
}

// The whole window with one button highlighted (lit = -1: none).
QImage drawSkin(int lit) {
    QImage img(SkinLayout::Width, SkinLayout::Height, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient bg(0, 0, 0, SkinLayout::Height);
    bg.setColorAt(0, QColor(0x1e, 0x26, 0x37));
    bg.setColorAt(1, QColor(0x10, 0x15, 0x20));
    p.fillRect(img.rect(), bg);
    p.setPen(QPen(QColor(0x4a, 0x5a, 0x7a), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, SkinLayout::Width - 1, SkinLayout::Height - 1));
    titleBar(p);
    windowButtons(p, lit);
    statusStrip(p);
    leftColumn(p, lit);
    trackPanel(p);
    transport(p, lit);
    homePage(p, lit);
    return img;
}

// Row icons, 16 x 16: a page (the track), with a speaker, a block or circling arrows.
QImage page(const QColor& fill) {
    QImage img(16, 16, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.moveTo(2.5, 0.5);
    path.lineTo(10.5, 0.5);
    path.lineTo(13.5, 3.5);
    path.lineTo(13.5, 15.5);
    path.lineTo(2.5, 15.5);
    path.closeSubpath();
    p.setPen(QPen(QColor(0x50, 0x5a, 0x6e), 1));
    p.setBrush(fill);
    p.drawPath(path);
    return img;
}

QImage rowAudio() {
    QImage img = page(QColor(0xf4, 0xf7, 0xfb));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1e, 0x6f, 0xd0));
    const QPointF speaker[6] = {{4, 6.5}, {6, 6.5}, {9, 4}, {9, 13}, {6, 10.5}, {4, 10.5}};
    p.drawPolygon(speaker, 6);
    p.setPen(QPen(QColor(0x1e, 0x6f, 0xd0), 1));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(8, 5.5, 4, 6), -60 * 16, 120 * 16);
    return img;
}

QImage rowData() {
    QImage img = page(QColor(0xf4, 0xf7, 0xfb));
    QPainter p(&img);
    p.fillRect(QRect(5, 5, 6, 7), QColor(0x6b, 0x75, 0x88));
    p.fillRect(QRect(6, 6, 4, 2), QColor(0xb8, 0xc0, 0xcc));
    return img;
}

QImage rowPlaying() {
    QImage img(16, 16, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor green(0x1f, 0xa8, 0x4a);
    p.setPen(QPen(green, 2, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(QRectF(2.5, 2.5, 11, 11), 100 * 16, 140 * 16);
    p.drawArc(QRectF(2.5, 2.5, 11, 11), -80 * 16, 140 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(green);
    const QPointF top[3] = {{9, 0.5}, {12.5, 3.5}, {8.5, 5.5}};
    const QPointF bottom[3] = {{7, 15.5}, {3.5, 12.5}, {7.5, 10.5}};
    p.drawPolygon(top, 3);
    p.drawPolygon(bottom, 3);
    return img;
}

// Check boxes of the list and the select-all box, 13 x 13: clear, ticked, grey.
QImage checkBox(int state) {
    QImage img(13, 13, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(state == 0 ? QColor(0x6a, 0x7c, 0x98) : Accent, 1));
    p.setBrush(state == 0 ? QColor(0x0e, 0x13, 0x1d) : QColor(0x1d, 0x4e, 0xa8));
    p.drawRoundedRect(QRectF(0.5, 0.5, 12, 12), 2.5, 2.5);
    if (state == 1) {
        p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QPointF tick[3] = {{3, 6.5}, {5.5, 9}, {10, 3.5}};
        p.drawPolyline(tick, 3);
    } else if (state == 2) {
        p.fillRect(QRectF(3, 5.5, 7, 2), QColor(0xa8, 0xe0, 0xff));
    }
    return img;
}

QImage appIcon() {
    QImage img(128, 128, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    QLinearGradient g(0, 0, 0, 128);
    g.setColorAt(0, QColor(0x33, 0x40, 0x5c));
    g.setColorAt(1, QColor(0x14, 0x1a, 0x27));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(4, 4, 120, 120), 24, 24);
    disc(p, QPointF(64, 60), 42);
    p.setPen(Qt::NoPen);
    p.setBrush(Accent);
    p.drawRoundedRect(QRectF(30, 100, 68, 18), 9, 9);
    p.setFont(font(13, true));
    p.setPen(QColor(0x0e, 0x1a, 0x2a));
    p.drawText(QRectF(30, 100, 68, 18), Qt::AlignCenter, QStringLiteral("MP3"));
    return img;
}

// The font the system gives for the family asked for must be that family, regular and
// bold: a substitute (fontconfig hands out another font when the family is missing)
// draws other widths, and the labels no longer fit their buttons.
bool fontsAsAsked() {
    const QStringList styles = QFontDatabase::styles(Family);
    for (const bool bold : {false, true}) {
        const QFontInfo got(font(12, bold));
        if (got.family() != Family) {
            std::fprintf(stderr, "mkskin: the font %s%s is not installed (got %s)\n",
                         qPrintable(Family), bold ? " Bold" : "",
                         got.family().isEmpty() ? "no font" : qPrintable(got.family()));
            return false;
        }
    }
    if (!styles.contains(QStringLiteral("Bold"))) {
        std::fprintf(stderr, "mkskin: the font %s Bold is not installed\n", qPrintable(Family));
        return false;
    }
    return true;
}

bool save(const QImage& img, const QDir& dir, const QString& name) {
    const QString path = dir.filePath(name);
    const bool ok = name.endsWith(".png") ? img.save(path, "PNG") : writeJpeg(img, path, 93);
    if (!ok)
        std::fprintf(stderr, "mkskin: cannot write %s\n", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkskin OUTPUT_DIR\n");
        return 2;
    }
    if (!fontsAsAsked()) {
        return 1;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "mkskin: cannot create %s\n", argv[1]);
        return 1;
    }
    const QImage plain = drawSkin(-1);
    bool ok = save(plain, dir, "background.jpg");
    ok &= save(plain.copy(SkinLayout::SelAllLeft, SkinLayout::SelAllTop, SkinLayout::SelAllWidth,
                          SkinLayout::SelAllHeight),
               dir, "imgSelAll.jpg");
    for (int id = 0; id < SkinLayout::ButtonCount; ++id) {
        const Button& b = SkinLayout::Buttons[static_cast<std::size_t>(id)];
        ok &= save(drawSkin(id).copy(hoverRect(b)), dir, QString::fromLatin1(b.name) + ".jpg");
    }
    ok &= save(rowAudio(), dir, "row_audio.png");
    ok &= save(rowData(), dir, "row_data.png");
    ok &= save(rowPlaying(), dir, "row_playing.png");
    ok &= save(checkBox(0), dir, "check_off.png");
    ok &= save(checkBox(1), dir, "check_on.png");
    ok &= save(checkBox(2), dir, "check_grey.png");
    ok &= save(appIcon(), dir, "velmora-ripper.png");
    return ok ? 0 : 1;
}
