#include "ui/QuestionDlg.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
#include <deque>

namespace {

struct ButtonInfo {
    TMsgDlgBtn button;
    const char* name;
    const char* caption;
    int result;
};

// The standard buttons in the order they stand in the dialog.
const ButtonInfo kButtons[] = {
    {mbYes, "Yes", "&Yes", mrYes},
    {mbNo, "No", "&No", mrNo},
    {mbOK, "OK", "OK", mrOk},
    {mbCancel, "Cancel", "Cancel", mrCancel},
    {mbAbort, "Abort", "&Abort", mrAbort},
    {mbRetry, "Retry", "&Retry", mrRetry},
    {mbIgnore, "Ignore", "&Ignore", mrIgnore},
    {mbAll, "All", "&All", mrAll},
    {mbNoToAll, "NoToAll", "N&o to All", mrNoToAll},
    {mbYesToAll, "YesToAll", "Yes to &All", mrYesToAll},
    {mbHelp, "Help", "&Help", mrNone},
};

TQuestionHook& QuestionHook() {
    static TQuestionHook hook;
    return hook;
}

std::deque<int>& NextAnswers() {
    static std::deque<int> answers;
    return answers;
}

std::function<void(TBeepKind)>& BeepHook() {
    static std::function<void(TBeepKind)> hook;
    return hook;
}

TBeepKind BeepOf(TMsgDlgType kind) {
    switch (kind) {
    case mtWarning:
        return MB_ICONEXCLAMATION;
    case mtError:
        return MB_ICONHAND;
    case mtConfirmation:
        return MB_ICONQUESTION;
    default: // information sounds the default beep, like custom
        return MB_OK;
    }
}

void Beep(TBeepKind kind) {
    if (BeepHook())
        BeepHook()(kind);
    else
        QApplication::beep();
}

// The message dialog: Esc presses its cancel button, closing it through the title
// bar answers Cancel.
class TMessageForm : public QDialog {
public:
    QPushButton* CancelButton = nullptr;

protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
            if (CancelButton)
                CancelButton->click();
            return;
        }
        QDialog::keyPressEvent(e);
    }
    void reject() override { done(mrCancel); }
};

QPixmap IconOf(TMsgDlgType kind) {
    QStyle::StandardPixmap icon;
    switch (kind) {
    case mtWarning:
        icon = QStyle::SP_MessageBoxWarning;
        break;
    case mtError:
        icon = QStyle::SP_MessageBoxCritical;
        break;
    case mtInformation:
        icon = QStyle::SP_MessageBoxInformation;
        break;
    case mtConfirmation:
        icon = QStyle::SP_MessageBoxQuestion;
        break;
    default:
        return {};
    }
    return QApplication::style()->standardIcon(icon).pixmap(32, 32);
}

QPushButton* FindButton(QDialog& dlg, const char* name) {
    return dlg.findChild<QPushButton*>(name, Qt::FindDirectChildrenOnly);
}

void AddButtons(TMessageForm& dlg, QHBoxLayout* row, TMsgDlgButtons buttons) {
    int width = 75;
    QList<QPushButton*> made;
    row->addStretch();
    for (const ButtonInfo& info : kButtons) {
        if (!(buttons & info.button))
            continue;
        auto* b = new QPushButton(QString::fromUtf8(info.caption), &dlg);
        b->setObjectName(info.name);
        const int result = info.result;
        if (info.button == mbHelp)
            QObject::connect(b, &QPushButton::clicked, [] {
                const QString help = QCoreApplication::applicationDirPath() + "/" +
                                     QCoreApplication::applicationName() + ".html";
                QDesktopServices::openUrl(QUrl::fromLocalFile(help));
            });
        else
            QObject::connect(b, &QPushButton::clicked, &dlg, [&dlg, result] { dlg.done(result); });
        row->addWidget(b);
        made << b;
        width = std::max(width, b->sizeHint().width());
    }
    row->addStretch();
    for (QPushButton* b : made)
        b->setMinimumWidth(width);
}

// Enter: OK, else Yes, else Retry. Esc: Cancel, else No, else OK.
void ChooseDefaultAndCancel(TMessageForm& dlg) {
    for (const char* name : {"OK", "Yes", "Retry"})
        if (QPushButton* b = FindButton(dlg, name)) {
            b->setDefault(true);
            b->setFocus();
            break;
        }
    for (const char* name : {"Cancel", "No", "OK"})
        if ((dlg.CancelButton = FindButton(dlg, name)))
            break;
}

void BuildForm(TMessageForm& dlg, const QString& msg, TMsgDlgType kind, TMsgDlgButtons buttons) {
    auto* top = new QHBoxLayout;
    const QPixmap icon = IconOf(kind);
    if (!icon.isNull()) {
        auto* image = new QLabel(&dlg);
        image->setObjectName("Image");
        image->setPixmap(icon);
        top->addWidget(image, 0, Qt::AlignTop);
    }
    auto* message = new QLabel(msg, &dlg);
    message->setObjectName("Message");
    message->setWordWrap(true);
    message->setTextFormat(Qt::PlainText);
    top->addWidget(message, 1);
    auto* row = new QHBoxLayout;
    AddButtons(dlg, row, buttons);
    auto* all = new QVBoxLayout(&dlg);
    all->addLayout(top);
    all->addLayout(row);
    all->setSizeConstraint(QLayout::SetFixedSize);
    ChooseDefaultAndCancel(dlg);
}

// The i-th button, counted among the dialog's children in creation order, takes
// Captions[i] unless that entry is empty.
void ApplyCaptions(QDialog& dlg, const QStringList& captions) {
    qsizetype i = 0;
    for (QObject* child : dlg.children()) {
        auto* button = qobject_cast<QPushButton*>(child);
        if (!button)
            continue;
        if (i >= captions.size())
            break;
        if (!captions[i].isEmpty())
            button->setText(captions[i]);
        ++i;
    }
}

void CentreOnScreen(QDialog& dlg) {
    dlg.adjustSize();
    if (QScreen* screen = QApplication::primaryScreen()) {
        QRect r = dlg.frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        dlg.move(r.topLeft());
    }
}

} // namespace

int QuestionDlg(const QString& Msg, const QString& Title, TMsgDlgType Kind, TMsgDlgButtons Buttons,
                const QStringList& Captions) {
    TMessageForm dlg;
    dlg.setModal(true);
    BuildForm(dlg, Msg, Kind, Buttons);
    dlg.setWindowTitle(Title);
    ApplyCaptions(dlg, Captions);
    Beep(BeepOf(Kind));
    if (!NextAnswers().empty()) {
        const int answer = NextAnswers().front();
        NextAnswers().pop_front();
        return answer;
    }
    if (QuestionHook())
        return QuestionHook()(dlg);
    CentreOnScreen(dlg);
    return dlg.exec();
}

void SetQuestionHook(TQuestionHook hook) {
    QuestionHook() = std::move(hook);
}
void SetNextAnswer(int modalResult) {
    NextAnswers().push_back(modalResult);
}
void ClearNextAnswers() {
    NextAnswers().clear();
}
void SetBeepHook(std::function<void(TBeepKind kind)> hook) {
    BeepHook() = std::move(hook);
}
