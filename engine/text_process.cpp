#include "engine/text_process.h"

#include <array>
#include <vector>

namespace tessarine {

namespace {
constexpr int kMaxFields = 25;

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }
}  // namespace

namespace {
// Offset of the last character of a non-empty text.
size_t LastCharStart(std::string_view text) {
    size_t lead = text.size() - 1;
    while (lead > 0 && lead + 4 > text.size() && IsContinuation(static_cast<unsigned char>(text[lead]))) --lead;
    if (CharLength(text, lead) == static_cast<int>(text.size() - lead)) return lead;
    return text.size() - 1;
}
}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

size_t FindNoCase(std::string_view text, std::string_view word, size_t from) {
    for (size_t i = from; i + word.size() <= text.size(); ++i)
        if (EqualsNoCase(text.substr(i, word.size()), word)) return i;
    return std::string_view::npos;
}

int CharLength(std::string_view text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    int want = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        want = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        want = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        want = 4;
    // A sequence cut short or broken counts byte by byte, so that every byte
    // of a text that is not valid UTF-8 is still walked exactly once.
    for (int i = 1; i < want; ++i) {
        if (at + i >= text.size() || !IsContinuation(static_cast<unsigned char>(text[at + i]))) return 1;
    }
    return want;
}

std::string_view TrimBlanks(std::string_view text) {
    size_t begin = 0, end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
    return text.substr(begin, end - begin);
}

std::string GetField(int n, std::string_view line, std::string_view separator) {
    if (n < 1 || separator.empty()) return {};
    const std::string_view t = TrimBlanks(line);

    // The separator as a sequence of characters.
    std::vector<std::string_view> sepChars;
    for (size_t i = 0; i < separator.size();) {
        const int len = CharLength(separator, i);
        sepChars.push_back(separator.substr(i, len));
        i += len;
    }
    const size_t S = sepChars.size();

    std::array<std::string, kMaxFields> slots;
    int k = 1;
    // Start offsets of the last S characters read, oldest first.
    std::vector<size_t> recent;
    recent.reserve(S + 1);
    for (size_t i = 0; i < t.size();) {
        const int len = CharLength(t, i);
        recent.push_back(i);
        if (recent.size() > S) recent.erase(recent.begin());
        bool isSeparator = recent.size() == S;
        if (isSeparator) {
            for (size_t c = 0; c < S; ++c) {
                const size_t from = recent[c];
                const size_t to = (c + 1 < S) ? recent[c + 1] : i + len;
                if (t.substr(from, to - from) != sepChars[c]) {
                    isSeparator = false;
                    break;
                }
            }
        }
        if (isSeparator) {
            ++k;
        } else if (k <= kMaxFields) {
            slots[k - 1].append(t.substr(i, len));
        }
        i += len;
    }
    if (k < n || n > kMaxFields) return {};

    // Drop the last S-1 characters: the separator's leading part that went
    // into the field before the separator was recognised.
    std::string field = std::move(slots[n - 1]);
    for (size_t dropped = 0; dropped + 1 < S && !field.empty(); ++dropped) {
        field.resize(LastCharStart(field));
    }
    return field;
}

std::string ReplaceAll(std::string_view source, std::string_view find, std::string_view replacement) {
    if (find.empty() || source.empty()) return std::string(source);
    std::string result;
    result.reserve(source.size());
    size_t pos = 0;
    while (true) {
        const size_t at = source.find(find, pos);
        if (at == std::string_view::npos) break;
        result.append(source.substr(pos, at - pos));
        result.append(replacement);
        pos = at + find.size();
    }
    result.append(source.substr(pos));
    return result;
}

std::string ReadField(int n, std::string_view line) { return ReplaceAll(GetField(n, line, kFieldSeparator), "\"", ""); }

}  // namespace tessarine
