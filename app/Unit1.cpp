#include "app/Unit1.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QStackedLayout>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>

#include "archive/Archive.h"
#include "launch/LaunchRules.h"
#include "launch/DesktopEntry.h"
#include "launch/WorkingFolders.h"
#include "engine/datafile.h"
#include "engine/errors.h"
#include "engine/secrets.h"
#include "engine/staging.h"
#include "engine/text_process.h"
#include "about/verform.h"
#include "filters/Unit4.h"
#include "dialogkit/DialogSupport.h"
#include "folders/Unit3.h"
#include "folders/Unit5.h"
#include "folders/Unit6.h"
#include "folders/folderlist.h"
#include "filters/filterfile.h"
#include "settings/Unit2.h"
#include "settings/ini_rw.h"

namespace tessarine {

namespace {

// Colours of the top bar: white captions on a dark bar; the chosen view's
// tab and the strip below the bar in grey.
const char* const kTopBarStyle = "background-color: rgb(64, 64, 64);";
const char* const kGreyStyle = "background-color: rgb(130, 130, 130);";

// The progress view is repainted at most this often while a job runs.
constexpr int kProgressFrameMs = 40;

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }
// A message of the layers below, as the window shows it.
QString Text(const Message& message) { return Text(RenderMessage(message, Language::kJapanese)); }

// Centres the dialog over its owner, kept wholly on the screen that holds the
// owner (a main window high on the screen would otherwise put the top of a
// taller dialog, title bar and all, above the screen's edge).
void CentreOver(QWidget* dialog, const QWidget* owner) {
    dialog->adjustSize();
    const QRect ownerFrame = owner->frameGeometry();
    const QRect ownerInner = owner->geometry();
    // The dialog's frame is taken to be as thick as the owner's.
    const QMargins frame(ownerInner.left() - ownerFrame.left(), ownerInner.top() - ownerFrame.top(),
                         ownerFrame.right() - ownerInner.right(), ownerFrame.bottom() - ownerInner.bottom());
    QRect placed(QPoint(0, 0), dialog->size().grownBy(frame));
    placed.moveCenter(ownerFrame.center());
    const QScreen* screen = QGuiApplication::screenAt(ownerFrame.center());
    if (!screen) screen = owner->screen();
    if (screen) {
        const QRect area = screen->availableGeometry();
        if (placed.right() > area.right()) placed.moveRight(area.right());
        if (placed.bottom() > area.bottom()) placed.moveBottom(area.bottom());
        if (placed.left() < area.left()) placed.moveLeft(area.left());
        if (placed.top() < area.top()) placed.moveTop(area.top());
    }
    dialog->move(placed.topLeft());
}

// The questions of a launch, asked through the main window's boxes and the
// two shared dialogs.
class WindowPrompts : public LaunchPrompts {
public:
    explicit WindowPrompts(TForm1* form) : form_(form) {}

    bool Confirm(const Message& question) override {
        form_->setFocus();
        // A launch goes ahead unless the user answered "いいえ(&N)".
        return AskYesNo(form_, Text(question), true) != YesNoAnswer::No;
    }
    std::optional<std::string> AskDestination() override {
        TForm6* dialog = form_->Form6;
        dialog->Accepted = false;
        dialog->Edit1->clear();
        CentreOver(dialog, form_);
        dialog->exec();
        if (!dialog->Accepted) return std::nullopt;
        return dialog->ChosenFolder;
    }
    std::optional<std::string> AskPassword() override {
        TForm5* dialog = form_->Form5;
        dialog->SetTexts(QStringLiteral("パスワード設定"), QStringLiteral("パスワード設定"),
                         QStringLiteral("設定するパスワードを入力してください"));
        dialog->Edit1->clear();
        dialog->SetMasked(true);
        dialog->Accepted = false;
        dialog->EnteredText.clear();
        // Before the password is in memory: a crash leaves no core file
        // holding it.
        KeepOutOfCoreDumps();
        CentreOver(dialog, form_);
        dialog->exec();
        // The next caller of the dialog sees typed text again, and neither
        // the field nor the dialog keeps the password.
        dialog->SetMasked(false);
        dialog->Edit1->clear();
        std::optional<std::string> entered;
        if (dialog->Accepted) entered = dialog->EnteredText;
        WipeSecret(dialog->EnteredText);
        return entered;
    }
    void ShowError(const Message& message) override { ShowErrorBox(form_, Text(message)); }

private:
    TForm1* form_;
};

}  // namespace

// ---------------------------------------------------------------------------
// What the worker asks of the window. The calls that hand data over or end
// the job run on the main thread while the worker waits; progress updates
// are only recorded here and shown by the main thread when it gets to them,
// so a fast job never waits for the screen. A later value replaces an
// earlier one that was not shown yet, and FinishJob shows whatever is
// pending first, so the last values of a job always reach the screen.
class TForm1::WindowHost : public DisplayJobHost {
public:
    using Pending = TForm1::ProgressUpdate;

