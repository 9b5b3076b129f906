#include "launch/ProgressDisplay.h"

namespace tessarine {

namespace {

std::string Ja(MessageId id, std::vector<std::string> args = {}) {
    return RenderMessage(MakeMessage(id, std::move(args)));
}

}  // namespace

std::string ErrorCaption() { return Ja(MessageId::kErrorCaption); }
std::string WarningCaption() { return Ja(MessageId::kWarningCaption); }

std::string ProblemsWarningText(const std::vector<Problem>& problems) {
    if (problems.empty()) return {};
    const Problem& first = problems.front();
    return RenderMessage(
        Because(MessageId::kProblemsSummary, first.reason, {std::to_string(problems.size()), first.path}));
}

std::string AttributesNotHeldText(size_t count, unsigned kinds) {
    static const std::pair<NotHeldKind, MessageId> kNames[] = {
        {kNotHeldPermissions, MessageId::kNotHeldPermissions},
        {kNotHeldOwners, MessageId::kNotHeldOwners},
        {kNotHeldLinkTimes, MessageId::kNotHeldLinkTimes},
        {kNotHeldExtendedAttributes, MessageId::kNotHeldExtendedAttributes},
        {kNotHeldAcls, MessageId::kNotHeldAcls},
    };
    std::string names;
    for (const auto& [kind, name] : kNames) {
        if (!(kinds & kind)) continue;
        if (!names.empty()) names += Ja(MessageId::kNotHeldJoin);
        names += Ja(name);
    }
    return Ja(MessageId::kAttributesNotHeld, {std::to_string(count), names});
}

std::string OwnProductsLeftOutText(size_t count) { return Ja(MessageId::kOwnProductsLeftOut, {std::to_string(count)}); }

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
        case JobPhase::CollectingFolders:
            PublishText(Ja(MessageId::kPhaseCollectingFolders), Ja(MessageId::kPleaseWait));
            break;
        case JobPhase::CollectingFiles:
            PublishText(Ja(MessageId::kPhaseCollectingFiles), Ja(MessageId::kPleaseWait));
            break;
        case JobPhase::CompressingZip:
            PublishText(Ja(MessageId::kPhaseCompressingZip), Ja(MessageId::kPleaseWait));
            break;
        case JobPhase::CompressingSevenZip:
            PublishText(Ja(MessageId::kPhaseCompressingSevenZip), Ja(MessageId::kPleaseWait));
            break;
        case JobPhase::CompressingLha:
            PublishText(Ja(MessageId::kPhaseCompressingLha), Ja(MessageId::kPleaseWait));
            break;
        case JobPhase::Verifying: PublishText(Ja(MessageId::kPhaseVerifying), Ja(MessageId::kPleaseWait)); break;
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
    PublishAll(progress_.ProgressMax, progress_.ProgressPos + 1, Ja(MessageId::kPhaseMakingFolders),
               std::to_string(index) + "/" + std::to_string(count));
}

void DisplayJobHost::CopyingFile(int32_t index, int32_t count) {
    PublishAll(progress_.ProgressMax, progress_.ProgressPos + 1, Ja(MessageId::kPhaseCopyingFiles),
               std::to_string(index) + "/" + std::to_string(count));
}

void DisplayJobHost::CopyDone() { PublishAll(3, 0, {}, {}); }

void DisplayJobHost::NothingFound() {
    PublishPos(3);
    PublishText("", Ja(MessageId::kNothingFound));
}

void DisplayJobHost::WorkDone() { PublishPos(3); }

void DisplayJobHost::ArchiverReport(const std::string& library, const std::string& report) {
    ShowMessage(library, report);
}

void DisplayJobHost::JobFailed(const Message& message) { ShowMessage(ErrorCaption(), RenderMessage(message)); }

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
    ShowMessage(WarningCaption(), ProblemsWarningText(outcome.problems) + notes);
}

}  // namespace tessarine
