// The Encryption and Network tabs of "Basic Setting": an untouched file saves as it
// was, a change writes only its element, a refused value writes nothing, and the
// certificate line says what the server would use.
#include <gtest/gtest.h>

#include <QStringList>

#include "console/logic/SettingsEditor.h"
#include "tests/unit/console/UserTestSupport.h"
#include "tls/Certificate.h"

namespace corvel {
namespace {

using testing::RecordingBoxes;
using testing::ScratchProgramDirectory;

// As the server and the console write the file.
std::string canonical(const std::string& elements) {
    return "<config>\n    <listenip>10.1.2.3</listenip>\n    <ftpport>2121</ftpport>\n"
           "    <httpport>8081</httpport>\n    <maxconn>40</maxconn>\n    <pasvmode>yes</pasvmode>\n"
           "    <welcomemsg>Hi</welcomemsg>\n" +
           elements + "</config>\n";
}

const std::string kExtensions =
    "    <tls>explicit</tls>\n    <tlscert>/etc/c.pem</tlscert>\n    <webtls>maybe</webtls>\n"
    "    <pasvports>50000-50099</pasvports>\n    <banfailures>0</banfailures>\n"
    "    <proxyfrom>10.0.0.5,10.0.0.*</proxyfrom>\n    <maxwebconn>7</maxwebconn>\n";

struct SettingsExtensionsTest : ::testing::Test {
    ScratchProgramDirectory dir;
    RecordingBoxes boxes;
    SettingsEditor editor{dir.directory(), boxes};