    explicit WindowHost(TForm1* form) : form_(form) {}

    void LoadJobRequest(JobRequest& request) override {
        RunOnMainThread([&] { request = form_->Request; });
    }
    void ShowProgressAll(const JobProgress& progress) override {
        Record([&](Pending& p) {
            p.texts = {progress.StatusText, progress.DetailText};
            p.max = progress.ProgressMax;
            p.pos = progress.ProgressPos;
        });
    }
    void ShowProgressPos(const JobProgress& progress) override {
        Record([&](Pending& p) { p.pos = progress.ProgressPos; });
    }
    void ShowProgressText(const JobProgress& progress) override {
        Record([&](Pending& p) { p.texts = {progress.StatusText, progress.DetailText}; });
    }
    void FinishJob() override {
        RunOnMainThread([&] { form_->FinishJob(); });
    }
    void ArmCloseTimer() override {
        RunOnMainThread([&] { form_->Timer2->start(); });
    }
    void ShowMessage(const std::string& caption, const std::string& text) override {
        RunOnMainThread([&] {
            const QMessageBox::Icon icon = caption == ErrorCaption()     ? QMessageBox::Critical
                                           : caption == WarningCaption() ? QMessageBox::Warning
                                                                         : QMessageBox::Information;
            ShowOkBox(form_, icon, Text(caption), Text(text));
        });
    }
    void OpenFolder(const std::string& path) override {
        // Asked here on the worker, so the window does not wait for the
        // desktop's answer. A folder handler that is this program would
        // start a job on the product, whose end opens it again.
        if (form_->FolderHandlerQuery && !MayHandFolderToDesktop(form_->FolderHandlerQuery())) return;
        RunOnMainThread([&] {
            if (form_->FolderOpener) form_->FolderOpener(path);
        });
    }
    int NoFileMsg() const override { return form_->Settings.NoFileMsg; }
    bool StartedFromCommandLine() const override { return !form_->CommandLinePath.empty(); }

    // Main thread: takes the values recorded since the last call. With
    // `endFrame` false the next record does not post another call: the
    // window comes back for the rest by its own frame timer.
    Pending Take(bool endFrame) {
        std::lock_guard<std::mutex> lock(mutex_);
        Pending taken = std::move(pending_);
        pending_ = Pending{};
        if (endFrame) posted_ = false;
        return taken;
    }
    // Main thread: true, and the next record posts a call again, when
    // nothing was recorded since the last Take.
    bool NothingPending() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pending_.texts || pending_.max || pending_.pos) return false;
        posted_ = false;
        return true;
    }

private:
    template <typename F>
    void RunOnMainThread(F&& work) {
        if (QThread::currentThread() == form_->thread()) {
            work();
            return;
        }
        QMetaObject::invokeMethod(form_, std::forward<F>(work), Qt::BlockingQueuedConnection);
    }

    template <typename F>
    void Record(F&& change) {
        bool post = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            change(pending_);
            post = !posted_;
            posted_ = true;
        }
        if (post) {
            QMetaObject::invokeMethod(
                form_, [form = form_] { form->ApplyPendingProgress(); }, Qt::QueuedConnection);
        }
    }

    TForm1* form_;
    std::mutex mutex_;
    Pending pending_;
    bool posted_ = false;
};

// ---------------------------------------------------------------------------

TViewLabel::TViewLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setCursor(Qt::PointingHandCursor);
    SetMarked(false);
}

void TViewLabel::SetMarked(bool marked) {
    marked_ = marked;
    // The tab is 10 pixels wider than the caption on each side and reaches
    // down to the grey strip below the bar.
    setStyleSheet(QStringLiteral("QLabel { color: white; padding: 5px 10px 5px 10px; %1 }"
                                 " QLabel:disabled { color: rgb(150, 150, 150); }")
                      .arg(marked ? QString::fromLatin1(kGreyStyle) : QStringLiteral("background: transparent;")));
}

void TViewLabel::enterEvent(QEnterEvent* event) {
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    QLabel::enterEvent(event);
}

void TViewLabel::leaveEvent(QEvent* event) {
    QFont f = font();
    f.setUnderline(false);
    setFont(f);
    QLabel::leaveEvent(event);
}

void TViewLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (rect().contains(event->position().toPoint())) emit clicked();
}

// ---------------------------------------------------------------------------

TForm1::TForm1(const std::string& programFolder, const std::vector<std::string>& arguments, QWidget* parent)
    : QWidget(parent), host_(std::make_unique<WindowHost>(this)) {
    FolderOpener = [](const std::string& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(PathText(path))); };
    FolderHandlerQuery = DefaultFolderHandler;
    ProgramFolder = WithTrailingSeparator(programFolder);
    BuildControls();
    FormCreate(arguments);
}

