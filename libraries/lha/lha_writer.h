#pragma once
// Writes LHA archives: level-2 headers, -lh5- compressed or -lh0- stored
// members, Unix permissions and time stamps, names relative to a base folder.
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/message.h"
#include "engine/unique_fd.h"

namespace lha {

// Code pages named in the archive for the stored names.
constexpr uint32_t kCodePageShiftJis = 932;
constexpr uint32_t kCodePageUtf8 = 65001;
// Bytes that are not UTF-8 at all: named as DOS code page 437, where every
// byte is some character, so that a reader that converts names shows a
// garbled name instead of giving up on the archive.
constexpr uint32_t kCodePageRawBytes = 437;

struct StoredName {
    std::string bytes;
    uint32_t codePage;
};

// The bytes a path is stored with: Shift-JIS when every character has a
// Shift-JIS form that converts back to the same text, otherwise the bytes as
// they are (UTF-8, or whatever the file system holds).
StoredName StoredNameBytes(const std::string& path);

// A relative path made safe to store: leading and doubled "/" and "."
// components dropped. Empty when nothing is left or when a ".." component
// would let the entry land outside the extraction folder.
std::string CleanRelativePath(const std::string& path);

// The level-2 header of one member. `path` is the stored path in its final
// bytes, "/" separating folders.
struct MemberHeader {
    std::string method = "-lh5-";
    uint32_t packedSize = 0;
    uint32_t originalSize = 0;
    uint32_t mtime = 0;
    uint16_t crc = 0;
    uint16_t mode = 0100644;
    std::string path;
    uint32_t codePage = kCodePageShiftJis;
};
// A header's size is a 16-bit field, and so is each extended header's.
constexpr size_t kMaxHeaderSize = 0xFFFF;
// The length BuildHeader gives the header; it depends on the path and
// method only. A header longer than kMaxHeaderSize cannot be written.
size_t HeaderSize(const MemberHeader& header);
// Raises std::length_error when the header would exceed kMaxHeaderSize.
std::vector<uint8_t> BuildHeader(const MemberHeader& header);

enum class AddResult {
    Added,
    Unreadable,   // cannot be opened or read, or not a file
    TooLarge,     // 4 GiB or more
    UnsafeName,   // nothing left to store as a name, or it climbs out with ".."
    NameTooLong,  // the path (a link's with its target) does not fit in a header
};

// Why a member with this result is left out.
tessarine::Message ReasonFor(AddResult result);

// One member worked out apart from the archive: safe to run on several
// threads at once for different files. Small files come back complete
// (header and stored bytes); a large one is only checked, and the writer
// reads and compresses it straight into the archive.
// Only regular files are read, and links stored as links (or left out when
// the header cannot hold them): a named pipe, a device or a socket is never
// opened for reading.
struct PreparedMember {
    AddResult result = AddResult::Unreadable;
    tessarine::Message reason;  // why it is left out, when it is
    MemberHeader header;
    std::vector<uint8_t> data;  // the stored bytes, when held
    bool held = false;
    bool streamed = false;
    tessarine::UniqueFd file;  // the open file, when streamed
};
// `fullPath` may be of any length.
PreparedMember PrepareMember(const std::string& fullPath, const std::string& storedPath);
// The same for `rel`, relative to the open folder `base` (when base >= 0):
// reached beneath it without following a link on the way.
PreparedMember PrepareMember(int base, const std::string& rel, const std::string& storedPath);

// One open archive. Members are appended in the order they are added; the
// archive is complete once Finish() has written the end mark. Write
// failures of the archive itself raise std::system_error.
class ArchiveWriter {
public:
    explicit ArchiveWriter(int fd);
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // Adds the file at `fullPath` under the name `storedPath` (relative,
    // "/" between folders). A symbolic link is stored as a link.
    AddResult AddFile(const std::string& fullPath, const std::string& storedPath);
    // Appends a prepared member (the same result as AddFile would give);
    // when it is left out after all, its reason says why.
    AddResult Add(PreparedMember& member);
    void Finish();

    // What the last successful AddFile stored: "-lh5-" or "-lh0-" and sizes.
    const MemberHeader& lastMember() const { return last_; }

private:
    class Output;
    AddResult AddContent(int fd, MemberHeader header);

    Output* out_;
    MemberHeader last_;
};

}  // namespace lha
