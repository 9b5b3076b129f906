#pragma once
// Helpers for the dialog tests: one application object for the process and
// scripted answers for every question a dialog asks.
#include <QApplication>
#include <QTimer>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "dialogkit/DialogSupport.h"

namespace testsupport {

inline void EnsureApplication() {
    static int argc = 1;
    static char name[] = "tessarine-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = QApplication::instance() ? nullptr : new QApplication(argc, argv);
    (void)app;
}

// Answers from queues; an empty queue answers "cancel" / "no". Records what
// was asked, in order.
class ScriptedPrompts : public tessarine::TDialogPrompts {
public:
    std::deque<std::optional<std::string>> names;
    std::deque<std::optional<std::string>> folders;
    std::deque<bool> confirms;
    std::string browseResult;
    std::vector<std::string> log;
    std::vector<std::string> errors;
    std::vector<std::string> opened;

    std::optional<std::string> EnterName(const tessarine::NameEntryUse& use, const std::string& initial) override {
        log.push_back(std::string("name:") + use.Caption + ":" + initial);
        return Take(names);
    }
    std::optional<std::string> SelectFolder() override {
        log.push_back("folder");
        return Take(folders);
    }
    std::string BrowseFolder(QWidget*) override {
        log.push_back("browse");
        return browseResult;
    }
    bool Confirm(QWidget*, const std::string& question) override {
        log.push_back("confirm:" + question);
        if (confirms.empty()) return false;
        const bool answer = confirms.front();
        confirms.pop_front();
        return answer;
    }
    void ShowError(QWidget*, const std::string& message) override {
        log.push_back("error:" + message);
        errors.push_back(message);
    }
    void OpenTarget(const std::string& target) override { opened.push_back(target); }

private:
    static std::optional<std::string> Take(std::deque<std::optional<std::string>>& queue) {
        if (queue.empty()) return std::nullopt;
        auto value = queue.front();
        queue.pop_front();
        return value;
    }
};

// Runs `action` once the next modal dialog's event loop is running.
template <typename F>
void WhenModal(F action) {
    QTimer::singleShot(0, action);
}

}  // namespace testsupport
