#pragma once
// Every web address and local document the program opens. The addresses
// are configuration: they live in one file of the program folder's data
// ("data/links.ini"), so they change without rebuilding the program.
#include <string>
#include <string_view>

namespace tessarine {

// Local documents, relative to the program folder.
inline constexpr std::string_view kHelpDocument = "help.html";
inline constexpr std::string_view kDllInstallDocument = "help/dllinstall.html";
// The file of the addresses, relative to the program folder.
inline constexpr std::string_view kLinksFile = "data/links.ini";

// The version line of the about box (two blanks before the parenthesis).
inline constexpr std::string_view kVersionText = "ver 1.01  (2007.10.14)";

// What each link opens: a web address, or the full path of a document in
// the program folder.
struct WebLinks {
    std::string HomePage;          // "最新版をチェックする(&N)" and the about box
    std::string SevenZipDownload;  // where lib7-zip32.so's archiver is obtained
    std::string LhaDownload;       // where libunlha32.so is obtained
};

// Reads the section [links] of data/links.ini in the program folder (which
// ends with its separator): keys HomePage, SevenZipDownload, LhaDownload. A
// value without "://" is a document in the program folder. A missing file
// or key gives the local pages: the help page for the home page, the page
// on installing the libraries for both downloads.
WebLinks LoadWebLinks(const std::string& programFolder);

}  // namespace tessarine
