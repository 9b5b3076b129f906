#pragma once
// SIGINT and SIGTERM end a command-line job at once: the job's temporaries
// (and an archive or list that was not finished) are removed, the terminal
// is put back if a password was being read, and the program exits with
// 128 + the signal's number (130, 143).
#include <termios.h>

#include <string>

namespace tessarine::cli {

// Starts watching for the two signals; called once, before the job.
void WatchInterrupts();

// The running job's product (JobProductPath) and mode; `existedBefore`
// tells whether something had that name before the job began, in which
// case it is not removed.
void SetInterruptedJob(const std::string& product, int jobMode, bool existedBefore);

// Terminal settings to put back when interrupted; nullptr for none.
void SetTerminalToRestore(const termios* saved);

// Removes the files "<product>.tmp-XXXXXX" beside the product, which an
// archive or list file made under a temporary name leaves behind while it
// is written. Returns how many were removed.
int RemoveTemporariesOf(const std::string& product);

}  // namespace tessarine::cli