TForm1::~TForm1() {
    JoinWorker();
    FormDestroy();
}

void TForm1::BuildControls() {
    setWindowTitle(QStringLiteral("Tessarine"));
    // A fixed border with a system menu and a minimise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    // Main menu.
    MainMenu = new QMenuBar(this);
    Setting1 = MainMenu->addMenu(QStringLiteral("設定(&S)"));
    S2 = Setting1->addAction(QStringLiteral("環境設定(&S)"));
    F1 = Setting1->addAction(QStringLiteral("フォルダ登録(&F)"));
    O1 = Setting1->addAction(QStringLiteral("フィルタ設定(&O)"));
    Setting1->addSeparator();
    Close1 = Setting1->addAction(QStringLiteral("閉じる(&X)"));
    Help1 = MainMenu->addMenu(QStringLiteral("ヘルプ(&H)"));
    Help2 = Help1->addAction(QStringLiteral("ヘルプ(&H)"));
    N1 = Help1->addAction(QStringLiteral("最新版をチェックする(&N)"));
    Help1->addSeparator();
    About1 = Help1->addAction(QStringLiteral("バージョン情報(&V)"));
    connect(S2, &QAction::triggered, this, &TForm1::S2Click);
    connect(F1, &QAction::triggered, this, &TForm1::F1Click);
    connect(O1, &QAction::triggered, this, &TForm1::O1Click);
    connect(Close1, &QAction::triggered, this, &TForm1::Close1Click);
    connect(Help2, &QAction::triggered, this, &TForm1::Help2Click);
    connect(N1, &QAction::triggered, this, &TForm1::N1Click);
    connect(About1, &QAction::triggered, this, &TForm1::About1Click);

    // Top bar with the view labels, and the grey strip below it.
    TopPanel = new QWidget(this);
    TopPanel->setObjectName(QStringLiteral("TopPanel"));
    TopPanel->setAttribute(Qt::WA_StyledBackground);
    TopPanel->setStyleSheet(QStringLiteral("#TopPanel { %1 }").arg(QString::fromLatin1(kTopBarStyle)));
    List0 = new TViewLabel(QStringLiteral("コピー / 圧縮"), TopPanel);
    List1 = new TViewLabel(QStringLiteral("登録フォルダ"), TopPanel);
    List2 = new TViewLabel(QStringLiteral("バックアップ"), TopPanel);
    List2->hide();
    auto* topLayout = new QHBoxLayout(TopPanel);
    topLayout->setContentsMargins(8, 8, 8, 0);
    topLayout->setSpacing(4);
    topLayout->addWidget(List0, 0, Qt::AlignBottom);
    topLayout->addWidget(List1, 0, Qt::AlignBottom);
    topLayout->addWidget(List2, 0, Qt::AlignBottom);
    topLayout->addStretch(1);
    TopStrip = new QWidget(this);
    TopStrip->setAttribute(Qt::WA_StyledBackground);
    TopStrip->setStyleSheet(QString::fromLatin1(kGreyStyle));
    TopStrip->setFixedHeight(4);
    connect(List0, &TViewLabel::clicked, this, &TForm1::List0Click);
    connect(List1, &TViewLabel::clicked, this, &TForm1::List1Click);
    // The view labels from the keyboard: Ctrl+Tab switches to the other
    // view, Alt with the label's position picks one.
    const auto addShortcut = [this](const QKeySequence& keys, void (TForm1::*handler)()) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, handler);
    };
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), &TForm1::NextViewKey);
    addShortcut(QKeySequence(Qt::ALT | Qt::Key_1), &TForm1::List0Click);
    addShortcut(QKeySequence(Qt::ALT | Qt::Key_2), &TForm1::List1Click);
    List0->setToolTip(QStringLiteral("Alt+1 / Ctrl+Tab"));
    List1->setToolTip(QStringLiteral("Alt+2 / Ctrl+Tab"));

    // Copy/compress view: filter box, the mode group, the drop panel.
    MainPanel = new QWidget(this);
    ComboBox1 = new QComboBox(MainPanel);
    ComboBox1->setEditable(false);
    ComboBox1->setMinimumWidth(220);
    CheckBox1 = new QCheckBox(QStringLiteral("フォルダで自動判定"), MainPanel);
    CheckBox1->hide();
    GroupBox1 = new QGroupBox(MainPanel);
    RadioButton1 = new QRadioButton(QStringLiteral("コピー"), GroupBox1);
    RadioButton4 = new QRadioButton(QStringLiteral("ファイルリスト作成"), GroupBox1);
    RadioButton5 = new QRadioButton(QStringLiteral("フォルダリスト作成"), GroupBox1);
    RadioButton2 = new QRadioButton(QStringLiteral("ZIP"), GroupBox1);
    RadioButton8 = new QRadioButton(QStringLiteral("ZIP(pass)"), GroupBox1);
    RadioButton3 = new QRadioButton(QStringLiteral("LHA"), GroupBox1);
    RadioButton6 = new QRadioButton(QStringLiteral("7-ZIP"), GroupBox1);
    RadioButton7 = new QRadioButton(QStringLiteral("7-ZIP(pass)"), GroupBox1);
    CheckBox2 = new QCheckBox(QStringLiteral("隠しフォルダを含める"), GroupBox1);
    CheckBox3 = new QCheckBox(QStringLiteral("隠しファイルを含める"), GroupBox1);
    auto* row1 = new QHBoxLayout;
    for (QWidget* w : {RadioButton1, RadioButton4, RadioButton5}) row1->addWidget(w);
    row1->addStretch(1);
    auto* row2 = new QHBoxLayout;
    for (QWidget* w : {RadioButton2, RadioButton8, RadioButton3, RadioButton6, RadioButton7}) row2->addWidget(w);
    row2->addStretch(1);
    auto* row3 = new QHBoxLayout;
    for (QWidget* w : {CheckBox2, CheckBox3}) row3->addWidget(w);
    row3->addStretch(1);
    auto* groupLayout = new QVBoxLayout(GroupBox1);
    groupLayout->addLayout(row1);
    groupLayout->addLayout(row2);
    groupLayout->addLayout(row3);
    DPanel = new QLabel(QStringLiteral("ここにファイルもしくはフォルダをドラッグ&ドロップしてください"), MainPanel);
    DPanel->setAlignment(Qt::AlignCenter);
    DPanel->setWordWrap(true);
    DPanel->setMinimumHeight(150);
    DPanel->setMargin(12);
    DPanel->setFrameShape(QFrame::StyledPanel);
    DPanel->setFrameShadow(QFrame::Sunken);
    auto* comboRow = new QHBoxLayout;
    comboRow->addWidget(ComboBox1);
    comboRow->addWidget(CheckBox1);
    comboRow->addStretch(1);
    auto* mainLayout = new QVBoxLayout(MainPanel);
    mainLayout->addLayout(comboRow);
    mainLayout->addWidget(GroupBox1);
    mainLayout->addWidget(DPanel, 1);
    connect(ComboBox1, &QComboBox::activated, this, &TForm1::ComboBox1Change);
    connect(CheckBox1, &QCheckBox::clicked, this, &TForm1::CheckBox1Click);
    for (QRadioButton* r : {RadioButton1, RadioButton2, RadioButton3, RadioButton4, RadioButton5, RadioButton6,
                            RadioButton7, RadioButton8}) {
        connect(r, &QRadioButton::clicked, this, &TForm1::ModeRadioClick);
    }
    connect(CheckBox2, &QCheckBox::clicked, this, &TForm1::CheckBox2Click);
    connect(CheckBox3, &QCheckBox::clicked, this, &TForm1::CheckBox3Click);

    // Registered-folder view.
    FolderPanel = new QWidget(this);
    FolderList = new QTableWidget(0, 2, FolderPanel);
    FolderList->setHorizontalHeaderLabels({QStringLiteral("フォルダ名"), QStringLiteral("フォルダパス")});
    FolderList->verticalHeader()->hide();
    FolderList->horizontalHeader()->setStretchLastSection(true);
    FolderList->horizontalHeader()->setHighlightSections(false);
    FolderList->setColumnWidth(0, 150);
    FolderList->setMinimumWidth(520);
    FolderList->setShowGrid(true);
    FolderList->setSelectionBehavior(QAbstractItemView::SelectRows);
    FolderList->setSelectionMode(QAbstractItemView::SingleSelection);
    FolderList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FolderList->setContextMenuPolicy(Qt::CustomContextMenu);
    FolderPopupMenu = new QMenu(FolderList);
    N3 = FolderPopupMenu->addAction(QStringLiteral("コピー / 圧縮"));
    FolderPopupMenu->addSeparator();
    ZIP1 = FolderPopupMenu->addAction(QStringLiteral("ZIP圧縮"));
    ZIPPass1 = FolderPopupMenu->addAction(QStringLiteral("ZIP圧縮(Pass)"));
    Lha1 = FolderPopupMenu->addAction(QStringLiteral("Lha圧縮"));
    N7Zip1 = FolderPopupMenu->addAction(QStringLiteral("7-Zip圧縮"));
    N7ZipPass1 = FolderPopupMenu->addAction(QStringLiteral("7-Zip圧縮(Pass)"));
    connect(N3, &QAction::triggered, this, &TForm1::N3Click);
    connect(ZIP1, &QAction::triggered, this, &TForm1::ZIP1Click);
    connect(ZIPPass1, &QAction::triggered, this, &TForm1::ZIPPass1Click);
    connect(Lha1, &QAction::triggered, this, &TForm1::Lha1Click);
    connect(N7Zip1, &QAction::triggered, this, &TForm1::N7Zip1Click);
    connect(N7ZipPass1, &QAction::triggered, this, &TForm1::N7ZipPass1Click);
    UseListKeys(FolderList);
    PopUpOnRequest(FolderList, FolderPopupMenu);
    HintLabel = new QLabel(QStringLiteral("右クリックで機能を選択できます"), FolderPanel);
    auto* folderLayout = new QVBoxLayout(FolderPanel);
    folderLayout->addWidget(FolderList, 1);
    folderLayout->addWidget(HintLabel);

    // Progress view: two status lines, white on grey, and the bar.
    PrgPanel = new QWidget(this);
    PrgInfo1 = new QLabel(PrgPanel);
    PrgInfo2 = new QLabel(PrgPanel);
    for (QLabel* info : {PrgInfo1, PrgInfo2}) {
        info->setAlignment(Qt::AlignCenter);
        info->setAttribute(Qt::WA_StyledBackground);
        info->setStyleSheet(
            QStringLiteral("QLabel { color: white; %1 padding: 4px; }").arg(QString::fromLatin1(kGreyStyle)));
        info->setMinimumHeight(info->fontMetrics().height() + 12);
    }
    PrgBar = new QProgressBar(PrgPanel);
    PrgBar->setRange(0, 3);
    PrgBar->setValue(0);
    PrgBar->setTextVisible(false);
    auto* prgLayout = new QVBoxLayout(PrgPanel);
    prgLayout->addStretch(1);
    prgLayout->addWidget(PrgInfo1);
    prgLayout->addWidget(PrgInfo2);
    prgLayout->addSpacing(8);
    prgLayout->addWidget(PrgBar);
    prgLayout->addStretch(1);

    // The three views share one place below the top bar.
    auto* viewHolder = new QWidget(this);
    views_ = new QStackedLayout(viewHolder);
    views_->addWidget(MainPanel);
    views_->addWidget(FolderPanel);
    views_->addWidget(PrgPanel);

    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(MainMenu);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(TopPanel);
    layout->addWidget(TopStrip);
    layout->addWidget(viewHolder, 1);
    // No resizing: the window keeps the size its contents ask for.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    Timer1 = new QTimer(this);
    Timer1->setInterval(500);
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer2 = new QTimer(this);
    Timer2->setInterval(500);
    Timer2->setTimerType(Qt::PreciseTimer);
    framePlacement_ = new QTimer(this);
    framePlacement_->setInterval(10);
    connect(framePlacement_, &QTimer::timeout, this, &TForm1::FramePlacementTimer);
    progressFrame_ = new QTimer(this);
    progressFrame_->setSingleShot(true);
    progressFrame_->setInterval(kProgressFrameMs);
    connect(progressFrame_, &QTimer::timeout, this, &TForm1::ProgressFrameTimer);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
}

