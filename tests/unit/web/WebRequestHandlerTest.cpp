// The handler's routes against a real user table and home directory in a
// temporary program directory, answers read back through a loopback connection.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "LoopbackPair.h"
#include "accounts/UserTable.h"
#include "common/PasswordDigest.h"
#include "files/LocalFile.h"
#include "web/Icons.h"
#include "web/WebPages.h"
#include "web/WebRequestHandler.h"

namespace corvel {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHost = "host<1>";

class WebRequestHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("corvel_web_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        home_ = root_ / "home";
        fs::create_directories(home_ / "sub<x>" / "inner");
        fs::create_directories(home_ / "b");
        writeFile(home_ / "a&b.txt", "hello");
        writeFile(home_ / "Report.PDF", "%PDF");
        writeFile(home_ / "empty", "");
        writeFile(home_ / "b" / "in_b.txt", "bb");
        writeUsers("<user username=\"alice\" password=\"" + passwordDigest("secret") + "\" privilege=\"131074\" work_dir=\"" +
                   home_.string() + "\" disabled=\"no\" />");
    }
    void TearDown() override { fs::remove_all(root_); }

    static void writeFile(const fs::path& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }

    void writeUsers(const std::string& elements) {
        fs::create_directories(root_);
        writeFile(root_ / "ftpusers.xml", "<users>" + elements + "</users>");
        users_ = std::make_unique<UserTable>(root_.string() + "/");
        users_->load();
    }

    std::string answer(const std::string& path, const std::string& query, const std::string& user = "alice",
                       const std::string& password = "secret", HttpMethod method = HttpMethod::Get) {
        HttpRequest request;
        request.method = method;
        request.path = path;
        request.query = query;
        request.user = user;
        request.password = password;
        return answer(request);
    }

    std::string answer(const HttpRequest& request) {
        testing::LoopbackPair pair = testing::makeLoopbackPair();
        // Read on another thread: a large answer does not fit in the socket buffers.
        std::string received;
        std::thread reader([&] { received = testing::receiveUntilClosed(pair.client, 10000); });
        WebRequestHandler handler(*users_, [] { return std::string(kHost); });
        handler.handle(pair.server, request);
        pair.server.close();
        reader.join();
        return received;
    }

    std::string pageStart() const { return pageFrameStart(kHost, "alice"); }

    fs::path root_;
    fs::path home_;
    std::unique_ptr<UserTable> users_;
};

TEST_F(WebRequestHandlerTest, EveryRouteNeedsValidCredentials) {
    for (const char* route : {"", "list.html", "cdup.gif", "forder.gif", "file.gif", "download.html", "config.html",
                              "update_password.html", "nothing.html"}) {
        EXPECT_EQ(answer(route, "&", "alice", "wrong"), kUnauthorizedPage) << route;
        EXPECT_EQ(answer(route, "&", "", ""), kUnauthorizedPage) << route;
        EXPECT_EQ(answer(route, "&", "Alice", "secret"), kUnauthorizedPage) << route;
    }
    // Nothing changed behind the refused update.
    EXPECT_EQ(answer("update_password.html", "new_pwd=x&new_pwd_confirm=x&", "alice", "bad"), kUnauthorizedPage);
    EXPECT_TRUE(users_->authenticate("alice", "secret"));
}

TEST_F(WebRequestHandlerTest, UnknownRoutesGetTheNotFoundPage) {
    for (const char* route : {"list%2Ehtml", "LIST.HTML", "update_password.html?x=1", "/list.html", "a/b"})
        EXPECT_EQ(answer(route, "&"), kNotFoundPage) << route;
}

