#pragma once
// The filter selection dialog: picks a filter name for a registered folder.
#include <QDialog>
#include <string>

class QComboBox;
class QLabel;
class QPushButton;

namespace tessarine {

class TForm7 : public QDialog {
    Q_OBJECT
public:
    explicit TForm7(QWidget* parent = nullptr);

    // The folder of the filter files.
    std::string DataFolder;

    // Refills the list: an empty first entry (no filter), then every
    // filter name; when no filter file exists the entries stay as they
    // were. Nothing is selected afterwards.
    void ListFilters();

    QLabel* Label1;  // header "フィルタ選択"
    QLabel* Label2;  // prompt "フィルタ選択"
    QComboBox* ComboBox1;
    QPushButton* Button1;  // "決定"
    QPushButton* Button2;  // "キャンセル"

    // Set only by "決定"; the caller clears it before each showing.
    bool Accepted = false;
    // The chosen name, empty for no filter; kept between showings.
    std::string ChosenFilter;

protected:
    void keyPressEvent(QKeyEvent* event) override;

public slots:
    void Button1Click();
    void Button2Click();
};

}  // namespace tessarine
