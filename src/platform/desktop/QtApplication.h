#pragma once
// The application object on Linux, over QApplication and the main window.
#include <QObject>
#include <QPointer>
#include <QWidget>

#include "platform/Application.h"

namespace qv {

class QtApplication : public QObject, public IApplication {
    Q_OBJECT
public:
    QtApplication();
    ~QtApplication() override;

    // The window that minimise/restore act on and whose state changes raise the events.
    void SetMainWindow(QWidget* window);

    std::string ExeName() const override;
    void Minimize() override;
    void Restore() override;
    bool IsMinimized() const override;
    void BringToFront() override;
    void SetTaskbarButtonVisible(bool visible) override;
    bool TaskbarButtonVisible() const override;
    void MessageBox(const std::string& text) override;
    void MessageBox(const std::string& text, const std::string& caption) override;
    void Terminate() override;
    void PostQuit() override;

    // Closes the main window the normal way on SIGTERM, SIGINT and SIGHUP, and when the message
    // loop ends (the end of the desktop session).
    void CloseOnTerminationSignals();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CloseMainWindowAndQuit();
    QPointer<QWidget> main_;
    bool minimized_ = false;
    bool main_shown_ = false;  // the main window has been on screen (or in the tray) at all
};

// The directory part of a path, without a trailing "/" (the root keeps it).
std::string DirectoryOf(const std::string& path);

}  // namespace qv
