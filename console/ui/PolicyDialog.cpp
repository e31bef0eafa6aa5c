#include "console/ui/PolicyDialog.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

#include "console/ui/Artwork.h"
#include "console/ui/QtMessageBoxes.h"

namespace corvel {

PolicyDialog::PolicyDialog(const QString& programDirectory, QWidget* parent, MessageBoxPort* boxes)
    : QDialog(parent),
      ownBoxes_(boxes ? nullptr : std::make_unique<QtMessageBoxes>(this)),
      boxes_(boxes ? *boxes : *ownBoxes_),
      editor_(programDirectory, boxes_) {
    setWindowTitle(QStringLiteral("Policy"));
    setWindowIcon(commandIcon(CommandPicture::Policy));

    rejectRadio_ = new QRadioButton(QStringLiteral("Reject"), this);
    rejectRadio_->setObjectName(QStringLiteral("rejectRadio"));
    permitRadio_ = new QRadioButton(QStringLiteral("Permit"), this);
    permitRadio_->setObjectName(QStringLiteral("permitRadio"));
    auto* typeRow = new QHBoxLayout;
    typeRow->addWidget(rejectRadio_);
    typeRow->addWidget(permitRadio_);
    typeRow->addStretch(1);

    addressEdit_ = new QLineEdit(this);
    addressEdit_->setObjectName(QStringLiteral("addressEdit"));
    auto makeButton = [this](QStyle::StandardPixmap icon, const char* text, const char* name) {
        auto* button = new QPushButton(style()->standardIcon(icon), QString::fromLatin1(text), this);
        button->setObjectName(QString::fromLatin1(name));
        button->setAutoDefault(false);
        return button;
    };
    QPushButton* appendButton = makeButton(QStyle::SP_ArrowDown, "A&ppend", "appendButton");
    auto* appendRow = new QHBoxLayout;
    appendRow->addWidget(addressEdit_, 1);
    appendRow->addWidget(appendButton);

    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("addressList"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSortingEnabled(false);
    QPushButton* removeButton = makeButton(QStyle::SP_TrashIcon, "&Remove", "removeButton");
    auto* removeRow = new QHBoxLayout;
    removeRow->addStretch(1);
    removeRow->addWidget(removeButton);

    QPushButton* okButton = makeButton(QStyle::SP_DialogOkButton, "&Ok", "okButton");
    okButton->setDefault(true);
    applyButton_ = makeButton(QStyle::SP_DialogApplyButton, "&Apply", "applyButton");
    QPushButton* cancelButton = makeButton(QStyle::SP_DialogCancelButton, "&Cancel", "cancelButton");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* button : {okButton, applyButton_, cancelButton}) buttons->addWidget(button);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(typeRow);
    layout->addLayout(appendRow);
    layout->addWidget(list_, 1);
    layout->addLayout(removeRow);
    layout->addLayout(buttons);
    resize(340, 360);

    connect(rejectRadio_, &QRadioButton::clicked, this, [this] {
        editor_.setType(PolicyType::Reject);
        afterChange();
    });
    connect(permitRadio_, &QRadioButton::clicked, this, [this] {
        editor_.setType(PolicyType::Permit);
        afterChange();
    });
    connect(appendButton, &QPushButton::clicked, this, &PolicyDialog::appendEntry);
    connect(addressEdit_, &QLineEdit::returnPressed, this, &PolicyDialog::appendEntry);
    connect(removeButton, &QPushButton::clicked, this, &PolicyDialog::removeEntry);
    connect(okButton, &QPushButton::clicked, this, [this] { finish(editor_.ok(), QDialog::Accepted); });
    connect(applyButton_, &QPushButton::clicked, this, [this] { finish(editor_.apply(), QDialog::Accepted); });
    connect(cancelButton, &QPushButton::clicked, this, &PolicyDialog::reject);

    editor_.load();
    // Neither radio is checked for a new file, which a group with exclusive
    // checking cannot show; the two buttons are kept exclusive by hand instead.
    rejectRadio_->setAutoExclusive(false);
    permitRadio_->setAutoExclusive(false);
    rejectRadio_->setChecked(editor_.type() == PolicyType::Reject);
    permitRadio_->setChecked(editor_.type() == PolicyType::Permit);
    connect(rejectRadio_, &QRadioButton::clicked, this, [this] {
        rejectRadio_->setChecked(true);
        permitRadio_->setChecked(false);
    });
    connect(permitRadio_, &QRadioButton::clicked, this, [this] {
        permitRadio_->setChecked(true);
        rejectRadio_->setChecked(false);
    });
    showEntries();
    if (editor_.isReadOnly()) {
        for (QWidget* control : std::initializer_list<QWidget*>{rejectRadio_, permitRadio_, addressEdit_, appendButton,
                                                                list_, removeButton})
            control->setEnabled(false);
    }
    applyButton_->setEnabled(false);
}

PolicyDialog::~PolicyDialog() = default;

void PolicyDialog::showEntries() {
    list_->clear();
    list_->addItems(editor_.entries());
}

void PolicyDialog::afterChange() { applyButton_->setEnabled(editor_.isModified()); }

void PolicyDialog::appendEntry() {
    if (!editor_.append(addressEdit_->text())) return;
    list_->addItem(editor_.entries().last());
    addressEdit_->clear();
    afterChange();
}

void PolicyDialog::removeEntry() {
    const int row = list_->selectedItems().isEmpty() ? -1 : list_->row(list_->selectedItems().first());
    if (!editor_.removeAt(row)) return;
    showEntries();
    afterChange();
}

void PolicyDialog::finish(const PolicyStep& step, int result) {
    afterChange();
    if (step.close) done(result);
}

void PolicyDialog::reject() { finish(editor_.cancel(), QDialog::Rejected); }

}  // namespace corvel
