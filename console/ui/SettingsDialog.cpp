#include "console/ui/SettingsDialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "platform/HostName.h"
#include "console/ui/Artwork.h"
#include "console/ui/QtMessageBoxes.h"

namespace corvel {
namespace {

QStringList localAddresses() {
    QStringList addresses;
    for (const std::string& address : lookUpLocalHost().addresses) addresses.append(QString::fromStdString(address));
    addresses.removeDuplicates();
    addresses.sort();
    return addresses;
}

}  // namespace

SettingsDialog::SettingsDialog(const QString& programDirectory, QWidget* parent, MessageBoxPort* boxes)
    : QDialog(parent),
      ownBoxes_(boxes ? nullptr : std::make_unique<QtMessageBoxes>(this)),
      boxes_(boxes ? *boxes : *ownBoxes_),
      editor_(programDirectory, boxes_) {
    setWindowTitle(QStringLiteral("Basic Setting"));
    setWindowIcon(commandIcon(CommandPicture::Basic));
    buildControls();
    addressCombo_->addItems(localAddresses());
    addressCombo_->setCurrentIndex(-1);

    editor_.load();
    showForm(editor_.form());
    if (editor_.isReadOnly()) {
        for (QWidget* control : {static_cast<QWidget*>(addressCombo_), static_cast<QWidget*>(bindCheck_),
                                 static_cast<QWidget*>(ftpPortEdit_), static_cast<QWidget*>(webPortEdit_),
                                 static_cast<QWidget*>(maxConnectionsEdit_), static_cast<QWidget*>(passiveCheck_),
                                 static_cast<QWidget*>(welcomeEdit_)})
            control->setEnabled(false);
    }
    applyButton_->setEnabled(false);
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::buildControls() {
    auto* bindGroup = new QGroupBox(QStringLiteral("Bind Service IP"), this);
    bindCheck_ = new QCheckBox(QStringLiteral("Bind"), bindGroup);
    bindCheck_->setObjectName(QStringLiteral("bindCheck"));
    addressCombo_ = new QComboBox(bindGroup);
    addressCombo_->setObjectName(QStringLiteral("addressCombo"));
    addressCombo_->setEditable(true);
    addressCombo_->setInsertPolicy(QComboBox::NoInsert);
    addressCombo_->setMinimumContentsLength(15);
    auto* bindLayout = new QHBoxLayout(bindGroup);
    bindLayout->addWidget(addressCombo_, 1);
    bindLayout->addWidget(bindCheck_);

    auto* portGroup = new QGroupBox(QStringLiteral("Port"), this);
    ftpPortEdit_ = new QLineEdit(portGroup);
    ftpPortEdit_->setObjectName(QStringLiteral("ftpPortEdit"));
    webPortEdit_ = new QLineEdit(portGroup);
    webPortEdit_->setObjectName(QStringLiteral("webPortEdit"));
    auto* portLayout = new QGridLayout(portGroup);
    portLayout->addWidget(new QLabel(QStringLiteral("Ftp Service:"), portGroup), 0, 0);
    portLayout->addWidget(ftpPortEdit_, 0, 1);
    portLayout->addWidget(new QLabel(QStringLiteral("Web Service:"), portGroup), 1, 0);
    portLayout->addWidget(webPortEdit_, 1, 1);

    // An edit with an up-down pair rather than a spin box: the text is stored as typed
    // and may be empty, which a spin box cannot show.
    maxConnectionsEdit_ = new QLineEdit(this);
    maxConnectionsEdit_->setObjectName(QStringLiteral("maxConnectionsEdit"));
    maxConnectionsEdit_->installEventFilter(this);
    auto* upButton = new QToolButton(this);
    upButton->setObjectName(QStringLiteral("maxConnectionsUp"));
    upButton->setArrowType(Qt::UpArrow);
    upButton->setAutoRepeat(true);
    auto* downButton = new QToolButton(this);
    downButton->setObjectName(QStringLiteral("maxConnectionsDown"));
    downButton->setArrowType(Qt::DownArrow);
    downButton->setAutoRepeat(true);
    auto* limitLayout = new QHBoxLayout;
    limitLayout->addWidget(new QLabel(QStringLiteral("Max Paiallel Connection:"), this));
    limitLayout->addWidget(maxConnectionsEdit_, 1);
    limitLayout->setSpacing(2);
    limitLayout->addWidget(upButton);
    limitLayout->addWidget(downButton);

    passiveCheck_ = new QCheckBox(QStringLiteral("PASV Mode"), this);
    passiveCheck_->setObjectName(QStringLiteral("passiveCheck"));

    auto* welcomeGroup = new QGroupBox(QStringLiteral("Welcome Message"), this);
    welcomeEdit_ = new QPlainTextEdit(welcomeGroup);
    welcomeEdit_->setObjectName(QStringLiteral("welcomeEdit"));
    welcomeEdit_->setTabChangesFocus(true);
    auto* welcomeLayout = new QVBoxLayout(welcomeGroup);
    welcomeLayout->addWidget(welcomeEdit_);

    okButton_ = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("&OK"), this);
    okButton_->setObjectName(QStringLiteral("okButton"));
    okButton_->setDefault(true);
    applyButton_ = new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton), QStringLiteral("&Apply"), this);
    applyButton_->setObjectName(QStringLiteral("applyButton"));
    cancelButton_ = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("&Cancel"), this);
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okButton_);
    buttons->addWidget(applyButton_);
    buttons->addWidget(cancelButton_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(bindGroup);
    layout->addWidget(portGroup);
    layout->addLayout(limitLayout);
    layout->addWidget(passiveCheck_);
    layout->addWidget(welcomeGroup, 1);
    layout->addLayout(buttons);

    connect(addressCombo_, &QComboBox::currentIndexChanged, this, [this] { onChanged(); });
    connect(addressCombo_, &QComboBox::editTextChanged, this, [this] { onChanged(); });
    connect(bindCheck_, &QCheckBox::toggled, this, [this](bool checked) {
        addressCombo_->setEnabled(checked);
        onChanged();
    });
    for (QLineEdit* edit : {ftpPortEdit_, webPortEdit_, maxConnectionsEdit_})
        connect(edit, &QLineEdit::textChanged, this, [this] { onChanged(); });
    connect(welcomeEdit_, &QPlainTextEdit::textChanged, this, [this] { onChanged(); });
    connect(passiveCheck_, &QCheckBox::clicked, this, [this] { onChanged(); });
    connect(upButton, &QToolButton::clicked, this, [this] { stepConnectionLimit(+1); });
    connect(downButton, &QToolButton::clicked, this, [this] { stepConnectionLimit(-1); });
    connect(okButton_, &QPushButton::clicked, this, &SettingsDialog::onOk);
    connect(applyButton_, &QPushButton::clicked, this, &SettingsDialog::onApply);
    connect(cancelButton_, &QPushButton::clicked, this, &SettingsDialog::reject);
}

