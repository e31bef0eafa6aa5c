// The opt-in behaviours of the handler against a real user table and home
// directory: byte ranges and HEAD (<webext>), the rights that gate the routes
// (<webpolicy>), and the designed answers while both are off.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "LoopbackPair.h"
#include "accounts/UserTable.h"
#include "common/PasswordDigest.h"
#include "common/Permissions.h"
#include "web/Icons.h"
#include "web/WebPages.h"
#include "web/WebRequestHandler.h"

namespace corvel {
namespace {

namespace fs = std::filesystem;

constexpr WebFeatures kDesigned{};
constexpr WebFeatures kRanges{.rights = false, .ranges = true};
constexpr WebFeatures kRights{.rights = true, .ranges = false};

const std::string kDownloadStart =
    "pragam: no-cache\r\nConntection: Keep-Alive\r\nServer: CorvelFTP Web Server\r\nContent-Type: text/plain;\r\n"
    " name=digits.txt\r\nContent-Disposition: attachment; filename=\"digits.txt\"\r\n";

class WebFeaturesTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("corvel_webfeat_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        home_ = root_ / "home";
        fs::create_directories(home_ / "folder");
        writeFile(home_ / "digits.txt", "0123456789");
        writeFile(home_ / "empty.txt", "");
        std::string elements;
        // alice holds List and Read File; the others one right, or none.
        for (auto [name, privilege] : {std::pair{"alice", kDefaultPrivileges}, std::pair{"lister", PERM_LIST},
                                       std::pair{"reader", PERM_READ_FILE}, std::pair{"nobody", 0u}})
            elements += "<user username=\"" + std::string(name) + "\" password=\"" + passwordDigest("pw") +
                        "\" privilege=\"" + std::to_string(privilege) + "\" work_dir=\"" + home_.string() +
                        "\" disabled=\"no\" />";
        writeFile(root_ / "ftpusers.xml", "<users>" + elements + "</users>");
        users_ = std::make_unique<UserTable>(root_.string() + "/");
        users_->load();
    }
    void TearDown() override { fs::remove_all(root_); }

    static void writeFile(const fs::path& path, const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
    }

    static HttpRequest request(const std::string& path, const std::string& query, HttpMethod method = HttpMethod::Get,
                               const std::string& user = "alice") {
        HttpRequest r;
        r.method = method;
        r.path = path;
        r.query = query;
        r.user = user;
        r.password = "pw";
        return r;
    }
    static HttpRequest download(const std::string& range, HttpMethod method = HttpMethod::Get) {
        HttpRequest r = request("download.html", "path=digits.txt&", method);
        r.range = range;
        return r;
    }

    std::string answer(const HttpRequest& r, WebFeatures features) {
        testing::LoopbackPair pair = testing::makeLoopbackPair();
        std::string received;
        std::thread reader([&] { received = testing::receiveUntilClosed(pair.client, 10000); });
        WebRequestHandler handler(*users_, [] { return std::string("host"); }, nullptr, features);
        handler.handle(pair.server, r);
        pair.server.close();
        reader.join();
        return received;
    }

