// The pure parts of the <ftpext> commands: RFC 3659 times both ways (calendar
// arithmetic across leap days, 1970 and the four-digit years) and the fact lines.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "common/Permissions.h"
#include "ftp/MachineTime.h"
#include "ftp/MlsxFacts.h"

namespace corvel {
namespace {

TEST(MachineTime, FormatsAndParsesUtcTimesAcrossTheFourDigitYears) {
    const struct {
        std::int64_t seconds;
        const char* text;
    } cases[] = {{0, "19700101000000"},          {1709210096, "20240229123456"},  // a leap day
                 {951868800, "20000301000000"},  {-1, "19691231235959"},          // counts back before 1970
                 {-30610224000, "10000101000000"}, {253402300799, "99991231235959"}};
    for (const auto& c : cases) {
        EXPECT_EQ(formatMachineTime(c.seconds), std::optional<std::string>(c.text)) << c.seconds;
        EXPECT_EQ(parseMachineTime(c.text), std::optional<std::int64_t>(c.seconds)) << c.text;
    }
    EXPECT_EQ(formatMachineTime(253402300800), std::nullopt);  // a fifth year digit
    EXPECT_EQ(formatMachineTime(-30610224001), std::nullopt);
    // A step prime to the day length walks every day of four centuries at many times of day.
    for (std::int64_t t = -2208988800; t < 10413792000; t += 86400 + 3607)
        ASSERT_EQ(parseMachineTime(formatMachineTime(t).value_or("")), std::optional<std::int64_t>(t)) << t;
}

TEST(MachineTime, ParsingRefusesAnythingButAValidTimeVal) {
    EXPECT_EQ(parseMachineTime("20240101000000.123"), std::optional<std::int64_t>(1704067200));  // fraction dropped
    for (const char* bad : {"", "2024010100000", "202401010000000", "2024-01-01T000", "20230229000000",
                            "20240230000000", "20241301000000", "20240100000000", "20240101240000",
                            "20240101006000", "20240101000060", "09990101000000", "20240101000000.",
                            "20240101000000.5x", " 20240101000000"})
        EXPECT_EQ(parseMachineTime(bad), std::nullopt) << '"' << bad << '"';
}

TEST(MlsxFacts, LinesCarryTypeSizeModifyPermAndModeThenTheName) {
    EXPECT_EQ(formatMlsdLine({FactType::File, 1234, 1709210096, 0644}, kDefaultPrivileges, "a b.txt"),
              "type=file;size=1234;modify=20240229123456;perm=r;unix.mode=0644; a b.txt\r\n");
    // Directories tell no size; special bits stay in the mode; Create File alone stores nothing.
    EXPECT_EQ(formatFacts({FactType::Cdir, 4096, 0, 02775}, PERM_LIST | PERM_CREATE_FILE | PERM_REMOVE_FILE),
              "type=cdir;modify=19700101000000;perm=elp;unix.mode=2775;");
    // A time four year digits cannot carry leaves the modify fact out.
    EXPECT_EQ(formatFacts({FactType::File, 0, 253402300800, 0600}, 0), "type=file;size=0;perm=;unix.mode=0600;");
}

}  // namespace
}  // namespace corvel