TEST_F(WebRequestHandlerTest, ListsTheHomeDirectoryWithFixedRowsAndColours) {
    std::vector<ListEntry> listing;
    LocalFile(home_.string()).list(listing);
    ASSERT_EQ(listing.size(), 7u);  // ".", "..", two folders, three files
    std::string rows;
    for (std::size_t i = 0; i < listing.size(); ++i) {
        const ListEntry& e = listing[i];
        std::string colour = i % 2 ? "#FFFFFF" : "#F0F0F0";
        std::string link;
        for (unsigned char c : e.name) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            link += hex;
        }
        if (e.name == ".") continue;
        if (e.name == "..") {
            rows += "<tr bgcolor=\"" + colour +
                    "\"><td colspan=\"4\"><a href=\"list.html?path=\"><img src=\"cdup.gif\" border=\"0\"></a></td></tr>";
            continue;
        }
        std::string shown = e.name == "sub<x>" ? "sub&lt;x&gt;" : e.name == "a&b.txt" ? "a&amp;b.txt" : e.name;
        if (e.isDirectory())
            rows += "<tr bgcolor=\"" + colour + "\"><td><img src=\"forder.gif\"></td><td width=\"600\"><a href=\"list.html?path=" +
                    link + "\"><b>" + shown + "</b></a></td><td width=\"100\">" + e.size + "</td><td>" + e.date +
                    "</td></tr>\r\n";
        else
            rows += "<tr bgcolor=\"" + colour +
                    "\"><td><img src=\"file.gif\"></td><td width=\"600\"><a href=\"download.html?path=" + link + "\">" +
                    shown + "</a></td><td width=\"100\">" + e.size + "</td><td>" + e.date + "</td></tr>\r\n";
    }
    std::string expected = pageStart() + "</h1><hr width=\"900\" align=\"left\"><table border=\"0\" cellspacing=\"0\" "
                                         "cellpadding=\"5\">" +
                           rows + "</table>" + std::string(kPageFooter);
    EXPECT_EQ(answer("list.html", "&"), expected);
    EXPECT_EQ(answer("", "path=&"), expected);
    EXPECT_EQ(answer("list.html", "xpath=&"), expected);
}

TEST_F(WebRequestHandlerTest, SubfolderLinksCarryTheFullPath) {
    std::string page = answer("list.html", "path=sub%3Cx%3E&");
    // "sub<x>/inner" and the up row back to the home directory.
    EXPECT_NE(page.find("<a href=\"list.html?path=%73%75%62%3C%78%3E%2F%69%6E%6E%65%72\"><b>inner</b>"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"list.html?path=\"><img src=\"cdup.gif\""), std::string::npos);
    EXPECT_NE(page.find("<h1>host&lt;1&gt; - alice</h1>"), std::string::npos);
}

TEST_F(WebRequestHandlerTest, LargeFolderPageArrivesWhole) {
    fs::create_directories(home_ / "many");
    for (int i = 0; i < 600; ++i) writeFile(home_ / "many" / ("file_" + std::to_string(i) + ".txt"), "");
    std::string page = answer("list.html", "path=many&");
    ASSERT_GT(page.size(), 128u << 10);
    std::size_t rows = 0;
    for (std::size_t at = page.find("<img src=\"file.gif\">"); at != std::string::npos;
         at = page.find("<img src=\"file.gif\">", at + 1))
        ++rows;
    EXPECT_EQ(rows, 600u);
    EXPECT_TRUE(page.ends_with(std::string("</table>") + std::string(kPageFooter)));
    EXPECT_EQ(page.rfind(pageStart(), 0), 0u);
}

TEST_F(WebRequestHandlerTest, PathRules) {
    EXPECT_EQ(answer("list.html", "path=..&"), kUnauthorizedPage);
    EXPECT_EQ(answer("list.html", "path=a/../../b&"), kUnauthorizedPage);
    EXPECT_EQ(answer("download.html", "path=../x&"), kUnauthorizedPage);
    std::string b = answer("list.html", "path=a/../b&");
    EXPECT_NE(b.find(">in_b.txt</a>"), std::string::npos);
    EXPECT_EQ(answer("list.html", "path=missing&"), kNotFoundPage);
    EXPECT_EQ(answer("list.html", "path=a%26b.txt&"), kNotFoundPage);  // a file is no folder
    // Values past their capacity are refused, however they would resolve.
    std::string longest(kMaxWebPathBytes, '/');
    EXPECT_NE(answer("list.html", "path=" + longest + "&"), kNotFoundPage);
    EXPECT_EQ(answer("list.html", "path=" + longest + "/&"), kNotFoundPage);
    EXPECT_EQ(answer("download.html", "path=" + std::string(300, '/') + "empty&"), kNotFoundPage);
}

