#include "engine/temp_file.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

namespace tessarine {

mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    return 022;
}

TempFileBeside::TempFileBeside(const std::string& target)
    : target_(target), path_(target + std::string(kTempSuffix) + "XXXXXX") {
    fd_.Reset(::mkstemp(path_.data()));
    made_ = fd_.Valid();
}

TempFileBeside::~TempFileBeside() {
    fd_.Reset();
    if (made_ && !renamed_) ::unlink(path_.c_str());
}

bool TempFileBeside::RenameIntoPlace() {
    renamed_ = ::rename(path_.c_str(), target_.c_str()) == 0;
    return renamed_;
}

}  // namespace tessarine