void TForm1::FormCreate(const std::vector<std::string>& arguments) {
    // 1. Drops, the close command, idle.
    setAcceptDrops(true);
    EnableCloseCommand(true);
    Busy = false;

    // 3. The path utility and the archiver adapter (FolderListLines is a member).
    FileArchive = std::make_unique<TFileArchive>();
    // The archiver libraries are looked for beside this program.
    FileArchive->SetLibraryFolders(ProgramFolder, TFileArchive::SystemLibraryFolders());

    // 4.-5. Working folders, seeded from the installation's data folder
    // (filters for a new user, the registered-folder list when missing).
    const WorkingFolders folders = PrepareWorkingFolders(ProgramFolder, Common);
    if (folders.Refusal) {
        // Settings are neither read from nor saved through a place someone
        // else controls: the program says why and ends.
        ShowErrorBox(nullptr, Text(folders.Refusal));
        StartRefused = true;
        return;
    }
    UserFolder = folders.UserFolder;
    DataFolder = folders.DataFolder;

    // 6. Settings and the window's place.
    LoadSettings(UserFolder + kPathSeparator + std::string(kSettingsFileName), Settings);
    PlaceFrameAt(QPoint(Settings.PosX, Settings.PosY));

    // 7.-11.
    CurrentView = 0;
    MarkViewLabel(0);
    ShowView(0);
    ApplyModeControls();
    LoadFilterNames();
    CheckBox2->setChecked(Settings.HiddenFolder == 1);
    if (Settings.HiddenFolder != 1) Settings.HiddenFolder = 0;
    CheckBox3->setChecked(Settings.HiddenFile == 1);
    if (Settings.HiddenFile != 1) Settings.HiddenFile = 0;
    LoadRegisteredFolders();

    // 12. A job on the first argument, half a second after start.
    if (!arguments.empty()) {
        CommandLinePath = arguments.front();
        Timer1->start();
    }
}

