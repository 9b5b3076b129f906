// Root's job over a tree that an ordinary user owns, while that user swaps
// one of its folders for a link to root's private folder at a random moment
// of the job: no byte of the private files may reach any product, the job
// ends with 0 or 3, and what it could not take is listed.
#include <gtest/gtest.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>

#include "process_runner.h"
#include "test_support.h"

using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace fs = std::filesystem;

namespace {

constexpr char kMarker[] = "ROOT-PRIVATE-9c41e7";
constexpr uid_t kOwner = 65534;
const std::vector<std::string> kFolders = {"d0", "d1", "d2", "d3"};

// The members of each swappable folder; the private folder holds the same
// names, so a followed link finds a file at every name the job looks for.
std::vector<std::string> Members() {
    std::vector<std::string> names{"big.bin"};
    char name[32];
    for (int i = 0; i < 60; ++i) names.push_back((std::snprintf(name, sizeof name, "f%03d.txt", i), name));
    for (int i = 0; i < 20; ++i) names.push_back((std::snprintf(name, sizeof name, "deep/g%02d.txt", i), name));
    return names;
}

std::string Repeated(const std::string& unit, size_t size) {
    std::string text;
    while (text.size() < size) text += unit;
    return text;
}

// Each entry of a tree, read without following links: a file's content, a
// link as "-> target", a folder as "/".
std::map<std::string, std::string> ReadTree(const std::string& root) {
    std::map<std::string, std::string> tree;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string rel = e.path().lexically_relative(root).string();
        tree[rel] = e.is_symlink()     ? "-> " + fs::read_symlink(e.path()).string()
                    : e.is_directory() ? "/"
                                       : ReadFile(e.path().string());
    }
    return tree;
}

// A tree of four folders of small files and one larger file each, owned by
// kOwner, and root's private folder (0700, files 0600) beside it.
struct RaceTree {
    TempDir dir;
    std::string src = dir.folder() + "src", outside = dir.folder() + "private", out = dir.folder() + "out",
                user = dir.folder() + "user";
    std::map<std::string, std::string> files;  // relative name -> content, as the source holds them

    RaceTree() {
        for (const auto& d : {src, outside, out, outside + "/deep"}) MakeDir(d);
        files["top.txt"] = "top\n";
        for (const std::string& folder : kFolders) {
            MakeDir(src + "/" + folder);
            MakeDir(src + "/" + folder + "/deep");
            for (const std::string& m : Members()) {
                const std::string rel = folder + "/" + m;
                files[rel] = m == "big.bin" ? Repeated("inside " + rel + "\n", 192 << 10) : "inside " + rel + "\n";
            }
        }
        for (const auto& [rel, content] : files) WriteFile(src + "/" + rel, content);
        for (const std::string& m : Members()) WriteFile(outside + "/" + m, Repeated(kMarker, 4096));
        WriteFile(outside + "/only-private.txt", kMarker);
        for (const auto& e : fs::recursive_directory_iterator(outside))
            ::chmod(e.path().c_str(), e.is_directory() ? 0700 : 0600);
        ::chmod(outside.c_str(), 0700);
        testsupport::HandToUnprivileged(src);
    }

    testsupport::ProcessResult Run(const std::string& mode) {
        return RunProgram("tessarine-cli", {"--user-folder", user, "-q", "-m", mode, "-d", out, src}, {}, false, 120);
    }
};

// Waits for `wait` or until `stopFd` reads end of file; true when stopped.
bool Stopped(int stopFd, std::chrono::microseconds wait) {
    pollfd p{stopFd, POLLIN, 0};
    const timespec limit{static_cast<time_t>(wait.count() / 1000000), static_cast<long>(wait.count() % 1000000) * 1000};
    return ::ppoll(&p, 1, &limit, nullptr) > 0;
}

// The owner of the tree, in a child process: after `delay` renames `folder`
// away and puts a link to `target` in its place; with `flap`, swaps back and
// forth until the parent closes its end of `stop`. Exits with 1 when it
// swapped at least once before being stopped, 0 when not.
pid_t StartAttacker(const std::string& folder, const std::string& target, std::chrono::microseconds delay, bool flap,
                    const int stop[2]) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    ::close(stop[1]);
    const int stopFd = stop[0];
    if (::setgroups(0, nullptr) != 0 || ::setresgid(kOwner, kOwner, kOwner) != 0 ||
        ::setresuid(kOwner, kOwner, kOwner) != 0)
        ::_exit(99);
    if (Stopped(stopFd, delay)) ::_exit(0);
    const std::string moved = folder + ".moved";
    do {
        if (::rename(folder.c_str(), moved.c_str()) != 0 || ::symlink(target.c_str(), folder.c_str()) != 0) ::_exit(98);
        if (!flap || Stopped(stopFd, std::chrono::microseconds(500))) break;
        if (::unlink(folder.c_str()) != 0 || ::rename(moved.c_str(), folder.c_str()) != 0) ::_exit(98);
    } while (!Stopped(stopFd, std::chrono::microseconds(500)));
    ::_exit(1);
}

// Puts a swapped folder back for the next trial.
void Restore(const std::string& folder) {
    struct stat st {};
    if (::lstat((folder + ".moved").c_str(), &st) != 0) return;
    ::unlink(folder.c_str());
    ::rename((folder + ".moved").c_str(), folder.c_str());
}

