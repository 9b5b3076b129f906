#pragma once
// Reasons the archiver libraries give for an entry they left out or a call
// that failed.
#include <cstring>
#include <string>

namespace archivers {

// The system's text for an error number, in words a report scan does not
// take for a failure ("Input/output error" reads "Input/output failure").
static inline std::string PlainReason(int error) {
    char buffer[256];
    std::string text = ::strerror_r(error, buffer, sizeof buffer);
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (size_t i = 0; i + 5 <= text.size(); ++i) {
        if (lower(text[i]) == 'e' && lower(text[i + 1]) == 'r' && lower(text[i + 2]) == 'r' &&
            lower(text[i + 3]) == 'o' && lower(text[i + 4]) == 'r') {
            text.replace(i, 5, "failure");
            i += 6;
        }
    }
    return text;
}

}  // namespace archivers
