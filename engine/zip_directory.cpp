#include "engine/zip_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "engine/Common.h"
#include "engine/unique_fd.h"

namespace tessarine {

namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr size_t kEndSize = 22;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kCentralSize = 46;

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const unsigned char* p) { return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16; }
uint64_t Le64(const unsigned char* p) { return Le32(p) | static_cast<uint64_t>(Le32(p + 4)) << 32; }

bool ReadAt(int fd, std::string& into, size_t size, uint64_t at) {
    into.resize(size);
    const ssize_t got = ReadFullAt(fd, into.data(), size, static_cast<off_t>(at));
    return got == static_cast<ssize_t>(size);
}

// Where the central directory lies and how many headers it holds.
struct DirectoryPlace {
    uint64_t offset = 0;
    uint64_t size = 0;
    uint64_t count = 0;
};

// Finds the end record in the file's last 64 KiB (it may be followed by a
// comment of up to 65535 bytes) and, through the ZIP64 locator in front of
// it, the ZIP64 record. No `error` on success.
DirectoryPlace FindDirectory(int fd, uint64_t fileSize, Message& error) {
    DirectoryPlace place;
    if (fileSize < kEndSize) {
        error = MakeMessage(MessageId::kDefectZipTooShort);
        return place;
    }
    const uint64_t tail = std::min<uint64_t>(fileSize, kEndSize + 0xFFFF);
    std::string bytes;
    if (!ReadAt(fd, bytes, tail, fileSize - tail)) {
        error = MakeMessage(MessageId::kDefectUnreadable, {}, errno ? errno : EIO);
        return place;
    }
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t at = tail - kEndSize + 1;
    bool found = false;
    while (at-- > 0) {
        if (Le32(data + at) == kEndSignature && at + kEndSize + Le16(data + at + 20) == tail) {
            found = true;
            break;
        }
    }
    if (!found) {
        error = MakeMessage(MessageId::kDefectZipNoEnd);
        return place;
    }
    const unsigned char* end = data + at;
    place.count = Le16(end + 10);
    place.size = Le32(end + 12);
    place.offset = Le32(end + 16);
    const uint64_t endAt = fileSize - tail + at;
    if (endAt >= kZip64LocatorSize) {
        std::string locator;
        if (ReadAt(fd, locator, kZip64LocatorSize, endAt - kZip64LocatorSize) &&
            Le32(reinterpret_cast<const unsigned char*>(locator.data())) == kZip64LocatorSignature) {
            const uint64_t recordAt = Le64(reinterpret_cast<const unsigned char*>(locator.data()) + 8);
            std::string record;
            if (recordAt > endAt || !ReadAt(fd, record, kZip64EndSize, recordAt) ||
                Le32(reinterpret_cast<const unsigned char*>(record.data())) != kZip64EndSignature) {
                error = MakeMessage(MessageId::kDefectZip64EndDamaged);
                return place;
            }
            const auto* r = reinterpret_cast<const unsigned char*>(record.data());
            place.count = Le64(r + 32);
            place.size = Le64(r + 40);
            place.offset = Le64(r + 48);
        }
    }
    if (place.offset > fileSize || place.size > fileSize - place.offset) {
        error = MakeMessage(MessageId::kDefectZipDirectoryOutside);
    }
    return place;
}

}  // namespace

ZipDirectory ReadZipDirectory(const std::string& archive) {
    ZipDirectory result;
    const UniqueFd fd(OpenLongPath(AT_FDCWD, archive, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.Get(), &st) != 0) {
        result.error = MakeMessage(MessageId::kDefectUnreadable, {}, errno);
        return result;
    }
    const DirectoryPlace place = FindDirectory(fd.Get(), static_cast<uint64_t>(st.st_size), result.error);
    if (result.error) return result;

    // The directory is read a window at a time; a header never spans more
    // than 46 + 3 * 65535 bytes, so a window of 1 MiB always holds one.
    constexpr size_t kWindow = 1 << 20;
    std::string window;
    uint64_t windowAt = place.offset;
    size_t pos = 0;
    uint64_t at = place.offset;
    const uint64_t stop = place.offset + place.size;
    const auto need = [&](size_t bytes) {
        if (at + bytes > stop) return false;
        if (at >= windowAt && at + bytes <= windowAt + window.size()) {
            pos = static_cast<size_t>(at - windowAt);
            return true;
        }
        windowAt = at;
        pos = 0;
        return ReadAt(fd.Get(), window, static_cast<size_t>(std::min<uint64_t>(kWindow, stop - at)), at) &&
               window.size() >= bytes;
    };
    result.entries.reserve(static_cast<size_t>(std::min<uint64_t>(place.count, 1u << 20)));
    for (uint64_t k = 0; k < place.count; ++k) {
        if (!need(kCentralSize) ||
            Le32(reinterpret_cast<const unsigned char*>(window.data() + pos)) != kCentralSignature) {
            result.error = MakeMessage(MessageId::kDefectZipHeaderDamaged, {std::to_string(k + 1)});
            return result;
        }
        const auto* h = reinterpret_cast<const unsigned char*>(window.data() + pos);
        const size_t nameLength = Le16(h + 28);
        const size_t rest = nameLength + Le16(h + 30) + Le16(h + 32);
        const bool utf8 = (Le16(h + 8) & 0x0800) != 0;
        if (!need(kCentralSize + rest)) {
            result.error = MakeMessage(MessageId::kDefectZipHeaderCut, {std::to_string(k + 1)});
            return result;
        }
        result.entries.push_back(ZipEntryName{window.substr(pos + kCentralSize, nameLength), utf8});
        at += kCentralSize + rest;
    }
    if (at != stop) result.error = MakeMessage(MessageId::kDefectZipDirectoryTooLong);
    return result;
}

}  // namespace tessarine