void TForm1::PlaceFrameAt(const QPoint& frameTopLeft) {
    // PosX/PosY are the frame's top left corner, which is also what
    // FormDestroy saves (x() and y() of a window include its frame). Until
    // the window manager has framed the window its frame is not known, and
    // Qt puts the inner area at the position; every start would then creep
    // up and left by the size of the frame. So the frame is placed again
    // once it is known (FramePlacementTimer).
    move(frameTopLeft);
    pendingFramePosition_ = frameTopLeft;
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (pendingFramePosition_) {
        framePlacementTries_ = 0;
        framePlacement_->start();
    }
}

void TForm1::FramePlacementTimer() {
    QWindow* window = windowHandle();
    // The window manager reports the frame once it has framed and mapped the
    // window; a desktop without frames never does, and the position then
    // stands.
    constexpr int kMaxTries = 300;
    const bool framed = window && window->isExposed() && !window->frameMargins().isNull();
    if (!window || !pendingFramePosition_ || (!framed && ++framePlacementTries_ < kMaxTries)) {
        if (!window || !pendingFramePosition_) framePlacement_->stop();
        return;
    }
    framePlacement_->stop();
    const QPoint wanted = *pendingFramePosition_;
    pendingFramePosition_.reset();
    const QMargins frame = window->frameMargins();
    // The inner area goes where the frame's top left corner ends at `wanted`.
    if (framed && window->framePosition() != wanted) {
        window->setPosition(wanted + QPoint(frame.left(), frame.top()));
    }
}

