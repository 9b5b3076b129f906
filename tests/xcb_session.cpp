#include "xcb_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

// Xlib last: its macros (None, Bool, Status, KeyPress) clash with Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace xcbtest {

namespace {

class Session {
public:
    static Session& Get() {
        static Session session;
        return session;
    }
    // Empty when the display and the window manager run; otherwise why not.
    const std::string& Problem() const { return problem_; }
    Display* X() const { return display_; }

    ~Session() {
        if (display_) XCloseDisplay(display_);
        for (pid_t pid : {wm_, server_}) {
            if (pid > 0) {
                ::kill(pid, SIGTERM);
                ::waitpid(pid, nullptr, 0);
            }
        }
    }

private:
    Session() {
        if (!Start()) return;
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        static int argc = 1;
        static char name[] = "tessarine-xcb-tests";
        static char* argv[] = {name, nullptr};
        auto* app = new QApplication(argc, argv);
        app->setQuitOnLastWindowClosed(false);
    }

    bool Start() {
        int fds[2];
        if (::pipe(fds) != 0) return Fail("no pipe");
        server_ = ::fork();
        if (server_ == 0) {
            ::close(fds[0]);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            const std::string fd = std::to_string(fds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        // Xvfb writes its display number once it accepts connections.
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        while (::poll(&p, 1, 30000) > 0) {
            char c;
            if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
            number += c;
        }
        ::close(fds[0]);
        if (number.empty()) return Fail("Xvfb did not start");
        const std::string display = ":" + number;
        ::setenv("DISPLAY", display.c_str(), 1);
        display_ = XOpenDisplay(display.c_str());
        if (!display_) return Fail("cannot connect to Xvfb on " + display);

        wm_ = ::fork();
        if (wm_ == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // The window manager is ready once it announces itself on the root.
        const Atom check = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False);
        QElapsedTimer clock;
        clock.start();
        while (!HasProperty(DefaultRootWindow(display_), check)) {
            if (::waitpid(wm_, nullptr, WNOHANG) == wm_) {
                wm_ = -1;
                return Fail("openbox did not start (is it installed?)");
            }
            if (clock.elapsed() > 30000) return Fail("openbox did not become ready");
            ::usleep(20000);
        }
        return true;
    }

    bool HasProperty(Window window, Atom property) {
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        const bool found = XGetWindowProperty(display_, window, property, 0, 1, False, AnyPropertyType, &type, &format,
                                              &count, &after, &data) == Success &&
                           type != None;
        if (data) XFree(data);
        return found;
    }

    bool Fail(const std::string& why) {
        problem_ = why;
        return false;
    }

    std::string problem_;
    pid_t server_ = -1;
    pid_t wm_ = -1;
    Display* display_ = nullptr;
};

}  // namespace

const std::string& Problem() { return Session::Get().Problem(); }

namespace {

// A property of the window as bytes (count items of `format` bits each).
std::string Property(Display* x, Window window, const char* name, Atom type) {
    Atom actualType;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string value;
    if (XGetWindowProperty(x, window, XInternAtom(x, name, False), 0, 4096, False, type, &actualType, &format, &count,
                           &after, &data) == Success &&
        data) {
        // Xlib hands 32-bit items over as longs.
        const size_t itemSize = format == 32 ? sizeof(long) : static_cast<size_t>(format / 8);
        value.assign(reinterpret_cast<char*>(data), count * itemSize);
    }
    if (data) XFree(data);
    return value;
}

std::string Title(Display* x, Window window) {
    return Property(x, window, "_NET_WM_NAME", XInternAtom(x, "UTF8_STRING", False));
}

}  // namespace

// The window's title as the window manager reads it (_NET_WM_NAME).
std::string TitleOnScreen(QWidget* window) {
    Display* x = Session::Get().X();
    XSync(x, False);
    return Title(x, static_cast<Window>(window->winId()));
}

std::vector<std::string> TitlesOfProcess(long pid) {
    Display* x = Session::Get().X();
    XSync(x, False);
    const std::string clients = Property(x, DefaultRootWindow(x), "_NET_CLIENT_LIST", XA_WINDOW);
    std::vector<std::string> titles;
    for (size_t at = 0; at + sizeof(long) <= clients.size(); at += sizeof(long)) {
        long window = 0;
        std::memcpy(&window, clients.data() + at, sizeof window);
        const std::string owner = Property(x, static_cast<Window>(window), "_NET_WM_PID", XA_CARDINAL);
        long ownerPid = 0;
        if (owner.size() >= sizeof ownerPid) std::memcpy(&ownerPid, owner.data(), sizeof ownerPid);
        if (ownerPid == pid) titles.push_back(Title(x, static_cast<Window>(window)));
    }
    return titles;
}

}  // namespace xcbtest
