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
#include <QTabWidget>
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
        encryptionTab_->setEnabled(false);
        networkTab_->setEnabled(false);
    }
    applyButton_->setEnabled(false);
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::buildControls() {
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("settingsTabs"));
    tabs_->addTab(buildGeneralTab(), QStringLiteral("General"));
    encryptionTab_ = buildEncryptionTab();
    tabs_->addTab(encryptionTab_, QStringLiteral("Encryption"));
    networkTab_ = buildNetworkTab();
    tabs_->addTab(networkTab_, QStringLiteral("Network"));

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
    layout->addWidget(tabs_, 1);
    layout->addLayout(buttons);

    connect(okButton_, &QPushButton::clicked, this, &SettingsDialog::onOk);
    connect(applyButton_, &QPushButton::clicked, this, &SettingsDialog::onApply);
    connect(cancelButton_, &QPushButton::clicked, this, &SettingsDialog::reject);
}

QWidget* SettingsDialog::buildGeneralTab() {
    auto* page = new QWidget(this);
    auto* bindGroup = new QGroupBox(QStringLiteral("Bind Service IP"), page);
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

    auto* portGroup = new QGroupBox(QStringLiteral("Port"), page);
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
    maxConnectionsEdit_ = new QLineEdit(page);
    maxConnectionsEdit_->setObjectName(QStringLiteral("maxConnectionsEdit"));
    maxConnectionsEdit_->installEventFilter(this);
    auto* upButton = new QToolButton(page);
    upButton->setObjectName(QStringLiteral("maxConnectionsUp"));
    upButton->setArrowType(Qt::UpArrow);
    upButton->setAutoRepeat(true);
    auto* downButton = new QToolButton(page);
    downButton->setObjectName(QStringLiteral("maxConnectionsDown"));
    downButton->setArrowType(Qt::DownArrow);
    downButton->setAutoRepeat(true);
    auto* limitLayout = new QHBoxLayout;
    limitLayout->addWidget(new QLabel(QStringLiteral("Max Paiallel Connection:"), page));
    limitLayout->addWidget(maxConnectionsEdit_, 1);
    limitLayout->setSpacing(2);
    limitLayout->addWidget(upButton);
    limitLayout->addWidget(downButton);

    passiveCheck_ = new QCheckBox(QStringLiteral("PASV Mode"), page);
    passiveCheck_->setObjectName(QStringLiteral("passiveCheck"));

    auto* welcomeGroup = new QGroupBox(QStringLiteral("Welcome Message"), page);
    welcomeEdit_ = new QPlainTextEdit(welcomeGroup);
    welcomeEdit_->setObjectName(QStringLiteral("welcomeEdit"));
    welcomeEdit_->setTabChangesFocus(true);
    auto* welcomeLayout = new QVBoxLayout(welcomeGroup);
    welcomeLayout->addWidget(welcomeEdit_);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(bindGroup);
    layout->addWidget(portGroup);
    layout->addLayout(limitLayout);
    layout->addWidget(passiveCheck_);
    layout->addWidget(welcomeGroup, 1);

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
    return page;
}

QLineEdit* SettingsDialog::addExtensionEdit(QGridLayout* grid, const char* element, const char* objectName) {
    auto* edit = new QLineEdit(grid->parentWidget());
    edit->setObjectName(QString::fromLatin1(objectName));
    const int row = grid->rowCount();
    grid->addWidget(new QLabel(extensionFieldLabel(element) + QStringLiteral(":"), grid->parentWidget()), row, 0);
    grid->addWidget(edit, row, 1);
    connect(edit, &QLineEdit::textChanged, this, [this] { onChanged(); });
    return edit;
}

QCheckBox* SettingsDialog::addExtensionCheck(QGridLayout* grid, const char* element, const char* objectName) {
    auto* check = new QCheckBox(extensionFieldLabel(element), grid->parentWidget());
    check->setObjectName(QString::fromLatin1(objectName));
    grid->addWidget(check, grid->rowCount(), 0, 1, 2);
    connect(check, &QCheckBox::clicked, this, [this] { onChanged(); });
    return check;
}

