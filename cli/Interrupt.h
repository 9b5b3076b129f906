#pragma once
// SIGINT, SIGTERM and SIGHUP end a command-line job at once: the job stops,
// the archiver it runs is ended, its staging folder (and with it every
// unfinished product) is removed, the terminal is put back if a password
// was being read, and the program exits with 128 + the signal's number
// (130, 143, 129).
#include <termios.h>

namespace tessarine::cli {

// Starts watching for the signals; called once, before the job.
void WatchInterrupts();

// A job that stopped because a signal asked it to must not end the program
// before the watcher has cleaned up: the watcher exits with the signal's
// status. Called before the program exits on its own.
void HoldIfInterrupted();

// Terminal settings to put back when interrupted; nullptr for none.
void SetTerminalToRestore(const termios* saved);

}  // namespace tessarine::cli
