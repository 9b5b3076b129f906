#pragma once
// TDialogPrompts over the program's own name entry and folder selection
// dialogs. A template over the two dialog classes, so that this folder's
// dialogs build and test without them; the program instantiates it as
// TFormPrompts<TForm5, TForm6>.
#include <QLineEdit>
#include <functional>

#include "dialogkit/DialogSupport.h"

namespace tessarine {

template <class NameEntryForm, class FolderForm>
class TFormPrompts : public TStandardPrompts {
public:
    // The folder browser routine: puts the folder selected last into the
    // field it is given.
    using BrowseRoutine = std::function<void(QWidget* owner, QLineEdit* field)>;

    TFormPrompts(NameEntryForm& nameEntry, FolderForm& folderSelection, BrowseRoutine browse)
        : nameEntry_(nameEntry), folderSelection_(folderSelection), browse_(std::move(browse)) {}

    std::optional<std::string> EnterName(const NameEntryUse& use, const std::string& initial) override {
        nameEntry_.SetTexts(QString::fromUtf8(use.Caption), QString::fromUtf8(use.Header),
                            QString::fromUtf8(use.Prompt));
        nameEntry_.Edit1->setText(ToQString(initial));
        nameEntry_.Accepted = false;
        nameEntry_.exec();
        if (!nameEntry_.Accepted) return std::nullopt;
        return nameEntry_.EnteredText;
    }

    std::optional<std::string> SelectFolder() override {
        folderSelection_.Edit1->clear();
        folderSelection_.Accepted = false;
        folderSelection_.exec();
        if (!folderSelection_.Accepted) return std::nullopt;
        return folderSelection_.ChosenFolder;
    }

    std::string BrowseFolder(QWidget* owner) override {
        QLineEdit field;
        browse_(owner, &field);
        return ToStdString(field.text());
    }

private:
    NameEntryForm& nameEntry_;
    FolderForm& folderSelection_;
    BrowseRoutine browse_;
};

}  // namespace tessarine