void TForm1::SaveSettingsOnEnd() {
    Settings.PosX = x();
    Settings.PosY = y();
    SaveSettings(UserFolder + kPathSeparator + std::string(kSettingsFileName), Settings);
}

void TForm1::FormDestroy() {
    if (StartRefused) return;
    try {
        SaveSettingsOnEnd();
    } catch (const TessarineError& error) {
        ShowErrorBox(nullptr, Text(error.what()));
    }
}

void TForm1::EndBySignal(int signal) {
    if (WorkerRunning()) AbandonRunningJob();
    // Nobody may be left to answer a box: the session is ending.
    try {
        SaveSettingsOnEnd();
    } catch (const TessarineError& error) {
        std::fprintf(stderr, "tessarine: %s\n", error.what());
    }
    std::fflush(nullptr);
    // A normal exit would destroy the worker's joinable thread object and
    // run the windows' destructors while the worker may still call them.
    ::_exit(128 + signal);
}

QRadioButton* TForm1::RadioButtonOfMode(JobMode mode) const {
    const std::pair<JobMode, QRadioButton*> buttons[] = {
        {JobMode::kCopy, RadioButton1},        {JobMode::kZip, RadioButton2},
        {JobMode::kZipPassword, RadioButton8}, {JobMode::kLha, RadioButton3},
        {JobMode::kSevenZip, RadioButton6},    {JobMode::kSevenZipPassword, RadioButton7},
        {JobMode::kFileList, RadioButton4},    {JobMode::kFolderList, RadioButton5}};
    for (const auto& [buttonMode, button] : buttons) {
        if (buttonMode == mode) return button;
    }
    return nullptr;
}

QAction* TForm1::PopupActionOfMode(JobMode mode) const {
    const std::pair<JobMode, QAction*> actions[] = {{JobMode::kZip, ZIP1},
                                                    {JobMode::kZipPassword, ZIPPass1},
                                                    {JobMode::kLha, Lha1},
                                                    {JobMode::kSevenZip, N7Zip1},
                                                    {JobMode::kSevenZipPassword, N7ZipPass1}};
    for (const auto& [actionMode, action] : actions) {
        if (actionMode == mode) return action;
    }
    return nullptr;
}

void TForm1::ApplyModeControls() {
    // A mode whose library is missing cannot be chosen, and any saved mode
    // falls back to a copy then.
    const bool sevenZip = FileArchive->SevenZipAvailable();
    const bool lha = FileArchive->LhaAvailable();
    for (const JobModeInfo& mode : JobModes()) {
        if (mode.library == ArchiverLibrary::kNone) continue;
        const bool available = mode.library == ArchiverLibrary::kSevenZip ? sevenZip : lha;
        RadioButtonOfMode(mode.mode)->setEnabled(available);
        if (QAction* action = PopupActionOfMode(mode.mode)) action->setEnabled(available);
    }
    if (!sevenZip || !lha) Settings.Mode = NumberOf(JobMode::kCopy);
    QRadioButton* checked = RadioButtonOfMode(JobModeOfNumber(Settings.Mode));
    if (checked == nullptr) {
        checked = RadioButton1;
        Settings.Mode = NumberOf(JobMode::kCopy);
    }
    checked->setChecked(true);
    CheckBox1->setChecked(Settings.AutoMode == 1);
    if (Settings.AutoMode != 1) Settings.AutoMode = 0;
}