// The product's entries: a copy read as it is, an archive extracted first.
std::map<std::string, std::string> ProductTree(const std::string& product, bool archive, const std::string& scratch) {
    if (!archive) return ReadTree(product);
    fs::remove_all(scratch);
    MakeDir(scratch);
    const auto x = product.ends_with(".lzh") ? RunProgram("/usr/bin/bsdtar", {"-xf", product, "-C", scratch})
                                             : RunProgram("/usr/bin/7zz", {"x", "-y", "-o" + scratch, product});
    EXPECT_EQ(x.status, 0) << product << "\n" << x.out << x.err;
    const auto tree = ReadTree(scratch);
    fs::remove_all(scratch);
    return tree;
}

}  // namespace

TEST(SwapRace, FolderSwappedForALinkToRootsFilesAtRandomMomentsLeaksNothing) {
    if (::geteuid() != 0) GTEST_SKIP() << "the job must run as root and the tree's owner as another user";
    struct Mode {
        const char* name;
        bool archive;
    };
    const Mode modes[] = {{"copy", false}, {"lha", true}, {"zip", true}, {"7z", true}};
    const char* trialsText = std::getenv("SWAP_RACE_TRIALS");
    const int trials = trialsText ? std::atoi(trialsText) : 6;
    const char* seedText = std::getenv("SWAP_RACE_SEED");
    const unsigned seed = seedText ? static_cast<unsigned>(std::atoll(seedText)) : std::random_device{}();
    SCOPED_TRACE("SWAP_RACE_SEED=" + std::to_string(seed));
    std::mt19937 random(seed);
    RaceTree tree;
    const std::string prefix = tree.src + "/";
    for (const Mode& mode : modes) {
        SCOPED_TRACE(mode.name);
        // An undisturbed job sets the span over which the moments are spread.
        const auto started = std::chrono::steady_clock::now();
        const auto calm = tree.Run(mode.name);
        const auto span =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
        ASSERT_EQ(calm.status, 0) << calm.err;
        int swapped = 0, leftOut = 0, failures = 0, leaks = 0;
        std::vector<double> moments;
        for (int trial = 0; trial < trials; ++trial) {
            const std::string folder = kFolders[random() % kFolders.size()];
            const auto delay = std::chrono::microseconds(random() % (span.count() + 1));
            const bool flap = trial % 2 == 1;
            SCOPED_TRACE("trial " + std::to_string(trial) + ": " + folder + " at " + std::to_string(delay.count()) +
                         " us of " + std::to_string(span.count()) + (flap ? ", back and forth" : ""));
            int stop[2];
            ASSERT_EQ(::pipe2(stop, O_CLOEXEC), 0);
            const pid_t attacker = StartAttacker(prefix + folder, tree.outside, delay, flap, stop);
            const auto job = tree.Run(mode.name);
            ::close(stop[1]);
            int status = 0;
            ::waitpid(attacker, &status, 0);
            ::close(stop[0]);
            Restore(prefix + folder);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1) << "attacker status " << status;
            swapped += WEXITSTATUS(status);
            moments.push_back(static_cast<double>(delay.count()) / static_cast<double>(span.count()));
            const bool ended = job.status == 0 || job.status == 3;
            failures += !ended;
            EXPECT_TRUE(ended) << job.status << "\n" << job.err;
            if (!ended) continue;
            leftOut += job.status == 3;
            std::istringstream lines(job.out);
            std::string product;
            std::getline(lines, product);
            const auto got = ProductTree(product, mode.archive, tree.dir.folder() + "extracted");
            fs::remove_all(product);
            // Every entry of the product holds what the source held under its name
            // (the owner's own link at a folder's name included); nothing else.
            bool leaked = false;
            for (const auto& [rel, content] : got) {
                leaked = leaked || content.find(kMarker) != std::string::npos || rel.ends_with("only-private.txt");
                const std::string name =
                    rel.starts_with(folder + ".moved") ? folder + rel.substr(folder.size() + 6) : rel;
                // (7zz extracts an absolute link target beneath its output folder.)
                const bool ownersLink = name == folder && content.starts_with("-> ") && content.ends_with(tree.outside);
                if (content == "/" || ownersLink) continue;
                const auto want = tree.files.find(name);
                EXPECT_TRUE(want != tree.files.end() && want->second == content)
                    << rel << " (" << content.substr(0, 80) << "): "
                    << (want == tree.files.end() ? "not in the source"
                                                 : testsupport::FirstDifference(content, want->second));
            }
            leaks += leaked;
            // Whatever the product lacks is listed as left out (by its name or
            // its folder's), or stood beneath a folder the owner had made a link.
            for (const auto& [rel, content] : tree.files) {
                if (got.count(rel) || got.count(folder + ".moved" + rel.substr(folder.size()))) continue;
                bool listed = false;
                for (fs::path name = rel; !listed && !name.empty(); name = name.parent_path()) {
                    for (const char* end : {":", "/:"})
                        listed = listed || job.err.find(prefix + name.string() + end) != std::string::npos;
                }
                const bool underLink = rel.starts_with(folder + "/") && got.count(folder) && got.at(folder) != "/";
                EXPECT_TRUE(listed || underLink) << rel << " is neither in the product nor listed:\n" << job.err;
            }
            // Only entries of the swapped folder are listed.
            std::istringstream report(job.err);
            for (std::string line; std::getline(report, line);) {
                EXPECT_TRUE(line.starts_with(prefix + folder)) << line;
            }
        }
        std::sort(moments.begin(), moments.end());
        std::printf(
            "[ swap race ] %-4s %d trials over %lld us, moments %.2f..%.2f of the job, swapped during %d, "
            "exit 3 in %d, other exits in %d, leaks in %d\n",
            mode.name, trials, static_cast<long long>(span.count()), moments.empty() ? 0 : moments.front(),
            moments.empty() ? 0 : moments.back(), swapped, leftOut, failures, leaks);
        EXPECT_EQ(leaks, 0);
    }
}
