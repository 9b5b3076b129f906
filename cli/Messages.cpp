#include "cli/Messages.h"

#include <array>
#include <cstdlib>

namespace tessarine::cli {

namespace {

bool japanese = false;

struct Entry {
    Msg id;
    const char* ja;
    const char* en;
};

constexpr const char* kUsageJa = R"(使い方: tessarine-cli [オプション] [--] フォルダ

フォルダ (ファイルを指定するとそのファイルのあるフォルダ) の下のフォルダとファイルを
集め、日付付きの名前でコピー、圧縮、またはリスト作成を行います。オプションを指定しない
項目は、ウィンドウ版と同じ設定 (set.ini) に従います。"-" で始まるフォルダ名の前には
"--" を置いてください。

オプション:
  -m, --mode=形式         copy (コピー), zip, zip-pass, lha, 7z, 7z-pass,
                          filelist (ファイルリスト), folderlist (フォルダリスト)、
                          または形式の番号 0, 1, 2, 3, 4, 5, 11, 12
  -d, --dest=フォルダ     保存先フォルダ (省略時は設定の保存先。設定が毎回尋ねる
                          ものであれば --dest が必要です)
  -f, --filter=名前       拡張子フィルタ「名前」を使う
      --no-filter         フィルタを使わない
      --hidden-folders    隠しフォルダを含める (--no-hidden-folders で含めない)
      --hidden-files      隠しファイルを含める (--no-hidden-files で含めない)
      --stamp=long|short  日付の形式: yyyymmddhhnnss または yymmdd_hhnn_ss
      --underscore        名前と日付の間に "_" を入れる (--no-underscore で入れない)
      --open              終了後に保存先フォルダを開く
      --verify            作成したものを読み直して確かめる (設定 VerifyAfterJob=1 と同じ)
  -n, --dry-run           何も書かずに、作成するもののパス (1 行目) と取り込む項目
                          (2 行目以降) を標準出力に出す
  -q, --quiet             進行状況を出さない (エラーと作成したもののパスだけ)
  -v, --verbose           扱う項目を一つずつ標準エラー出力に出す
      --user-folder=フォルダ  設定フォルダの代わりにフォルダを使う
  -h, --help              この説明
      --version           版を表示する
短いオプションはまとめて指定できます (例: -qn)。

パスワード付きの形式では、パスワードを端末から (表示せずに) 読み取ります。標準入力が
端末でないときは、標準入力の最初の行を読み取ります。

進行状況とメッセージは標準エラー出力に、作成したもののパスは標準出力に出ます。

終了コード:
  0    完了
  1    失敗 (検証で見つかった誤りを含む)
  2    指定の誤り (何も書き込みません)
  3    完了したが、読み取り・作成・コピーできなかった項目がある (標準エラー出力に一覧)
  130  割り込み (SIGINT) で中断    143  SIGTERM で中断    129  SIGHUP で中断
)";

constexpr const char* kUsageEn = R"(Usage: tessarine-cli [OPTION]... [--] FOLDER

Collects every folder and file beneath FOLDER (a file stands for its folder) and
copies, compresses or lists them under a date-stamped name. Settings not given as
options come from the same set.ini as the window program. Put "--" before a
folder name that begins with "-".

Options:
  -m, --mode=MODE         copy, zip, zip-pass, lha, 7z, 7z-pass, filelist,
                          folderlist, or the mode number 0, 1, 2, 3, 4, 5, 11, 12
  -d, --dest=FOLDER       destination folder (default: the settings' destination;
                          when the settings ask at every job, --dest is required)
  -f, --filter=NAME       use the extension filter NAME
      --no-filter         use no filter
      --hidden-folders    include hidden folders (--no-hidden-folders: do not)
      --hidden-files      include hidden files (--no-hidden-files: do not)
      --stamp=long|short  date stamp: yyyymmddhhnnss or yymmdd_hhnn_ss
      --underscore        "_" between name and date (--no-underscore: none)
      --open              open the destination folder afterwards
      --verify            read the product back and check it (as the setting
                          VerifyAfterJob=1 does)
  -n, --dry-run           write nothing; print the product's path (first line)
                          and the entries it would take (following lines)
  -q, --quiet             no progress: only errors and the product's path
  -v, --verbose           each entry on standard error as it is handled
      --user-folder=FOLDER  use FOLDER instead of the user folder
  -h, --help              this text
      --version           print the version
Short options may be bundled (for example -qn).

Password modes read the password from the terminal without echo, or the first
line of standard input when that is not a terminal.

Progress and messages go to standard error; the path of the product to standard
output.

Exit status:
  0    done
  1    the job failed (a product that failed its verification included)
  2    bad usage or input (nothing is written)
  3    done, but some entries could not be read, created or copied (listed on
       standard error)
  130  interrupted (SIGINT)    143  ended by SIGTERM    129  ended by SIGHUP
)";

