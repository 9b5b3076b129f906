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

// Texts of the job engine and the launch rules; "%s" stands for any text.
const Entry kEngineTexts[] = {
    {Msg::Count, "%s は他のユーザーのものなので使えません", "%s belongs to another user and is not used"},
    {Msg::Count, "%s はシンボリックリンクなので使えません", "%s is a symbolic link and is not used"},
    {Msg::Count, "%s は他のユーザーも書き込めるので使えません", "%s can be written by other users and is not used"},
    {Msg::Count, "フォルダ情報取得中", "Collecting folders"},
    {Msg::Count, "ファイル情報取得中", "Collecting files"},
    {Msg::Count, "しばらくお待ちください", "please wait"},
    {Msg::Count, "ZIP圧縮中", "Compressing (ZIP)"},
    {Msg::Count, "7-ZIP圧縮中", "Compressing (7z)"},
    {Msg::Count, "Lha圧縮中", "Compressing (LHA)"},
    {Msg::Count, "フォルダ作成中", "Creating folders"},
    {Msg::Count, "ファイルコピー中", "Copying files"},
    {Msg::Count, "検証中", "Verifying"},
    {Msg::Count, "ファイルが見つかりませんでした", "No file was found"},
    {Msg::Count, "エラー", "Error"},
    {Msg::Count, "警告", "Warning"},
    {Msg::Count, "保存先フォルダが見つかりません", "the destination folder was not found"},
    {Msg::Count, "拡張子フィルタが見つかりません", "the extension filter was not found"},
    {Msg::Count, "対象フォルダが指定されていません", "no source folder was given"},
    {Msg::Count, "対象フォルダ %s が見つかりません", "the source folder %s was not found"},
    {Msg::Count, "ファイル %s は開けません", "the file %s cannot be opened"},
    {Msg::Count, "ファイル %s を作成できません", "the file %s cannot be created"},
    {Msg::Count, "%s に書き込めません", "cannot write to %s"},
    {Msg::Count, "検証に失敗しました: %s", "verification failed: %s"},
    {Msg::Count, "保存先 %s に作業用フォルダを作成できません: %s",
     "cannot make a working folder in the destination %s: %s"},
    {Msg::Count, "作成したもの %s を最終的な名前にできません: %s", "cannot give the product %s its final name: %s"},
    {Msg::Count,
     "保存先 %s のファイルシステムは名前を変えたフォルダの中身を失うため、コピーを作成できません（何も残していません）",
     "the file system of the destination %s loses the content of a folder that is renamed, so no copy was made "
     "(nothing was left there)"},
    {Msg::Count, "名前付きパイプ", "named pipe"},
    {Msg::Count, "デバイス", "device"},
    {Msg::Count, "ソケット", "socket"},
    {Msg::Count, "メモリー不足", "out of memory"},
    {Msg::Count, "読む間に別のものに替わりました", "replaced by something else while it was read"},
    {Msg::Count, "リンクの名前に「|」があり、LHA のリンクとして書けません",
     "the link's name holds \"|\", which an LHA link cannot carry"},
    {Msg::Count, "リンク先が空です", "the link's target is empty"},
    {Msg::Count, "リンクの名前かリンク先に、LHA がフォルダーの区切りに使うバイト 0xFF があります",
     "the link's name or target holds the byte 0xFF, which LHA uses to separate folders"},
    {Msg::Count, "リンクの名前かリンク先が UTF-8 でなく、読む側によってリンク先が変わります",
     "the link's name or target is not UTF-8, so readers would take it to point elsewhere"},
    {Msg::Count, "%s 件の項目を読み取り、作成またはコピーできませんでした。\n最初の項目: %s\n理由: %s",
     "%s entries could not be read, created or copied.\nFirst: %s\nReason: %s"},
    {Msg::Count, "保存先に書き込めなくなったため、ジョブを中止しました (%s): %s",
     "the job was stopped: the destination could not be written any more (%s): %s"},
    {Msg::Count, "メモリーが足りなくなったため、ジョブを中止しました", "the job was stopped: it ran out of memory"},
    {Msg::Count, "保存先の空き容量が足りません (必要 %s バイト、空き %s バイト): %s",
     "not enough free space on the destination (needed %s bytes, free %s bytes): %s"},
    {Msg::Count, "保存先では %s と同じ名前になるため省きました",
     "left out: on the destination its name is the same as that of %s"},
    {Msg::Count, "保存先では先に作成した項目と同じ名前になるため省きました",
     "left out: on the destination its name is the same as that of an entry made before"},
    {Msg::Count, "フォルダ %s を省いたため、その中のこの項目も省きました", "left out with the folder %s that holds it"},
    {Msg::Count, "保存先のファイルシステム (%s) ではこの名前を使えないため省きました",
     "left out: the destination's file system (%s) cannot hold this name"},
    {Msg::Count, "保存先のファイルシステム (%s) は 4 GiB 以上のファイルを保存できないため省きました",
     "left out: the destination's file system (%s) cannot hold a file of 4 GiB or more"},
    {Msg::Count, "LHA 書庫には 4 GiB 以上のファイルを格納できないため省きました",
     "left out: an LHA archive cannot hold a file of 4 GiB or more"},
};

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

// The texts that stand for the "%s" of the pattern, when the text has its
// form; each "%s" but the last takes the shortest text that lets the next
// fixed piece follow.
bool Match(std::string_view text, std::string_view pattern, std::vector<std::string>& args) {
    args.clear();
    size_t t = 0, p = 0;
    while (true) {
        const size_t hole = pattern.find("%s", p);
        const std::string_view piece = pattern.substr(p, hole == std::string_view::npos ? hole : hole - p);
        if (text.compare(t, piece.size(), piece) != 0) return false;
        t += piece.size();
        if (hole == std::string_view::npos) return t == text.size();
        p = hole + 2;
        const size_t nextHole = pattern.find("%s", p);
        const std::string_view following =
            pattern.substr(p, nextHole == std::string_view::npos ? nextHole : nextHole - p);
        if (nextHole == std::string_view::npos) {
            // The last hole: the rest but the closing piece.
            if (text.size() < t + following.size()) return false;
            const size_t end = text.size() - following.size();
            args.emplace_back(text.substr(t, end - t));
            t = end;
        } else {
            const size_t at = following.empty() ? t : text.find(following, t);
            if (at == std::string_view::npos) return false;
            args.emplace_back(text.substr(t, at - t));
            t = at;
        }
    }
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

std::string FromEngine(std::string_view text) {
    if (japanese) return std::string(text);
    std::vector<std::string> args;
    for (const auto& e : kEngineTexts) {
        if (Match(text, e.ja, args)) {
            for (auto& a : args) a = FromEngine(a);
            return Fill(e.en, args);
        }
    }
    return std::string(text);
}

}  // namespace tessarine::cli
