#pragma once
// The list of entries an archiver library left out of the archive it made,
// handed from the library to the adapter beside the report text.
//
// The report buffer the adapter gives a library holds 1023 bytes: enough for
// a summary and the reason of a failure, not for thousands of names. So each
// library also exports
//
//   const char* LeftOutEntries(unsigned long* length)
//
// which returns the entries left out by the last call of its main entry
// point: `length` bytes of records, each made of fields that end in a NUL
// byte: the name as given on the command line, the reason's message id, its
// errno and the count of its arguments (decimal), then the arguments. The
// reason travels as an id so that the program renders it in the user's
// language; an id this side does not know is kept as it is. The text is the
// library's and stays valid until the next call into the library; the
// adapter copies it before unloading the library. (The library keeps it in
// a plain static, not a thread_local: a thread-local object with a
// destructor pins the library in memory so that it is never unloaded.) A library without this entry point left nothing
// out that it could tell apart from its report.
#include <string>
#include <string_view>
#include <vector>

#include "engine/message.h"

namespace tessarine {

inline constexpr const char* kLeftOutEntryName = "LeftOutEntries";
using LeftOutEntriesFn = const char* (*)(unsigned long* length);

struct LeftOutEntry {
    std::string name;  // relative to the base folder, as on the command line
    Message reason;    // why it is not in the archive (no cause)
};

// The records of a list; names and arguments hold no NUL byte.
std::string EncodeLeftOut(const std::vector<LeftOutEntry>& entries);
// The entries of a list; a record cut short at the end is dropped.
std::vector<LeftOutEntry> DecodeLeftOut(std::string_view records);

}  // namespace tessarine
