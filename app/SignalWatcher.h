#pragma once
// SIGTERM (a logout, a shutdown), SIGINT (Ctrl+C in the terminal the
// program was started from) and SIGHUP (that terminal closed) reach the
// window program as a call on the main thread: the signal handler only
// writes the signal's number into a pipe, and a socket notifier of the main
// thread's event loop, modal loops included, reads it. So the call may do
// everything the main thread does, which a signal handler may not.
#include <QObject>
#include <functional>

class QSocketNotifier;

namespace tessarine {

class SignalWatcher : public QObject {
public:
    using Handler = std::function<void(int signal)>;

    // Catches the three signals from now on, but those the program was
    // started with ignored (nohup). A signal that arrives before
    // a handler is set waits in the pipe; a watcher without a handler ends
    // the program with 128 + the signal's number.
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    // Called once, for the first signal; it is expected to end the program.
    void SetHandler(Handler handler) { handler_ = std::move(handler); }

private:
    void Read();

    Handler handler_;
    QSocketNotifier* notifier_ = nullptr;
    unsigned caught_ = 0;  // bit n: signal n has this watcher's handler
};

}  // namespace tessarine
