// The streamed multipart reader: the same parts whatever the pieces the body comes
// in, a boundary-like text inside a file kept, and malformed or refused bodies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "web/MultipartStream.h"

namespace corvel {
namespace {

struct Seen {
    std::vector<std::string> events;
    std::string stopAt;  // a part name whose start is refused
    MultipartHandler handler() {
        return MultipartHandler{
            [this](const PartHeader& part) {
                events.push_back("start " + part.name + (part.fileName ? " file=" + *part.fileName : ""));
                return part.name != stopAt;
            },
            [this](std::string_view bytes) {
                if (events.empty() || events.back().rfind("bytes ", 0) != 0) events.push_back("bytes ");
                events.back().append(bytes);
                return true;
            },
            [this] {
                events.push_back("end");
                return true;
            }};
    }
};

const std::string kBody =
    "preamble to ignore\r\n"
    "--XyZ\r\nContent-Disposition: form-data; name=\"csrf\"\r\n\r\ntoken\r\n"
    "--XyZ  \r\ncontent-disposition: form-data; name=\"files\"; filename=\"a; \\\"b\\\".txt\"\r\n"
    "Content-Type: text/plain\r\n\r\nline\r\n--XyA is no delimiter\r\n--Xy\r\n"
    "--XyZ\r\nContent-Disposition: form-data; name=\"files\"; filename=\"\"\r\n\r\n"
    "\r\n--XyZ--\r\nepilogue";

const std::vector<std::string> kExpected = {"start csrf",
                                            "bytes token",
                                            "end",
                                            "start files file=a; \"b\".txt",
                                            "bytes line\r\n--XyA is no delimiter\r\n--Xy",
                                            "end",
                                            "start files file=",
                                            "end"};

TEST(MultipartStream, ThePartsAreTheSameWhateverThePieces) {
    for (std::size_t piece : {kBody.size(), std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{13}}) {
        SCOPED_TRACE(piece);
        Seen seen;
        MultipartStream stream("XyZ", seen.handler());
        MultipartStream::State state = MultipartStream::State::Reading;
        for (std::size_t at = 0; at < kBody.size(); at += piece) state = stream.feed(kBody.substr(at, piece));
        EXPECT_EQ(state, MultipartStream::State::Finished);
        // Bytes of one part may come in several calls; joined they are the same.
        EXPECT_EQ(seen.events, kExpected);
    }
}

TEST(MultipartStream, MalformedAndRefusedBodiesStop) {
    {
        Seen seen;
        MultipartStream stream("b", seen.handler());
        EXPECT_EQ(stream.feed("--b\r\nX-Other: 1\r\n\r\ndata\r\n--b--"), MultipartStream::State::Malformed);
    }
    {
        Seen seen;
        MultipartStream stream("b", seen.handler());
        EXPECT_EQ(stream.feed("--b\r\n" + std::string(kMaxPartHeaderBytes + 10, 'h')),
                  MultipartStream::State::Malformed);
    }
    {
        Seen seen;
        MultipartStream stream("b", seen.handler());
        EXPECT_EQ(stream.feed("--bjunk\r\n"), MultipartStream::State::Malformed);
    }
    {
        Seen seen;
        seen.stopAt = "files";
        MultipartStream stream("b", seen.handler());
        EXPECT_EQ(stream.feed("--b\r\nContent-Disposition: form-data; name=\"files\"; filename=\"x\"\r\n\r\nabc"),
                  MultipartStream::State::Stopped);
        EXPECT_EQ(seen.events, std::vector<std::string>{"start files file=x"});
    }
    {
        Seen seen;  // a body that ends before its closing delimiter is still reading
        MultipartStream stream("b", seen.handler());
        EXPECT_EQ(stream.feed("--b\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nabc"),
                  MultipartStream::State::Reading);
    }
}

TEST(MultipartStream, TheBoundaryComesFromAFormDataContentType) {
    EXPECT_EQ(multipartBoundary("multipart/form-data; boundary=----WebKitFormBoundaryA1b2"),
              "----WebKitFormBoundaryA1b2");
    EXPECT_EQ(multipartBoundary("Multipart/Form-Data;boundary=\"a b:c\""), "a b:c");
    EXPECT_FALSE(multipartBoundary("multipart/mixed; boundary=x"));
    EXPECT_FALSE(multipartBoundary("multipart/form-data"));
    EXPECT_FALSE(multipartBoundary("multipart/form-data; boundary="));
    EXPECT_FALSE(multipartBoundary("multipart/form-data; boundary=" + std::string(71, 'a')));
    EXPECT_FALSE(multipartBoundary("multipart/form-data; boundary=a\r\nb"));
}

}  // namespace
}  // namespace corvel
