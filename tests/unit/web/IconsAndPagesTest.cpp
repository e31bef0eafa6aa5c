// The built-in icons and the header blocks and rows of the web answers.
#include <gtest/gtest.h>

#include "web/Icons.h"
#include "web/WebPages.h"

namespace corvel {
namespace {

struct IconShape {
    const char* route;
    std::size_t bytes;
    int colours;
    int transparentIndex;
};

TEST(WebIcons, AreWellFormedSixteenPixelGifsWithTheirColourTables) {
    const IconShape shapes[] = {{"forder.gif", 375, 64, 0}, {"file.gif", 379, 64, 59}, {"cdup.gif", 581, 128, 11}};
    for (const IconShape& shape : shapes) {
        const WebIcon* icon = findWebIcon(shape.route);
        ASSERT_NE(icon, nullptr) << shape.route;
        ASSERT_EQ(icon->size, shape.bytes) << shape.route;
        const unsigned char* b = icon->bytes;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(b), 6), "GIF89a");
        EXPECT_EQ(b[6] | b[7] << 8, 16);
        EXPECT_EQ(b[8] | b[9] << 8, 16);
        ASSERT_TRUE(b[10] & 0x80) << "global colour table";
        int colours = 2 << (b[10] & 7);
        EXPECT_EQ(colours, shape.colours);
        EXPECT_EQ(b[icon->size - 1], 0x3B) << "trailer";
        // Walk the blocks: extensions, exactly one image, then the trailer.
        std::size_t pos = 13 + 3 * static_cast<std::size_t>(colours);
        int images = 0;
        int transparent = -1;
        while (pos < icon->size && b[pos] != 0x3B) {
            auto skipSubBlocks = [&] {
                while (pos < icon->size && b[pos] != 0) pos += b[pos] + 1u;
                ++pos;
            };
            if (b[pos] == 0x21) {
                if (b[pos + 1] == 0xF9) {
                    ASSERT_TRUE(b[pos + 3] & 1) << "transparency flag";
                    transparent = b[pos + 6];
                }
                pos += 2;
                skipSubBlocks();
            } else {
                ASSERT_EQ(b[pos], 0x2C) << shape.route << " at " << pos;
                ++images;
                pos += 10 + 1;  // descriptor and LZW minimum code size
                skipSubBlocks();
            }
        }
        EXPECT_EQ(pos, icon->size - 1) << shape.route;
        EXPECT_EQ(images, 1);
        EXPECT_EQ(transparent, shape.transparentIndex);
    }
    EXPECT_EQ(findWebIcon("other.gif"), nullptr);
    EXPECT_EQ(findWebIcon("FILE.GIF"), nullptr);
}

TEST(WebPages, IconHeaderCarriesItsLengthInline) {
    EXPECT_EQ(iconHeader("file.gif", 379),
              "HTTP/1.1 200 OK\r\npragam: no-cache\r\nConntection: Keep-Alive\r\nServer: CorvelFTP Web Server\r\n"
              "Content-Type: image/gif;\r\n name=file.gif\r\nContent-Disposition: inline; filename=\"file.gif\"\r\n"
              "Content-Length: 379\r\n\r\n");
}

TEST(WebPages, DownloadHeaderDropsCharactersThatCouldForgeHeaders) {
    EXPECT_EQ(downloadHeader("application/x-gzip", "archive.tar.gz", "12"),
              "HTTP/1.1 200 OK\r\npragam: no-cache\r\nConntection: Keep-Alive\r\nServer: CorvelFTP Web Server\r\n"
              "Content-Type: application/x-gzip;\r\n name=archive.tar.gz\r\n"
              "Content-Disposition: attachment; filename=\"archive.tar.gz\"\r\nContent-Length: 12\r\n\r\n");
    std::string header = downloadHeader("application/*", "a\r\nSet-Cookie: x=\"1\".txt", "0");
    EXPECT_NE(header.find("filename=\"aSet-Cookie: x=1.txt\"\r\n"), std::string::npos);
    EXPECT_EQ(header.find("\r\nSet-Cookie"), std::string::npos);
}

