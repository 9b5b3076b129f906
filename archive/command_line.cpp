#include "archive/command_line.h"

namespace tessarine {

namespace {
// Outside quotes: a blank or a tab ends a token, a double quote opens a
// quoted part. The composer and the splitter share this one rule.
constexpr char kUnquotedSpecial[] = " \t\"";
}  // namespace

std::string EscapeQuoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (const char c : text) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

std::string PasswordToken(std::string_view password) {
    // Quoted exactly when one of its bytes would end or open a token outside
    // quotes, which are the bytes SplitCommandLine treats specially there.
    if (password.find_first_of(kUnquotedSpecial) == std::string_view::npos) return std::string(password);
    return "\"" + EscapeQuoted(password) + "\"";
}

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> tokens;
    std::string current;
    bool inToken = false;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
                current.push_back(line[++i]);
            } else if (c == '"') {
                quoted = false;
            } else {
                current.push_back(c);
            }
        } else if (c == '"') {
            quoted = true;
            inToken = true;
        } else if (std::string_view(kUnquotedSpecial).find(c) != std::string_view::npos) {
            if (inToken) tokens.push_back(std::move(current));
            current.clear();
            inToken = false;
        } else {
            current.push_back(c);
            inToken = true;
        }
    }
    if (inToken) tokens.push_back(std::move(current));
    return tokens;
}

}  // namespace tessarine
