#include "engine/own_products.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <memory>

#include "engine/Common.h"
#include "engine/staging.h"

namespace tessarine {

namespace {

bool Digits(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// The length of the date stamp that ends `text`, 0 when there is none.
size_t StampAtEnd(std::string_view text) {
    if (text.size() >= 14 && Digits(text.substr(text.size() - 14))) {
        // 14 digits, but not a longer run of digits (another name).
        if (text.size() == 14 || text[text.size() - 15] < '0' || text[text.size() - 15] > '9') return 14;
        return 0;
    }
    if (text.size() >= 14) {
        const std::string_view s = text.substr(text.size() - 14);  // yymmdd_hhnn_ss
        if (Digits(s.substr(0, 6)) && s[6] == '_' && Digits(s.substr(7, 4)) && s[11] == '_' && Digits(s.substr(12, 2)))
            return 14;
    }
    return 0;
}

std::string RealFolder(const std::string& path) {
    std::unique_ptr<char, decltype(&::free)> real(::realpath(path.c_str(), nullptr), &::free);
    return real ? WithTrailingSeparator(real.get()) : std::string();
}

bool SameFolder(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace

std::string BaseNameOfStem(std::string_view stem) {
    const size_t stamp = StampAtEnd(stem);
    if (stamp == 0) return std::string(stem);
    std::string_view base = stem.substr(0, stem.size() - stamp);
    if (!base.empty() && base.back() == '_') base.remove_suffix(1);
    return std::string(base);
}

bool IsProductName(std::string_view name, std::string_view base, std::string_view extension) {
    if (name.size() < base.size() + 14 + extension.size() || name.substr(0, base.size()) != base ||
        name.substr(name.size() - extension.size()) != extension)
        return false;
    std::string_view rest = name.substr(base.size(), name.size() - base.size() - extension.size());
    if (!rest.empty() && rest.front() == '_') rest.remove_prefix(1);
    // An optional "_N" after the stamp; N from 2 on, without leading zeros.
    const size_t cut = rest.size() > 14 ? rest.rfind('_') : std::string_view::npos;
    if (cut != std::string_view::npos && cut >= 14) {
        const std::string_view n = rest.substr(cut + 1);
        if (!Digits(n) || n.front() == '0' || n == "1") return false;
        rest = rest.substr(0, cut);
    }
    return rest.size() == 14 && StampAtEnd(rest) == 14;
}

OwnProductFilter::OwnProductFilter(const std::string& source, const std::string& destination, std::string_view stem,
                                   std::string extension, bool folderProduct)
    : base_(BaseNameOfStem(stem)), extension_(std::move(extension)), folderProduct_(folderProduct) {
    const std::string realSource = RealFolder(source);
    const std::string realDestination = RealFolder(destination);
    if (realSource.empty() || realDestination.compare(0, realSource.size(), realSource) != 0) return;
    // The collected paths are the source path as given plus the names
    // beneath it.
    const std::string spelled = WithTrailingSeparator(source) + realDestination.substr(realSource.size());
    if (SameFolder(spelled, destination)) inSource_ = spelled;
}

std::string_view OwnProductFilter::NameInDestination(std::string_view path, bool folder) const {
    if (path.size() <= inSource_.size() || path.substr(0, inSource_.size()) != inSource_) return {};
    std::string_view name = path.substr(inSource_.size());
    if (folder) {
        if (name.back() != '/') return {};
        name.remove_suffix(1);
    }
    return name.find('/') == std::string_view::npos ? name : std::string_view();
}

size_t OwnProductFilter::LeaveOutFolders(std::vector<std::string>& folders) const {
    if (inSource_.empty()) return 0;
    size_t count = 0;
    std::string leftOut;  // the folder being left out with everything beneath it
    std::erase_if(folders, [&](const std::string& f) {
        if (!leftOut.empty() && f.compare(0, leftOut.size(), leftOut) == 0) return true;
        const std::string_view name = NameInDestination(f, true);
        if (name.empty() || !(IsStagingName(name) || (folderProduct_ && IsProductName(name, base_, "")))) return false;
        leftOut = f;
        ++count;
        return true;
    });
    return count;
}

size_t OwnProductFilter::LeaveOutFiles(PathList& files) const {
    if (inSource_.empty() || folderProduct_) return 0;
    PathList kept;
    size_t count = 0;
    for (const std::string_view f : files) {
        const std::string_view name = NameInDestination(f, false);
        if (!name.empty() && IsProductName(name, base_, extension_))
            ++count;
        else
            kept.push_back(f);
    }
    if (count > 0) files = std::move(kept);
    return count;
}

}  // namespace tessarine
