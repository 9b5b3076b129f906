#pragma once
// What the window program does before its windows exist: reading its
// command line, and setting up the application object.
#include <string>
#include <vector>

class QApplication;

namespace tessarine {

// The command line of the window program, after the program name.
struct StartRequest {
    enum class Action { Run, Help, Version };
    Action What = Action::Run;
    // For Run: the arguments the main window gets (the first is the folder
    // or file a job runs on; empty for no job).
    std::vector<std::string> Arguments;
};

// "--help" or "-h" and "--version" as the first argument ask for a text;
// "--" as the first argument takes what follows as given, so any path can
// be named, also one that begins with "-". Anything else is a path.
StartRequest ReadCommandLine(const std::vector<std::string>& arguments);

// The texts printed for --help and --version.
std::string HelpText();
std::string VersionText();

// The application's name, and the translations of Qt's own dialogs and
// buttons into Japanese (Debian's qt6-translations-l10n), so that standard
// dialogs such as the folder chooser speak the program's language. Window
// captions are shown exactly as each window sets them: the application
// name is not added to them.
void SetUpApplication(QApplication& app);

}  // namespace tessarine