    fs::path root_;
    fs::path home_;
    std::unique_ptr<UserTable> users_;
};

TEST_F(WebFeaturesTest, WithBothOffRangesAndRightsChangeNothing) {
    const std::string designed =
        "HTTP/1.1 200 OK\r\n" + kDownloadStart + "Content-Length: 10\r\n\r\n0123456789";
    for (const char* range : {"", "bytes=2-4", "bytes=-3", "bytes=50-"}) {
        EXPECT_EQ(answer(download(range), kDesigned), designed) << range;
    }
    // An account without rights still lists and downloads.
    EXPECT_EQ(answer(request("download.html", "path=digits.txt&", HttpMethod::Get, "nobody"), kDesigned), designed);
    EXPECT_EQ(answer(request("list.html", "&", HttpMethod::Get, "nobody"), kDesigned)
                  .rfind(pageFrameStart("host", "nobody"), 0),
              0u);
}

TEST_F(WebFeaturesTest, OneRangeGetsPartialContentByteForByte) {
    auto partial = [](const std::string& span, const std::string& body) {
        return "HTTP/1.1 206 Partial Content\r\n" + kDownloadStart + "Content-Length: " + std::to_string(body.size()) +
               "\r\nAccept-Ranges: bytes\r\nContent-Range: bytes " + span + "/10\r\n\r\n" + body;
    };
    EXPECT_EQ(answer(download("bytes=2-4"), kRanges), partial("2-4", "234"));
    EXPECT_EQ(answer(download("bytes=7-"), kRanges), partial("7-9", "789"));
    EXPECT_EQ(answer(download("bytes=-3"), kRanges), partial("7-9", "789"));
    EXPECT_EQ(answer(download("bytes=9-400"), kRanges), partial("9-9", "9"));
    EXPECT_EQ(answer(download("bytes=0-"), kRanges), partial("0-9", "0123456789"));

    // The whole file says that ranges are served.
    const std::string whole =
        "HTTP/1.1 200 OK\r\n" + kDownloadStart + "Content-Length: 10\r\nAccept-Ranges: bytes\r\n\r\n0123456789";
    EXPECT_EQ(answer(download(""), kRanges), whole);
    EXPECT_EQ(answer(download("bytes=0-1,4-5"), kRanges), whole);  // several ranges
    EXPECT_EQ(answer(download("bytes=4-1"), kRanges), whole);      // invalid: ignored
    EXPECT_EQ(answer(download("bytes=2-4", HttpMethod::Post), kRanges), whole);  // only a GET has ranges
    HttpRequest conditional = download("bytes=2-4");
    conditional.sentIfRange = true;  // no validator of ours can match
    EXPECT_EQ(answer(conditional, kRanges), whole);
}

TEST_F(WebFeaturesTest, RangesPastTheEndGet416WithTheSize) {
    const std::string page =
        "HTTP/1.1 416 Range Not Satisfiable\r\nServer: CorvelFtp Server\r\nAuthor: CorvelFtp Server\r\n"
        "Content-Type: text/html\r\nContent-Range: bytes */10\r\n\r\n<html><head><title>416 Range Not Satisfiable"
        "</title></head><body><h1>416 Range Not Satisfiable</h1><hr width=\"900\" align=\"left\">Range Not Satisfiable"
        "</body></html>\r\n\r\n";
    EXPECT_EQ(answer(download("bytes=10-"), kRanges), page);
    EXPECT_EQ(answer(download("bytes=-0"), kRanges), page);
    EXPECT_EQ(answer(download("bytes=10-20,30-"), kRanges), page);
    HttpRequest empty = request("download.html", "path=empty.txt&");
    empty.range = "bytes=0-";
    EXPECT_NE(answer(empty, kRanges).find("\r\nContent-Range: bytes */0\r\n"), std::string::npos);
    // Missing files and folders stay 404 whatever the range.
    HttpRequest folder = request("download.html", "path=folder&");
    folder.range = "bytes=10-";
    EXPECT_EQ(answer(folder, kRanges), kNotFoundPage);
}

TEST_F(WebFeaturesTest, APartAcrossSendChunksArrivesExactly) {
    // Larger than one sendfile step of the platform layer, so the part ends inside
    // the second step.
    std::string big(9u << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    writeFile(home_ / "big.bin", big);
    HttpRequest r = request("download.html", "path=big.bin&");
    const std::int64_t first = 3, last = static_cast<std::int64_t>(big.size()) - 5;
    r.range = "bytes=" + std::to_string(first) + "-" + std::to_string(last);
    std::string reply = answer(r, kRanges);
    const std::size_t bodyAt = reply.find("\r\n\r\n") + 4;
    ASSERT_NE(bodyAt, std::string::npos + 4);
    EXPECT_NE(reply.find("\r\nContent-Length: " + std::to_string(last - first + 1) + "\r\n"), std::string::npos);
    EXPECT_NE(reply.find("\r\nContent-Range: bytes 3-" + std::to_string(last) + "/" + std::to_string(big.size())),
              std::string::npos);
    EXPECT_EQ(reply.size() - bodyAt, static_cast<std::size_t>(last - first + 1));
    EXPECT_TRUE(reply.compare(bodyAt, std::string::npos, big, first, last - first + 1) == 0);
}

TEST_F(WebFeaturesTest, HeadGetsTheHeaderOfTheGetAndChangesNothing) {
    const WebIcon* icon = findWebIcon("file.gif");
    ASSERT_NE(icon, nullptr);
    struct Route {
        const char* path;
        const char* query;
        const char* user;
    } routes[] = {
        {"", "&", "alice"},
        {"list.html", "path=folder&", "alice"},
        {"list.html", "path=missing&", "alice"},  // 404
        {"list.html", "path=..&", "alice"},       // 401
        {"list.html", "&", "stranger"},           // 401: no such account
        {"list.html", "&", "reader"},             // 401: no List right
        {"download.html", "path=digits.txt&", "alice"},
        {"download.html", "path=digits.txt&", "lister"},  // 401: no Read File right
        {"download.html", "path=folder&", "alice"},
        {"file.gif", "&", "alice"},
        {"config.html", "&", "alice"},
        {"update_password.html", "new_pwd=x&new_pwd_confirm=x&", "alice"},
        {"nothing.html", "&", "alice"},
    };
    for (WebFeatures features : {kRanges, WebFeatures{.rights = true, .ranges = true}}) {
        for (const Route& route : routes) {
            const std::string get = answer(request(route.path, route.query, HttpMethod::Get, route.user), features);
            const std::string head = answer(request(route.path, route.query, HttpMethod::Head, route.user), features);
            EXPECT_EQ(head, headerOf(get)) << route.path << "?" << route.query << " as " << route.user;
            EXPECT_TRUE(head.ends_with("\r\n\r\n")) << route.path;
            EXPECT_LT(head.size(), get.size()) << route.path;
        }
    }
    // A HEAD ignores Range: it shows the whole file's header.
    EXPECT_EQ(answer(download("bytes=2-4", HttpMethod::Head), kRanges), headerOf(answer(download(""), kRanges)));
    EXPECT_TRUE(users_->authenticate("alice", "pw"));  // the HEAD of the update stored nothing
}

TEST_F(WebFeaturesTest, RightsGateTheListingAndDownloadsOnly) {
    struct Case {
        const char* user;
        bool lists;
        bool downloads;
    } cases[] = {
        {"alice", true, true},
        {"lister", true, false},
        {"reader", false, true},
        {"nobody", false, false},
    };
    for (const Case& c : cases) {
        const std::string listing = answer(request("list.html", "&", HttpMethod::Get, c.user), kRights);
        EXPECT_EQ(listing == kUnauthorizedPage, !c.lists) << c.user;
        EXPECT_EQ(answer(request("", "&", HttpMethod::Get, c.user), kRights) == kUnauthorizedPage, !c.lists) << c.user;
        if (c.lists) {
            EXPECT_EQ(listing.rfind(pageFrameStart("host", c.user), 0), 0u) << c.user;
        }
        const std::string file = answer(request("download.html", "path=digits.txt&", HttpMethod::Get, c.user), kRights);
        EXPECT_EQ(file, c.downloads ? "HTTP/1.1 200 OK\r\n" + kDownloadStart + "Content-Length: 10\r\n\r\n0123456789"
                                    : std::string(kUnauthorizedPage))
            << c.user;
        // The right is checked before the path: a missing file tells nothing more.
        EXPECT_EQ(answer(request("download.html", "path=missing&", HttpMethod::Get, c.user), kRights),
                  c.downloads ? kNotFoundPage : kUnauthorizedPage)
            << c.user;
        // Icons and the password pages need no right.
        EXPECT_EQ(answer(request("file.gif", "&", HttpMethod::Get, c.user), kRights).rfind(iconHeader("file.gif", 379), 0),
                  0u)
            << c.user;
        EXPECT_EQ(answer(request("config.html", "&", HttpMethod::Get, c.user), kRights)
                      .rfind(pageFrameStart("host", c.user), 0),
                  0u)
            << c.user;
    }
    const std::string changed =
        answer(request("update_password.html", "new_pwd=new&new_pwd_confirm=new&", HttpMethod::Post, "nobody"), kRights);
    EXPECT_NE(changed.find("Update Successfully"), std::string::npos);
    EXPECT_TRUE(users_->authenticate("nobody", "new"));
}

}  // namespace
}  // namespace corvel
