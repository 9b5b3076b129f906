#include "cli/Interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <thread>

#include "cli/Messages.h"
#include "engine/staging.h"

namespace tessarine::cli {

namespace {

int wakeUp[2] = {-1, -1};

std::mutex mutex;
bool restoreTerminal = false;
termios savedTerminal{};

volatile sig_atomic_t interrupted = 0;

void OnSignal(int signal) {
    interrupted = 1;
    const unsigned char number = static_cast<unsigned char>(signal);
    // Only the watcher reads the pipe; a full pipe means it is awake already.
    [[maybe_unused]] const ssize_t n = ::write(wakeUp[1], &number, 1);
}

[[noreturn]] void EndInterrupted(int signal) {
    std::lock_guard lock(mutex);
    if (restoreTerminal) ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    AbandonRunningJob();
    std::fprintf(stderr, "\ntessarine-cli: %s\n", Text(Msg::Interrupted).c_str());
    std::fflush(stderr);
    ::_exit(128 + signal);
}

}  // namespace

void WatchInterrupts() {
    if (::pipe2(wakeUp, O_CLOEXEC) != 0) return;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
    std::thread([] {
        unsigned char number = 0;
        while (true) {
            const ssize_t n = ::read(wakeUp[0], &number, 1);
            if (n == 1) EndInterrupted(number);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
        }
    }).detach();
}

void HoldIfInterrupted() {
    while (interrupted) ::pause();
}

void SetTerminalToRestore(const termios* saved) {
    std::lock_guard lock(mutex);
    restoreTerminal = saved != nullptr;
    if (saved) savedTerminal = *saved;
}

}  // namespace tessarine::cli
