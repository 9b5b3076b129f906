#pragma once
// Real file systems for the tests that speak of them, mounted under a
// temporary folder and always unmounted again: exFAT through exfat-fuse,
// FAT through fusefat (no kernel module needed), a small loop-mounted ext4
// that fills up, and a FUSE mount that refuses chmod (bindfs). A mount that
// cannot be made (not root, no /dev/fuse, no loop device, a tool missing)
// leaves the reason for the test to skip with.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace testsupport {

enum class FileSystem { kExfat, kFat, kExt4, kChmodRefused };

inline const char* NameOf(FileSystem fs) {
    switch (fs) {
        case FileSystem::kExfat: return "exFAT";
        case FileSystem::kFat: return "FAT";
        case FileSystem::kExt4: return "ext4";
        case FileSystem::kChmodRefused: return "bindfs --chmod-deny";
    }
    return "?";
}

// Runs a shell command quietly; true when it succeeded.
inline bool Quietly(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

class TestMount {
public:
    // Makes `point` (inside `folder`, a temporary folder of the test) the
    // root of a new file system of the kind. `megabytes` sizes the image;
    // for ext4 `inodes` > 0 limits its inodes.
    TestMount(FileSystem fs, const std::string& folder, unsigned megabytes = 64, unsigned inodes = 0)
        : point_(folder + "/mnt"), image_(folder + "/image") {
        ::mkdir(point_.c_str(), 0755);
        if (::geteuid() != 0) {
            why_ = "mounting needs root";
            return;
        }
        const bool fuse = fs != FileSystem::kExt4;
        if (fuse && ::access("/dev/fuse", R_OK | W_OK) != 0) {
            why_ = "no /dev/fuse";
            return;
        }
        const std::string size = std::to_string(megabytes) + "M";
        switch (fs) {
            case FileSystem::kExfat:
                // exfat-fuse mounts a block device only: the image goes on a loop device.
                if (!Make("truncate -s " + size + " '" + image_ + "' && mkfs.exfat '" + image_ + "'", "mkfs.exfat"))
                    return;
                loop_ = Output("losetup -f --show '" + image_ + "'");
                if (loop_.empty()) {
                    why_ = "no loop device";
                    return;
                }
                Mount("mount.exfat-fuse '" + loop_ + "' '" + point_ + "'", "exfat-fuse");
                break;
            case FileSystem::kFat:
                if (!Make("truncate -s " + size + " '" + image_ + "' && mkfs.vfat '" + image_ + "'", "mkfs.vfat"))
                    return;
                Mount("fusefat -o rw+ '" + image_ + "' '" + point_ + "'", "fusefat");
                break;
            case FileSystem::kExt4:
                if (!Make("truncate -s " + size + " '" + image_ + "' && mkfs.ext4 -q -F -m 0 " +
                              (inodes ? "-N " + std::to_string(inodes) + " " : "") + "'" + image_ + "'",
                          "mkfs.ext4"))
                    return;
                Mount("mount -o loop '" + image_ + "' '" + point_ + "'", "a loop device");
                break;
            case FileSystem::kChmodRefused: {
                const std::string under = folder + "/under";
                ::mkdir(under.c_str(), 0755);
                Mount("bindfs --chmod-deny '" + under + "' '" + point_ + "'", "bindfs");
                break;
            }
        }
    }
    ~TestMount() {
        if (mounted_ && !Quietly("umount '" + point_ + "'") && !Quietly("fusermount -u '" + point_ + "'"))
            Quietly("umount -l '" + point_ + "'");
        if (!loop_.empty()) Quietly("losetup -d '" + loop_ + "'");
    }
    TestMount(const TestMount&) = delete;
    TestMount& operator=(const TestMount&) = delete;

    bool Mounted() const { return mounted_; }
    // Why the mount could not be made; empty when it was.
    const std::string& Why() const { return why_; }
    const std::string& Point() const { return point_; }

private:
    std::string point_, image_, loop_, why_;
    bool mounted_ = false;

    bool Make(const std::string& command, const char* tool) {
        if (Quietly(command)) return true;
        why_ = std::string("cannot make the image (") + tool + " missing?)";
        return false;
    }
    void Mount(const std::string& command, const char* needs) {
        mounted_ = Quietly(command);
        if (!mounted_) why_ = std::string("cannot mount (needs ") + needs + ")";
    }
    static std::string Output(const std::string& command) {
        std::string out;
        if (FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r")) {
            char buf[256];
            while (std::fgets(buf, sizeof buf, p)) out += buf;
            ::pclose(p);
        }
        while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
        return out;
    }
};

}  // namespace testsupport
