#include "ui/SkinLook.h"

#include "platform/AppInfo.h"
#include "ui/uMain.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace {

// The skin's own colours: the list's ground, the panels, the text and the selection.
QPalette SkinPalette() {
    const QColor ground(0x12, 0x18, 0x24), panel(0x1c, 0x24, 0x35), raised(0x27, 0x31, 0x4a);
    const QColor text(0xd6, 0xdf, 0xec), dimmed(0x7a, 0x86, 0x9c), frame(0x3c, 0x4a, 0x66);
    const QColor accent(0x2b, 0x6c, 0xd0);
    QPalette p;
    p.setColor(QPalette::Window, panel);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, ground);
    p.setColor(QPalette::AlternateBase, QColor(0x16, 0x1d, 0x2b));
    p.setColor(QPalette::ToolTipBase, raised);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, dimmed);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, raised);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Light, QColor(0x4a, 0x5a, 0x7a));
    p.setColor(QPalette::Midlight, frame);
    p.setColor(QPalette::Mid, QColor(0x22, 0x2b, 0x3f));
    p.setColor(QPalette::Dark, QColor(0x0c, 0x10, 0x18));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, accent);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x6f, 0xa8, 0xff));
    p.setColor(QPalette::LinkVisited, QColor(0xa0, 0x8c, 0xe8));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dimmed);
    p.setColor(QPalette::Disabled, QPalette::Base, panel);
    p.setColor(QPalette::Disabled, QPalette::Highlight, frame);
    return p;
}

} // namespace

void ApplySkinLook(QApplication& app) {
    // Fusion draws every control from the palette, so the dark colours reach all of them.
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        app.setStyle(fusion);
    app.setPalette(SkinPalette());
    // The icon the build draws beside the program; an installed copy is found through
    // the icon theme. The desktop file name lets the task bar match the window to it.
    const QString name = QString::fromUtf8(AppInfo::ProgramName.data(),
                                           static_cast<qsizetype>(AppInfo::ProgramName.size()));
    const QString beside = ProgramDataFile(QStringLiteral("skin/") + name + QStringLiteral(".png"));
    QApplication::setWindowIcon(QFileInfo::exists(beside) ? QIcon(beside) : QIcon::fromTheme(name));
    QGuiApplication::setDesktopFileName(QString::fromUtf8(
        AppInfo::DesktopId.data(), static_cast<qsizetype>(AppInfo::DesktopId.size())));
}