    SettingsForm loaded(const std::string& text) {
        dir.write("ftpconfig.xml", text);
        editor.load();
        return editor.form();
    }
    bool saved(const SettingsForm& form) {
        editor.change(form);
        return editor.save();
    }
};

TEST_F(SettingsExtensionsTest, AnUntouchedFileSavesByteIdentical) {
    for (const std::string& elements : {std::string(), kExtensions,
                                        kExtensions + "    <future>x</future>\n    <tls>second</tls>\n",
                                        std::string("    <tls>yes</tls>\n    <banwindow>abc</banwindow>\n")}) {
        const std::string text = canonical(elements);
        ASSERT_TRUE(saved(loaded(text)));
        EXPECT_EQ(dir.read("ftpconfig.xml"), text);
    }
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SettingsExtensionsTest, AChangeWritesExactlyItsElementAndDefaultsStayAbsent) {
    SettingsForm form = loaded(canonical(kExtensions));
    EXPECT_EQ(form.extensions.tlsMode, "explicit");
    EXPECT_FALSE(form.extensions.webTls);  // "maybe" shows as the server's default
    EXPECT_TRUE(form.extensions.tlsReuse);
    form.extensions.passivePorts = QStringLiteral(" 50000-50010 ");
    form.extensions.maxPerAddress = QStringLiteral("4");
    // At the server's values while absent: nothing is added for these.
    form.extensions.banWindow = QStringLiteral("10");
    form.extensions.maxLoginPerAddress = QStringLiteral("8");
    form.extensions.webPolicy = false;
    ASSERT_TRUE(saved(form));
    std::string expected = canonical(kExtensions + "    <maxperip>4</maxperip>\n");
    expected.replace(expected.find("50000-50099"), 11, "50000-50010");
    EXPECT_EQ(dir.read("ftpconfig.xml"), expected);

    form.extensions.webTls = true;  // from "maybe", a box turned on
    form.extensions.ftpExtensions = true;
    ASSERT_TRUE(saved(form));
    EXPECT_NE(dir.read("ftpconfig.xml").find("<webtls>yes</webtls>"), std::string::npos);
    EXPECT_NE(dir.read("ftpconfig.xml").find("<ftpext>yes</ftpext>\n</config>"), std::string::npos);
    form.extensions.webCharset = QStringLiteral(" utf-8 ");
    ASSERT_TRUE(saved(form));
    EXPECT_NE(dir.read("ftpconfig.xml").find("<webcharset>utf-8</webcharset>\n</config>"), std::string::npos);
    form.extensions.sftpPort = QStringLiteral("2222");
    form.extensions.sftpListenAddress = QStringLiteral("127.0.0.1");
    ASSERT_TRUE(saved(form));
    EXPECT_NE(dir.read("ftpconfig.xml").find("<sftpport>2222</sftpport>\n    <sftplistenip>127.0.0.1</sftplistenip>\n"),
              std::string::npos);
}

TEST_F(SettingsExtensionsTest, ARefusedValueNamesItsFieldAndWritesNothing) {
    const std::string text = canonical(kExtensions);
    const SettingsForm form = loaded(text);
    const struct {
        QString ExtensionForm::*field;
        const char* value;
        const char* label;
    } refused[] = {
        {&ExtensionForm::passivePorts, "50100-50000", "Passive ports"},
        {&ExtensionForm::banWindow, "0", "Failed logins count within minutes"},
        {&ExtensionForm::maxWebConnections, "12x", "Web connections at once"},
        {&ExtensionForm::webMaxPerAddress, "1e3", "Web connections per address"},
        {&ExtensionForm::maxLoginPerAddress, "eight", "Connections per address not logged in yet"},
        {&ExtensionForm::passiveAddress, "ftp example.com", "Public address for passive mode"},
        {&ExtensionForm::proxyFrom, "10.0.0.0/8", "PROXY protocol from"},
        {&ExtensionForm::tlsMode, "yes", "TLS mode"},
        {&ExtensionForm::webCharset, "utf 8", "Character set of the web pages"},
        {&ExtensionForm::sftpPort, "0", "SFTP port"},
        {&ExtensionForm::sftpPort, "65536", "SFTP port"},
        {&ExtensionForm::sftpListenAddress, "sftp.example.org", "SFTP listen address"},
    };
    for (const auto& c : refused) {
        boxes.shown.clear();
        SettingsForm changed = form;
        changed.extensions.*c.field = QString::fromLatin1(c.value);
        EXPECT_FALSE(saved(changed)) << c.value;
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_TRUE(boxes.shown[0].text.starts_with(std::string(c.label) + ": '" + c.value + "' is refused"))
            << boxes.shown[0].text;
        EXPECT_EQ(dir.read("ftpconfig.xml"), text);
        EXPECT_TRUE(editor.isModified());
    }
    // The server refuses an IPv6 listen address without the FTP extensions.
    SettingsForm ipv6 = form;
    ipv6.listenAddress = QStringLiteral("::");
    EXPECT_FALSE(saved(ipv6));
    EXPECT_EQ(dir.read("ftpconfig.xml"), text);
}

TEST_F(SettingsExtensionsTest, ClearingATextRemovesItsElement) {
    SettingsForm form = loaded(canonical(kExtensions));
    form.extensions.certificateFile.clear();
    form.extensions.proxyFrom = QStringLiteral("  ");
    ASSERT_TRUE(saved(form));
    std::string expected = canonical(kExtensions);
    for (const char* gone : {"    <tlscert>/etc/c.pem</tlscert>\n", "    <proxyfrom>10.0.0.5,10.0.0.*</proxyfrom>\n"})
        expected.erase(expected.find(gone), std::string(gone).size());
    EXPECT_EQ(dir.read("ftpconfig.xml"), expected);
}

TEST_F(SettingsExtensionsTest, TheCertificateLineSaysWhatTheServerWouldUse) {
    editor.load();
    EXPECT_EQ(editor.certificateText(), "Made on first start");
    loaded(canonical("    <tlscert>missing.pem</tlscert>\n"));
    EXPECT_TRUE(editor.certificateText().startsWith("Cannot be read: ")) << editor.certificateText().toStdString();
    ASSERT_TRUE(createSelfSignedCertificate(dir.root() + "/corveld-cert.pem", dir.root() + "/corveld-key.pem",
                                            "localhost"));
    loaded(canonical(""));
    EXPECT_EQ(editor.certificateText().toStdString(), certificateFingerprint(dir.root() + "/corveld-cert.pem"));
    EXPECT_EQ(editor.certificateText().size(), 95);
}

TEST_F(SettingsExtensionsTest, TheHostKeyLinesSayWhatTheSftpPortWouldUse) {
    const std::string data = std::string(CORVEL_TESTDATA_DIR) + "/ssh/";
    loaded(canonical(""));
    EXPECT_EQ(editor.hostKeyText(), "No SFTP port");
    loaded(canonical("    <sftpport>2222</sftpport>\n"));
    EXPECT_EQ(editor.hostKeyText().toStdString(), "Made on first start (" + dir.root() + "/corveld-sftp-ed25519.key)\n"
                                                  "Made on first start (" + dir.root() + "/corveld-sftp-rsa.key)");
    SettingsForm form = loaded(canonical("    <sftpport>2222</sftpport>\n    <sftphostkey>" + data +
                                         "openssh_ed25519,missing.key</sftphostkey>\n"));
    EXPECT_EQ(form.extensions.sftpHostKeys.toStdString(), data + "openssh_ed25519,missing.key");
    const QStringList lines = editor.hostKeyText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0].toStdString(),
              "ssh-ed25519 SHA256:UbC752+NNtbxXl+WGgCUb+R0m8StpOL+Cp+f9CpNDxM (" + data + "openssh_ed25519)");
    EXPECT_TRUE(lines[1].startsWith("Cannot be read: ")) << lines[1].toStdString();

    // Cleared, the element goes and the made keys are shown again.
    form.extensions.sftpHostKeys.clear();
    ASSERT_TRUE(saved(form));
    EXPECT_EQ(dir.read("ftpconfig.xml"), canonical("    <sftpport>2222</sftpport>\n"));
    EXPECT_TRUE(editor.hostKeyText().startsWith("Made on first start")) << editor.hostKeyText().toStdString();
}

}  // namespace
}  // namespace corvel
