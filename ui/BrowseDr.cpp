#include "ui/BrowseDr.h"

#include "ui/FolderBrowser.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QStandardPaths>

namespace {

QString Standard(QStandardPaths::StandardLocation location) {
    return QStandardPaths::writableLocation(location);
}

QString HomeSub(const char* sub) {
    return QDir::home().filePath(QString::fromLatin1(sub));
}

QString PersonalFolder(TRootID root) {
    switch (root) {
    case idPersonal:
        return Standard(QStandardPaths::DocumentsLocation);
    case idFavorites:
    case idRecent:
    case idSendTo:
        return QDir::homePath();
    case idStartup:
        return QDir(Standard(QStandardPaths::ConfigLocation)).filePath(QStringLiteral("autostart"));
    case idRecycleBin:
        return QDir(Standard(QStandardPaths::GenericDataLocation))
            .filePath(QStringLiteral("Trash/files"));
    case idPrograms:
    case idStartMenu:
        return Standard(QStandardPaths::ApplicationsLocation);
    case idDesktopDirectory:
    case idCommonDesktopDirectory:
        return Standard(QStandardPaths::DesktopLocation);
    case idFonts:
        return Standard(QStandardPaths::FontsLocation);
    case idTemplates:
        return HomeSub("Templates");
    case idCommonStartMenu:
    case idCommonPrograms:
        return QStringLiteral("/usr/share/applications");
    case idCommonStartup:
        return QStringLiteral("/etc/xdg/autostart");
    case idAppData:
        return Standard(QStandardPaths::GenericConfigLocation);
    default:
        return QString();
    }
}

QFontMetrics MetricsOf(const QWidget* control) {
    return QFontMetrics(control->font());
}

bool TooWide(const QWidget* control, const QString& text) {
    return control->width() < MetricsOf(control).horizontalAdvance(text);
}

// One folder less at the front of a directory part: "/a/b/" becomes "/.../b/", then
// "/.../" and, once only "..." is left, nothing. "/" alone becomes empty.
QString ShortenDirByOneFolder(QString dir) {
    if (dir == QStringLiteral("/"))
        return QString();
    const bool rooted = dir.startsWith(QLatin1Char('/'));
    if (rooted)
        dir.remove(0, 1);
    // Only the ".../" of an earlier step goes; a folder whose name starts with a dot
    // is an ordinary folder.
    if (dir.startsWith(QStringLiteral(".../")))
        dir.remove(0, 4);
    const qsizetype slash = dir.indexOf(QLatin1Char('/'));
    dir = slash >= 0 ? QStringLiteral(".../") + dir.mid(slash + 1) : QString();
    if (rooted)
        dir.prepend(QLatin1Char('/'));
    return dir;
}

// The form of a path the browser window is handed: without a final "/", except "/".
QString DisplayForm(const QString& path) {
    if (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        return path.left(path.size() - 1);
    return path;
}

} // namespace

QString RootFolder(TRootID root) {
    const QString folder = PersonalFolder(root);
    // A root without a folder here, or whose folder is missing, shows the whole tree,
    // as the shell falls back to the desktop.
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return QDir::rootPath();
    return folder;
}

TdfsBrowseDirectoryDlg::TdfsBrowseDirectoryDlg(QObject* owner) : QObject(owner) {
    parentControl_ = ChooseParent();
}

TdfsBrowseDirectoryDlg::~TdfsBrowseDirectoryDlg() = default;

// The owner when it is a widget, else the application's main window.
QWidget* TdfsBrowseDirectoryDlg::ChooseParent() const {
    if (auto* widget = qobject_cast<QWidget*>(parent()))
        return widget;
    return QApplication::activeWindow();
}

void TdfsBrowseDirectoryDlg::SetOptions(TBrowseFlags value) {
    if (value == options_)
        return;
    options_ = value;
    if (options_.Contains(bfIncludeURLs)) {
        options_.Include(bfIncludeFiles);
        options_.Include(bfUseNewUI);
    }
    if (options_.Contains(bfShareable))
        options_.Include(bfUseNewUI);
    if (options_.Contains(bfUseNewUI)) {
        options_.Include(bfEditBox);
        options_.Include(bfNewDialogStyle);
    }
}

uint32_t TdfsBrowseDirectoryDlg::ShellFlags(bool statusLine) const {
    static constexpr uint32_t shellFlag[] = {
        BrowseFlag::ReturnOnlyFsDirs,  BrowseFlag::DontGoBelowDomain, BrowseFlag::ReturnFsAncestors,
        BrowseFlag::BrowseForComputer, BrowseFlag::BrowseForPrinter,  BrowseFlag::IncludeFiles,
        BrowseFlag::EditBox,           BrowseFlag::IncludeUrls,       BrowseFlag::NewDialogStyle,
        BrowseFlag::Shareable,         BrowseFlag::UseNewUI};
    uint32_t flags = 0;
    for (int flag = bfDirectoriesOnly; flag <= bfUseNewUI; ++flag)
        if (options_.Contains(static_cast<TBrowseFlag>(flag)))
            flags |= shellFlag[flag];
    if (options_.Contains(bfEditBox))
        flags |= BrowseFlag::Validate;
    if (statusLine)
        flags |= BrowseFlag::StatusText;
    return flags;
}

bool TdfsBrowseDirectoryDlg::Execute() {
    displayName_.clear();
    if (!parentControl_)
        parentControl_ = ChooseParent();
    QString path;
    const bool chosen = BrowseDirectory(path, !statusText_.isEmpty() || showSelectionInStatus_);
    handle_ = nullptr;
    if (chosen) {
        selection_ = path; // as returned, without the setter's treatment
        selectionPIDL_ = path;
    } else {
        selection_.clear();
        selectionPIDL_.reset();
    }
    return chosen;
}

bool TdfsBrowseDirectoryDlg::BrowseDirectory(QString& path, bool statusLine) {
    path.clear();
    TFolderBrowserDialog dialog(parentControl_ ? parentControl_->window() : nullptr,
                                RootFolder(root_), title_, ShellFlags(statusLine));
    dialog.onInitialized = [this, &dialog] { DoInitialized(&dialog); };
    dialog.onSelChanged = [this, &dialog](const QString& item) { DoSelChanged(&dialog, item); };
    dialog.onResized = [this, &dialog] {
        if (handle_ == &dialog && !statusText_.isEmpty())
            dialog.SetStatusText(FittedStatusText());
    };
    dialog.onValidateFailed = [this](const QString& typed) {
        bool cancel = false;
        DoValidateFailed(typed, cancel);
        return cancel;
    };
    const bool chosen = dialog.exec() == QDialog::Accepted;
    handle_ = nullptr; // the window is gone before anything else can reach it
    if (!chosen)
        return false;
    path = dialog.ChosenPath();
    // Every item of this tree is a file-system path. There is no system image list,
    // so the image index stays -1.
    imageIndex_ = -1;
    displayName_ = QFileInfo(path).fileName();
    if (displayName_.isEmpty())
        displayName_ = path;
    return true;
}

void TdfsBrowseDirectoryDlg::DoInitialized(TFolderBrowserDialog* dialog) {
    handle_ = dialog;
    if (QLayout* layout = dialog->layout())
        layout->activate();
    if (center_) {
        const QScreen* screen = dialog->screen() ? dialog->screen() : QApplication::primaryScreen();
        if (screen) {
            const QRect area = screen->geometry();
            dialog->move(area.x() + (area.width() - dialog->width()) / 2,
                         area.y() + (area.height() - dialog->height()) / 2);
        }
    }
    dialog->EnableOK(enableOKButton_);
    if (!statusText_.isEmpty())
        dialog->SetStatusText(FittedStatusText());
    if (!selection_.isEmpty() || selectionPIDL_)
        ApplySelection();
    if (!caption_.isEmpty())
        dialog->setWindowTitle(caption_);
    if (OnCreate)
        OnCreate(this);
}

void TdfsBrowseDirectoryDlg::DoSelChanged(TFolderBrowserDialog*, const QString& item) {
    if (!showSelectionInStatus_ && !OnSelChanged)
        return;
    if (showSelectionInStatus_)
        SetStatusText(item);
    if (OnSelChanged)
        OnSelChanged(this, item, item);
}

void TdfsBrowseDirectoryDlg::DoValidateFailed(const QString& path, bool& cancel) {
    if (OnValidateFailed)
        OnValidateFailed(this, path, cancel);
}

void TdfsBrowseDirectoryDlg::SetSelection(const QString& value) {
    if (value == selection_)
        return;
    selection_ = value;
    if (!selection_.isEmpty() && !selection_.endsWith(QLatin1Char('/')) &&
        DirectoryExists(selection_))
        selection_ += QLatin1Char('/');
    if (selection_.isEmpty())
        selectionPIDL_.reset();
    if (showSelectionInStatus_)
        SetStatusText(selection_);
    if (handle_)
        ApplySelection();
}

// Only an absolute path that exists parses into an item; any other path is still
// handed to the window, which selects it if it can.
void TdfsBrowseDirectoryDlg::ApplySelection() {
    if (selection_.isEmpty() && selectionPIDL_) {
        selection_ = *selectionPIDL_;
        handle_->SetSelectionPath(*selectionPIDL_);
        return;
    }
    const QFileInfo info(selection_);
    if (info.isAbsolute() && info.exists())
        selectionPIDL_ = QDir::cleanPath(selection_);
    handle_->SetSelectionPath(DisplayForm(selection_));
}

void TdfsBrowseDirectoryDlg::SetStatusText(const QString& value) {
    if (value == statusText_)
        return;
    statusText_ = value;
    if (handle_)
        handle_->SetStatusText(FittedStatusText());
}

void TdfsBrowseDirectoryDlg::SetFitStatusText(bool value) {
    if (value == fitStatusText_)
        return;
    fitStatusText_ = value;
    if (handle_)
        handle_->SetStatusText(FittedStatusText());
}

void TdfsBrowseDirectoryDlg::SetEnableOKButton(bool value) {
    enableOKButton_ = value;
    if (handle_)
        handle_->EnableOK(value);
}

QString TdfsBrowseDirectoryDlg::Caption() const {
    if (handle_)
        return handle_->windowTitle().left(256);
    return caption_;
}

void TdfsBrowseDirectoryDlg::SetCaption(const QString& value) {
    caption_ = value;
    if (handle_)
        handle_->setWindowTitle(value);
}

QString TdfsBrowseDirectoryDlg::FittedStatusText() const {
    if (!fitStatusText_ || !handle_ || statusText_.isEmpty())
        return statusText_;
    const QLabel* line = handle_->StatusLine();
    if (!line)
        return statusText_;
    return DirectoryExists(statusText_) ? FitPathToControl(line, statusText_)
                                        : FitTextToControl(line, statusText_);
}

// Drops folders from the front of the path, one at a time, until it fits:
// /home/ann/Music/Rock becomes /.../ann/Music/Rock, then /.../Music/Rock, then
// /.../Rock, then .../Rock and finally Rock. Paths here have no drive part.
QString TdfsBrowseDirectoryDlg::FitPathToControl(const QWidget* control, const QString& path) {
    QString result = path;
    const qsizetype cut = path.lastIndexOf(QLatin1Char('/')) + 1;
    QString dir = path.left(cut);
    const QString name = path.mid(cut);
    while (!dir.isEmpty() && TooWide(control, result)) {
        if (dir == QStringLiteral("/.../"))
            dir = QStringLiteral(".../");
        else
            dir = ShortenDirByOneFolder(dir);
        result = dir + name;
    }
    return result;
}

QString TdfsBrowseDirectoryDlg::FitTextToControl(const QWidget* control, const QString& text) {
    QString result = text;
    QString kept = text;
    while (!kept.isEmpty() && TooWide(control, result)) {
        kept.chop(1);
        result = kept + QStringLiteral("...");
    }
    return result;
}

bool TdfsBrowseDirectoryDlg::DirectoryExists(const QString& path) {
    if (path.isEmpty())
        return false;
    if (path == QStringLiteral("/"))
        return true;
    QString bare = path;
    if (bare.endsWith(QLatin1Char('/')))
        bare.chop(1);
    return QFileInfo(bare).isDir();
}