TEST_F(WebRequestHandlerTest, DownloadsCarryTypeNameAndSize) {
    const std::string start =
        "HTTP/1.1 200 OK\r\npragam: no-cache\r\nConntection: Keep-Alive\r\nServer: CorvelFTP Web Server\r\nContent-Type: ";
    EXPECT_EQ(answer("download.html", "path=Report.PDF&"),
              start + "application/pdf;\r\n name=report.pdf\r\nContent-Disposition: attachment; "
                      "filename=\"report.pdf\"\r\nContent-Length: 4\r\n\r\n%PDF");
    EXPECT_EQ(answer("download.html", "path=empty&"),
              start + "application/*;\r\n name=empty\r\nContent-Disposition: attachment; filename=\"empty\"\r\n"
                      "Content-Length: 0\r\n\r\n");
    EXPECT_EQ(answer("download.html", "path=b%5Cin_b.txt&"),
              start + "text/plain;\r\n name=b\\in_b.txt\r\nContent-Disposition: attachment; "
                      "filename=\"b\\in_b.txt\"\r\nContent-Length: 2\r\n\r\nbb");
    EXPECT_EQ(answer("download.html", "path=b&"), kNotFoundPage);
    EXPECT_EQ(answer("download.html", "&"), kNotFoundPage);
    EXPECT_EQ(answer("download.html", "path=nothing&"), kNotFoundPage);
}

TEST_F(WebRequestHandlerTest, DownloadNameLosesQuotesAndLineBreaks) {
    writeFile(home_ / "q\"x\r\ny.txt", "z");
    std::string reply = answer("download.html", "path=q%22x%0D%0Ay.txt&");
    EXPECT_NE(reply.find("name=qxy.txt\r\nContent-Disposition: attachment; filename=\"qxy.txt\"\r\nContent-Length: 1\r\n\r\nz"),
              std::string::npos)
        << reply;
}

TEST_F(WebRequestHandlerTest, IconsAreServedWhole) {
    for (const char* route : {"cdup.gif", "forder.gif", "file.gif"}) {
        const WebIcon* icon = findWebIcon(route);
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(answer(route, "&"), iconHeader(route, icon->size) +
                                          std::string(reinterpret_cast<const char*>(icon->bytes), icon->size));
    }
}

TEST_F(WebRequestHandlerTest, PasswordFormAndUpdateMessages) {
    const std::string head = pageStart() + "</h1><hr width=\"900\" align=\"left\"><b>Password</b><br>";
    auto update = [&](const std::string& query) {
        return answer("update_password.html", query, "alice", "secret", HttpMethod::Post);
    };
    EXPECT_EQ(update("new_pwd=a&new_pwd_confirm=b&"),
              head + "<font color=\"red\">Password and verify password are not same.</font>" + std::string(kPageFooter));
    EXPECT_EQ(update("&"), head + "<font color=\"red\">Password can not be empty</font>" + std::string(kPageFooter));
    // Confirm first: "new_pwd" is found inside "new_pwd_confirm" and so is absent.
    EXPECT_NE(update("new_pwd_confirm=a&new_pwd=a").find("not same"), std::string::npos);
    std::string tooLong(kMaxWebPasswordBytes + 1, 'p');
    EXPECT_NE(update("new_pwd=" + tooLong + "&new_pwd_confirm=" + tooLong).find("<font color=\"red\">"), std::string::npos);
    EXPECT_TRUE(users_->authenticate("alice", "secret"));

    std::string longest(kMaxWebPasswordBytes, 'p');
    EXPECT_NE(update("new_pwd=" + longest + "&new_pwd_confirm=" + longest).find("Update Successfully"), std::string::npos);
    EXPECT_TRUE(users_->authenticate("alice", longest));
    EXPECT_EQ(answer("update_password.html", "new_pwd=n+w%21&new_pwd_confirm=n+w%21", "alice", longest, HttpMethod::Post),
              head + "<font color=\"green\">Update Successfully</font>" + std::string(kPageFooter));
    EXPECT_TRUE(users_->authenticate("alice", "n w!"));
    EXPECT_FALSE(users_->authenticate("alice", "secret"));

    std::string form = answer("config.html", "&", "alice", "n w!");
    EXPECT_EQ(form, pageStart() + "</h1><hr width=\"900\" align=\"left\"><form method=\"POST\" "
                                  "action=\"update_password.html\">New Password: <input type=\"password\" "
                                  "name=\"new_pwd\" size=20> Verify Password: <input type=\"password\" "
                                  "name=\"new_pwd_confirm\" size=20> <input type=\"submit\" value=\"Update\"></form>" +
                        std::string(kPageFooter));
}

