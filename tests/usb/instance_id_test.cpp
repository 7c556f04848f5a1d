// Reading IDs and serial numbers out of instance IDs, well-formed or not.
#include <gtest/gtest.h>

#include "usb/instance_id.h"

namespace {

InstanceIdentity Parse(const std::string& id) {
    return ParseInstanceId(id.c_str(), 1024);
}

TEST(InstanceId, WellFormedIdsGiveVendorProductAndSerial) {
    const InstanceIdentity identity = Parse("USB\\VID_2E7A&PID_4C01\\0001A2");
    EXPECT_EQ(identity.vendorId, 0x2E7A);
    EXPECT_EQ(identity.productId, 0x4C01);
    EXPECT_EQ(identity.serialNumber, 0x1A2u);
}

TEST(InstanceId, SerialSegmentIsReadLikeStrtol) {
    const struct {
        const char* segment;
        std::uint32_t serial;
    } cases[] = {
        {"5&2A3B4C5D&0&3", 5},  // generated for a device without a serial number
        {"0001A2", 0x1A2},
        {"Z12", 0},
        {"FFFFFFFFFF", 0x7FFFFFFF},  // clamped as a 32-bit long
        {"  0x1f", 0x1F},
        {"", 0},
        {"0x0A", 0xA},
        {"+1A", 0x1A},
        {"-1", 0xFFFFFFFF},  // a 32-bit long's bits
        {"-FFFFFFFFFF", 0x80000000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parse(std::string("USB\\VID_2E7A&PID_4C01\\") + c.segment).serialNumber, c.serial)
            << c.segment;
    }
}

TEST(InstanceId, MissingIdsAreZeroAndTheSerialFollowsTheLastBackslash) {
    const InstanceIdentity identity = Parse("ROOT\\HUB\\00AB");
    EXPECT_EQ(identity.vendorId, 0);
    EXPECT_EQ(identity.productId, 0);
    EXPECT_EQ(identity.serialNumber, 0xABu);
    EXPECT_EQ(Parse("NO BACKSLASH AT ALL").serialNumber, 0u);
    // A backslash between the two IDs is not the serial's: none follows PID_.
    EXPECT_EQ(Parse("USB\\VID_2E7A\\ABC&PID_4C01").serialNumber, 0u);
}

TEST(InstanceId, MalformedIdsStayInsideTheirBuffer) {
    // An ID that ends right after "PID_", or after "VID_".
    EXPECT_EQ(Parse("USB\\VID_2E7A&PID_").productId, 0);
    EXPECT_EQ(Parse("USB\\VID_").vendorId, 0);
    // A serial segment that the cut after the product ID lands in.
    EXPECT_EQ(Parse("USB\\VID_2E7A&PID_4C\\12").productId, 0x4C);
    // The whole buffer used, with no terminator inside it.
    std::string full(1024, 'A');
    full.replace(0, 8, "USB\\VID_");
    full[1000] = '\\';
    const InstanceIdentity identity = ParseInstanceId(full.data(), full.size());
    EXPECT_EQ(identity.vendorId, 0xAAAA);
    EXPECT_EQ(identity.serialNumber, 0x7FFFFFFFu);
    // Capacity cuts the text short of its terminator.
    EXPECT_EQ(ParseInstanceId("USB\\VID_2E7A&PID_4C01\\77", 19).productId, 0x4C);
}

}  // namespace
