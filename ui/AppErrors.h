#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QUrl>
#include <exception>
#include <functional>
#include <stdexcept>

// The application object: one override of notify() catches every exception that
// escapes an event handler and hands it to the error report that the main window
// installs (HandleProc), so the program goes on instead of ending.
class TVelmoraApplication : public QApplication {
public:
    TVelmoraApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // The application-wide error report; empty until the main window installs it.
    static std::function<void(const std::exception&)> OnException;

    // Hands an exception to the error report (to stderr while there is none).
    static void Report(const std::exception& e);
};

// Runs an event handler of ours. An exception it raises goes to the error report right
// here, so that it never unwinds through Qt's own frames on its way out; notify() is
// the net for anything that still gets through.
template <class Handler> void Guarded(Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        TVelmoraApplication::Report(e);
    } catch (...) {
        TVelmoraApplication::Report(std::runtime_error("Unknown exception"));
    }
}

// Message boxes and shell calls of the window go through here, so that a test can
// answer or record them instead of a modal box opening or a browser starting.
namespace AppMessages {

struct Message {
    QMessageBox::Icon Icon;
    QString Caption;
    QString Text;
};

// Receives every message box instead of it being shown; returns the button pressed.
using Hook = std::function<int(const Message&)>;
void SetHook(Hook hook);

// Shows a modal box with one OK button and returns QMessageBox::Ok (or the hook's
// answer).
int Show(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text);

// Asks the desktop to open an address (a file or a web page). A hook set here
// receives the address instead.
using OpenHook = std::function<void(const QUrl&)>;
void SetOpenHook(OpenHook hook);
void ShellOpen(const QUrl& url);

} // namespace AppMessages
