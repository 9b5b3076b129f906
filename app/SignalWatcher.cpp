#include "app/SignalWatcher.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>

namespace tessarine {

namespace {

// One watcher per process: the handler reaches its pipe through here.
int wakeUp[2] = {-1, -1};

constexpr int kWatched[] = {SIGTERM, SIGINT, SIGHUP};

void OnSignal(int signal) {
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // The write end never blocks; a full pipe holds a signal already.
    [[maybe_unused]] const ssize_t n = ::write(wakeUp[1], &number, 1);
    errno = saved;
}

}  // namespace

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
    if (::pipe2(wakeUp, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("tessarine: signals are not caught (pipe)");
        return;
    }
    notifier_ = new QSocketNotifier(wakeUp[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalWatcher::Read);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kWatched) {
        // A signal ignored by whoever started the program stays ignored:
        // "nohup tessarine &" must outlive its terminal.
        struct sigaction before {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
        caught_ |= 1u << signal;
    }
}

SignalWatcher::~SignalWatcher() {
    if (!notifier_) return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signal : kWatched) {
        if (caught_ & (1u << signal)) ::sigaction(signal, &action, nullptr);
    }
    ::close(wakeUp[0]);
    ::close(wakeUp[1]);
    wakeUp[0] = wakeUp[1] = -1;
}

void SignalWatcher::Read() {
    unsigned char number = 0;
    if (::read(wakeUp[0], &number, 1) != 1) return;
    // Further signals wait in the pipe while the first one is handled.
    notifier_->setEnabled(false);
    if (!handler_) ::_exit(128 + number);
    handler_(number);
}

}  // namespace tessarine
