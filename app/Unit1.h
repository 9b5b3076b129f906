#pragma once
// The main window: the copy/compress view with its drop panel, the
// registered-folder view, the progress view, the menus, and the launch of
// every job.
#include <QLabel>
#include <QPoint>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/Common.h"
#include "launch/ProgressDisplay.h"
#include "engine/TessarineThread.h"
#include "engine/job_mode.h"
#include "settings/SetData.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QMenu;
class QMenuBar;
class QProgressBar;
class QRadioButton;
class QStackedLayout;
class QTableWidget;
class QTimer;

namespace tessarine {

class TDialogPrompts;
class TFileArchive;
class TForm2;
class TForm3;
class TForm4;
class TForm5;
class TForm6;
class TVerInfoForm;

// A label of the top bar that switches views: white text, underlined while
// the pointer is over it, reports clicks.
class TViewLabel : public QLabel {
    Q_OBJECT
public:
    explicit TViewLabel(const QString& text, QWidget* parent = nullptr);
    // Gives the label the grey tab of the chosen view, or takes it away.
    void SetMarked(bool marked);
    bool Marked() const { return marked_; }

signals:
    void clicked();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool marked_ = false;
};

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Runs one job to its end on the calling (worker) thread, talking to the
    // window only through the host.
    using JobRunner = std::function<void(DisplayJobHost& host)>;

    // programFolder: the folder of the executable (closing separator added
    // when missing); arguments: the command-line arguments after the
    // program name. Runs the start-up sequence.
    TForm1(const std::string& programFolder, const std::vector<std::string>& arguments, QWidget* parent = nullptr);
    ~TForm1() override;

    // The windows the main window opens; set by the program start.
    TForm2* Form2 = nullptr;  // settings
    TForm3* Form3 = nullptr;  // folder registration
    TForm4* Form4 = nullptr;  // filter editor
    TForm5* Form5 = nullptr;  // name entry
    TForm6* Form6 = nullptr;  // folder selection
    TVerInfoForm* VerInfoForm = nullptr;
    // Message boxes and the desktop, for help and the home page.
    TDialogPrompts* Prompts = nullptr;

    // What runs a job; the program start sets the real worker.
    void SetJobRunner(JobRunner runner) { runner_ = std::move(runner); }
    // How a destination folder is opened after a job; the desktop's file
    // manager unless replaced.
    std::function<void(const std::string&)> FolderOpener;
    // Which desktop entry opens folders (xdg-mime unless replaced); the
    // destination is not opened when that is this program's own entry.
    std::function<std::string()> FolderHandlerQuery;

    // --- state other windows read -----------------------------------------
    std::string ProgramFolder;  // with a closing separator
    std::string UserFolder;     // no closing separator
    std::string DataFolder;     // UserFolder + "/data"
    TSetData Settings;
    std::vector<std::string> FolderListLines;
    int CurrentView = 0;  // 0 copy/compress, 1 registered folders
    bool Busy = false;
    // The user folder was refused at the start (an error box said why):
    // the program ends without showing the window or saving anything.
    bool StartRefused = false;
    std::string CommandLinePath;
    JobRequest Request;
    TCommon Common;
    std::unique_ptr<TFileArchive> FileArchive;

    // --- operations other windows use -------------------------------------
    void LoadRegisteredFolders();
    void LoadFilterNames();
    // 0 copy/compress, 1 registered folders, anything else the progress view.
    void ShowView(int view);
    void MarkViewLabel(int view);
    void EnableCloseCommand(bool enabled);
    // Greys or enables the commands that a running job blocks: the dialogs'
    // menu entries, close, the about box and the view labels.
    void EnableIdleCommands(bool enabled);
    bool CloseCommandEnabled() const { return closeEnabled_; }
    // origin 0: a drop or the command line; 1: a registered folder.
    // Without modeOverride: the Mode setting.
    void LaunchJob(int origin, std::optional<JobMode> modeOverride, const std::string& sourcePath);
    // The destination of the previous launch (reused by unknown save modes).
    const std::string& LastDestination() const { return lastDestination_; }

    // --- controls, under their designer names ------------------------------
    QMenuBar* MainMenu;
    QMenu* Setting1;  // "設定(&S)"
    QAction* S2;      // "環境設定(&S)"
    QAction* F1;      // "フォルダ登録(&F)"
    QAction* O1;      // "フィルタ設定(&O)"
    QAction* Close1;  // "閉じる(&X)"
    QMenu* Help1;     // "ヘルプ(&H)"
    QAction* Help2;   // "ヘルプ(&H)"
    QAction* N1;      // "最新版をチェックする(&N)"
    QAction* About1;  // "バージョン情報(&V)"

    QWidget* TopPanel;
    TViewLabel* List0;  // "コピー / 圧縮"
    TViewLabel* List1;  // "登録フォルダ"
    TViewLabel* List2;  // "バックアップ", hidden
    QWidget* TopStrip;  // the grey strip the chosen tab joins