QWidget* SettingsDialog::buildEncryptionTab() {
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);
    tlsModeCombo_ = new QComboBox(page);
    tlsModeCombo_->setObjectName(QStringLiteral("tlsModeCombo"));
    tlsModeCombo_->addItems({QStringLiteral("off"), QStringLiteral("explicit"), QStringLiteral("required")});
    grid->addWidget(new QLabel(extensionFieldLabel("tls") + QStringLiteral(":"), page), 0, 0);
    grid->addWidget(tlsModeCombo_, 0, 1);
    connect(tlsModeCombo_, &QComboBox::currentIndexChanged, this, [this] { onChanged(); });
    // Empty: the files the server makes beside itself on its first start with TLS on.
    certificateFileEdit_ = addExtensionEdit(grid, "tlscert", "certificateFileEdit");
    certificateFileEdit_->setPlaceholderText(QStringLiteral("corveld-cert.pem"));
    keyFileEdit_ = addExtensionEdit(grid, "tlskey", "keyFileEdit");
    keyFileEdit_->setPlaceholderText(QStringLiteral("corveld-key.pem"));
    webTlsCheck_ = addExtensionCheck(grid, "webtls", "webTlsCheck");
    tlsReuseCheck_ = addExtensionCheck(grid, "tlsreuse", "tlsReuseCheck");
    certificateLine_ = new QLineEdit(page);
    certificateLine_->setObjectName(QStringLiteral("certificateLine"));
    certificateLine_->setReadOnly(true);
    const int row = grid->rowCount();
    grid->addWidget(new QLabel(QStringLiteral("Certificate SHA-256:"), page), row, 0);
    grid->addWidget(certificateLine_, row, 1);
    grid->setRowStretch(row + 1, 1);
    return page;
}

