#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QDialog;

// Modal results of dialogs.
enum TModalResult : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrAll = 8,
    mrNoToAll = 9,
    mrYesToAll = 10,
};

// Dialog kinds, in this order.
enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// Standard buttons as a set of bits, in the order they stand in the dialog.
enum TMsgDlgBtn : unsigned {
    mbYes = 1u << 0,
    mbNo = 1u << 1,
    mbOK = 1u << 2,
    mbCancel = 1u << 3,
    mbAbort = 1u << 4,
    mbRetry = 1u << 5,
    mbIgnore = 1u << 6,
    mbAll = 1u << 7,
    mbNoToAll = 1u << 8,
    mbYesToAll = 1u << 9,
    mbHelp = 1u << 10,
};
using TMsgDlgButtons = unsigned;

// The beep a dialog kind sounds, as the values handed to MessageBeep.
enum TBeepKind : unsigned {
    MB_OK = 0,
    MB_ICONHAND = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
};

// Shows a modal message dialog with the caller's title and button captions, sounds
// the kind's beep and returns the modal result of the button pressed (mrCancel when
// the dialog was closed through its title bar). Captions[i] is the caption of the
// i-th button shown; an empty entry keeps the standard caption.
int QuestionDlg(const QString& Msg, const QString& Title, TMsgDlgType Kind, TMsgDlgButtons Buttons,
                const QStringList& Captions);

// Every question passes through here. A hook set with SetQuestionHook receives the
// finished dialog instead of it being shown and returns the answer; the next
// answers set with SetNextAnswer are used first, one per question, without
// showing anything. The beep goes through the beep hook (QApplication::beep by
// default).
using TQuestionHook = std::function<int(QDialog& dialog)>;
void SetQuestionHook(TQuestionHook hook);
void SetNextAnswer(int modalResult);
void ClearNextAnswers();
void SetBeepHook(std::function<void(TBeepKind kind)> hook);
