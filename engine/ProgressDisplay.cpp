#include "engine/ProgressDisplay.h"

namespace tessarine {

namespace {
const char* const kPleaseWait = "しばらくお待ちください";
}  // namespace

std::string ProblemsWarningText(const std::vector<Problem>& problems) {
    if (problems.empty()) return {};
    const Problem& first = problems.front();
    return std::to_string(problems.size()) + " 件の項目を読み取り、作成またはコピーできませんでした。\n" +
           "最初の項目: " + first.path + "\n理由: " + first.reason;
}

std::string AttributesNotHeldText(size_t count, unsigned kinds) {
    static const std::pair<NotHeldKind, const char*> kNames[] = {
        {kNotHeldPermissions, "アクセス権"},      {kNotHeldOwners, "所有者"}, {kNotHeldLinkTimes, "リンクの日時"},
        {kNotHeldExtendedAttributes, "拡張属性"}, {kNotHeldAcls, "ACL"},
    };
    std::string names;
    for (const auto& [kind, name] : kNames) {
        if (!(kinds & kind)) continue;
        if (!names.empty()) names += "・";
        names += name;
    }
    return std::to_string(count) + " 件の項目の" + names + "は、保存先のファイルシステムが保存できないため省きました。";
}

std::string OwnProductsLeftOutText(size_t count) {
    return "保存先がコピー元の中にあるため、以前に作成したものと作業中のフォルダ " + std::to_string(count) +
           " 件を対象から外しました。";
}

void DisplayJobHost::PublishText(const std::string& status, const std::string& detail) {
    progress_.StatusText = status;
    progress_.DetailText = detail;
    ShowProgressText(progress_);
}

void DisplayJobHost::PublishPos(int32_t pos) {
    progress_.ProgressPos = pos;
    ShowProgressPos(progress_);
}

void DisplayJobHost::PublishAll(int32_t max, int32_t pos, const std::string& status, const std::string& detail) {
    progress_ = JobProgress{max, pos, status, detail};
    ShowProgressAll(progress_);
}

void DisplayJobHost::JobStarted() { PublishAll(3, 0, {}, {}); }

void DisplayJobHost::PhaseStarted(JobPhase phase) {
    switch (phase) {
        case JobPhase::CollectingFolders: PublishText("フォルダ情報取得中", kPleaseWait); break;
        case JobPhase::CollectingFiles: PublishText("ファイル情報取得中", kPleaseWait); break;
        case JobPhase::CompressingZip: PublishText("ZIP圧縮中", kPleaseWait); break;
        case JobPhase::CompressingSevenZip: PublishText("7-ZIP圧縮中", kPleaseWait); break;
        case JobPhase::CompressingLha: PublishText("Lha圧縮中", kPleaseWait); break;
        case JobPhase::Verifying: PublishText("検証中", kPleaseWait); break;
    }
}

void DisplayJobHost::PhaseDone(JobPhase phase) {
    // The first two thirds of the bar stand for the two collection steps.
    if (phase == JobPhase::CollectingFolders) PublishPos(1);
    if (phase == JobPhase::CollectingFiles) PublishPos(2);
}

void DisplayJobHost::CopyStarted(int32_t folders, int32_t files) {
    const int32_t steps = folders + files;
    PublishAll(3 * steps, 2 * steps, {}, {});
}

void DisplayJobHost::MakingFolder(int32_t index, int32_t count) {
    PublishAll(progress_.ProgressMax, progress_.ProgressPos + 1, "フォルダ作成中",
               std::to_string(index) + "/" + std::to_string(count));
}

void DisplayJobHost::CopyingFile(int32_t index, int32_t count) {
    PublishAll(progress_.ProgressMax, progress_.ProgressPos + 1, "ファイルコピー中",
               std::to_string(index) + "/" + std::to_string(count));
}

void DisplayJobHost::CopyDone() { PublishAll(3, 0, {}, {}); }

void DisplayJobHost::NothingFound() {
    PublishPos(3);
    PublishText("", "ファイルが見つかりませんでした");
}

void DisplayJobHost::WorkDone() { PublishPos(3); }

void DisplayJobHost::ArchiverReport(const std::string& library, const std::string& report) {
    ShowMessage(library, report);
}

void DisplayJobHost::JobFailed(const std::string& message) { ShowMessage(kErrorCaption, message); }

void DisplayJobHost::JobEnded(const JobOutcome& outcome) {
    // What the destination did not keep and what the collection left out
    // of its own: lines of their own, never problems.
    std::string notes;
    if (outcome.attributesNotHeld > 0 && outcome.notHeldKinds != 0)
        notes += "\n" + AttributesNotHeldText(outcome.attributesNotHeld, outcome.notHeldKinds);
    if (outcome.ownProductsLeftOut > 0) notes += "\n" + OwnProductsLeftOutText(outcome.ownProductsLeftOut);
    if (outcome.problems.empty()) {
        // A job that lacks nothing says so in the view, without a box to close.
        if (!notes.empty() && outcome.result != JobResult::Failed) PublishText("", notes.substr(1));
        return;
    }
    ShowMessage(kWarningCaption, ProblemsWarningText(outcome.problems) + notes);
}

}  // namespace tessarine
