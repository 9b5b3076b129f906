#pragma once
// The error type that carries the program's own message text to the user.
#include <stdexcept>
#include <string>

namespace tessarine {

// Raised where an operation cannot go on; what() is the text shown to the user.
class TessarineError : public std::runtime_error {
public:
    explicit TessarineError(const std::string& message) : std::runtime_error(message) {}
};

// Replaces the first "%s" of a message template by an argument.
std::string FormatMessage(const std::string& pattern, const std::string& argument);

// "ファイル %s は開けません" / "ファイル %s を作成できません" for a data file.
TessarineError CannotOpenFile(const std::string& path);
TessarineError CannotCreateFile(const std::string& path);

}  // namespace tessarine
