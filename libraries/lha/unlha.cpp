// libunlha32.so: the LHA archiver library the program loads at run time.
#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "archive/archiver_status.h"
#include "archive/left_out.h"
#include "libraries/left_out_store.h"
#include "libraries/lha/lha_command.h"

namespace {

void PutReport(const std::string& text, char* output, unsigned long outputSize) {
    if (output == nullptr || outputSize == 0) return;
    const size_t n = std::min<size_t>(text.size(), outputSize - 1);
    std::memcpy(output, text.data(), n);
    output[n] = '\0';
}

}  // namespace

// Runs one command line. The report (at most outputSize bytes with its
// closing NUL) counts the files added and those left out; it says "Error"
// only when no archive was made. Returns kArchiverDone when all went well,
// kArchiverLeftOut when files were left out (LeftOutEntries() lists them),
// kArchiverFailed when nothing was done and kArchiverOutOfMemory when memory
// ran out (nothing done either).
extern "C" __attribute__((visibility("default"))) int Unlha(void* /*ownerWindow*/, const char* commandLine,
                                                            char* output, unsigned long outputSize) {
    archivers::ClearLeftOut();
    try {
        const lha::CommandResult result =
            lha::RunCommand(commandLine ? std::string_view(commandLine) : std::string_view());
        archivers::StoreLeftOut(tessarine::EncodeLeftOut(result.leftOut));
        PutReport(result.report, output, outputSize);
        return result.status;
    } catch (const std::bad_alloc&) {
        // The half-written archive went with the call's temporary file.
        PutReport("Error: out of memory\n", output, outputSize);
        return tessarine::kArchiverOutOfMemory;
    } catch (const std::exception& e) {
        PutReport(std::string("Error: ") + e.what() + "\n", output, outputSize);
    } catch (...) {
        PutReport("Error: unexpected failure\n", output, outputSize);
    }
    return tessarine::kArchiverFailed;
}

// The entries the last Unlha call on this thread left out, each as its name
// and reason (see archive/left_out.h).
extern "C" __attribute__((visibility("default"))) const char* LeftOutEntries(unsigned long* length) {
    return archivers::LeftOutOfThisThread(length);
}

// Unloading frees the list of the thread that unloads (the one that called).
__attribute__((destructor)) static void FreeLeftOutEntries() { archivers::ClearLeftOut(); }
