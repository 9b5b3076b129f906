#include "folders/Unit6.h"

#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogkit/DialogSupport.h"
#include "engine/Common.h"
#include "engine/text_process.h"

namespace tessarine {

std::string BrowsePath;

namespace {

// The browser starts here and falls back to it for a selection without a
// file-system path.
constexpr const char* kBrowseRoot = "/";

}  // namespace

namespace {

// The Qt folder chooser, where "Choose" also works on the "Computer" entry
// at the top of the tree (which has no file-system path): the result is
// then the root, as for a cancel there.
class FolderBrowser : public QFileDialog {
public:
    FolderBrowser(QWidget* owner, const QString& title, const QString& start) : QFileDialog(owner, title, start) {
        connect(this, &QFileDialog::directoryEntered, this,
                [this](const QString& path) { atComputer_ = path.isEmpty(); });
    }

protected:
    void accept() override {
        const QStringList selected = selectedFiles();
        if (atComputer_ && (selected.isEmpty() || selected.constFirst().isEmpty())) {
            BrowsePath.clear();
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }

private:
    bool atComputer_ = false;
};

}  // namespace

void BrowseFolder(QWidget* owner, QLineEdit* field) {
    if (BrowsePath.empty()) BrowsePath = kBrowseRoot;

    // The desktop's own folder chooser where the platform offers one, Qt's
    // otherwise. Hidden folders are offered too: jobs can include them.
    FolderBrowser browser(owner, QStringLiteral("フォルダを選択してください"), QString::fromLatin1(kBrowseRoot));
    browser.setFileMode(QFileDialog::Directory);
    browser.setOption(QFileDialog::ShowDirsOnly);
    browser.setFilter(QDir::AllDirs | QDir::Drives | QDir::Hidden | QDir::NoDotAndDotDot);
    // Every selection the user makes is remembered, so a cancelled browser
    // still reports the folder picked last. An empty current item only means
    // that nothing is selected for the moment and keeps the last folder; an
    // entered place without a path (the "Computer" entry) forgets it, so the
    // result is the root.
    QObject::connect(&browser, &QFileDialog::currentChanged, [](const QString& path) {
        if (!path.isEmpty()) BrowsePath = LocalPath(path);
    });
    QObject::connect(&browser, &QFileDialog::directoryEntered,
                     [](const QString& path) { BrowsePath = path.isEmpty() ? std::string() : LocalPath(path); });
    if (browser.exec() == QDialog::Accepted && !browser.selectedFiles().isEmpty() &&
        !browser.selectedFiles().constFirst().isEmpty()) {
        BrowsePath = LocalPath(browser.selectedFiles().constFirst());
    }

    if (BrowsePath.empty()) BrowsePath = kBrowseRoot;
    BrowsePath = WithTrailingSeparator(BrowsePath);
    field->setText(PathText(std::string(TrimBlanks(BrowsePath))));
}

TForm6::TForm6(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("フォルダ選択"));
    Label1 = new QLabel(QStringLiteral("フォルダ選択"), this);
    QFont headerFont = Label1->font();
    headerFont.setBold(true);
    Label1->setFont(headerFont);
    Label2 = new QLabel(QStringLiteral("フォルダ名"), this);
    Edit1 = new QLineEdit(this);
    Edit1->setReadOnly(true);
    Edit1->setMinimumWidth(360);
    Button3 = new QPushButton(QStringLiteral("参照"), this);
    Button1 = new QPushButton(QStringLiteral("決定"), this);
    Button2 = new QPushButton(QStringLiteral("キャンセル"), this);
    for (QPushButton* button : {Button1, Button2, Button3}) button->setAutoDefault(false);

    auto* field = new QHBoxLayout;
    field->addWidget(Edit1, 1);
    field->addWidget(Button3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addSpacing(6);
    layout->addWidget(Label2);
    layout->addLayout(field);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    LetFocusedButtonsTakeEnter(this);
    connect(Button1, &QPushButton::clicked, this, &TForm6::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm6::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm6::Button3Click);
}

void TForm6::keyPressEvent(QKeyEvent* event) {
    // Escape would close a QDialog; this one is left through its buttons.
    if (TakeUnboundKey(event, true)) return;
    QDialog::keyPressEvent(event);
}

void TForm6::Button1Click() {
    Accepted = true;
    ChosenFolder = std::string(TrimBlanks(LocalPath(Edit1->text())));
    close();
}

void TForm6::Button2Click() { close(); }

void TForm6::Button3Click() { BrowseFolder(this, Edit1); }

}  // namespace tessarine
