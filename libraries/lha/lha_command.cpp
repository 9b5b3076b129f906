#include "libraries/lha/lha_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <new>
#include <system_error>
#include <string_view>
#include <thread>
#include <vector>

#include "archive/archiver_status.h"
#include "archive/archive_request.h"
#include "libraries/name_set.h"
#include "libraries/plain_reason.h"
#include "libraries/lha/lha_writer.h"
#include "engine/temp_file.h"
#include "engine/worker_threads.h"

namespace lha {

namespace {

CommandResult Fail(std::string report) { return {tessarine::kArchiverFailed, std::move(report), {}}; }

// The report of a call that made no archive, in English as 7-Zip's are.
CommandResult Fail(const tessarine::Message& reason) {
    return Fail("Error: " + tessarine::RenderMessage(reason, tessarine::Language::kEnglish) + "\n");
}

// Whether a relative path is stored as it is (CleanRelativePath would give
// it back unchanged): no empty, "." or ".." component.
bool AlreadyClean(std::string_view path) {
    if (path.empty()) return false;
    size_t i = 0;
    for (;;) {
        const size_t j = std::min(path.find('/', i), path.size());
        const std::string_view part = path.substr(i, j - i);
        if (part.empty() || part == "." || part == "..") return false;
        if (j == path.size()) return true;
        i = j + 1;
    }
}

// Prepares members (reads and compresses files that are held in memory) on
// worker threads a bounded distance ahead of the writer, which takes them
// strictly in list order; the archive is byte for byte the same as a
// one-thread run. Only the members within that distance are held, in a ring
// of slots, and no new one is begun ahead while those waiting hold more
// than kHeldBytes.
class MemberPipeline {
public:
    MemberPipeline(const std::string& base, const std::vector<std::string_view>& names)
        : base_(base),
          names_(names),
          baseFd_(tessarine::OpenLongPath(AT_FDCWD, base.empty() ? "." : base, O_PATH | O_DIRECTORY)) {
        const unsigned threads = tessarine::WorkerThreads(1, 8);
        try {
            for (unsigned t = 0; t < threads; ++t) workers_.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            // No room for another thread's stack: the archive fails for want
            // of memory, once the workers started have ended.
            StopWorkers();
            throw std::bad_alloc();
        }
    }
    ~MemberPipeline() { StopWorkers(); }
    MemberPipeline(const MemberPipeline&) = delete;
    MemberPipeline& operator=(const MemberPipeline&) = delete;

    // The member for names[i]; called for i = 0, 1, 2, ... in turn. Raises
    // what ended a worker (memory that ran out), so that the whole call
    // fails rather than the member being left out.
    PreparedMember Take(size_t i) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return ready_[i % kAhead] != 0 || failure_; });
        if (failure_) std::rethrow_exception(failure_);
        PreparedMember m = std::move(slots_[i % kAhead]);
        ready_[i % kAhead] = 0;
        held_ -= m.data.size();
        taken_ = i + 1;
        lock.unlock();
        changed_.notify_all();
        return m;
    }

private:
    void StopWorkers() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        for (auto& w : workers_) w.join();
    }

    // How far ahead of the writer preparation may run, in members and in
    // bytes waiting to be written.
    static constexpr size_t kAhead = 64;
    static constexpr size_t kHeldBytes = 32u << 20;

    void Work() {
        for (;;) {
            size_t i;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                // The member the writer waits for is always begun.
                changed_.wait(lock, [&] {
                    return stop_ || next_ >= names_.size() ||
                           (next_ < taken_ + kAhead && (next_ == taken_ || held_ < kHeldBytes));
                });
                if (stop_ || next_ >= names_.size()) return;
                i = next_++;
            }
            PreparedMember m;
            try {
                const std::string name(names_[i]);
                // Beneath the base folder when it could be opened; its
                // failure then shows in each member's reason.
                m = baseFd_ ? PrepareMember(baseFd_.Get(), name, name) : PrepareMember(base_ + name, name);
            } catch (...) {
                // An exception must not leave a thread. The first one stops
                // the others and is raised again to the writer.
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    if (!failure_) failure_ = std::current_exception();
                    stop_ = true;
                }
                changed_.notify_all();
                return;
            }
            {
                // The slot is free: its last member, kAhead before this one,
                // has been taken.
                std::lock_guard<std::mutex> lock(mutex_);
                held_ += m.data.size();
                slots_[i % kAhead] = std::move(m);
                ready_[i % kAhead] = 1;
            }
            changed_.notify_all();
        }
    }

    const std::string& base_;
    const std::vector<std::string_view>& names_;
    const tessarine::UniqueFd baseFd_;
    std::array<PreparedMember, kAhead> slots_;
    std::array<char, kAhead> ready_{};
    size_t next_ = 0;
    size_t taken_ = 0;
    size_t held_ = 0;  // bytes of the prepared members waiting in the slots
    bool stop_ = false;
    std::exception_ptr failure_;  // what ended the first worker that failed
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::thread> workers_;
};

}  // namespace

CommandResult RunCommand(std::string_view commandLine) {
    tessarine::ParsedArchiveRequest parsed =
        tessarine::ParseArchiveRequest(commandLine, tessarine::ArchiverDialect::kLha);
    if (parsed.failure) return Fail(parsed.failure);
    return WriteArchive(std::move(parsed.request));
}

CommandResult WriteArchive(tessarine::ArchiveRequest request) {
    const std::string& archive = request.archive;
    const std::string& base = request.baseFolder;
    std::vector<std::string_view>& names = request.entries;
    // Each member once, at its first place: two names that store as the
    // same path would make a reader stop at its overwrite question. The
    // paths they store as are only needed while the list is read.
    {
        std::deque<std::string> cleaned;
        std::vector<std::string_view> stored;
        stored.reserve(names.size());
        archivers::NameSet seen(names.size(), [&stored](size_t k) { return stored[k]; });
        size_t kept = 0;
        for (const std::string_view name : names) {
            std::string_view path = name;
            if (!AlreadyClean(name)) path = cleaned.emplace_back(CleanRelativePath(std::string(name)));
            if (!path.empty()) {
                stored.push_back(path);
                if (seen.Insert(stored.size() - 1) != stored.size() - 1) {
                    stored.pop_back();
                    continue;
                }
            }
            names[kept++] = name;
        }
        names.resize(kept);
    }
    if (names.empty()) return Fail(tessarine::MakeMessage(tessarine::MessageId::kArchiverNothingToAdd));

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
                result.leftOut.push_back(tessarine::LeftOutEntry{std::string(names[k]), member.reason});
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
    result.status = result.leftOut.empty() ? tessarine::kArchiverDone : tessarine::kArchiverLeftOut;
    result.report =
        std::to_string(addedCount) + " of " + std::to_string(names.size()) + " files added to the archive\n";
    if (!result.leftOut.empty()) result.report += std::to_string(result.leftOut.size()) + " files left out\n";
    return result;
}

}  // namespace lha
