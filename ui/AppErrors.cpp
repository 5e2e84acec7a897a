#include "ui/AppErrors.h"

#include <QDesktopServices>
#include <cstdio>
#include <stdexcept>

std::function<void(const std::exception&)> TVelmoraApplication::OnException;

TVelmoraApplication::TVelmoraApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TVelmoraApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        Report(e);
    } catch (...) {
        Report(std::runtime_error("Unknown exception"));
    }
    return false;
}

void TVelmoraApplication::Report(const std::exception& e) {
    if (OnException)
        OnException(e);
    else
        std::fprintf(stderr, "%s\n", e.what());
}

namespace AppMessages {

namespace {
Hook messageHook;
OpenHook openHook;
} // namespace

void SetHook(Hook hook) {
    messageHook = std::move(hook);
}
void SetOpenHook(OpenHook hook) {
    openHook = std::move(hook);
}

int Show(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text) {
    if (messageHook)
        return messageHook(Message{icon, caption, text});
    QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
    return box.exec();
}

void ShellOpen(const QUrl& url) {
    if (openHook) {
        openHook(url);
        return;
    }
    QDesktopServices::openUrl(url);
}

} // namespace AppMessages
