#include "platform/desktop/QtApplication.h"

#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <csignal>
#include <cstdio>

#include "platform/TerminationSignals.h"

namespace qv {

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

QtApplication::QtApplication() = default;
QtApplication::~QtApplication() = default;

void QtApplication::SetMainWindow(QWidget* window) {
    if (main_) main_->removeEventFilter(this);
    main_ = window;
    if (main_) main_->installEventFilter(this);
}

std::string QtApplication::ExeName() const {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return QCoreApplication::applicationFilePath().toStdString();
    return std::string(buf, static_cast<size_t>(n));
}

void QtApplication::Minimize() {
    if (main_) main_->showMinimized();
}

void QtApplication::Restore() {
    if (!main_) return;
    main_->showNormal();
    main_->raise();
    main_->activateWindow();
}

bool QtApplication::IsMinimized() const {
    return main_ && main_->isMinimized();
}

void QtApplication::BringToFront() {
    if (!main_) return;
    if (main_->isMinimized() || !main_->isVisible()) main_->showNormal();
    main_->raise();
    main_->activateWindow();
}

void QtApplication::SetTaskbarButtonVisible(bool visible) {
    if (!main_) return;
    if (!visible)
        main_->hide();
    else if (!main_->isVisible())
        main_->isMinimized() ? main_->showMinimized() : main_->show();
}

bool QtApplication::TaskbarButtonVisible() const {
    return main_ && main_->isVisible();
}

void QtApplication::MessageBox(const std::string& text) {
    MessageBox(text, Title());
}

void QtApplication::MessageBox(const std::string& text, const std::string& caption) {
    // Without a screen (offscreen, minimal) nobody sees the box: say it on stderr as well.
    const QString platform = QGuiApplication::platformName();
    if (platform == "offscreen" || platform == "minimal")
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption),
                    QString::fromStdString(text), QMessageBox::Ok);
    box.adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        box.move(area.center() - QPoint(box.width() / 2, box.height() / 2));
    }
    box.exec();
}

void QtApplication::Terminate() {
    if (main_ && main_->isVisible())
        main_->close();
    else
        QCoreApplication::quit();
}

void QtApplication::PostQuit() {
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void QtApplication::CloseOnTerminationSignals() {
    HandleTerminationSignals(this,
                             [this](int) {
                                 // A message box left open (nobody at the screen) must not keep the
                                 // program from ending: close the modal dialogs first, then the
                                 // window, from the outermost loop.
                                 while (QWidget* modal = QApplication::activeModalWidget()) {
                                     modal->close();
                                     if (QApplication::activeModalWidget() == modal) break;
                                 }
                                 QTimer::singleShot(0, this, [this] { CloseMainWindowAndQuit(); });
                             },
                             {SIGTERM, SIGINT, SIGHUP});
    // The end of the desktop session ends the message loop (the request to save data comes
    // before it, and the user may still cancel the logout then): the window is closed on the
    // way out, also when hidden in the notification area. A window never shown (a second copy
    // that only said so) was never opened, so it is not closed either. The main window's close
    // handler does its work once, however often it is closed.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (main_ && main_shown_) main_->close();
    });
}

void QtApplication::CloseMainWindowAndQuit() {
    // Closing runs the window's close handler even while it is hidden in the notification area,
    // but a hidden window is not "the last window closed", so the loop is ended here too.
    if (main_) main_->close();
    QCoreApplication::quit();
}

bool QtApplication::eventFilter(QObject* watched, QEvent* event) {
    if (watched == main_ && event->type() == QEvent::Show) main_shown_ = true;
    if (watched == main_ && event->type() == QEvent::WindowStateChange) {
        bool now = main_->isMinimized();
        if (now != minimized_) {
            minimized_ = now;
            if (now) {
                // Out of sight: no blinking text cursor waking the program, and the memory
                // the window's set-up used goes back to the system.
                if (QWidget* focus = QApplication::focusWidget()) focus->clearFocus();
                malloc_trim(0);
                Minimized();
            } else {
                Restored();
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace qv