void TForm1::LoadFilterNames() {
    std::vector<std::string> names;
    ListFilterNames(Common, DataFolder, names);
    ComboBox1->clear();
    ComboBox1->addItem(QString());
    for (const std::string& name : names) ComboBox1->addItem(PathText(name));
    // Selecting here leaves SelectFileName alone; only the user's choice
    // changes it.
    int selected = 0;
    if (!TrimBlanks(Settings.SelectFileName).empty()) {
        const int found = FindNameEntry(ComboBox1, PathText(Settings.SelectFileName));
        if (found > 0) selected = found;
    }
    ComboBox1->setCurrentIndex(selected);
}

void TForm1::LoadRegisteredFolders() {
    FolderList->setRowCount(0);
    FolderListLines.clear();
    // A missing or unreadable list gives an empty list; every other function
    // keeps working.
    const std::string path = UserFolder + kPathSeparator + std::string(kFolderListFileName);
    try {
        FolderListLines = ReadDataLines(path);
    } catch (const TessarineError&) {
        return;
    }
    for (const RegisteredFolder& folder : EnabledFolders(FolderListLines)) {
        const int row = FolderList->rowCount();
        FolderList->insertRow(row);
        FolderList->setItem(row, 0, new QTableWidgetItem(Text(folder.Name)));
        auto* pathItem = new QTableWidgetItem(PathText(folder.FolderPath));
        // The path exactly as stored, also when it is not valid UTF-8.
        pathItem->setData(Qt::UserRole, QByteArray::fromStdString(folder.FolderPath));
        FolderList->setItem(row, 1, pathItem);
    }
}

void TForm1::ShowView(int view) {
    QWidget* shown = view == 0 ? MainPanel : view == 1 ? FolderPanel : PrgPanel;
    views_->setCurrentWidget(shown);
}

void TForm1::MarkViewLabel(int view) {
    List0->SetMarked(view == 0);
    List1->SetMarked(view == 1);
}

void TForm1::EnableCloseCommand(bool enabled) {
    // The desktop offers no portable way to grey a title-bar button; the
    // close request is refused instead (closeEvent).
    closeEnabled_ = enabled;
}

void TForm1::EnableIdleCommands(bool enabled) {
    // What a running job blocks is shown greyed, so that it does not look
    // usable; help and the version check stay available.
    for (QAction* action : {S2, F1, O1, Close1, About1}) action->setEnabled(enabled);
    List0->setEnabled(enabled);
    List1->setEnabled(enabled);
}

// --- views and mode controls ---------------------------------------------

void TForm1::List0Click() {
    if (Busy) return;
    CurrentView = 0;
    MarkViewLabel(0);
    ShowView(0);
}

void TForm1::NextViewKey() {
    if (CurrentView == 0) {
        List1Click();
    } else {
        List0Click();
    }
}

void TForm1::List1Click() {
    if (Busy) return;
    CurrentView = 1;
    MarkViewLabel(1);
    ShowView(1);
}

void TForm1::ComboBox1Change(int index) {
    Settings.SelectFileName = index <= 0 ? std::string() : LocalPath(ComboBox1->itemText(index));
}

void TForm1::CheckBox1Click() { Settings.AutoMode = CheckBox1->isChecked() ? 1 : 0; }

void TForm1::ModeRadioClick() {
    for (const JobModeInfo& mode : JobModes()) {
        if (RadioButtonOfMode(mode.mode)->isChecked()) Settings.Mode = NumberOf(mode.mode);
    }
}

void TForm1::CheckBox2Click() { Settings.HiddenFolder = CheckBox2->isChecked() ? 1 : 0; }

void TForm1::CheckBox3Click() { Settings.HiddenFile = CheckBox3->isChecked() ? 1 : 0; }

// --- menus ------------------------------------------------------------------

void TForm1::S2Click() {
    if (Busy || !Form2) return;
    CentreOver(Form2, this);
    Form2->FillFromSettings();
    Form2->exec();
}

void TForm1::F1Click() {
    if (Busy || !Form3) return;
    CentreOver(Form3, this);
    // A list that cannot be read was reported; the dialog stays closed.
    if (!Form3->ShowFolderList(std::string(kFolderListFileName))) return;
    Form3->exec();
}

void TForm1::O1Click() {
    if (Busy || !Form4) return;
    if (!Form4->ListFilters(LocalPath(ComboBox1->currentText()))) return;
    CentreOver(Form4, this);
    Form4->exec();
}

void TForm1::Close1Click() {
    if (Busy) return;
    close();
}

// Help and the home page stay usable while a job runs.
void TForm1::Help2Click() {
    if (Prompts) OpenHelpDocument(*Prompts, ProgramFolder);
}

void TForm1::N1Click() {
    if (Prompts) OpenHomePage(*Prompts, ProgramFolder);
}

void TForm1::About1Click() {
    if (Busy || !VerInfoForm) return;
    CentreOver(VerInfoForm, this);
    VerInfoForm->exec();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!closeEnabled_) {
        event->ignore();
        return;
    }
    event->accept();
}

