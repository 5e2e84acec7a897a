#include "ui/FolderBrowser.h"

#include "platform/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

TFolderBrowserDialog::TFolderBrowserDialog(QWidget* parent, const QString& root,
                                           const QString& title, uint32_t flags)
    : QDialog(parent), root_(QDir::cleanPath(root.isEmpty() ? QDir::rootPath() : root)),
      flags_(flags) {
    setModal(true);
    // Without a caption of its own the window carries the usual one.
    setWindowTitle(tr("Browse for Folder"));
    setObjectName(QStringLiteral("FolderBrowser"));
    title_ = new QLabel(title, this);
    title_->setWordWrap(true);
    title_->setObjectName(QStringLiteral("title"));
    // The status line shows whatever it is told, cut to its own width by the caller,
    // so it must never grow with its text.
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("statusLine"));
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    status_->setMinimumWidth(0);
    status_->setVisible((flags_ & BrowseFlag::StatusText) != 0);
    buildTree();
    if (flags_ & BrowseFlag::EditBox) {
        edit_ = new QLineEdit(this);
        edit_->setObjectName(QStringLiteral("editBox"));
    }
    buildButtons();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title_);
    layout->addWidget(status_);
    layout->addWidget(tree_, 1);
    if (edit_) {
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel(tr("Folder:"), this));
        row->addWidget(edit_, 1);
        layout->addLayout(row);
    }
    auto* buttons = new QHBoxLayout;
    if (newFolder_)
        buttons->addWidget(newFolder_);
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);
    resize(340, 400);
    // The old style is a fixed window; the new one may be resized.
    if (!(flags_ & BrowseFlag::NewDialogStyle))
        setFixedSize(size());
}

void TFolderBrowserDialog::buildTree() {
    model_ = new QFileSystemModel(this);
    QDir::Filters filter = QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives;
    if (flags_ & BrowseFlag::IncludeFiles)
        filter |= QDir::Files;
    model_->setFilter(filter);
    model_->setReadOnly(false); // folders made by "New Folder" are renamed in place
    model_->setRootPath(root_);
    tree_ = new QTreeView(this);
    tree_->setObjectName(QStringLiteral("folderTree"));
    tree_->setModel(model_);
    tree_->setRootIndex(model_->index(root_));
    tree_->setHeaderHidden(true);
    for (int column = 1; column < model_->columnCount(); ++column)
        tree_->hideColumn(column);
    tree_->setEditTriggers(QAbstractItemView::EditKeyPressed);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    // Folders load in the background: keep the selection in view as they arrive.
    connect(model_, &QFileSystemModel::directoryLoaded, this, [this] { scrollToSelection(); });
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) { currentChanged(current); });
}

void TFolderBrowserDialog::buildButtons() {
    if (flags_ & BrowseFlag::NewDialogStyle) {
        newFolder_ = new QPushButton(tr("&Make New Folder"), this);
        newFolder_->setObjectName(QStringLiteral("newFolder"));
        newFolder_->setAutoDefault(false);
        connect(newFolder_, &QPushButton::clicked, this, [this] { NewFolderClick(); });
    }
    ok_ = new QPushButton(tr("OK"), this);
    ok_->setObjectName(QStringLiteral("ok"));
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &TFolderBrowserDialog::accept);
    cancel_ = new QPushButton(tr("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, &TFolderBrowserDialog::reject);
}

void TFolderBrowserDialog::SetStatusText(const QString& text) {
    status_->setText(text);
}

void TFolderBrowserDialog::EnableOK(bool enable) {
    ok_->setEnabled(enable);
}

bool TFolderBrowserDialog::SetSelectionPath(const QString& path) {
    const QString clean = QDir::cleanPath(path);
    const QString prefix = root_.endsWith(QLatin1Char('/')) ? root_ : root_ + QLatin1Char('/');
    if (clean != root_ && !clean.startsWith(prefix))
        return false;
    const QModelIndex index = clean == root_ ? QModelIndex() : model_->index(clean);
    if (clean != root_ && !index.isValid())
        return false;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent())
        tree_->expand(up);
    tree_->setCurrentIndex(index);
    selectionSet_ = true;
    if (index.isValid())
        scrollToSelection();
    else
        currentChanged(index);
    return true;
}

void TFolderBrowserDialog::scrollToSelection() {
    const QModelIndex current = tree_->currentIndex();
    if (current.isValid())
        tree_->scrollTo(current, QAbstractItemView::PositionAtCenter);
}

// Without a usable selection the tree would make its first row current as soon as it
// gets the focus, and OK would choose that arbitrary folder. It starts at the user's
// music folder instead, or the home folder when there is none, or else the root.
void TFolderBrowserDialog::selectStartFolder() {
    for (const std::string& folder : {Paths::musicFolder(), Paths::homeFolder()}) {
        const QString path = QString::fromStdString(folder);
        if (!path.isEmpty() && QFileInfo(path).isDir() && SetSelectionPath(path))
            return;
    }
    SetSelectionPath(root_);
}

QString TFolderBrowserDialog::SelectedPath() const {
    const QModelIndex current = tree_->currentIndex();
    return current.isValid() ? model_->filePath(current) : root_;
}

void TFolderBrowserDialog::currentChanged(const QModelIndex& current) {
    const QString path = current.isValid() ? model_->filePath(current) : root_;
    if (edit_)
        edit_->setText(current.isValid() ? model_->fileName(current) : path);
    if (onSelChanged)
        onSelChanged(path);
}

QString TFolderBrowserDialog::NewFolderClick() {
    const QString parentPath = SelectedPath();
    const QDir parent(parentPath);
    QString name = tr("New Folder");
    for (int n = 2; parent.exists(name); ++n)
        name = tr("New Folder (%1)").arg(n);
    if (!parent.mkdir(name))
        return QString();
    const QString made = parent.filePath(name);
    SetSelectionPath(made);
    const QModelIndex index = model_->index(made);
    if (index.isValid())
        tree_->edit(index);
    return made;
}

// The edit box holds the name of the selected item; a name typed there stands for a
// sibling of the selection, an absolute path for itself.
QString TFolderBrowserDialog::typedPath() const {
    const QString text = edit_->text().trimmed();
    const QString selected = SelectedPath();
    if (text.isEmpty() || text == QFileInfo(selected).fileName() || text == selected)
        return selected;
    if (QDir::isAbsolutePath(text))
        return QDir::cleanPath(text);
    return QDir::cleanPath(QFileInfo(selected).dir().filePath(text));
}

void TFolderBrowserDialog::accept() {
    chosen_ = SelectedPath();
    if (edit_) {
        const QString typed = typedPath();
        const QFileInfo info(typed);
        const bool fits = info.isDir() || (info.exists() && (flags_ & BrowseFlag::IncludeFiles));
        if (!fits && (flags_ & BrowseFlag::Validate)) {
            if (onValidateFailed && onValidateFailed(edit_->text()))
                reject();
            return;
        }
        if (fits)
            chosen_ = typed;
    }
    QDialog::accept();
}

void TFolderBrowserDialog::showEvent(QShowEvent* event) {
    if (!initialized_) {
        initialized_ = true;
        if (onInitialized)
            onInitialized();
        if (!selectionSet_)
            selectStartFolder();
    }
    QDialog::showEvent(event);
    // Only now does the tree know its height.
    QMetaObject::invokeMethod(
        this, [this] { scrollToSelection(); }, Qt::QueuedConnection);
}

void TFolderBrowserDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (initialized_ && onResized)
        onResized();
}
