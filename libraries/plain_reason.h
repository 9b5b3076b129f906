#pragma once
// Reasons the archiver libraries give for an entry they left out or a call
// that failed.
#include <cstring>
#include <string>

#include "engine/text_process.h"

namespace archivers {

// The system's text for an error number, in words a report scan does not
// take for a failure ("Input/output error" reads "Input/output failure").
static inline std::string PlainReason(int error) {
    char buffer[256];
    std::string text = ::strerror_r(error, buffer, sizeof buffer);
    for (size_t i = tessarine::FindNoCase(text, "error"); i != std::string::npos;
         i = tessarine::FindNoCase(text, "error", i + 7))
        text.replace(i, 5, "failure");
    return text;
}

}  // namespace archivers
