// The "Policy" dialog: edits the reject or permit address list of ftpaccess.xml and
// asks the running server to reload it after saving.
#pragma once

#include <QDialog>
#include <QString>

#include <memory>

#include "console/logic/PolicyEditor.h"

class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace corvel {

class PolicyDialog : public QDialog {
    Q_OBJECT
public:
    // programDirectory ends with '/'; the XML files live there. boxes answers the
    // message boxes (nullptr: real ones over this dialog). Loads the file at once.
    PolicyDialog(const QString& programDirectory, QWidget* parent, MessageBoxPort* boxes = nullptr);
    ~PolicyDialog() override;

    const PolicyEditor& editor() const { return editor_; }

public slots:
    void reject() override;  // Cancel, Escape and the close box

private:
    void showEntries();
    void afterChange();
    void appendEntry();
    void removeEntry();
    void finish(const PolicyStep& step, int result);

    std::unique_ptr<MessageBoxPort> ownBoxes_;
    MessageBoxPort& boxes_;
    PolicyEditor editor_;
    QRadioButton* rejectRadio_ = nullptr;
    QRadioButton* permitRadio_ = nullptr;
    QLineEdit* addressEdit_ = nullptr;
    QListWidget* list_ = nullptr;
    QPushButton* applyButton_ = nullptr;
};

}  // namespace corvel
