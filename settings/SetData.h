#pragma once
// The user's settings record, persisted in set.ini, section "set".
#include <cstdint>
#include <string>

namespace tessarine {

struct TSetData {
    int32_t PosX = 0;
    int32_t PosY = 0;
    std::string SelectFileName;        // filter chosen in the main window; empty: none
    int32_t Mode = 0;                  // a JobMode value
    uint8_t AutoMode = 0;              // 1: a dropped registered folder gets its filter
    uint8_t HiddenFolder = 0;          // 1: descend into hidden folders
    uint8_t HiddenFile = 0;            // 1: take hidden files
    uint8_t OpenFolder = 1;            // 1: open the destination when a job ends
    std::string SelectSaveFolderName;  // fixed destination for SelectSaveMode 2
    uint8_t SelectSaveMode = 0;        // 0 ask, 1 the source folder, 2 SelectSaveFolderName
    uint8_t NoFileMsg = 0;             // 1: show "ファイルが見つかりませんでした" for 3 s
    uint8_t FNameSelect1 = 0;          // 0 "yyyymmddhhnnss", else "yymmdd_hhnn_ss"
    uint8_t FNameSelect2 = 0;          // non-zero: "_" before the date stamp
    uint8_t ActMode1 = 1;              // 1: confirm every job
    uint8_t VerifyAfterJob = 0;        // 1: read the product back after every job
};

}  // namespace tessarine
