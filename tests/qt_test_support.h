#pragma once
// Helpers for the widget tests: one QApplication for the whole test
// program, waiting with a running event loop, and a script that answers the
// modal dialogs and message boxes a test expects, one per showing.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace qttest {

inline QApplication& App() {
    static int argc = 1;
    static char name[] = "tessarine-widget-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        auto* a = new QApplication(argc, argv);
        a->setQuitOnLastWindowClosed(false);
        return a;
    }();
    return *app;
}

// Runs the event loop until the condition holds or the time is up.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// What a box looked like when it was shown.
struct SeenBox {
    std::string title;
    std::string text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    std::vector<std::string> buttons;
};

inline SeenBox Describe(QMessageBox* box) {
    SeenBox seen{box->windowTitle().toStdString(), box->text().toStdString(), box->icon(), {}};
    for (QAbstractButton* b : box->buttons()) seen.buttons.push_back(b->text().toStdString());
    return seen;
}

// Clicks the button of a message box whose caption is `caption`.
inline void Press(QMessageBox* box, const QString& caption) {
    for (QAbstractButton* b : box->buttons()) {
        if (b->text() == caption) {
            b->click();
            return;
        }
    }
    box->reject();
}

// Answers modal dialogs as they are shown, in order. A dialog that appears
// when no answer is left is counted as unexpected and closed, so a test
// never hangs on a box it did not expect.
class ModalScript : public QObject {
public:
    using Step = std::function<void(QDialog*)>;

    ModalScript() { App().installEventFilter(this); }
    ~ModalScript() override { App().removeEventFilter(this); }

    ModalScript& Then(Step step) {
        steps_.push_back(std::move(step));
        return *this;
    }
    // Records a message box and presses one of its buttons.
    ModalScript& AnswerBox(const QString& button, SeenBox* seen = nullptr) {
        return Then([button, seen](QDialog* d) {
            auto* box = qobject_cast<QMessageBox*>(d);
            if (!box) {
                d->reject();
                return;
            }
            if (seen) *seen = Describe(box);
            Press(box, button);
        });
    }

    int Unexpected() const { return unexpected_; }
    bool Done() const { return steps_.empty(); }
    std::vector<std::string> UnexpectedTitles() const { return unexpectedTitles_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            auto* dialog = qobject_cast<QDialog*>(watched);
            if (dialog && dialog->isWindow() && dialog->isModal()) {
                // Act once the dialog's own event loop runs.
                QTimer::singleShot(0, dialog, [this, dialog] { Act(dialog); });
            }
        }
        return false;
    }

private:
    void Act(QDialog* dialog) {
        if (!dialog->isVisible()) return;
        if (steps_.empty()) {
            ++unexpected_;
            unexpectedTitles_.push_back(dialog->windowTitle().toStdString());
            dialog->reject();
            return;
        }
        Step step = std::move(steps_.front());
        steps_.pop_front();
        step(dialog);
    }

    std::deque<Step> steps_;
    int unexpected_ = 0;
    std::vector<std::string> unexpectedTitles_;
};

}  // namespace qttest
