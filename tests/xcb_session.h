#pragma once
// Window tests that need a real X server and window manager: the test
// process starts its own Xvfb and openbox, then creates the QApplication on
// the xcb platform. When either cannot start, Problem() says why and the
// tests skip.
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <functional>
#include <string>
#include <vector>

namespace xcbtest {

// Starts the display and the window manager once for the process (the
// first call), and stops them when the process ends. Empty when both run;
// otherwise why not.
const std::string& Problem();

// The window's title as the window manager reads it (_NET_WM_NAME).
std::string TitleOnScreen(QWidget* window);

// The titles of the windows that the window manager manages for the process
// (_NET_CLIENT_LIST, _NET_WM_PID), for programs the test started.
std::vector<std::string> TitlesOfProcess(long pid);

// Runs the event loop until the condition holds or the time is up.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 30000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

// Shown, and framed and placed by the window manager.
inline bool WaitUntilFramed(QWidget* window) {
    return WaitUntil([window] {
        return window->isVisible() && window->windowHandle() && window->windowHandle()->isExposed() &&
               !window->windowHandle()->frameMargins().isNull();
    });
}

}  // namespace xcbtest

#define SKIP_WITHOUT_WINDOW_MANAGER()                                                                                  \
    do {                                                                                                               \
        if (!xcbtest::Problem().empty()) GTEST_SKIP() << "no X display with a window manager: " << xcbtest::Problem(); \
    } while (0)
