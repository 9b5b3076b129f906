#include "dialogkit/DialogSupport.h"

#include <QDesktopServices>
#include <QAbstractItemView>
#include <QComboBox>
#include <QKeyEvent>
#include <QMenu>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>
#include <QUrl>

namespace tessarine {

QString PathText(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

std::string LocalPath(const QString& path) {
    const QByteArray bytes = QFile::encodeName(path);
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

YesNoAnswer AskYesNo(QWidget* owner, const QString& question, bool yesIsDefault) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("確認"), question, QMessageBox::NoButton, owner);
    QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    if (yesIsDefault) box.setDefaultButton(yes);
    box.exec();
    if (box.clickedButton() == yes) return YesNoAnswer::Yes;
    return box.clickedButton() == no ? YesNoAnswer::No : YesNoAnswer::Neither;
}

void ShowOkBox(QWidget* owner, QMessageBox::Icon icon, const QString& caption, const QString& text) {
    QMessageBox box(icon, caption, text, QMessageBox::NoButton, owner);
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
}

bool TStandardPrompts::Confirm(QWidget* owner, const std::string& question) {
    return AskYesNo(owner, ToQString(question)) == YesNoAnswer::Yes;
}

void TStandardPrompts::ShowError(QWidget* owner, const std::string& message) {
    ShowErrorBox(owner, ToQString(message));
}

void TStandardPrompts::OpenTarget(const std::string& target) {
    const QString text = ToQString(target);
    // Web addresses go to the browser, anything else is a local file. The
    // result is not examined: a missing document or browser is what the
    // desktop shows.
    const QUrl url = text.contains("://") ? QUrl(text) : QUrl::fromLocalFile(QFileInfo(text).absoluteFilePath());
    QDesktopServices::openUrl(url);
}

TLinkLabel::TLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::SetUnderlined(bool underlined) {
    QFont f = font();
    f.setUnderline(underlined);
    setFont(f);
}

void TLinkLabel::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    emit mouseEntered();
}

void TLinkLabel::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    emit mouseLeft();
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
}

namespace {

// Clicks a push button on Enter; keys reach a button only while it has the
// focus.
class EnterOnFocusedButton : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
            return false;
        }
        auto* button = qobject_cast<QPushButton*>(watched);
        if (!button || !button->isEnabled()) return false;
        button->click();
        return true;
    }
};

// Shift+F10 on a list: the context menu, as for the Menu key.
class ListKeys : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_F10 || key->modifiers() != Qt::ShiftModifier) return false;
        auto* list = qobject_cast<QAbstractItemView*>(watched);
        if (!list || list->contextMenuPolicy() != Qt::CustomContextMenu) return false;
        const QModelIndex current = list->currentIndex();
        const QPoint at = current.isValid() ? list->visualRect(current).center() : QPoint(0, 0);
        emit list->customContextMenuRequested(at);
        return true;
    }
};

}  // namespace

void LetFocusedButtonsTakeEnter(QWidget* window) {
    auto* filter = new EnterOnFocusedButton(window);
    for (QPushButton* button : window->findChildren<QPushButton*>()) button->installEventFilter(filter);
}

void UseListKeys(QAbstractItemView* list) {
    list->setTabKeyNavigation(false);
    list->installEventFilter(new ListKeys(list));
}

bool TakeUnboundKey(QKeyEvent* event, bool enterReachesDialog) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (event->key() != Qt::Key_Escape && (enterReachesDialog || !enter)) return false;
    event->accept();
    return true;
}

void PopUpOnRequest(QAbstractItemView* list, QMenu* menu) {
    QObject::connect(list, &QWidget::customContextMenuRequested, menu,
                     [list, menu](const QPoint& at) { menu->popup(list->viewport()->mapToGlobal(at)); });
}

int FindNameEntry(const QComboBox* box, const QString& name) {
    const int exact = box->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    return exact >= 0 ? exact : box->findText(name, Qt::MatchFixedString);
}

QLabel* MakeHeaderBand(const QString& text, QWidget* parent) {
    auto* band = new QLabel(text, parent);
    band->setObjectName("HeaderBand");
    band->setAutoFillBackground(true);
    band->setStyleSheet(
        "QLabel#HeaderBand { background: rgb(60, 60, 60); color: white; font-weight: bold;"
        " padding: 8px 12px; }");
    return band;
}

QVBoxLayout* PlaceUnderHeaderBand(QWidget* dialog, QLabel* band, QLayout* body) {
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(band);
    layout->addLayout(body, 1);
    return layout;
}

void ApplyGreyDialogLook(QDialog* dialog) {
    // White captions on grey; entry fields, buttons and the check marks
    // keep their usual dark-on-light colours so that they stay readable.
    QPalette palette = dialog->palette();
    palette.setColor(QPalette::Window, QColor(128, 128, 128));
    palette.setColor(QPalette::WindowText, Qt::white);
    dialog->setPalette(palette);
    dialog->setAutoFillBackground(true);
}

}  // namespace tessarine
