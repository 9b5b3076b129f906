// The one table of the program's messages below the windows, in Japanese
// (the window's language) and English, and how a message becomes a
// sentence.
#include <array>
#include <cstring>

#include "engine/message.h"

namespace tessarine {

namespace {

struct Text {
    MessageId id;
    const char* ja;
    const char* en;
};

// "%s": the next argument; "%e": the system's words for the error;
// "%c": the cause, rendered.
constexpr Text kTexts[] = {
    {MessageId::kText, "%s", "%s"},
    {MessageId::kSystemError, "%e", "%e"},
};

const Text* Find(MessageId id) {
    for (const Text& text : kTexts)
        if (text.id == id) return &text;
    return nullptr;
}

}  // namespace

bool Message::operator==(const Message& other) const {
    if (id != other.id || args != other.args || error != other.error) return false;
    if (!cause || !other.cause) return !cause && !other.cause;
    return *cause == *other.cause;
}

Message MakeMessage(MessageId id, std::vector<std::string> args, int error) {
    Message message;
    message.id = id;
    message.args = std::move(args);
    message.error = error;
    return message;
}

Message Because(MessageId id, Message cause, std::vector<std::string> args) {
    Message message = MakeMessage(id, std::move(args));
    message.cause = std::make_shared<const Message>(std::move(cause));
    return message;
}

std::string RenderMessage(const Message& message, Language language) {
    const Text* text = Find(message.id);
    if (!text) return "#" + std::to_string(static_cast<unsigned>(message.id));
    const std::string_view pattern = language == Language::kJapanese ? text->ja : text->en;
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%' || i + 1 == pattern.size()) {
            out += pattern[i];
            continue;
        }
        switch (pattern[++i]) {
            case 's':
                if (next < message.args.size()) out += message.args[next++];
                break;
            case 'e': out += std::strerror(message.error); break;
            case 'c':
                if (message.cause) out += RenderMessage(*message.cause, language);
                break;
            default: out += '%', out += pattern[i];
        }
    }
    return out;
}

}  // namespace tessarine
