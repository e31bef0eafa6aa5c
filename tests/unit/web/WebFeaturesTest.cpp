// The opt-in behaviours of the handler against a real user table and home: byte
// ranges and HEAD (<webext>), the rights that gate the routes (<webpolicy>), and
// the designed answers while both are off.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "LoopbackPair.h"
#include "accounts/UserTable.h"
#include "common/PasswordDigest.h"
#include "common/Permissions.h"
#include "web/WebPages.h"
#include "web/WebRequestHandler.h"

namespace corvel {
namespace {

namespace fs = std::filesystem;

constexpr WebFeatures kRanges{.rights = false, .ranges = true};
constexpr WebFeatures kRights{.rights = true, .ranges = false};

// The designed header folds Content-Type over two lines; with <webext> it is one line.
std::string downloadAnswer(const std::string& status, const std::string& length, const std::string& fields,
                           const std::string& body, bool folded = false) {
    return "HTTP/1.1 " + status + "\r\npragam: no-cache\r\nConntection: Keep-Alive\r\nServer: CorvelFTP Web Server\r\n"
           "Content-Type: text/plain;" + (folded ? "\r\n name=digits.txt" : " name=\"digits.txt\"") +
           "\r\nContent-Disposition: attachment; filename=\"digits.txt\""
           "\r\nContent-Length: " + length + "\r\n" + fields + "\r\n" + body;
}
const std::string kDesigned = downloadAnswer("200 OK", "10", "", "0123456789", true);
const std::string kWhole = downloadAnswer("200 OK", "10", "Accept-Ranges: bytes\r\n", "0123456789");

class WebFeaturesTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("corvel_webfeat_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "home" / "folder");
        std::ofstream(root_ / "home" / "digits.txt", std::ios::binary) << "0123456789";
        std::string users;
        for (auto [name, rights] : {std::pair{"alice", kDefaultPrivileges}, std::pair{"lister", PERM_LIST},
                                    std::pair{"reader", PERM_READ_FILE}, std::pair{"nobody", 0u}})
            users += "<user username=\"" + std::string(name) + "\" password=\"" + passwordDigest("pw") +
                     "\" privilege=\"" + std::to_string(rights) + "\" work_dir=\"" + (root_ / "home").string() +
                     "\" disabled=\"no\" />";
        std::ofstream(root_ / "ftpusers.xml") << "<users>" + users + "</users>";
        users_ = std::make_unique<UserTable>(root_.string() + "/");
        users_->load();
    }
    void TearDown() override { fs::remove_all(root_); }

    std::string answer(WebFeatures features, const std::string& path, const std::string& query,
                       const std::string& range = "", HttpMethod method = HttpMethod::Get,
                       const std::string& user = "alice", bool ifRange = false) {
        HttpRequest r;
        r.method = method;
        r.path = path;
        r.query = query;
        r.user = user;
        r.password = "pw";
        r.range = range;
        r.sentIfRange = ifRange;
        testing::LoopbackPair pair = testing::makeLoopbackPair();
        std::string received;
        std::thread reader([&] { received = testing::receiveUntilClosed(pair.client, 10000); });
        WebRequestHandler(*users_, [] { return std::string("host"); }, nullptr, features).handle(pair.server, r);
        pair.server.close();
        reader.join();
        return received;
    }
    std::string download(WebFeatures features, const std::string& range, HttpMethod method = HttpMethod::Get) {
        return answer(features, "download.html", "path=digits.txt&", range, method);
    }

