#include "console/ui/UserAdminDialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "console/ui/Artwork.h"
#include "console/ui/QtMessageBoxes.h"
#include "console/ui/UserInfoDialog.h"

namespace corvel {
namespace {

// The picture is drawn on a 32-unit grid and scaled to the requested size.
constexpr double kUserGrid = 32.0;

QIcon userAccountIcon(bool disabled) {
    QIcon icon;
    for (int size : {16, 32}) icon.addPixmap(QPixmap::fromImage(userAccountImage(disabled, size)));
    return icon;
}

}  // namespace

QImage userAccountImage(bool disabled, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);  // the list's image lists have a white background
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / kUserGrid, size / kUserGrid);
    const QColor body = disabled ? QColor(150, 150, 150) : QColor(40, 100, 190);
    p.setPen(QPen(body.darker(150), 1.2));
    p.setBrush(body);
    QPainterPath shoulders;
    shoulders.moveTo(5, 30);
    shoulders.cubicTo(5, 19, 27, 19, 27, 30);
    shoulders.closeSubpath();
    p.drawPath(shoulders);
    p.setBrush(body.lighter(125));
    p.drawEllipse(QPointF(16, 11), 7, 7);
    if (disabled) {
        p.setPen(QPen(QColor(200, 30, 30), 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(5, 5), QPointF(27, 27));
    }
    return image;
}

UserAdminDialog::UserAdminDialog(const QString& programDirectory, QWidget* parent, MessageBoxPort* boxes,
                                 UserFolderPicker* picker)
    : QDialog(parent),
      ownBoxes_(boxes ? nullptr : std::make_unique<QtMessageBoxes>(this)),
      boxes_(boxes ? *boxes : *ownBoxes_),
      ownPicker_(picker ? nullptr : std::make_unique<QtFolderPicker>(this)),
      picker_(picker ? *picker : *ownPicker_),
      editor_(programDirectory, boxes_),
      activeIcon_(userAccountIcon(false)),
      disabledIcon_(userAccountIcon(true)) {
    setWindowTitle(QStringLiteral("User Administration"));
    setWindowIcon(commandIcon(CommandPicture::Id));
    setSizeGripEnabled(true);

    auto makeButton = [this](QStyle::StandardPixmap icon, const char* text, const char* name) {
        auto* button = new QPushButton(style()->standardIcon(icon), QString::fromLatin1(text), this);
        button->setObjectName(QString::fromLatin1(name));
        button->setAutoDefault(false);
        return button;
    };
    QPushButton* createButton = makeButton(QStyle::SP_FileDialogNewFolder, "&Create", "createButton");
    QPushButton* modifyButton = makeButton(QStyle::SP_FileDialogDetailedView, "&Modify", "modifyButton");
    QPushButton* removeButton = makeButton(QStyle::SP_TrashIcon, "&Remove", "removeButton");
    QPushButton* closeButton = makeButton(QStyle::SP_DialogCloseButton, "&Close", "closeButton");
    closeButton->setDefault(true);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {createButton, modifyButton, removeButton, closeButton}) buttons->addWidget(button);
    buttons->addStretch(1);

    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("userList"));
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setAllColumnsShowFocus(true);
    list_->setHeaderLabels({QStringLiteral("Username"), QStringLiteral("Description"), QStringLiteral("Home Directory")});
    list_->setColumnWidth(0, 120);
    list_->setColumnWidth(1, 150);
    list_->setColumnWidth(2, 300);
    list_->setIconSize(QSize(16, 16));

    // The list keeps the top-left corner and takes the rest of the dialog.
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(list_, 1);
    resize(620, 360);

    connect(createButton, &QPushButton::clicked, this, &UserAdminDialog::createUser);
    connect(modifyButton, &QPushButton::clicked, this, &UserAdminDialog::modifyUser);
    connect(removeButton, &QPushButton::clicked, this, &UserAdminDialog::removeUser);
    connect(closeButton, &QPushButton::clicked, this, &UserAdminDialog::accept);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, &UserAdminDialog::modifyUser);

    editor_.load();
    showRecords(-1);
    if (editor_.isReadOnly())
        for (QPushButton* button : {createButton, modifyButton, removeButton}) button->setEnabled(false);
}

UserAdminDialog::~UserAdminDialog() = default;

void UserAdminDialog::showRecords(int selectedRow) {
    list_->clear();
    for (const UserRecord& record : editor_.records()) {
        auto* item = new QTreeWidgetItem(list_, {record.username, record.alias, record.homeDirectory});
        item->setIcon(0, record.disabled ? disabledIcon_ : activeIcon_);
    }
    if (selectedRow >= 0 && selectedRow < list_->topLevelItemCount())
        list_->setCurrentItem(list_->topLevelItem(selectedRow));
}

int UserAdminDialog::selectedRow() const {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    return selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.first());
}

void UserAdminDialog::createUser() {
    UserInfoDialog info(nullptr, this, boxes_, picker_);
    info.setObjectName(QStringLiteral("userInfoDialog"));
    if (info.exec() != QDialog::Accepted) return;
    if (editor_.create(info.form())) showRecords(static_cast<int>(editor_.records().size()) - 1);
}

void UserAdminDialog::modifyUser() {
    const int row = selectedRow();
    if (!editor_.checkModifySelection(row)) return;
    const UserRecord record = editor_.records()[static_cast<std::size_t>(row)];
    UserInfoDialog info(&record, this, boxes_, picker_);
    info.setObjectName(QStringLiteral("userInfoDialog"));
    if (info.exec() != QDialog::Accepted) return;
    if (editor_.modify(row, info.form())) showRecords(row);
}

void UserAdminDialog::removeUser() {
    const int row = selectedRow();
    if (editor_.remove(row)) showRecords(-1);
}

}  // namespace corvel