void SettingsDialog::showForm(const SettingsForm& form) {
    showing_ = true;
    addressCombo_->setEditText(form.listenAddress);
    bindCheck_->setChecked(form.bind);
    addressCombo_->setEnabled(form.bind);
    ftpPortEdit_->setText(form.ftpPort);
    webPortEdit_->setText(form.webPort);
    maxConnectionsEdit_->setText(form.maxConnections);
    passiveCheck_->setChecked(form.passiveMode);
    welcomeEdit_->setPlainText(form.welcomeMessage);
    showing_ = false;
}

SettingsForm SettingsDialog::readForm() const {
    SettingsForm form;
    form.listenAddress = addressCombo_->currentText();
    form.bind = bindCheck_->isChecked();
    form.ftpPort = ftpPortEdit_->text();
    form.webPort = webPortEdit_->text();
    form.maxConnections = maxConnectionsEdit_->text();
    form.passiveMode = passiveCheck_->isChecked();
    form.welcomeMessage = welcomeEdit_->toPlainText();
    return form;
}

void SettingsDialog::onChanged() {
    if (showing_) return;
    editor_.change(readForm());
    applyButton_->setEnabled(true);
}

void SettingsDialog::stepConnectionLimit(int delta) {
    if (!maxConnectionsEdit_->isEnabled()) return;
    maxConnectionsEdit_->setText(corvel::stepConnectionLimit(maxConnectionsEdit_->text(), delta));
}

bool SettingsDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == maxConnectionsEdit_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            stepConnectionLimit(key == Qt::Key_Up ? +1 : -1);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void SettingsDialog::finish(const SettingsStep& step, int result) {
    applyButton_->setEnabled(editor_.isModified());
    if (step.restartServer) emit restartServerRequested();
    if (step.close) done(result);
}

void SettingsDialog::onOk() { finish(editor_.ok(), QDialog::Accepted); }

void SettingsDialog::onApply() { finish(editor_.apply(), QDialog::Accepted); }

void SettingsDialog::reject() { finish(editor_.cancel(), QDialog::Rejected); }

}  // namespace corvel