    QWidget* MainPanel;  // copy/compress view
    QComboBox* ComboBox1;
    QCheckBox* CheckBox1;
    QGroupBox* GroupBox1;
    QRadioButton* RadioButton1;  // コピー
    QRadioButton* RadioButton4;  // ファイルリスト作成
    QRadioButton* RadioButton5;  // フォルダリスト作成
    QRadioButton* RadioButton2;  // ZIP
    QRadioButton* RadioButton8;  // ZIP(pass)
    QRadioButton* RadioButton3;  // LHA
    QRadioButton* RadioButton6;  // 7-ZIP
    QRadioButton* RadioButton7;  // 7-ZIP(pass)
    QCheckBox* CheckBox2;
    QCheckBox* CheckBox3;
    QLabel* DPanel;

    QWidget* FolderPanel;  // registered-folder view
    QTableWidget* FolderList;
    QLabel* HintLabel;
    QMenu* FolderPopupMenu;
    QAction* N3;          // "コピー / 圧縮"
    QAction* ZIP1;        // "ZIP圧縮"
    QAction* ZIPPass1;    // "ZIP圧縮(Pass)"
    QAction* Lha1;        // "Lha圧縮"
    QAction* N7Zip1;      // "7-Zip圧縮"
    QAction* N7ZipPass1;  // "7-Zip圧縮(Pass)"

    QWidget* PrgPanel;  // progress view
    QLabel* PrgInfo1;
    QLabel* PrgInfo2;
    QProgressBar* PrgBar;

    QTimer* Timer1;  // launches the command-line job once
    QTimer* Timer2;  // closes the window after a command-line job

    // Handlers, named after control and event.
    void List0Click();
    void List1Click();
    // Ctrl+Tab: the other of the two views.
    void NextViewKey();
    void ComboBox1Change(int index);
    void CheckBox1Click();
    void ModeRadioClick();
    void CheckBox2Click();
    void CheckBox3Click();
    void Timer1Timer();
    void Timer2Timer();
    void N3Click();
    void ZIP1Click();
    void ZIPPass1Click();
    void Lha1Click();
    void N7Zip1Click();
    void N7ZipPass1Click();
    void S2Click();
    void F1Click();
    void O1Click();
    void Close1Click();
    void Help2Click();
    void N1Click();
    void About1Click();

    // The end-of-job step, run on the main thread.
    void FinishJob();
    // Ends the program on SIGTERM, SIGINT or SIGHUP as a cancelled job ends:
    // a running job is abandoned (its product removed), the settings are
    // saved as on closing, and the process exits with 128 + the signal's
    // number at once, without waiting for the worker thread (which may be
    // blocked in a call to this thread). Main thread only.
    [[noreturn]] void EndBySignal(int signal);
    // Whether a worker thread still exists (running or about to end).
    bool WorkerRunning() const { return worker_.joinable() && !workerDone_.load(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    class WindowHost;
    friend class WindowHost;

    void BuildControls();
    void FormCreate(const std::vector<std::string>& arguments);
    void FormDestroy();
    // PosX/PosY from the window's place, then set.ini; throws TessarineError.
    void SaveSettingsOnEnd();
    // Puts the window's frame, title bar included, at the point.
    void PlaceFrameAt(const QPoint& frameTopLeft);
    void ApplyModeControls();
    // The mode's radio button (nullptr for a number no mode has), and its
    // popup entry (nullptr for the modes the popup offers only through
    // "コピー / 圧縮").
    QRadioButton* RadioButtonOfMode(JobMode mode) const;
    QAction* PopupActionOfMode(JobMode mode) const;
    void LaunchFromPopup(std::optional<JobMode> modeOverride);
    // Shows the latest progress values the worker has published, then
    // waits a frame before showing more.
    void ApplyPendingProgress();
    void ProgressFrameTimer();
    // Progress values not shown yet; a missing value is unchanged.
    struct ProgressUpdate {
        std::optional<std::pair<std::string, std::string>> texts;
        std::optional<int32_t> max;
        std::optional<int32_t> pos;
    };
    void ShowProgress(const ProgressUpdate& update);
    // Waits for the previous worker thread to end, running the main-thread
    // calls it may still be waiting for.
    void JoinWorker();

    JobRunner runner_;
    std::unique_ptr<WindowHost> host_;
    std::thread worker_;
    std::atomic<bool> workerDone_{true};
    bool closeEnabled_ = true;
    // Where the frame goes once the window manager has framed the window.
    std::optional<QPoint> pendingFramePosition_;
    // Looks for the frame after the first showing, a few seconds at most.
    QTimer* framePlacement_ = nullptr;
    int framePlacementTries_ = 0;
    void FramePlacementTimer();
    std::string lastDestination_;
    QStackedLayout* views_ = nullptr;
    QTimer* progressFrame_ = nullptr;
};

}  // namespace tessarine
