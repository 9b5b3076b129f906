#include "xcb_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "engine/Common.h"
#include "engine/child_process.h"

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
        // Ended as a signal asks, so that the server removes its lock and socket.
        for (tessarine::ChildProcess* child : {&wm_, &server_}) {
            if (child->Pid() > 0 && !child->Ended()) {
                ::kill(child->Pid(), SIGTERM);
                child->Wait();
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
        const tessarine::UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return Fail("no pipe");
        const tessarine::UniqueFd numberRead(fds[0]);
        tessarine::UniqueFd numberWrite(fds[1]);
        // The descriptor the display number comes on is the child's 3.
        tessarine::ChildCommand server = Quiet("Xvfb", null.Get());
        server.argv = {"Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"};
        server.handed = {numberWrite.Get()};
        if (!server_.Start(server)) return Fail("Xvfb did not start");
        numberWrite.Reset();
        // Xvfb writes its display number once it accepts connections.
        std::string number;
        pollfd p{numberRead.Get(), POLLIN, 0};
        while (::poll(&p, 1, 30000) > 0) {
            char c;
            if (::read(numberRead.Get(), &c, 1) != 1 || c == '\n') break;
            number += c;
        }
        if (number.empty()) return Fail("Xvfb did not start");
        const std::string display = ":" + number;
        ::setenv("DISPLAY", display.c_str(), 1);
        display_ = XOpenDisplay(display.c_str());
        if (!display_) return Fail("cannot connect to Xvfb on " + display);

        tessarine::ChildCommand wm = Quiet("openbox", null.Get());
        wm.argv = {"openbox", "--sm-disable"};
        if (!wm_.Start(wm)) return Fail("openbox did not start (is it installed?)");
        // The window manager is ready once it announces itself on the root.
        const Atom check = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False);
        QElapsedTimer clock;
        clock.start();
        while (!HasProperty(DefaultRootWindow(display_), check)) {
            if (wm_.Wait(std::chrono::milliseconds(0))) return Fail("openbox did not start (is it installed?)");
            if (clock.elapsed() > 30000) return Fail("openbox did not become ready");
            ::usleep(20000);
        }
        return true;
    }

    // A program of PATH with its output dropped.
    static tessarine::ChildCommand Quiet(const std::string& name, int null) {
        tessarine::ChildCommand command;
        command.program = tessarine::FindProgramOnPath(name);
        command.outTo = null;
        command.errTo = null;
        return command;
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
    tessarine::ChildProcess server_;
    tessarine::ChildProcess wm_;
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