QWidget* SettingsDialog::buildNetworkTab() {
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);
    passivePortsEdit_ = addExtensionEdit(grid, "pasvports", "passivePortsEdit");
    passivePortsEdit_->setPlaceholderText(QStringLiteral("any free port, or such as 50000-50099"));
    passiveAddressEdit_ = addExtensionEdit(grid, "pasvaddress", "passiveAddressEdit");
    passiveAddressEdit_->setPlaceholderText(QStringLiteral("the address the client connected to"));
    ftpExtensionsCheck_ = addExtensionCheck(grid, "ftpext", "ftpExtensionsCheck");
    banFailuresEdit_ = addExtensionEdit(grid, "banfailures", "banFailuresEdit");
    banFailuresEdit_->setPlaceholderText(QStringLiteral("0 (no bans)"));
    banWindowEdit_ = addExtensionEdit(grid, "banwindow", "banWindowEdit");
    banWindowEdit_->setPlaceholderText(QStringLiteral("10"));
    banMinutesEdit_ = addExtensionEdit(grid, "banminutes", "banMinutesEdit");
    banMinutesEdit_->setPlaceholderText(QStringLiteral("15"));
    maxPerAddressEdit_ = addExtensionEdit(grid, "maxperip", "maxPerAddressEdit");
    maxPerAddressEdit_->setPlaceholderText(QStringLiteral("0 (no limit)"));
    maxLoginPerAddressEdit_ = addExtensionEdit(grid, "maxprelogin", "maxLoginPerAddressEdit");
    maxLoginPerAddressEdit_->setPlaceholderText(QStringLiteral("8"));
    webPolicyCheck_ = addExtensionCheck(grid, "webpolicy", "webPolicyCheck");
    webExtensionsCheck_ = addExtensionCheck(grid, "webext", "webExtensionsCheck");
    webAppCheck_ = addExtensionCheck(grid, "webapp", "webAppCheck");
    webCharsetEdit_ = addExtensionEdit(grid, "webcharset", "webCharsetEdit");
    webCharsetEdit_->setPlaceholderText(QStringLiteral("none declared; such as utf-8"));
    maxWebConnectionsEdit_ = addExtensionEdit(grid, "maxwebconn", "maxWebConnectionsEdit");
    maxWebConnectionsEdit_->setPlaceholderText(QStringLiteral("256"));
    webMaxPerAddressEdit_ = addExtensionEdit(grid, "webmaxperip", "webMaxPerAddressEdit");
    webMaxPerAddressEdit_->setPlaceholderText(QStringLiteral("16"));
    proxyFromEdit_ = addExtensionEdit(grid, "proxyfrom", "proxyFromEdit");
    proxyFromEdit_->setPlaceholderText(QStringLiteral("none; such as 10.0.0.5 10.0.0.*"));
    sftpPortEdit_ = addExtensionEdit(grid, "sftpport", "sftpPortEdit");
    sftpPortEdit_->setPlaceholderText(QStringLiteral("no SFTP; such as 2222"));
    sftpListenAddressEdit_ = addExtensionEdit(grid, "sftplistenip", "sftpListenAddressEdit");
    sftpListenAddressEdit_->setPlaceholderText(QStringLiteral("the FTP listen address"));
    sftpHostKeysEdit_ = addExtensionEdit(grid, "sftphostkey", "sftpHostKeysEdit");
    sftpHostKeysEdit_->setPlaceholderText(QStringLiteral("made on first start; such as /etc/ssh/ssh_host_ed25519_key"));
    hostKeyText_ = new QPlainTextEdit(page);
    hostKeyText_->setObjectName(QStringLiteral("hostKeyText"));
    hostKeyText_->setReadOnly(true);
    // Three lines: the made pair, or up to three named keys.
    hostKeyText_->setFixedHeight(hostKeyText_->fontMetrics().lineSpacing() * 3 + 12);
    // Wide enough for a key type and its fingerprint on one line.
    hostKeyText_->setMinimumWidth(hostKeyText_->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 52);
    // The whole width: a fingerprint and its file make a long line.
    const int keyRow = grid->rowCount();
    grid->addWidget(new QLabel(QStringLiteral("SFTP host keys SHA-256:"), page), keyRow, 0, 1, 2);
    grid->addWidget(hostKeyText_, keyRow + 1, 0, 1, 2);
    grid->setRowStretch(grid->rowCount(), 1);
    return page;
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

    const ExtensionForm& extensions = form.extensions;
    // A word the server would refuse stays as the file has it, as one more entry.
    if (tlsModeCombo_->findText(extensions.tlsMode) < 0) tlsModeCombo_->addItem(extensions.tlsMode);
    tlsModeCombo_->setCurrentText(extensions.tlsMode);
    certificateFileEdit_->setText(extensions.certificateFile);
    keyFileEdit_->setText(extensions.keyFile);
    webTlsCheck_->setChecked(extensions.webTls);
    tlsReuseCheck_->setChecked(extensions.tlsReuse);
    certificateLine_->setText(editor_.certificateText());
    passivePortsEdit_->setText(extensions.passivePorts);
    passiveAddressEdit_->setText(extensions.passiveAddress);
    ftpExtensionsCheck_->setChecked(extensions.ftpExtensions);
    banFailuresEdit_->setText(extensions.banFailures);
    banWindowEdit_->setText(extensions.banWindow);
    banMinutesEdit_->setText(extensions.banMinutes);
    maxPerAddressEdit_->setText(extensions.maxPerAddress);
    maxLoginPerAddressEdit_->setText(extensions.maxLoginPerAddress);
    webPolicyCheck_->setChecked(extensions.webPolicy);
    webExtensionsCheck_->setChecked(extensions.webExtensions);
    webAppCheck_->setChecked(extensions.webApp);
    webCharsetEdit_->setText(extensions.webCharset);
    maxWebConnectionsEdit_->setText(extensions.maxWebConnections);
    webMaxPerAddressEdit_->setText(extensions.webMaxPerAddress);
    proxyFromEdit_->setText(extensions.proxyFrom);
    sftpPortEdit_->setText(extensions.sftpPort);
    sftpListenAddressEdit_->setText(extensions.sftpListenAddress);
    sftpHostKeysEdit_->setText(extensions.sftpHostKeys);
    hostKeyText_->setPlainText(editor_.hostKeyText());
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

    ExtensionForm& extensions = form.extensions;
    extensions.tlsMode = tlsModeCombo_->currentText();
    extensions.certificateFile = certificateFileEdit_->text();
    extensions.keyFile = keyFileEdit_->text();
    extensions.webTls = webTlsCheck_->isChecked();
    extensions.tlsReuse = tlsReuseCheck_->isChecked();
    extensions.passivePorts = passivePortsEdit_->text();
    extensions.passiveAddress = passiveAddressEdit_->text();
    extensions.ftpExtensions = ftpExtensionsCheck_->isChecked();
    extensions.banFailures = banFailuresEdit_->text();
    extensions.banWindow = banWindowEdit_->text();
    extensions.banMinutes = banMinutesEdit_->text();
    extensions.maxPerAddress = maxPerAddressEdit_->text();
    extensions.maxLoginPerAddress = maxLoginPerAddressEdit_->text();
    extensions.webPolicy = webPolicyCheck_->isChecked();
    extensions.webExtensions = webExtensionsCheck_->isChecked();
    extensions.webApp = webAppCheck_->isChecked();
    extensions.webCharset = webCharsetEdit_->text();
    extensions.maxWebConnections = maxWebConnectionsEdit_->text();
    extensions.webMaxPerAddress = webMaxPerAddressEdit_->text();
    extensions.proxyFrom = proxyFromEdit_->text();
    extensions.sftpPort = sftpPortEdit_->text();
    extensions.sftpListenAddress = sftpListenAddressEdit_->text();
    extensions.sftpHostKeys = sftpHostKeysEdit_->text();
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
    certificateLine_->setText(editor_.certificateText());
    hostKeyText_->setPlainText(editor_.hostKeyText());
    if (step.restartServer) emit restartServerRequested();
    if (step.close) done(result);
}

void SettingsDialog::onOk() { finish(editor_.ok(), QDialog::Accepted); }

void SettingsDialog::onApply() { finish(editor_.apply(), QDialog::Accepted); }

void SettingsDialog::reject() { finish(editor_.cancel(), QDialog::Rejected); }

}  // namespace corvel
