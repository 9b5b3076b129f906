#pragma once
// The place where an archiver library keeps, per thread, the entries its
// last call left out, until its LeftOutEntries() hands them over.
//
// The text lives in plain memory behind a thread-local pointer rather than
// in a thread-local std::string: a thread-local object with a destructor
// would keep the C library from ever unloading the archiver library, and
// the program loads it for each run and releases it afterwards. The memory
// of the thread that unloads the library (the one that called it) is freed
// then; a thread that ends leaves its last text behind. Include this in the
// one source file that holds the library's entry points: each file that
// includes it has a store of its own.
#include <cstdlib>
#include <cstring>
#include <string>

namespace archivers {

struct LeftOutText {
    char* data = nullptr;
    unsigned long size = 0;
};

static thread_local LeftOutText tLeftOutText;

static inline void ClearLeftOut() {
    std::free(tLeftOutText.data);
    tLeftOutText = {};
}

// Keeps `records` (see archive/left_out.h) as this thread's text.
static inline void StoreLeftOut(const std::string& records) {
    ClearLeftOut();
    if (records.empty()) return;
    auto* copy = static_cast<char*>(std::malloc(records.size()));
    if (!copy) return;  // no memory left for the list: the report still counts the entries
    std::memcpy(copy, records.data(), records.size());
    tLeftOutText = {copy, static_cast<unsigned long>(records.size())};
}

static inline const char* LeftOutOfThisThread(unsigned long* length) {
    if (length) *length = tLeftOutText.size;
    return tLeftOutText.data ? tLeftOutText.data : "";
}

}  // namespace archivers
