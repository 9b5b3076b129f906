// libunlha32.so: the LHA archiver library the program loads at run time.
#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

#include "archivers/lha/lha_command.h"

namespace {

void PutReport(const std::string& text, char* output, unsigned long outputSize) {
    if (output == nullptr || outputSize == 0) return;
    const size_t n = std::min<size_t>(text.size(), outputSize - 1);
    std::memcpy(output, text.data(), n);
    output[n] = '\0';
}

}  // namespace

// Runs one command line. The report (at most outputSize bytes with its
// closing NUL) lists the files added; every failure in it says "Error".
// Returns 0 when all went well, 1 when files were left out, 2 when nothing
// was done.
extern "C" __attribute__((visibility("default"))) int Unlha(void* /*ownerWindow*/, const char* commandLine,
                                                           char* output, unsigned long outputSize) {
    try {
        const lha::CommandResult result = lha::RunCommand(commandLine ? commandLine : "");
        PutReport(result.report, output, outputSize);
        return result.status;
    } catch (const std::exception& e) {
        PutReport(std::string("Error: ") + e.what() + "\n", output, outputSize);
    } catch (...) {
        PutReport("Error: unexpected failure\n", output, outputSize);
    }
    return 2;
}