    fs::path root_;
    std::unique_ptr<UserTable> users_;
};

TEST_F(WebFeaturesTest, WithBothOffRangesAndRightsChangeNothing) {
    for (const char* range : {"", "bytes=2-4", "bytes=50-"}) EXPECT_EQ(download({}, range), kDesigned) << range;
    EXPECT_EQ(answer({}, "download.html", "path=digits.txt&", "", HttpMethod::Get, "nobody"), kDesigned);
    EXPECT_EQ(answer({}, "list.html", "&", "", HttpMethod::Get, "nobody").rfind(pageFrameStart("host", "nobody"), 0), 0u);
}

TEST_F(WebFeaturesTest, OneRangeGets206TheRestTheWholeFileAndNoByte416) {
    auto part = [](const char* span, const std::string& body) {
        return downloadAnswer("206 Partial Content", std::to_string(body.size()),
                              std::string("Accept-Ranges: bytes\r\nContent-Range: bytes ") + span + "/10\r\n", body);
    };
    EXPECT_EQ(download(kRanges, "bytes=2-4"), part("2-4", "234"));
    EXPECT_EQ(download(kRanges, "bytes=-3"), part("7-9", "789"));
    EXPECT_EQ(download(kRanges, "bytes=9-400"), part("9-9", "9"));
    for (const char* range : {"", "bytes=0-1,4-5", "bytes=4-1"}) EXPECT_EQ(download(kRanges, range), kWhole) << range;
    EXPECT_EQ(download(kRanges, "bytes=2-4", HttpMethod::Post), kWhole);  // only a GET has ranges
    EXPECT_EQ(answer(kRanges, "download.html", "path=digits.txt&", "bytes=2-4", HttpMethod::Get, "alice", true), kWhole);
    EXPECT_EQ(download(kRanges, "bytes=10-"),
              "HTTP/1.1 416 Range Not Satisfiable\r\nServer: CorvelFtp Server\r\nAuthor: CorvelFtp Server\r\n"
              "Content-Type: text/html\r\nContent-Range: bytes */10\r\n\r\n<html><head><title>416 Range Not "
              "Satisfiable</title></head><body><h1>416 Range Not Satisfiable</h1><hr width=\"900\" align=\"left\">"
              "Range Not Satisfiable</body></html>\r\n\r\n");
    EXPECT_EQ(answer(kRanges, "download.html", "path=folder&", "bytes=10-"), kNotFoundPage);
}

TEST_F(WebFeaturesTest, HeadGetsTheHeaderOfTheGetAndChangesNothing) {
    const WebFeatures both{.rights = true, .ranges = true};
    for (auto [path, query, user] :
         {std::tuple{"list.html", "path=folder&", "alice"}, {"list.html", "path=..&", "alice"},
          {"list.html", "&", "reader"}, {"download.html", "path=digits.txt&", "alice"},
          {"download.html", "path=missing&", "alice"}, {"file.gif", "&", "alice"}, {"nothing.html", "&", "stranger"},
          {"update_password.html", "new_pwd=x&new_pwd_confirm=x&", "alice"}}) {
        const std::string get = answer(both, path, query, "", HttpMethod::Get, user);
        EXPECT_EQ(answer(both, path, query, "", HttpMethod::Head, user), headerOf(get)) << path << "?" << query;
        EXPECT_LT(headerOf(get).size(), get.size()) << path << "?" << query;
    }
    // A HEAD ignores Range, and its password update stored nothing.
    EXPECT_EQ(download(kRanges, "bytes=2-4", HttpMethod::Head), headerOf(kWhole));
    EXPECT_TRUE(users_->authenticate("alice", "pw"));
}

TEST_F(WebFeaturesTest, RightsGateTheListingAndDownloadsOnly) {
    for (auto [user, lists, reads] : {std::tuple{"alice", true, true}, {"lister", true, false},
                                      {"reader", false, true}, {"nobody", false, false}}) {
        EXPECT_EQ(answer(kRights, "", "&", "", HttpMethod::Get, user) == kUnauthorizedPage, !lists) << user;
        EXPECT_EQ(answer(kRights, "download.html", "path=digits.txt&", "", HttpMethod::Get, user),
                  reads ? kDesigned : std::string(kUnauthorizedPage)) << user;
        // Checked before the path: without the right a missing file tells nothing.
        EXPECT_EQ(answer(kRights, "download.html", "path=missing&", "", HttpMethod::Get, user),
                  reads ? kNotFoundPage : kUnauthorizedPage) << user;
        EXPECT_NE(answer(kRights, "file.gif", "&", "", HttpMethod::Get, user).find("GIF89a"), std::string::npos) << user;
        EXPECT_EQ(answer(kRights, "config.html", "&", "", HttpMethod::Get, user).rfind(pageFrameStart("host", user), 0),
                  0u) << user;
    }
}

}  // namespace
}  // namespace corvel

namespace corvel {
namespace {

TEST_F(WebFeaturesTest, HealthAnswersWithoutALoginOnlyWithTheExtensions) {
    const WebFeatures health{.rights = true, .ranges = true, .health = true};
    const std::string ok =
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\nCache-Control: no-store\r\n\r\nok";
    EXPECT_EQ(answer(health, "health", "&", "", HttpMethod::Get, ""), ok);
    EXPECT_EQ(answer(health, "health", "probe=1&", "", HttpMethod::Get, "mallory"), ok);  // credentials are not looked at
    EXPECT_EQ(answer(health, "health", "&", "", HttpMethod::Head, ""), ok.substr(0, ok.size() - 2));
    // Not a form's target, and nothing else without a login.
    EXPECT_EQ(answer(health, "health", "&", "", HttpMethod::Post, ""), std::string(kUnauthorizedPage));
    EXPECT_EQ(answer(health, "health.html", "&", "", HttpMethod::Get, ""), std::string(kUnauthorizedPage));
    // Without <webext> it is a route like any other: the login first, then 404.
    EXPECT_EQ(answer({}, "health", "&", "", HttpMethod::Get, ""), std::string(kUnauthorizedPage));
    EXPECT_EQ(answer({}, "health", "&"), std::string(kNotFoundPage));
}

}  // namespace
}  // namespace corvel
