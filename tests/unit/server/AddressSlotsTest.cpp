// The web connections of each address: a share per address, places given back by
// the connections that end, and nothing remembered of an address holding none.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "server/AddressSlots.h"

namespace corvel {
namespace {

TEST(AddressSlots, AnAddressGetsItsShareAndNoMoreWhileOthersAreServed) {
    auto slots = std::make_shared<AddressSlots>();
    std::vector<std::unique_ptr<AddressSlots::Slot>> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(slots->take("192.0.2.1", 3));
        ASSERT_TRUE(held.back());
    }
    EXPECT_FALSE(slots->take("192.0.2.1", 3));
    EXPECT_EQ(slots->countOf("192.0.2.1"), 3u);
    auto other = slots->take("192.0.2.2", 3);
    EXPECT_TRUE(other);
    held.pop_back();  // a connection ends: its place is free again
    EXPECT_TRUE(slots->take("192.0.2.1", 3));
    held.clear();
    other.reset();
    EXPECT_EQ(slots->countOf("192.0.2.1"), 0u);
    EXPECT_EQ(slots->countOf("192.0.2.2"), 0u);
}

TEST(AddressSlots, NoLimitCountsButNeverRefusesAndASlotOutlivesItsRun) {
    auto slots = std::make_shared<AddressSlots>();
    std::vector<std::unique_ptr<AddressSlots::Slot>> held;
    for (int i = 0; i < 1000; ++i) held.push_back(slots->take("2001:db8::1", 0));
    EXPECT_EQ(slots->countOf("2001:db8::1"), 1000u);
    // The run lets go of the table; connections still hold it until they end.
    std::weak_ptr<AddressSlots> table = slots;
    slots.reset();
    EXPECT_FALSE(table.expired());
    held.clear();
    EXPECT_TRUE(table.expired());
}

}  // namespace
}  // namespace corvel
