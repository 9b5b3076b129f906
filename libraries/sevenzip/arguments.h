#pragma once
// 7zz's command lines: its switches for the request, how many names fit in
// one call, and which names stand for the listed entries (a folder whose
// every entry is listed goes by its own name).
#include <time.h>

#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_request.h"

namespace sevenzip {

// "zip" or "7z", as 7zz's -t takes it.
const char* TypeName(tessarine::ArchiveType type);

// 7zz's arguments up to the names: the program's name, `command` ("a" or
// "rn"), the switches for the request's type and password, "--" and the
// archive at `partial`.
std::vector<std::string> SevenZipArguments(const char* command, const tessarine::ArchiveRequest& request,
                                           const std::string& partial);

// What 7zz reads on its standard input: the password, once for opening an
// archive with hidden names and once for the new data; empty without one.
std::string PasswordInput(const tessarine::ArchiveRequest& request);

// The bytes an argument costs in the kernel's argument area.
size_t ArgumentCost(std::string_view s);

// How many argument bytes the names of one call may take.
size_t NameBudget(const std::vector<std::string>& fixedArgs, const std::vector<std::string>& env);

// A folder named whole, as it was when looked at: adding, removing or
// renaming an entry in it changes its modification and change times.
struct FolderMark {
    std::string_view folder;  // "" for the base folder
    timespec modified;
    timespec changed;
};

// Whether every folder is as it was when it was looked at.
bool FoldersUnchanged(int baseFd, const std::vector<FolderMark>& marks);

// The names 7zz is given for the listed entries `given`; see arguments.cpp.
std::vector<std::string_view> NamesToHandOver(int baseFd, const std::vector<std::string_view>& given,
                                              size_t& namedFolders, std::vector<std::string>& excluded,
                                              std::vector<FolderMark>& marks);

}  // namespace sevenzip
