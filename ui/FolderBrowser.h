#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>

class QFileSystemModel;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;
class QModelIndex;

// Flags of a folder browser request, with the values the browser component has always
// passed. Those that mean nothing here (computers, printers, URLs, shareable, domain)
// are accepted and ignored.
namespace BrowseFlag {
inline constexpr uint32_t ReturnOnlyFsDirs = 0x0001;
inline constexpr uint32_t DontGoBelowDomain = 0x0002;
inline constexpr uint32_t StatusText = 0x0004;
inline constexpr uint32_t ReturnFsAncestors = 0x0008;
inline constexpr uint32_t EditBox = 0x0010;
inline constexpr uint32_t Validate = 0x0020;
inline constexpr uint32_t NewDialogStyle = 0x0040;
inline constexpr uint32_t UseNewUI = 0x0050;
inline constexpr uint32_t IncludeUrls = 0x0080;
inline constexpr uint32_t BrowseForComputer = 0x1000;
inline constexpr uint32_t BrowseForPrinter = 0x2000;
inline constexpr uint32_t IncludeFiles = 0x4000;
inline constexpr uint32_t Shareable = 0x8000;
} // namespace BrowseFlag

// The folder browser window: a tree of the folders under a root, the instruction text
// above it, an optional status line, an optional edit box, "New Folder" with the new
// dialog style, and OK and Cancel. Whoever runs it talks to it through the requests
// below and hears from it through the three callbacks.
class TFolderBrowserDialog : public QDialog {
    Q_OBJECT
public:
    TFolderBrowserDialog(QWidget* parent, const QString& root, const QString& title,
                         uint32_t flags);

    // Requests.
    void SetStatusText(const QString& text);
    void EnableOK(bool enable);
    // Selects the item at an absolute path, opening its parents; false when the path is
    // not under the root or does not exist.
    bool SetSelectionPath(const QString& path);

    QString SelectedPath() const;
    QString RootPath() const { return root_; }
    uint32_t Flags() const { return flags_; }
    QLabel* StatusLine() const { return status_; }
    QLineEdit* EditBox() const { return edit_; }
    QPushButton* NewFolderButton() const { return newFolder_; }
    QPushButton* OKButton() const { return ok_; }
    QTreeView* Tree() const { return tree_; }
    // The path confirmed by OK (the typed one when the edit box named another item).
    QString ChosenPath() const { return chosen_; }

    // Creates a folder "New Folder" (or "New Folder (2)", ...) inside the selection and
    // selects it for renaming. Returns the new path, empty when it could not be made.
    QString NewFolderClick();

    // Callbacks: the window has been set up (before it first appears), the selection
    // moved (with the new absolute path), a typed name was rejected (return true to
    // close the window without a choice, false to keep it open).
    std::function<void()> onInitialized;
    std::function<void(const QString&)> onSelChanged;
    std::function<bool(const QString&)> onValidateFailed;
    // The window changed its size, so a fitted status text may fit differently.
    std::function<void()> onResized;

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildTree();
    void buildButtons();
    void currentChanged(const QModelIndex& current);
    void scrollToSelection();
    void selectStartFolder();
    QString typedPath() const;

    QString root_;
    uint32_t flags_;
    bool initialized_ = false;
    bool selectionSet_ = false; // a requested selection was found in the tree
    QString chosen_;
    QFileSystemModel* model_ = nullptr;
    QTreeView* tree_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* status_ = nullptr;
    QLineEdit* edit_ = nullptr;
    QPushButton* newFolder_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};
