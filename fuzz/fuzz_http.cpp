// Fuzzes the web browser: the input is the byte stream of one web connection, read
// by HttpRequestReader and answered by WebRequestHandler's routes.
//
// Set-up, once: a scratch program directory with a users file holding "fuzz"
// (password "fuzzpw", home with a few files and folders) and an enabled anonymous
// account. Per input: the users file is written again and reloaded (a password
// change rewrites it) and the home is reset to a fixed small tree. If the first
// byte is odd, a request head with the Basic credentials of "fuzz" ("fuzz:fuzzpw")
// is put in front of the rest, so the input continues that head.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "accounts/UserTable.h"
#include "common/PasswordDigest.h"
#include "web/HttpRequestReader.h"
#include "web/WebRequestHandler.h"

namespace corvel::fuzzing {
namespace {

struct HttpFixture {
    ScratchDirectory dir;
    std::string home = dir.file("home");
    std::string usersDocument;
    UserTable users{dir.directory()};

    HttpFixture() {
        std::error_code ignored;
        std::filesystem::create_directory(dir.file("anonymous"), ignored);
        writeFile(dir.file("anonymous/readme.txt"), "anonymous file\n");
        usersDocument = "<users>"
                        "<user username=\"fuzz\" password=\"" + passwordDigest("fuzzpw") +
                        "\" alias=\"f\" privilege=\"458783\" work_dir=\"" + home +
                        "\" welcome_msg=\"hi\" disabled=\"no\"/>"
                        "<user username=\"anonymous\" password=\"anonymous\" alias=\"anonymous\" "
                        "privilege=\"131074\" work_dir=\"" + dir.file("anonymous") +
                        "\" welcome_msg=\"anon\" disabled=\"no\"/>"
                        "</users>";
    }
};

HttpFixture& fixture() {
    static HttpFixture instance;
    return instance;
}

}  // namespace
}  // namespace corvel::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvel;
    using namespace corvel::fuzzing;
    if (size == 0 || size > FedSocketPair::kMaxInputBytes) return 0;
    HttpFixture& f = fixture();
    writeFile(f.dir.file("ftpusers.xml"), f.usersDocument);
    f.users.load();
    resetTree(f.home);

    std::string input;
    // "fuzz:fuzzpw" in Base64.
    if (data[0] & 1) input = "Authorization: Basic ZnV6ejpmdXp6cHc=\r\n";
    input.append(reinterpret_cast<const char*>(data) + 1, size - 1);

    FedSocketPair pair(std::move(input));
    check(pair.server().setNonBlocking(), "the server end becomes non-blocking");
    // The second bit turns <webpolicy> and <webext> on: rights, ranges and HEAD.
    const bool extensions = (data[0] & 2) != 0;
    WebRequestHandler handler(f.users, [] { return std::string("fuzzhost"); }, nullptr,
                              WebFeatures{.rights = extensions, .ranges = extensions});
    int handled = 0;
    {
        HttpRequestReader reader(
            pair.server(),
            [&](Socket& socket, const HttpRequest& request) {
                ++handled;
                check(request.contentLength <= (std::int64_t{1} << 40) &&
                          request.contentLength >= -(std::int64_t{1} << 40),
                      "Content-Length saturates");
                handler.handle(socket, request);
            },
            HttpReaderTiming{/*waitStepMs=*/10, /*idleLimitWaits=*/2},
            extensions ? HttpExtensions::On : HttpExtensions::Off);
        reader.serve();
    }
    check(handled <= 1, "one request per connection");
    (void)pair.finish();
    return 0;
}
