#pragma once
// Every web address and local document the program opens, in one place.
#include <string_view>

namespace tessarine {

// The program's home page: "最新版をチェックする(&N)" and the about box link.
inline constexpr std::string_view kHomePageUrl = "https://tessarine.example.org/";
// Where the archiver that lib7-zip32.so drives (7-Zip) is obtained.
inline constexpr std::string_view kSevenZipDownloadUrl = "https://www.7-zip.org/download.html";
// Where libunlha32.so is obtained (it ships with the program).
inline constexpr std::string_view kLhaDownloadUrl = "https://tessarine.example.org/download/";

// Local documents, relative to the program folder.
inline constexpr std::string_view kHelpDocument = "help.html";
inline constexpr std::string_view kDllInstallDocument = "help/dllinstall.html";

// The version line of the about box (two blanks before the parenthesis).
inline constexpr std::string_view kVersionText = "ver 1.01  (2007.10.14)";

}  // namespace tessarine