TEST_F(WebRequestHandlerTest, AnonymousWithoutAnAccountSeesNothingAndCannotStoreAPassword) {
    // An upper-case ANONYMOUS element enables password-free "anonymous" without
    // giving that name an account, so it has no home directory.
    writeUsers("<user username=\"ANONYMOUS\" password=\"x\" work_dir=\"" + home_.string() + "\" disabled=\"no\" />");
    EXPECT_EQ(answer("list.html", "&", "anonymous", "any"), kNotFoundPage);
    EXPECT_EQ(answer("download.html", "path=empty&", "anonymous", "any"), kNotFoundPage);
    std::string reply =
        answer("update_password.html", "new_pwd=a&new_pwd_confirm=a&", "anonymous", "any", HttpMethod::Post);
    EXPECT_EQ(reply.find("Update Successfully"), std::string::npos);
    EXPECT_NE(reply.find("<font color=\"red\">"), std::string::npos);
}

TEST_F(WebRequestHandlerTest, OnlyAPostOfTheSameSiteByAnAccountWithAPasswordChangesIt) {
    const std::string refused = pageStart() + "</h1><hr width=\"900\" align=\"left\"><b>Password</b><br>"
                                "<font color=\"red\">Password can not be updated</font>" + std::string(kPageFooter);
    HttpRequest request;
    request.method = HttpMethod::Post;
    request.path = "update_password.html";
    request.query = "new_pwd=new&new_pwd_confirm=new";
    request.user = "alice";
    request.password = "secret";
    request.host = "127.0.0.1:8080";

    struct Case {
        HttpMethod method;
        const char* origin;
        const char* referer;
    };
    const Case refusedCases[] = {
        {HttpMethod::Get, "", ""},                                               // a link or an image
        {HttpMethod::Post, "http://127.0.0.2:8000", ""},                        // another site's form
        {HttpMethod::Post, "null", ""},                                          // a sandboxed frame
        {HttpMethod::Post, "", "http://evil.example/page?x=http://127.0.0.1:8080/"},
        {HttpMethod::Post, "http://127.0.0.1:8081", "http://127.0.0.1:8080/config.html"},  // Origin decides
    };
    for (const Case& c : refusedCases) {
        request.method = c.method;
        request.origin = c.origin;
        request.referer = c.referer;
        EXPECT_EQ(answer(request), refused) << c.origin << c.referer;
        EXPECT_TRUE(users_->authenticate("alice", "secret")) << c.origin << c.referer;
    }

    // A browser posting the site's own form; scripts send neither header.
    for (const Case& c : {Case{HttpMethod::Post, "http://127.0.0.1:8080", ""},
                          Case{HttpMethod::Post, "", "http://127.0.0.1:8080/config.html"},
                          Case{HttpMethod::Post, "", ""}}) {
        request.method = c.method;
        request.origin = c.origin;
        request.referer = c.referer;
        EXPECT_NE(answer(request).find("Update Successfully"), std::string::npos) << c.origin << c.referer;
        ASSERT_TRUE(users_->authenticate("alice", "new"));
        request.password = "new";
    }
    // Default ports and letter case do not make a site another one.
    HttpRequest plain;
    plain.host = "Files.Example";
    plain.origin = "http://files.example:80";
    EXPECT_TRUE(isSameOriginRequest(plain));
    plain.origin = "https://files.example:8443";
    EXPECT_FALSE(isSameOriginRequest(plain));

    // The anonymous account logs in without a password: nothing of its own to change.
    writeUsers("<user username=\"anonymous\" password=\"anonymous\" privilege=\"131074\" work_dir=\"" +
               home_.string() + "\" disabled=\"no\" />");
    const std::string before = fs::exists(root_ / "ftpusers.xml") ? "" : "missing";
    auto written = fs::last_write_time(root_ / "ftpusers.xml");
    EXPECT_NE(answer("update_password.html", "new_pwd=a&new_pwd_confirm=a", "anonymous", "x", HttpMethod::Post)
                  .find("Password can not be updated"),
              std::string::npos);
    EXPECT_EQ(fs::last_write_time(root_ / "ftpusers.xml"), written) << before;
}

}  // namespace
}  // namespace corvel
