#include "archivers/lha/lha_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <vector>

#include "archive/command_line.h"
#include "archivers/plain_reason.h"
#include "archivers/lha/lha_writer.h"
#include "engine/temp_file.h"
#include "engine/worker_threads.h"

namespace lha {

namespace {

// The switches of the adapter's LHA command line. They ask for what this
// writer always does (level-2 headers, paths kept, -lh5-), so they are
// accepted and otherwise ignored.
constexpr std::array<const char*, 7> kKnownSwitches = {"-a1", "-r2", "-x1", "-l1", "-jp1", "-o2", "-ji0"};

bool KnownSwitch(const std::string& token) {
    return std::any_of(kKnownSwitches.begin(), kKnownSwitches.end(), [&](const char* s) { return token == s; });
}

CommandResult Fail(std::string report) { return {2, std::move(report), {}}; }

// Prepares members (reads and compresses small files) on worker threads a
// bounded distance ahead of the writer, which takes them strictly in list
// order; the archive is byte for byte the same as a one-thread run.
class MemberPipeline {
public:
    MemberPipeline(const std::string& base, const std::vector<std::string>& names)
        : base_(base), names_(names), slots_(names.size()), ready_(names.size(), 0) {
        const unsigned threads = tessarine::WorkerThreads(1, 8);
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
                m.result = AddResult::Unreadable;  // left out like any file that cannot be read
                m.reason = "メモリー不足";
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
    // Each member once, at its first place: two names that store as the
    // same path would make a reader stop at its overwrite question.
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    for (size_t k = i + 2; k < tokens.size(); ++k) {
        const std::string stored = CleanRelativePath(tokens[k]);
        if (!stored.empty() && !seen.insert(stored).second) continue;
        names.push_back(tokens[k]);
    }
    if (names.empty()) return Fail("Error: no files to add\n");

    // The archive is written beside its final place and moved there when
    // complete, so a failure never leaves a torn archive under that name,
    // and whatever had that name is replaced whole. mkstemp makes a new file
    // (O_EXCL): it never opens one that is there, nor follows a link.
    tessarine::TempFileBeside temp(archive);
    if (!temp.Valid()) return Fail("Error: cannot create the archive: " + archivers::PlainReason(errno) + "\n");
    ::fchmod(temp.Get(), 0666 & ~tessarine::CurrentUmask());

    CommandResult result;
    size_t addedCount = 0;
    try {
        ArchiveWriter writer(temp.Get());
        MemberPipeline pipeline(base, names);
        for (size_t k = 0; k < names.size(); ++k) {
            PreparedMember member = pipeline.Take(k);
            if (writer.Add(member) == AddResult::Added) {
                ++addedCount;
            } else {
                result.leftOut.push_back(tessarine::LeftOutEntry{names[k], member.reason});
            }
        }
        writer.Finish();
        if (::fsync(temp.Get()) != 0) throw std::system_error(errno, std::generic_category(), "write archive");
    } catch (const std::system_error& e) {
        return Fail("Error: cannot write the archive: " + e.code().message() + "\n");
    }
    if (addedCount == 0) {
        // An archive with nothing in it is no product: the call fails, and
        // the list still tells why each entry was left out.
        CommandResult failed = Fail("Error: none of the files could be added\n");
        failed.leftOut = std::move(result.leftOut);
        return failed;
    }
    if (!temp.Close()) return Fail("Error: cannot write the archive: " + archivers::PlainReason(errno) + "\n");
    if (!temp.RenameIntoPlace())
        return Fail("Error: cannot create the archive: " + archivers::PlainReason(errno) + "\n");
    result.status = result.leftOut.empty() ? 0 : 1;
    result.report =
        std::to_string(addedCount) + " of " + std::to_string(names.size()) + " files added to the archive\n";
    if (!result.leftOut.empty()) result.report += std::to_string(result.leftOut.size()) + " files left out\n";
    return result;
}

}  // namespace lha
