#include <gtest/gtest.h>

#include "common/DecimalText.h"
#include "common/ProgramDirectory.h"
#include "common/SharedBlocks.h"

namespace corvel {
namespace {

TEST(StatusBlock, EncodesTheLittleEndianLayoutAndLeavesBytes22And23Alone) {
    StatusBlock status;
    status.listenAddress = "192.168.100.200";
    status.ftpPort = 2121;
    status.webPort = 40000;
    status.connectionLimit = 0xFFFF;
    status.activeConnections = 3;
    status.startTime = 0x01020304;
    std::uint8_t bytes[kStatusBlockSize];
    std::fill(std::begin(bytes), std::end(bytes), 0xAA);
    status.encode(bytes);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 15), "192.168.100.200");
    EXPECT_EQ(bytes[15], 0);
    EXPECT_EQ(bytes[16], 2121 & 0xFF);
    EXPECT_EQ(bytes[17], 2121 >> 8);
    EXPECT_EQ(bytes[22], 0xAA);
    EXPECT_EQ(bytes[23], 0xAA);
    EXPECT_EQ(bytes[24], 3);
    EXPECT_EQ(bytes[28], 0x04);
    EXPECT_EQ(bytes[31], 0x01);
    StatusBlock back = StatusBlock::decode(bytes);
    EXPECT_EQ(back.listenAddress, status.listenAddress);
    EXPECT_EQ(back.webPort, 40000);
    EXPECT_EQ(back.startTime, status.startTime);
}

TEST(StatusBlock, CutsALongListenAddressToKeepTheTerminator) {
    StatusBlock status;
    status.listenAddress = "not-an-address-but-long";
    std::uint8_t bytes[kStatusBlockSize] = {};
    status.encode(bytes);
    EXPECT_EQ(StatusBlock::decode(bytes).listenAddress, "not-an-address-");
    EXPECT_EQ(bytes[15], 0);
}

TEST(DecimalText, ScansLikeTheFileFormatsExpect) {
    EXPECT_EQ(scanDecimal("  10 users"), 10);
    EXPECT_EQ(scanDecimal("-1"), -1);
    EXPECT_EQ(scanDecimal("+7x"), 7);
    EXPECT_EQ(scanDecimal("abc"), 0);
    EXPECT_EQ(scanDecimal(""), 0);
    EXPECT_EQ(static_cast<std::uint16_t>(scanDecimal("70000")), 4464);
    EXPECT_EQ(static_cast<std::uint32_t>(scanDecimal("-1")), 4294967295u);
    bool found = true;
    scanDecimal("- 5", &found);
    EXPECT_FALSE(found);
    // Absurdly long numbers wrap instead of trapping.
    scanDecimal(std::string(500, '9'));
}

TEST(ProgramDirectory, KeepsTheTrailingSeparator) {
    EXPECT_EQ(directoryOfPath("/opt/corvelftp/corveld"), "/opt/corvelftp/");
    EXPECT_EQ(directoryOfPath("corveld"), "corveld");
    EXPECT_EQ(directoryOfPath("C:\\ftp\\corveld.exe"), "C:\\ftp\\");
}

}  // namespace
}  // namespace corvel
