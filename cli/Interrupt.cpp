#include "cli/Interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "cli/Messages.h"
#include "engine/Common.h"
#include "engine/TessarineThread.h"
#include "engine/temp_file.h"

namespace tessarine::cli {

namespace {

int wakeUp[2] = {-1, -1};

std::mutex mutex;
std::string jobProduct;
int jobMode = -1;
bool productExisted = true;
bool restoreTerminal = false;
termios savedTerminal{};

void OnSignal(int signal) {
    const unsigned char number = static_cast<unsigned char>(signal);
    // Only the watcher reads the pipe; a full pipe means it is awake already.
    [[maybe_unused]] const ssize_t n = ::write(wakeUp[1], &number, 1);
}

[[noreturn]] void EndInterrupted(int signal) {
    std::lock_guard lock(mutex);
    if (restoreTerminal) ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    std::string message = Text(Msg::Interrupted);
    if (!jobProduct.empty()) {
        RemoveTemporariesOf(jobProduct);
        struct stat st {};
        if (jobMode == kModeCopy) {
            if (!productExisted && ::lstat(jobProduct.c_str(), &st) == 0) {
                message = Text(Msg::InterruptedCopy, {jobProduct});
            }
        } else if (!productExisted && ::lstat(jobProduct.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            // An archive the archiver writes in place is not complete.
            ::unlink(jobProduct.c_str());
        }
    }
    std::fprintf(stderr, "\ntessarine-cli: %s\n", message.c_str());
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
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
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

void SetInterruptedJob(const std::string& product, int mode, bool existedBefore) {
    std::lock_guard lock(mutex);
    jobProduct = product;
    jobMode = mode;
    productExisted = existedBefore;
}

void SetTerminalToRestore(const termios* saved) {
    std::lock_guard lock(mutex);
    restoreTerminal = saved != nullptr;
    if (saved) savedTerminal = *saved;
}

int RemoveTemporariesOf(const std::string& product) {
    const size_t slash = product.rfind(kPathSeparator);
    const std::string folder = slash == std::string::npos ? "./" : product.substr(0, slash + 1);
    const std::string prefix = product.substr(slash == std::string::npos ? 0 : slash + 1) + std::string(kTempSuffix);
    std::vector<std::string> names;
    ReadFolder(folder, [&](const FolderEntry& e) {
        // mkstemp's six characters follow the prefix.
        if (!e.isFolder && e.name.size() == prefix.size() + 6 && e.name.substr(0, prefix.size()) == prefix) {
            names.emplace_back(e.name);
        }
    });
    int removed = 0;
    for (const auto& name : names) {
        struct stat st {};
        const std::string path = folder + name;
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0) ++removed;
    }
    return removed;
}

}  // namespace tessarine::cli
