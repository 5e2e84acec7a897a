#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>

class QWidget;
class TFolderBrowserDialog;

// What may be browsed and chosen; each flag is one bit of TBrowseFlags.
enum TBrowseFlag {
    bfDirectoriesOnly,
    bfDomainOnly,
    bfAncestors,
    bfComputers,
    bfPrinters,
    bfIncludeFiles,
    bfEditBox,
    bfIncludeURLs,
    bfNewDialogStyle,
    bfShareable,
    bfUseNewUI
};

// A 16-bit set of TBrowseFlag.
class TBrowseFlags {
public:
    constexpr TBrowseFlags() = default;
    constexpr TBrowseFlags(std::initializer_list<TBrowseFlag> flags) {
        for (TBrowseFlag flag : flags)
            bits_ = static_cast<uint16_t>(bits_ | Bit(flag));
    }
    constexpr bool Contains(TBrowseFlag flag) const { return (bits_ & Bit(flag)) != 0; }
    constexpr void Include(TBrowseFlag flag) { bits_ = static_cast<uint16_t>(bits_ | Bit(flag)); }
    constexpr uint16_t Bits() const { return bits_; }
    constexpr bool operator==(const TBrowseFlags&) const = default;

private:
    static constexpr uint16_t Bit(TBrowseFlag flag) {
        return static_cast<uint16_t>(1u << static_cast<unsigned>(flag));
    }
    uint16_t bits_ = 0;
};

// The folder at the top of the tree, numbered as the classic special folders are.
enum TRootID {
    idDesktop = 0,
    idInternet = 1,
    idPrograms = 2,
    idControlPanel = 3,
    idPrinters = 4,
    idPersonal = 5,
    idFavorites = 6,
    idStartup = 7,
    idRecent = 8,
    idSendTo = 9,
    idRecycleBin = 10,
    idStartMenu = 11,
    idDesktopDirectory = 16,
    idDrives = 17,
    idNetwork = 18,
    idNetHood = 19,
    idFonts = 20,
    idTemplates = 21,
    idCommonStartMenu = 22,
    idCommonPrograms = 23,
    idCommonStartup = 24,
    idCommonDesktopDirectory = 25,
    idAppData = 26,
    idPrintHood = 27,
    idDesktopExpanded = 0xFEFE
};

// The folder that a root stands for on this system: "/" for the desktop and the
// drives, home and the XDG user folders for the personal ones, "/" again for roots
// that have no folder (the shell falls back to the desktop for them).
QString RootFolder(TRootID root);

// The folder browser component: holds what the browser should start with and what it
// returned, and drives the open browser window while Execute runs.
class TdfsBrowseDirectoryDlg : public QObject {
    Q_OBJECT
public:
    using TBDSelChangedEvent = std::function<void(
        TdfsBrowseDirectoryDlg* Sender, const QString& NewSel, const QString& NewSelPIDL)>;
    using TNotifyEvent = std::function<void(TdfsBrowseDirectoryDlg* Sender)>;
    using TBDValidateFailedEvent =
        std::function<void(TdfsBrowseDirectoryDlg* Sender, const QString& Path, bool& Cancel)>;

    explicit TdfsBrowseDirectoryDlg(QObject* owner = nullptr);
    ~TdfsBrowseDirectoryDlg() override;

    // Shows the browser modally; true when the user confirmed a choice. Afterwards
    // Selection and SelectionPIDL describe it (empty and unset on false).
    virtual bool Execute();

    QString Version() const { return QStringLiteral("TdfsBrowseDirectoryDlg v2.60"); }
    void SetVersion(const QString&) {}

    const QString& Selection() const { return selection_; }
    void SetSelection(const QString& value);
    const QString& Title() const { return title_; }
    void SetTitle(const QString& value) { title_ = value; }
    TRootID Root() const { return root_; }
    void SetRoot(TRootID value) { root_ = value; }
    TBrowseFlags Options() const { return options_; }
    void SetOptions(TBrowseFlags value);
    bool Center() const { return center_; }
    void SetCenter(bool value) { center_ = value; }
    const QString& StatusText() const { return statusText_; }
    void SetStatusText(const QString& value);
    bool FitStatusText() const { return fitStatusText_; }
    void SetFitStatusText(bool value);
    bool EnableOKButton() const { return enableOKButton_; }
    void SetEnableOKButton(bool value);
    int ImageIndex() const { return imageIndex_; }
    QString Caption() const;
    void SetCaption(const QString& value);
    bool ShowSelectionInStatus() const { return showSelectionInStatus_; }
    void SetShowSelectionInStatus(bool value) { showSelectionInStatus_ = value; }
    // The item of the selection: its absolute path, unset when there is none.
    const std::optional<QString>& SelectionPIDL() const { return selectionPIDL_; }
    // The name of the chosen item as the browser showed it.
    const QString& DisplayName() const { return displayName_; }

    // The open browser window, null while none is shown.
    TFolderBrowserDialog* Handle() const { return handle_; }
    // The flags handed to the browser window for the current Options.
    uint32_t ShellFlags(bool statusLine) const;

    TBDSelChangedEvent OnSelChanged;
    TNotifyEvent OnCreate;
    TBDValidateFailedEvent OnValidateFailed;

    // Status text fitting, on the width of a control in its own font.
    static QString FitPathToControl(const QWidget* control, const QString& path);
    static QString FitTextToControl(const QWidget* control, const QString& text);
    // True when the path, less one final "/", is an existing directory.
    static bool DirectoryExists(const QString& path);

protected:
    virtual void DoInitialized(TFolderBrowserDialog* dialog);
    virtual void DoSelChanged(TFolderBrowserDialog* dialog, const QString& item);
    virtual void DoValidateFailed(const QString& path, bool& cancel);

private:
    bool BrowseDirectory(QString& path, bool statusLine);
    QWidget* ChooseParent() const;
    void ApplySelection();
    QString FittedStatusText() const;

    TFolderBrowserDialog* handle_ = nullptr;
    QString caption_;
    QPointer<QWidget> parentControl_;
    bool showSelectionInStatus_ = false;
    bool fitStatusText_ = true;
    QString title_;
    TRootID root_ = idDesktop;
    TBrowseFlags options_;
    QString selection_;
    bool center_ = true;
    QString statusText_;
    bool enableOKButton_ = true;
    int imageIndex_ = -1;
    std::optional<QString> selectionPIDL_;
    QString displayName_;
};
