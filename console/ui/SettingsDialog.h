// The "Basic Setting" dialog: edits ftpconfig.xml (General, Encryption and Network
// tabs) and asks for a server restart after saving, since the server reads its
// settings only when it starts.
#pragma once

#include <QDialog>
#include <QString>

#include <memory>

#include "console/logic/SettingsEditor.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace corvel {

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    // programDirectory ends with '/'; the XML files live there. boxes answers the
    // message boxes (nullptr: real ones over this dialog). Loads the file at once.
    SettingsDialog(const QString& programDirectory, QWidget* parent, MessageBoxPort* boxes = nullptr);
    ~SettingsDialog() override;

    const SettingsEditor& editor() const { return editor_; }

signals:
    // Emitted after the settings were saved; the main window restarts the server.
    void restartServerRequested();

public slots:
    void reject() override;  // Cancel, Escape and the close box

private slots:
    void onOk();
    void onApply();

private:
    void buildControls();
    QWidget* buildGeneralTab();
    QWidget* buildEncryptionTab();
    QWidget* buildNetworkTab();
    // An edit or a check box for an extension element, labelled as the logic names it.
    QLineEdit* addExtensionEdit(QGridLayout* grid, const char* element, const char* objectName);
    QCheckBox* addExtensionCheck(QGridLayout* grid, const char* element, const char* objectName);
    void showForm(const SettingsForm& form);
    SettingsForm readForm() const;
    void onChanged();
    void stepConnectionLimit(int delta);
    void finish(const SettingsStep& step, int result);
    bool eventFilter(QObject* watched, QEvent* event) override;

    std::unique_ptr<MessageBoxPort> ownBoxes_;
    MessageBoxPort& boxes_;
    SettingsEditor editor_;
    bool showing_ = false;  // controls are being filled: no change to track

    QComboBox* addressCombo_ = nullptr;
    QCheckBox* bindCheck_ = nullptr;
    QLineEdit* ftpPortEdit_ = nullptr;
    QLineEdit* webPortEdit_ = nullptr;
    QLineEdit* maxConnectionsEdit_ = nullptr;
    QCheckBox* passiveCheck_ = nullptr;
    QPlainTextEdit* welcomeEdit_ = nullptr;

    QTabWidget* tabs_ = nullptr;
    QWidget* encryptionTab_ = nullptr;
    QWidget* networkTab_ = nullptr;
    QComboBox* tlsModeCombo_ = nullptr;
    QLineEdit* certificateFileEdit_ = nullptr;
    QLineEdit* keyFileEdit_ = nullptr;
    QCheckBox* webTlsCheck_ = nullptr;
    QCheckBox* tlsReuseCheck_ = nullptr;
    QLineEdit* certificateLine_ = nullptr;  // read-only: the fingerprint or why there is none
    QLineEdit* passivePortsEdit_ = nullptr;
    QLineEdit* passiveAddressEdit_ = nullptr;
    QCheckBox* ftpExtensionsCheck_ = nullptr;
    QLineEdit* banFailuresEdit_ = nullptr;
    QLineEdit* banWindowEdit_ = nullptr;
    QLineEdit* banMinutesEdit_ = nullptr;
    QLineEdit* maxPerAddressEdit_ = nullptr;
    QLineEdit* maxLoginPerAddressEdit_ = nullptr;
    QCheckBox* webPolicyCheck_ = nullptr;
    QCheckBox* webExtensionsCheck_ = nullptr;
    QCheckBox* webAppCheck_ = nullptr;
    QLineEdit* webCharsetEdit_ = nullptr;
    QLineEdit* maxWebConnectionsEdit_ = nullptr;
    QLineEdit* webMaxPerAddressEdit_ = nullptr;
    QLineEdit* proxyFromEdit_ = nullptr;
    QLineEdit* sftpPortEdit_ = nullptr;
    QLineEdit* sftpListenAddressEdit_ = nullptr;
    QLineEdit* sftpHostKeysEdit_ = nullptr;
    QPlainTextEdit* hostKeyText_ = nullptr;  // read-only: the host keys' fingerprints or why there are none

    QPushButton* okButton_ = nullptr;
    QPushButton* applyButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

}  // namespace corvel
