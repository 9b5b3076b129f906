#pragma once
// What the window program does before its windows exist: reading its
// command line, and setting up the application object.
#include <string>
#include <vector>

class QApplication;

namespace tessarine {

// The command line of the window program, after the program name and
// after the options Qt has taken (QtArguments).
struct StartRequest {
    enum class Action { Run, Help, Version, UsageError };
    Action What = Action::Run;
    // For Run: the arguments the main window gets (the first is the folder
    // or file a job runs on; empty for no job).
    std::vector<std::string> Arguments;
    // For UsageError: what was wrong.
    std::string Problem;
};

// "--help" or "-h" and "--version" as the first argument ask for a text;
// "--" as the first argument takes what follows as given, so any path can
// be named, also one that begins with "-". Any other first argument that
// begins with "-" (but "-" alone) is an unknown option. Anything else is a
// path; arguments after the first path are ignored.
StartRequest ReadCommandLine(const std::vector<std::string>& arguments);

// Answers a request that needs no window: the help or version text on
// standard output, or the problem and the help text on standard error.
// Returns the exit status (0, or 2 for a usage error; 1 when the text could
// not be written).
int AnswerWithoutWindow(const StartRequest& request);

// The arguments the application object gets: the program's own up to the
// first "--", so that a path after "--" is never taken for one of Qt's
// options ("-reverse", "-style"). Qt takes its options out of Count() and
// Values() when the application is made; Remaining() is then what is left
// after the program name, followed by "--" and everything after it. Lives
// as long as the application object.
class QtArguments {
public:
    QtArguments(int argc, char** argv);
    int& Count() { return count_; }
    char** Values() { return values_.data(); }
    std::vector<std::string> Remaining() const;

private:
    std::vector<char*> values_;  // ends with a null pointer, as argv does
    int count_ = 0;
    std::vector<std::string> fromDoubleDash_;
};

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
