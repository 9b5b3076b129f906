// Program start: the application, every window once, then the event loop
// until the main window closes.
#include <QApplication>

#include "app/ProgramStart.h"
#include "app/SignalWatcher.h"
#include "app/Unit1.h"
#include "archive/Archive.h"
#include "engine/TessarineThread.h"
#include "launch/WorkingFolders.h"
#include "settings/Unit2.h"
#include "engine/errors.h"
#include "about/verform.h"
#include "filters/Unit4.h"
#include "filters/Unit7.h"
#include "dialogkit/DialogSupport.h"
#include "folders/FormPrompts.h"
#include "folders/Unit3.h"
#include "folders/Unit5.h"
#include "folders/Unit6.h"

namespace {

// The application's error handler: an error raised while an event is
// handled (a data file that cannot be opened or written) is shown with the
// program's own text, and the action that raised it is abandoned.
class TessarineApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const tessarine::TessarineError& error) {
            tessarine::ShowErrorBox(activeWindow(), QString::fromStdString(error.what()));
            return true;
        }
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    // --help and --version as the first argument are answered before any
    // window or display exists (file names are bytes: no conversion).
    const tessarine::StartRequest early = tessarine::ReadCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (early.What == tessarine::StartRequest::Action::Help || early.What == tessarine::StartRequest::Action::Version) {
        return tessarine::AnswerWithoutWindow(early);
    }

    // Qt takes its own options (-style, -platform, -reverse ...) out of the
    // arguments; the program reads only what is left, so they never name
    // the folder of a job.
    tessarine::QtArguments qtArguments(argc, argv);
    TessarineApplication app(qtArguments.Count(), qtArguments.Values());
    const tessarine::StartRequest start = tessarine::ReadCommandLine(qtArguments.Remaining());
    if (start.What != tessarine::StartRequest::Action::Run) return tessarine::AnswerWithoutWindow(start);
    const std::vector<std::string>& arguments = start.Arguments;
    // Caught from here on; handled once the main window exists.
    tessarine::SignalWatcher signalWatcher;
    tessarine::SetUpApplication(app);

    // The windows, each created once and reused: the main window first (its
    // start-up runs now), then the dialogs. The shared name entry and folder
    // selection dialogs come before the dialogs that use them, and the
    // filter selection before the registration dialog that opens it.
    tessarine::TForm1 form1(tessarine::ExecutableFolder(), arguments);
    if (form1.StartRefused) return 1;
    tessarine::TForm5 form5(&form1);
    tessarine::TForm6 form6(&form1);
    tessarine::TFormPrompts<tessarine::TForm5, tessarine::TForm6> prompts(form5, form6, tessarine::BrowseFolder);
    tessarine::TForm7 form7(&form1);
    form7.DataFolder = form1.DataFolder;
    tessarine::TForm2 form2(form1.Settings, prompts, &form1);
    form2.ProgramFolder = form1.ProgramFolder;
    form2.SevenZipAvailable = [&form1] { return form1.FileArchive->SevenZipAvailable(); };
    form2.LhaAvailable = [&form1] { return form1.FileArchive->LhaAvailable(); };
    tessarine::TForm3 form3(prompts, form7, &form1);
    form3.UserFolder = form1.UserFolder;
    form3.LoadRegisteredFolders = [&form1] { form1.LoadRegisteredFolders(); };
    tessarine::TForm4 form4(prompts, &form1);
    form4.DataFolder = form1.DataFolder;
    form4.LoadFilterNames = [&form1] { form1.LoadFilterNames(); };
    tessarine::TVerInfoForm verInfoForm(prompts, &form1);
    verInfoForm.ProgramFolder = form1.ProgramFolder;

    form1.Form2 = &form2;
    form1.Form3 = &form3;
    form1.Form4 = &form4;
    form1.Form5 = &form5;
    form1.Form6 = &form6;
    form1.VerInfoForm = &verInfoForm;
    form1.Prompts = &prompts;
    form1.FolderOpener = [&prompts](const std::string& folder) { prompts.OpenTarget(folder); };
    form1.SetJobRunner([](tessarine::DisplayJobHost& host) {
        tessarine::TTessarineThread worker(host);
        worker.Execute();
    });

    signalWatcher.SetHandler([&form1](int signal) { form1.EndBySignal(signal); });

    form1.show();
    return app.exec();
}
