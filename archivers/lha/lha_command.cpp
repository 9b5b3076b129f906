#include "archivers/lha/lha_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "archive/command_line.h"
#include "archivers/lha/lha_writer.h"

namespace lha {

namespace {

// The switches of the adapter's LHA command line. They ask for what this
// writer always does (level-2 headers, paths kept, -lh5-), so they are
// accepted and otherwise ignored.
constexpr std::array<const char*, 7> kKnownSwitches = {"-a1", "-r2", "-x1", "-l1", "-jp1", "-o2", "-ji0"};

bool KnownSwitch(const std::string& token) {
    return std::any_of(kKnownSwitches.begin(), kKnownSwitches.end(),
                       [&](const char* s) { return token == s; });
}

CommandResult Fail(std::string report) { return {2, std::move(report)}; }

// The program treats any report containing "error" (any letter case) as a
// failure. A file or folder name can hold that word ("error.h"), so the
// lines of a report that describe success never quote such a name.
bool HoldsErrorWord(const std::string& text) {
    std::string lower(text);
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("error") != std::string::npos;
}

// Prepares members (reads and compresses small files) on worker threads a
// bounded distance ahead of the writer, which takes them strictly in list
// order; the archive is byte for byte the same as a one-thread run.
class MemberPipeline {
public:
    MemberPipeline(const std::string& base, const std::vector<std::string>& names)
        : base_(base), names_(names), slots_(names.size()), ready_(names.size(), 0) {
        const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
        for (unsigned t = 0; t < threads; ++t) workers_.emplace_back([this] { Work(); });
    }
    ~MemberPipeline() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        for (auto& w : workers_) w.join();
    }
    MemberPipeline(const MemberPipeline&) = delete;
    MemberPipeline& operator=(const MemberPipeline&) = delete;

    // The member for names[i]; called for i = 0, 1, 2, ... in turn.
    PreparedMember Take(size_t i) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return ready_[i] != 0; });
        PreparedMember m = std::move(slots_[i]);
        taken_ = i + 1;
        lock.unlock();
        changed_.notify_all();
        return m;
    }

private:
    // How far ahead of the writer preparation may run; bounds the memory
    // held to this many small files.
    static constexpr size_t kAhead = 16;

    void Work() {
        for (;;) {
            size_t i;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || next_ >= names_.size() || next_ < taken_ + kAhead; });
                if (stop_ || next_ >= names_.size()) return;
                i = next_++;
            }
            PreparedMember m;
            try {
                m = PrepareMember(base_ + names_[i], names_[i]);
            } catch (const std::bad_alloc&) {
                m.result = AddResult::Unreadable;  // reported like any file that cannot be read
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                slots_[i] = std::move(m);
                ready_[i] = 1;
            }
            changed_.notify_all();
        }
    }

    const std::string& base_;
    const std::vector<std::string>& names_;
    std::vector<PreparedMember> slots_;
    std::vector<char> ready_;
    size_t next_ = 0;
    size_t taken_ = 0;
    bool stop_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::thread> workers_;
};

// The process's file-creation mask, read without changing it: umask() would
// have to set it for a moment, which other threads of the program could see.
mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    return 022;
}

std::string TempPathFor(const std::string& archive) { return archive + ".tmp-XXXXXX"; }

}  // namespace

CommandResult RunCommand(const std::string& commandLine) {
    const std::vector<std::string> tokens = tessarine::SplitCommandLine(commandLine);
    if (tokens.empty()) return Fail("Error: empty command line\n");
    if (tokens[0] != "a" && tokens[0] != "A") return Fail("Error: unknown command \"" + tokens[0] + "\"\n");
    size_t i = 1;
    std::string badSwitches;
    for (; i < tokens.size() && !tokens[i].empty() && tokens[i][0] == '-'; ++i)
        if (!KnownSwitch(tokens[i])) badSwitches += "Error: unknown switch \"" + tokens[i] + "\"\n";
    if (!badSwitches.empty()) return Fail(badSwitches);
    if (i + 2 > tokens.size()) return Fail("Error: archive path or base folder missing\n");
    const std::string archive = tokens[i];
    const std::string base = tokens[i + 1];
    const std::vector<std::string> names(tokens.begin() + static_cast<std::ptrdiff_t>(i) + 2, tokens.end());
    if (names.empty()) return Fail("Error: no files to add to " + archive + "\n");

    // The archive is written beside its final place and moved there when
    // complete, so a failure never leaves a torn archive under that name.
    std::string temp = TempPathFor(archive);
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return Fail("Error: cannot create " + archive + ": " + std::strerror(errno) + "\n");
    ::fchmod(fd, 0666 & ~CurrentUmask());

    std::string errors, added;
    size_t addedCount = 0;
    try {
        ArchiveWriter writer(fd);
        MemberPipeline pipeline(base, names);
        for (size_t k = 0; k < names.size(); ++k) {
            const std::string& name = names[k];
            PreparedMember member = pipeline.Take(k);
            const AddResult r = writer.Add(member);
            if (r == AddResult::Added) {
                ++addedCount;
                const MemberHeader& m = writer.lastMember();
                if (!HoldsErrorWord(name)) added += name + " (" + m.method + ")\n";
            } else {
                errors += "Error: " + name + ": " + Describe(r) + ", left out\n";
            }
        }
        writer.Finish();
        if (::fsync(fd) != 0) throw std::system_error(errno, std::generic_category(), "write archive");
    } catch (const std::system_error& e) {
        ::close(fd);
        ::unlink(temp.c_str());
        return Fail("Error: cannot write " + archive + ": " + e.code().message() + "\n");
    }
    ::close(fd);
    if (::rename(temp.c_str(), archive.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        ::unlink(temp.c_str());
        return Fail("Error: cannot create " + archive + ": " + why + "\n");
    }
    // Failures come first so that cutting the report to the caller's buffer
    // never hides one.
    CommandResult result;
    result.status = errors.empty() ? 0 : 1;
    result.report = errors + std::to_string(addedCount) + " of " + std::to_string(names.size()) +
                    " files added to the archive\n" + added;
    return result;
}

}  // namespace lha
