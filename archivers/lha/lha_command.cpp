#include "archivers/lha/lha_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <string_view>
#include <thread>
#include <vector>

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

bool KnownSwitch(std::string_view token) {
    return std::any_of(kKnownSwitches.begin(), kKnownSwitches.end(), [&](const char* s) { return token == s; });
}

CommandResult Fail(std::string report) { return {2, std::move(report), {}}; }

// The tokens of a command line one at a time, read as SplitCommandLine
// reads them. A token that is a single quoted part without escapes, or that
// has no quotes at all, is handed out as a view into the line; any other is
// spelled out into `spill`, which keeps it for as long as the views are in
// use. A list of a million names thus costs a view per name, not a string.
class TokenReader {
public:
    TokenReader(std::string_view line, std::deque<std::string>& spill) : line_(line), spill_(spill) {}

    bool Next(std::string_view& token) {
        const size_t n = line_.size();
        while (i_ < n && IsBlank(line_[i_])) ++i_;
        if (i_ >= n) return false;
        if (line_[i_] == '"') {
            size_t j = i_ + 1;
            while (j < n && line_[j] != '"' && line_[j] != '\\') ++j;
            if (j < n && line_[j] == '"' && (j + 1 == n || IsBlank(line_[j + 1]))) {
                token = line_.substr(i_ + 1, j - i_ - 1);
                i_ = j + 1;
                return true;
            }
        } else {
            size_t j = i_;
            while (j < n && !IsBlank(line_[j]) && line_[j] != '"') ++j;
            if (j == n || line_[j] != '"') {
                token = line_.substr(i_, j - i_);
                i_ = j;
                return true;
            }
        }
        std::string current;
        bool quoted = false;
        for (; i_ < n; ++i_) {
            const char c = line_[i_];
            if (quoted) {
                if (c == '\\' && i_ + 1 < n && (line_[i_ + 1] == '"' || line_[i_ + 1] == '\\'))
                    current.push_back(line_[++i_]);
                else if (c == '"')
                    quoted = false;
                else
                    current.push_back(c);
            } else if (c == '"') {
                quoted = true;
            } else if (IsBlank(c)) {
                break;
            } else {
                current.push_back(c);
            }
        }
        spill_.push_back(std::move(current));
        token = spill_.back();
        return true;
    }

private:
    static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

    std::string_view line_;
    std::deque<std::string>& spill_;
    size_t i_ = 0;
};

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

// The stored paths seen so far, each kept as the index of the name it came
// from: a slot holds a 32-bit hash of the stored path and the index + 1.
// Names are compared in full only when their hashes agree.
class StoredPathSet {
public:
    explicit StoredPathSet(const std::vector<std::string_view>& names) : names_(names), slots_(1024, 0) {}

    // Enters names[index], stored as `stored`; false when a name stored the
    // same way came before.
    bool Insert(size_t index, std::string_view stored) {
        if (2 * (count_ + 1) > slots_.size()) Grow();
        const uint32_t hash = static_cast<uint32_t>(std::hash<std::string_view>{}(stored));
        const size_t mask = slots_.size() - 1;
        for (size_t at = hash & mask;; at = (at + 1) & mask) {
            const uint64_t slot = slots_[at];
            if (slot == 0) {
                slots_[at] = (uint64_t{hash} << 32) | (index + 1);
                ++count_;
                return true;
            }
            if (static_cast<uint32_t>(slot >> 32) == hash && StoredPath(names_[(slot & 0xFFFFFFFFu) - 1]) == stored)
                return false;
        }
    }

    static std::string StoredPath(std::string_view name) {
        return AlreadyClean(name) ? std::string(name) : CleanRelativePath(std::string(name));
    }

private:
    void Grow() {
        std::vector<uint64_t> old(slots_.size() * 2, 0);
        old.swap(slots_);
        const size_t mask = slots_.size() - 1;
        for (const uint64_t slot : old) {
            if (slot == 0) continue;
            size_t at = (slot >> 32) & mask;
            while (slots_[at] != 0) at = (at + 1) & mask;
            slots_[at] = slot;
        }
    }

    const std::vector<std::string_view>& names_;
    std::vector<uint64_t> slots_;
    size_t count_ = 0;
};

// Prepares members (reads and compresses files that are held in memory) on
// worker threads a bounded distance ahead of the writer, which takes them
// strictly in list order; the archive is byte for byte the same as a
// one-thread run. Only the members within that distance are held, in a ring
// of slots, and no new one is begun ahead while those waiting hold more
// than kHeldBytes.
class MemberPipeline {
public:
    MemberPipeline(const std::string& base, const std::vector<std::string_view>& names) : base_(base), names_(names) {
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
        changed_.wait(lock, [&] { return ready_[i % kAhead] != 0; });
        PreparedMember m = std::move(slots_[i % kAhead]);
        ready_[i % kAhead] = 0;
        held_ -= m.data.size();
        taken_ = i + 1;
        lock.unlock();
        changed_.notify_all();
        return m;
    }

private:
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
                m = PrepareMember(base_ + name, name);
            } catch (const std::bad_alloc&) {
                m.result = AddResult::Unreadable;  // left out like any file that cannot be read
                m.reason = "メモリー不足";
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
    std::array<PreparedMember, kAhead> slots_;
    std::array<char, kAhead> ready_{};
    size_t next_ = 0;
    size_t taken_ = 0;
    size_t held_ = 0;  // bytes of the prepared members waiting in the slots
    bool stop_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::thread> workers_;
};

}  // namespace

CommandResult RunCommand(std::string_view commandLine) {
    std::deque<std::string> spill;
    TokenReader reader(commandLine, spill);
    std::string_view token;
    if (!reader.Next(token)) return Fail("Error: empty command line\n");
    if (token != "a" && token != "A") return Fail("Error: unknown command \"" + std::string(token) + "\"\n");
    std::string badSwitches;
    bool more = reader.Next(token);
    for (; more && !token.empty() && token[0] == '-'; more = reader.Next(token))
        if (!KnownSwitch(token)) badSwitches += "Error: unknown switch \"" + std::string(token) + "\"\n";
    if (!badSwitches.empty()) return Fail(badSwitches);
    std::string_view baseToken;
    if (!more || !reader.Next(baseToken)) return Fail("Error: archive path or base folder missing\n");
    const std::string archive(token);
    const std::string base(baseToken);
    // Each member once, at its first place: two names that store as the
    // same path would make a reader stop at its overwrite question.
    // The table of stored paths is only needed while the list is read.
    std::vector<std::string_view> names;
    {
        StoredPathSet seen(names);
        while (reader.Next(token)) {
            std::string cleaned;
            std::string_view stored = token;
            if (!AlreadyClean(token)) stored = cleaned = CleanRelativePath(std::string(token));
            if (!stored.empty() && !seen.Insert(names.size(), stored)) continue;
            names.push_back(token);
        }
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
    result.status = result.leftOut.empty() ? 0 : 1;
    result.report =
        std::to_string(addedCount) + " of " + std::to_string(names.size()) + " files added to the archive\n";
    if (!result.leftOut.empty()) result.report += std::to_string(result.leftOut.size()) + " files left out\n";
    return result;
}

}  // namespace lha