TEST(WebPages, TheOneLineContentTypeQuotesTheName) {
    EXPECT_EQ(iconHeader("file.gif", 379, ContentTypeForm::OneLine),
              "HTTP/1.1 200 OK\r\npragam: no-cache\r\nConntection: Keep-Alive\r\nServer: CorvelFTP Web Server\r\n"
              "Content-Type: image/gif; name=\"file.gif\"\r\nContent-Disposition: inline; filename=\"file.gif\"\r\n"
              "Content-Length: 379\r\n\r\n");
    // Blanks stay inside the quotes, a backslash is escaped, and CR, LF and '"' go.
    const std::string header =
        extendedDownloadHeader("text/plain", "a b\\c\r\n\"d.txt", 5, RangeChoice{RangeChoice::Kind::Whole, 0, 0});
    EXPECT_NE(header.find("\r\nContent-Type: text/plain; name=\"a b\\\\cd.txt\"\r\n"), std::string::npos) << header;
    EXPECT_NE(header.find("; filename=\"a b\\\\cd.txt\"\r\n"), std::string::npos) << header;
}

TEST(WebPages, TheCharsetIsDeclaredInTheHeaderAndTheHead) {
    const std::string page = withCharset(kNotFoundPage, "utf-8");
    EXPECT_EQ(page.substr(0, page.find("\r\n\r\n")),
              "HTTP/1.1 404 Error\r\nServer: CorvelFtp Server\r\nAuthor: CorvelFtp Server\r\n"
              "Content-Type: text/html; charset=utf-8");
    EXPECT_NE(page.find("<html><head><meta charset=\"utf-8\"><title>404 Error</title>"), std::string::npos);
    EXPECT_EQ(withCharset(kNotFoundPage, ""), kNotFoundPage);
    // A listing frame: only the first head is marked, the names in it stay as they are.
    const std::string frame = withCharset(pageFrameStart("h", "<head>"), "iso-8859-1");
    EXPECT_EQ(frame.find("<meta"), frame.find("<head>") + 6);
    EXPECT_NE(frame.find("&lt;head&gt;"), std::string::npos);
}

TEST(WebPages, FrameEscapesHostAndUserNames) {
    std::string frame = pageFrameStart("host<1>", "a&b\"");
    EXPECT_TRUE(frame.ends_with("<h1>host&lt;1&gt; - a&amp;b&quot;")) << frame;
    EXPECT_EQ(frame.rfind("HTTP/1.1 200 OK\r\npragam: no-cache\r\nConntection: Keep-Alive\r\n", 0), 0u);
}

TEST(WebPages, RowsHaveTheirFixedLayoutAndEscapeNames) {
    EXPECT_EQ(upRow("#FFFFFF", ""),
              "<tr bgcolor=\"#FFFFFF\"><td colspan=\"4\"><a href=\"list.html?path=\"><img src=\"cdup.gif\" "
              "border=\"0\"></a></td></tr>");
    EXPECT_EQ(folderRow("#F0F0F0", "%61", "<a>", "           0", "Jan  1 00:00"),
              "<tr bgcolor=\"#F0F0F0\"><td><img src=\"forder.gif\"></td><td width=\"600\"><a "
              "href=\"list.html?path=%61\"><b>&lt;a&gt;</b></a></td><td width=\"100\">           0</td><td>Jan  1 "
              "00:00</td></tr>\r\n");
    EXPECT_EQ(fileRow("#FFFFFF", "%62", "b", "          12", "Dec 31 23:59"),
              "<tr bgcolor=\"#FFFFFF\"><td><img src=\"file.gif\"></td><td width=\"600\"><a "
              "href=\"download.html?path=%62\">b</a></td><td width=\"100\">          12</td><td>Dec 31 "
              "23:59</td></tr>\r\n");
    EXPECT_EQ(rowColour(0), "#F0F0F0");
    EXPECT_EQ(rowColour(1), "#FFFFFF");
}

}  // namespace
}  // namespace corvel
