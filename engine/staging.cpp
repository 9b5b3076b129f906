#include "engine/staging.h"

namespace tessarine {

bool IsStagingName(std::string_view name) {
    if (name.size() != kStagingPrefix.size() + 6 || name.substr(0, kStagingPrefix.size()) != kStagingPrefix)
        return false;
    for (const char c : name.substr(kStagingPrefix.size())) {
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum) return false;
    }
    return true;
}

void AbandonRunningJob() {}

}  // namespace tessarine
