#pragma once
// What the settings, registration and filter dialogs need from the rest of
// the program, and the pieces of look they share.
#include <QLabel>
#include <QMessageBox>
#include <QVBoxLayout>
#include <optional>
#include <string>

class QAbstractItemView;
class QComboBox;
class QKeyEvent;
class QMenu;
class QDialog;

namespace tessarine {

// One use of the name entry dialog: window caption, header and prompt.
struct NameEntryUse {
    const char* Caption;
    const char* Header;
    const char* Prompt;
};

inline constexpr NameEntryUse kNewFolderName = {"新規にフォルダを登録する", "新規にフォルダを登録する",
                                                "名前を入れてください"};
inline constexpr NameEntryUse kSaveFileNameEntry = {"保存ファイル名を変更する", "保存ファイル名を変更する",
                                                    "保存ファイル名"};
inline constexpr NameEntryUse kRenameFolderEntry = {"名前を変更する", "名前を変更する", "名前"};
inline constexpr NameEntryUse kNewFilterName = {"新規にフィルタを追加する", "新規にフィルタを追加する", "フィルタ名"};
inline constexpr NameEntryUse kSettingNameEntry = {"設定名を変更する", "設定名を変更する", "設定名"};
inline constexpr NameEntryUse kExtensionEntry = {"拡張子を変更する", "拡張子を変更する",
                                                 "拡張子 (1つだけ指定してください)"};
inline constexpr NameEntryUse kNewRowName = {"新規追加", "新規追加：設定名を入力してください", "設定名"};
inline constexpr NameEntryUse kNewRowExtension = {"新規追加", "新規追加：拡張子を入力してください",
                                                  "拡張子 (1つだけ指定してください)"};

// The shared dialogs, message boxes and the desktop, as the dialogs use
// them. The program implements it with the name entry and folder selection
// dialogs; tests answer from a script.
class TDialogPrompts {
public:
    virtual ~TDialogPrompts() = default;
    // The name entry dialog: the entered text without surrounding blanks
    // (may be empty), or nullopt when not accepted.
    virtual std::optional<std::string> EnterName(const NameEntryUse& use, const std::string& initial) = 0;
    // The folder selection dialog, shown with its field emptied: the chosen
    // folder (may be empty), or nullopt when not accepted.
    virtual std::optional<std::string> SelectFolder() = 0;
    // The folder browser of the settings dialog's "参照": the text for its
    // field (the last folder selected, also after a cancel).
    virtual std::string BrowseFolder(QWidget* owner) = 0;
    // Question box "確認" with "はい(&Y)" / "いいえ(&N)"; true for yes.
    virtual bool Confirm(QWidget* owner, const std::string& question) = 0;
    // Error box "エラー" with one "OK" button.
    virtual void ShowError(QWidget* owner, const std::string& message) = 0;
    // Opens a web address or a local document with the desktop.
    virtual void OpenTarget(const std::string& target) = 0;
};

// The message boxes and desktop opening of TDialogPrompts done with Qt; the
// program adds the two shared dialogs.
class TStandardPrompts : public TDialogPrompts {
public:
    bool Confirm(QWidget* owner, const std::string& question) override;
    void ShowError(QWidget* owner, const std::string& message) override;
    void OpenTarget(const std::string& target) override;
};

// A label that acts as a link: reports clicks and the pointer entering and
// leaving, so that its dialog can underline it while the pointer is over it.
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(const QString& text, QWidget* parent = nullptr);
    void SetUnderlined(bool underlined);

signals:
    void clicked();
    void mouseEntered();
    void mouseLeft();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// The dark band with a white title at the top of every dialog.
QLabel* MakeHeaderBand(const QString& text, QWidget* parent);

// Keyboard use of a window's controls, as desktop users expect it:
// - a focused push button takes Enter as well as Space. No button is a
//   default button, so Enter elsewhere (in an entry field) still does
//   nothing and Escape stays unbound.
void LetFocusedButtonsTakeEnter(QWidget* window);
// - Tab leaves a list instead of moving its current row, and Shift+F10
//   opens the list's context menu as the Menu key does (at the current
//   row).
void UseListKeys(QAbstractItemView* list);

// Keys a dialog leaves unbound, so that they neither close nor answer it:
// Escape (a QDialog would close), and Enter and Return unless
// `enterReachesDialog` (a QDialog would click a button with them). True,
// with the key taken, for such a key; the dialog's keyPressEvent then
// returns without passing the key on.
bool TakeUnboundKey(QKeyEvent* event, bool enterReachesDialog = false);

// Pops the menu up where the list asks for its context menu: at the pointer,
// or at the current row for the keys UseListKeys binds.
void PopUpOnRequest(QAbstractItemView* list, QMenu* menu);

// The dialog's layout: the header band across the top, edge to edge, and
// the dialog's own controls below it.
QVBoxLayout* PlaceUnderHeaderBand(QWidget* dialog, QLabel* band, QLayout* body);

// Grey background with white group captions and labels, as the settings
// and about dialogs have.
void ApplyGreyDialogLook(QDialog* dialog);

// The entry of a list of filter names that a name chooses: the one spelled
// exactly, else the first that differs only in letter case; -1 for none.
// (On Linux "memo" and "MEMO" can both exist.)
int FindNameEntry(const QComboBox* box, const QString& name);

inline QString ToQString(const std::string& text) { return QString::fromStdString(text); }
inline std::string ToStdString(const QString& text) { return text.toStdString(); }

// A file-system path (bytes as the system stores them) for display, and a
// displayed path back to those bytes.
QString PathText(const std::string& path);
std::string LocalPath(const QString& path);

// The question box "確認" with the question icon, "はい(&Y)" and "いいえ(&N)";
// with `yesIsDefault`, Enter answers yes wherever the focus is. Which button
// ended it; Neither when the box was closed another way.
enum class YesNoAnswer { Yes, No, Neither };
YesNoAnswer AskYesNo(QWidget* owner, const QString& question, bool yesIsDefault = false);

// A box with the icon, caption and text and one "OK" button.
void ShowOkBox(QWidget* owner, QMessageBox::Icon icon, const QString& caption, const QString& text);
// The error box: caption "エラー", the error icon, one "OK" button.
inline void ShowErrorBox(QWidget* owner, const QString& message) {
    ShowOkBox(owner, QMessageBox::Critical, QStringLiteral("エラー"), message);
}

}  // namespace tessarine
