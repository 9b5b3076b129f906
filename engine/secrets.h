#pragma once
// Keeping a password where no one else sees it: out of core dumps and out
// of reach of a debugger of the same user, and zeroed once it is no longer
// needed.
#include <string>

namespace tessarine {

// Marks this process as not dumpable: no core file is written when it
// crashes and another process of the same user cannot attach to it or read
// its memory. It stays so for the rest of the process. Called before a
// password is read. False (errno kept) when the system refused.
bool KeepOutOfCoreDumps();

// Overwrites the text's whole buffer, also the bytes beyond its end that an
// earlier, longer content left there, with zeros the compiler keeps, and
// empties it.
void WipeSecret(std::string& text);

}  // namespace tessarine
