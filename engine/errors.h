#pragma once
// The error type that carries the program's own message text to the user.
#include <stdexcept>
#include <string>

#include "engine/message.h"

namespace tessarine {

// Raised where an operation cannot go on. It carries its message; what() is
// the message in Japanese, as the window's error box shows it.
class TessarineError : public std::runtime_error {
public:
    explicit TessarineError(Message message)
        : std::runtime_error(RenderMessage(message)), message_(std::move(message)) {}
    // Text from outside the program, carried as it stands.
    explicit TessarineError(const std::string& text) : TessarineError(MakeMessage(MessageId::kText, {text})) {}
    const Message& message() const { return message_; }

private:
    Message message_;
};

// A data file that cannot be opened or created.
TessarineError CannotOpenFile(const std::string& path);
TessarineError CannotCreateFile(const std::string& path);

}  // namespace tessarine
