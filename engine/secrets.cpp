#include "engine/secrets.h"

#include <sys/prctl.h>

#include <cstring>

namespace tessarine {

bool KeepOutOfCoreDumps() { return ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0; }

void WipeSecret(std::string& text) {
    // Growing to the capacity never moves the buffer, so every byte it holds
    // is overwritten in place.
    text.resize(text.capacity());
    ::explicit_bzero(text.data(), text.size());
    text.clear();
}

}  // namespace tessarine
