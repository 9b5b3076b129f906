#include "about/WebLinks.h"

#include <vector>

#include "engine/datafile.h"
#include "engine/errors.h"
#include "settings/ini_rw.h"

namespace tessarine {

namespace {

std::string Target(const std::string& programFolder, const std::vector<std::string>& lines, std::string_view key,
                   std::string_view fallback) {
    std::string value(fallback);
    if (const auto configured = ReadProfileValue(lines, "links", key); configured && !configured->empty()) {
        value = *configured;
    }
    return value.find("://") != std::string::npos ? value : programFolder + value;
}

}  // namespace

WebLinks LoadWebLinks(const std::string& programFolder) {
    std::vector<std::string> lines;
    try {
        lines = ReadDataLines(programFolder + std::string(kLinksFile));
    } catch (const TessarineError&) {
        // No file: every link opens a page shipped with the program.
    }
    WebLinks links;
    links.HomePage = Target(programFolder, lines, "HomePage", kHelpDocument);
    links.SevenZipDownload = Target(programFolder, lines, "SevenZipDownload", kDllInstallDocument);
    links.LhaDownload = Target(programFolder, lines, "LhaDownload", kDllInstallDocument);
    return links;
}

}  // namespace tessarine
