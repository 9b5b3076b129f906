#include "archive/command_line.h"

#include <algorithm>

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

std::vector<std::string_view> SplitCommandLineViews(std::string_view line, std::deque<std::string>& rewritten) {
    // Room for as many tokens as there are blanks and tabs, and one more: a
    // list of a million names is not copied over and over as it grows.
    std::vector<std::string_view> tokens;
    tokens.reserve(
        1 + static_cast<size_t>(std::count_if(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; })));
    // The token being read: while its text is a part of the line as it is,
    // `length` bytes of the line from `start`; once a byte does not follow
    // on in the line (a quote or an escape in between), a copy in `current`.
    size_t start = 0;
    size_t length = 0;
    bool copied = false;
    std::string current;
    bool inToken = false;
    bool quoted = false;
    auto take = [&](size_t at, char c) {
        if (!copied && (length == 0 || start + length == at)) {
            if (length == 0) start = at;
            ++length;
            return;
        }
        if (!copied) {
            current.assign(line.substr(start, length));
            copied = true;
        }
        current.push_back(c);
    };
    auto end = [&] {
        if (copied) {
            tokens.push_back(rewritten.emplace_back(std::move(current)));
        } else {
            tokens.push_back(line.substr(start, length));
        }
        current.clear();
        length = 0;
        copied = false;
        inToken = false;
    };
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
                ++i;
                take(i, line[i]);
            } else if (c == '"') {
                quoted = false;
            } else {
                take(i, c);
            }
        } else if (c == '"') {
            quoted = true;
            inToken = true;
        } else if (std::string_view(kUnquotedSpecial).find(c) != std::string_view::npos) {
            if (inToken) end();
        } else {
            take(i, c);
            inToken = true;
        }
    }
    if (inToken) end();
    return tokens;
}

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::deque<std::string> rewritten;
    const std::vector<std::string_view> views = SplitCommandLineViews(line, rewritten);
    return std::vector<std::string>(views.begin(), views.end());
}

}  // namespace tessarine
