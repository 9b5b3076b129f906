// Program start: the application, every window once, then the event loop
// until the main window closes.
#include <QApplication>
#include <QFile>
#include <QMessageBox>

#include "app/Unit1.h"
#include "engine/TessarineThread.h"
#include "engine/errors.h"
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
            QMessageBox box(QMessageBox::Critical, QStringLiteral("Tessarine"), QString::fromStdString(error.what()),
                            QMessageBox::NoButton, activeWindow());
            box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
            box.exec();
            return true;
        }
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    TessarineApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tessarine"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tessarine"));

    // The arguments exactly as the system handed them (file names are bytes).
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    const QByteArray programFolder = QFile::encodeName(QCoreApplication::applicationDirPath());

    // The windows, in their fixed order; each is created once and reused.
    tessarine::TForm1 form1(programFolder.toStdString(), arguments);
    tessarine::TForm5 form5(&form1);
    tessarine::TForm6 form6(&form1);
    form1.Form5 = &form5;
    form1.Form6 = &form6;
    form1.SetJobRunner([](tessarine::JobHost& host) {
        tessarine::TTessarineThread worker(host);
        worker.Execute();
    });

    form1.show();
    return app.exec();
}