constexpr std::array<Entry, static_cast<size_t>(Msg::Count)> kMessages = {{
    {Msg::Usage, kUsageJa, kUsageEn},
    {Msg::Version, "tessarine-cli 版 %s", "tessarine-cli %s"},
    {Msg::NeedsValue, "%s には値が必要です", "%s needs a value"},
    {Msg::TakesNoValue, "%s には値を指定できません", "%s takes no value"},
    {Msg::UnknownMode, "不明な形式 \"%s\" です (--help を参照)", "unknown mode \"%s\" (see --help)"},
    {Msg::FilterNeedsName, "--filter にはフィルタ名が必要です", "--filter needs a filter name"},
    {Msg::StampTakes, "--stamp には long か short を指定してください", "--stamp takes long or short"},
    {Msg::UnknownOption, "不明なオプション %s です (--help を参照)", "unknown option %s (see --help)"},
    {Msg::OneFolderOnly, "フォルダは一つだけ指定できます", "only one folder can be given"},
    {Msg::NoFolder, "フォルダが指定されていません (--help を参照)", "no folder given (see --help)"},
    {Msg::UserFolderEmpty, "--user-folder にはフォルダ名が必要です", "--user-folder needs a folder name"},
    {Msg::UserFolderNotFolder, "--user-folder の %s はフォルダではありません", "--user-folder %s is not a folder"},
    {Msg::SettingsUnreadable, "設定ファイル %s を読み取れません", "cannot read the settings file %s"},
    {Msg::FolderListUnreadable, "登録フォルダの一覧 %s を読み取れません", "cannot read the registered folders in %s"},
    {Msg::NoSuchItem, "\"%s\" が見つかりません", "\"%s\" was not found"},
    {Msg::NoDestination, "保存先がありません: --dest でフォルダを指定してください (設定では毎回尋ねます)",
     "no destination: give --dest FOLDER (the settings ask for one at every job)"},
    {Msg::NoPasswordInput, "標準入力にパスワードがありません", "no password on standard input"},
    {Msg::PasswordEmpty, "パスワードが空です", "the password is empty"},
    {Msg::PasswordLineBreak, "パスワードに改行文字 (CR または LF) が含まれています",
     "the password holds a line break (CR or LF)"},
    {Msg::PasswordNul, "パスワードに NUL 文字が含まれています", "the password holds a NUL byte"},
    {Msg::PasswordTooLong, "パスワードが長すぎます (%s バイトまで)", "the password is too long (at most %s bytes)"},
    {Msg::PasswordPrompt, "パスワード: ", "Password: "},
    {Msg::NotStarted, "ジョブを開始しませんでした", "the job was not started"},
    {Msg::UnknownSettingsMode, "設定の形式 %s は不明です。--mode を指定してください",
     "the settings name an unknown mode %s; give --mode"},
    {Msg::NotCreated, "%s は作成されませんでした", "%s was not created"},
    {Msg::Interrupted, "中断しました", "interrupted"},
    {Msg::DryRunWouldMake, "作成するもの: %s", "would make %s"},
    {Msg::DryRunCounts, "フォルダ %s 個、ファイル %s 個", "%s folders, %s files"},
    {Msg::DryRunNothing, "ファイルが見つからないので、何も作成しません", "no file found: nothing would be made"},
    {Msg::CollectingFolders, "フォルダ情報取得中", "Collecting folders"},
    {Msg::CollectingFiles, "ファイル情報取得中", "Collecting files"},
    {Msg::CompressingZip, "ZIP圧縮中", "Compressing (ZIP)"},
    {Msg::CompressingSevenZip, "7-ZIP圧縮中", "Compressing (7z)"},
    {Msg::CompressingLha, "Lha圧縮中", "Compressing (LHA)"},
    {Msg::Verifying, "検証中", "Verifying"},
    {Msg::MakingFolders, "フォルダ作成中", "Creating folders"},
    {Msg::CopyingFiles, "ファイルコピー中", "Copying files"},
    {Msg::NothingFound, "ファイルが見つかりませんでした", "No file was found"},
    {Msg::ErrorCaption, "エラー", "Error"},
    {Msg::OwnProductsLeftOut,
     "保存先がコピー元の中にあるため、以前に作成したものと作業中のフォルダ %s 件を対象から外しました",
     "the destination lies inside the source: left out %s of its earlier products and working folders"},
    {Msg::AttributesNotHeld, "%s 件の項目の%sは、保存先のファイルシステムが保存できないため省きました",
     "%s entries: the destination's file system did not keep their %s"},
    {Msg::NotHeldPermissions, "アクセス権", "permissions"},
    {Msg::NotHeldOwners, "所有者", "owners"},
    {Msg::NotHeldLinkTimes, "リンクの日時", "link times"},
    {Msg::NotHeldExtendedAttributes, "拡張属性", "extended attributes"},
    {Msg::NotHeldAcls, "ACL", "ACLs"},
    {Msg::NotHeldJoin, "・", ", "},
}};

// The table is indexed by message.
static_assert([] {
    for (size_t i = 0; i < kMessages.size(); ++i)
        if (static_cast<size_t>(kMessages[i].id) != i) return false;
    return true;
}());

std::string Fill(std::string_view pattern, const std::vector<std::string>& args) {
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's') {
            if (next < args.size()) out += args[next++];
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

}  // namespace

bool LocaleIsJapanese() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return std::string_view(value).substr(0, 2) == "ja";
    }
    return false;
}

void SetJapanese(bool value) { japanese = value; }
bool Japanese() { return japanese; }

std::string Text(Msg id, const std::vector<std::string>& args) {
    const Entry& e = kMessages[static_cast<size_t>(id)];
    return Fill(japanese ? e.ja : e.en, args);
}

std::string Render(const Message& message) {
    return RenderMessage(message, japanese ? Language::kJapanese : Language::kEnglish);
}

}  // namespace tessarine::cli
