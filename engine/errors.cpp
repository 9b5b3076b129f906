#include "engine/errors.h"

namespace tessarine {

std::string FormatMessage(const std::string& pattern, const std::string& argument) {
    const auto at = pattern.find("%s");
    if (at == std::string::npos) return pattern;
    return pattern.substr(0, at) + argument + pattern.substr(at + 2);
}

TessarineError CannotOpenFile(const std::string& path) {
    return TessarineError(FormatMessage("ファイル %s は開けません", path));
}

TessarineError CannotCreateFile(const std::string& path) {
    return TessarineError(FormatMessage("ファイル %s を作成できません", path));
}

}  // namespace tessarine
