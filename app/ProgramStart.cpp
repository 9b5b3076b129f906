#include "app/ProgramStart.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>
#include <string_view>

#include "launch/DesktopEntry.h"

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
    } else if (first.size() > 1 && first.front() == '-') {
        request.What = StartRequest::Action::UsageError;
        request.Problem = "不明なオプション " + first + " です / unknown option " + first;
    } else {
        request.Arguments = arguments;
    }
    return request;
}

int AnswerWithoutWindow(const StartRequest& request) {
    using Action = StartRequest::Action;
    if (request.What == Action::UsageError) {
        const std::string text = "tessarine: " + request.Problem + "\n\n" + HelpText();
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
        return 2;
    }
    const std::string text = request.What == Action::Help ? HelpText() : VersionText();
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

QtArguments::QtArguments(int argc, char** argv) {
    int i = 0;
    for (; i < argc && (i == 0 || std::string_view(argv[i]) != "--"); ++i) values_.push_back(argv[i]);
    for (; i < argc; ++i) fromDoubleDash_.emplace_back(argv[i]);
    count_ = static_cast<int>(values_.size());
    values_.push_back(nullptr);
}

std::vector<std::string> QtArguments::Remaining() const {
    std::vector<std::string> remaining;
    for (int i = 1; i < count_; ++i) remaining.emplace_back(values_[static_cast<size_t>(i)]);
    remaining.insert(remaining.end(), fromDoubleDash_.begin(), fromDoubleDash_.end());
    return remaining;
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
           "Qt の標準オプション (-style Fusion など) は Qt が受け取ります\n"
           "/ Qt's standard options (such as -style Fusion) are taken by Qt\n"
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
