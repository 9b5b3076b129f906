#include "app/ProgramStart.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "engine/DesktopEntry.h"

#ifndef TESSARINE_VERSION
#error "TESSARINE_VERSION comes from the project version in CMake"
#endif

namespace tessarine {

StartRequest ReadCommandLine(const std::vector<std::string>& arguments) {
    StartRequest request;
    if (arguments.empty()) return request;
    const std::string& first = arguments.front();
    if (first == "--help" || first == "-h") {
        request.What = StartRequest::Action::Help;
    } else if (first == "--version") {
        request.What = StartRequest::Action::Version;
    } else if (first == "--") {
        request.Arguments.assign(arguments.begin() + 1, arguments.end());
    } else {
        request.Arguments = arguments;
    }
    return request;
}

std::string HelpText() {
    return "使い方 / usage: tessarine [[--] PATH]\n"
           "\n"
           "ファイルやフォルダを集めて、コピー、圧縮、一覧の作成を行います。\n"
           "Collects the files beneath a folder and copies, archives or lists them.\n"
           "\n"
           "  PATH           起動の 0.5 秒後にこのフォルダ (ファイルならそのフォルダ) で処理を始め、\n"
           "                 終わると閉じます / runs one job on this folder (a file: its folder)\n"
           "                 half a second after start, then closes\n"
           "  --             これ以降は PATH として扱う (\"-\" で始まるパスにも)\n"
           "                 / what follows is the PATH, also when it begins with \"-\"\n"
           "  -h, --help     この説明 / this text\n"
           "      --version  バージョン / the version\n"
           "\n"
           "ウィンドウなしで処理するには tessarine-cli を使います / for jobs without a window: tessarine-cli\n";
}

std::string VersionText() { return std::string("tessarine ") + TESSARINE_VERSION + "\n"; }

void SetUpApplication(QApplication& app) {
    QApplication::setApplicationName(QStringLiteral("Tessarine"));
    // The desktop finds the window's icon and entry by this name (on
    // Wayland the only way).
    QGuiApplication::setDesktopFileName(QString::fromUtf8(kDesktopFileId));
    // Qt's own texts (standard buttons, the folder chooser) in Japanese.
    auto* qtTranslations = new QTranslator(&app);
    if (qtTranslations->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"), QStringLiteral("_"),
                             QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qtTranslations);
    }
}

}  // namespace tessarine
