/* Starts a program and reports how long it takes until a top-level window
 * with the given title is mapped on the X server (no window manager, as
 * under Xvfb). Listens for MapNotify on the root window, so there is no
 * polling delay. Then ends the program.
 *   window_shown TITLE PROGRAM [ARGS...]   -> prints seconds */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

static int HasTitle(Display* d, Window w, const char* title) {
    char* name = NULL;
    int found = 0;
    if (XFetchName(d, w, &name) && name) {
        found = strcmp(name, title) == 0;
        XFree(name);
    }
    if (!found) {
        XTextProperty p;
        if (XGetWMName(d, w, &p) && p.value) {
            found = strcmp((const char*)p.value, title) == 0;
            XFree(p.value);
        }
    }
    return found;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: window_shown TITLE PROGRAM [ARGS...]\n");
        return 2;
    }
    Display* d = XOpenDisplay(NULL);
    if (!d) return 3;
    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
    XSync(d, False);
    const double start = Now();
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[2], argv + 2);
        _exit(97);
    }
    double shown = -1;
    while (shown < 0 && Now() - start < 10) {
        while (XPending(d)) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type == MapNotify) {
                /* The title may come a moment after the map; ask again. */
                for (int i = 0; i < 50 && shown < 0; ++i) {
                    if (HasTitle(d, e.xmap.window, argv[1])) shown = Now() - start;
                    else usleep(1000);
                }
            }
        }
        if (shown >= 0) break;
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(ConnectionNumber(d), &fds);
        struct timeval tv = {0, 10000};
        select(ConnectionNumber(d) + 1, &fds, NULL, NULL, &tv);
    }
    kill(pid, SIGTERM);
    waitpid(pid, NULL, 0);
    XCloseDisplay(d);
    if (shown < 0) return 1;
    printf("%.4f\n", shown);
    return 0;
}