// --- job entries ------------------------------------------------------------

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
    // Only the drop panel takes a drop; elsewhere the pointer shows so.
    if (childAt(event->position().toPoint()) == DPanel) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void TForm1::dropEvent(QDropEvent* event) {
    // The list as sent, not QMimeData::urls(): a QUrl holds its path as
    // text, and a name that is not valid UTF-8 would lose its bytes.
    const QByteArray uriList = event->mimeData()->data(QStringLiteral("text/uri-list"));
    // The last dropped item only, and only on the drop panel.
    QWidget* target = childAt(event->position().toPoint());
    if (target != DPanel || !DPanel->isEnabled()) return;
    const std::optional<std::string> item = LastDroppedPath(std::string_view(uriList.constData(), uriList.size()));
    if (!item) return;
    event->acceptProposedAction();
    LaunchJob(0, std::nullopt, FolderOfItem(*item));
}

void TForm1::Timer1Timer() {
    Timer1->stop();
    // A mistyped argument must not turn into a job on its parent folder.
    if (const Message problem = CheckCommandLineItem(CommandLinePath)) {
        ShowErrorBox(this, Text(problem));
        return;
    }
    LaunchJob(0, std::nullopt, FolderOfItem(CommandLinePath));
}

void TForm1::Timer2Timer() {
    Timer2->stop();
    close();
}

void TForm1::LaunchFromPopup(std::optional<JobMode> modeOverride) {
    const QList<QTableWidgetItem*> selected = FolderList->selectedItems();
    if (selected.isEmpty()) return;
    QTableWidgetItem* pathItem = FolderList->item(selected.constFirst()->row(), 1);
    LaunchJob(1, modeOverride, pathItem ? pathItem->data(Qt::UserRole).toByteArray().toStdString() : std::string());
}

void TForm1::N3Click() { LaunchFromPopup(std::nullopt); }
void TForm1::ZIP1Click() { LaunchFromPopup(JobMode::kZip); }
void TForm1::ZIPPass1Click() { LaunchFromPopup(JobMode::kZipPassword); }
void TForm1::Lha1Click() { LaunchFromPopup(JobMode::kLha); }
void TForm1::N7Zip1Click() { LaunchFromPopup(JobMode::kSevenZip); }
void TForm1::N7ZipPass1Click() { LaunchFromPopup(JobMode::kSevenZipPassword); }

void TForm1::LaunchJob(int origin, std::optional<JobMode> modeOverride, const std::string& sourcePath) {
    // To the front, then the launch rules in their fixed order, asking
    // through this window's boxes and dialogs.
    raise();
    activateWindow();
    LaunchInput input;
    input.Origin = origin;
    input.ModeOverride = modeOverride;
    input.SourcePath = sourcePath;
    const std::time_t now = std::time(nullptr);
    localtime_r(&now, &input.Now);
    WindowPrompts prompts(this);
    if (!PrepareJob(input, Settings, DataFolder, FolderListLines, prompts, lastDestination_, Request)) return;

    // Start: the window is busy until the worker's FinishJob.
    Busy = true;
    EnableCloseCommand(false);
    EnableIdleCommands(false);
    ShowView(2);
    JoinWorker();
    workerDone_ = false;
    worker_ = std::thread([this] {
        if (runner_) {
            runner_(*host_);
        } else {
            host_->FinishJob();
        }
        workerDone_ = true;
    });
}

// --- progress and completion -------------------------------------------------

void TForm1::ApplyPendingProgress() {
    ShowProgress(host_->Take(false));
    // At most one update per frame: a job that reports every file would
    // otherwise spend the processor on painting instead of copying.
    progressFrame_->start();
}

void TForm1::ProgressFrameTimer() {
    if (!host_->NothingPending()) ApplyPendingProgress();
}

void TForm1::ShowProgress(const ProgressUpdate& p) {
    if (p.texts) {
        PrgInfo1->setText(Text(p.texts->first));
        PrgInfo2->setText(Text(p.texts->second));
    }
    if (p.max) PrgBar->setMaximum(*p.max);
    if (p.pos) PrgBar->setValue(*p.pos);
}

void TForm1::FinishJob() {
    // The worker has its own copy, wiped as well; this one is not needed
    // after the job.
    WipeSecret(Request.Password);
    // The job's last values are shown before the view changes back.
    progressFrame_->stop();
    ShowProgress(host_->Take(true));
    ShowView(CurrentView);
    Busy = false;
    EnableCloseCommand(true);
    EnableIdleCommands(true);
}

void TForm1::JoinWorker() {
    if (!worker_.joinable()) return;
    while (!workerDone_.load()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (!workerDone_.load()) QThread::msleep(1);
    }
    worker_.join();
}

}  // namespace tessarine
