// The USB access layer: one library call per bracket of UsbLock, and the
// identification string bounded by its buffer.
#include "usb/usb_access.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/test_support.h"

namespace {

TEST(UsbAccess, EveryCallIsMadeAloneUnderTheLock) {
    InstallTestWorld();
    SimAddDevice();
    uint32_t count = 0;
    ASSERT_EQ(LockedDeviceCount(&count), USB_OK);
    IdString id{};
    ASSERT_EQ(ReadIdString(0, &id), USB_OK);
    DeviceHandle handle = NO_DEVICE;
    ASSERT_EQ(LockedOpen(0, &handle), USB_OK);
    EXPECT_EQ(LockedSetup(handle), USB_OK);
    const uint8_t packet[1] = {0x00};
    uint32_t written = 0, waiting = 0, read = 0;
    EXPECT_EQ(LockedWrite(handle, packet, 1, &written), USB_OK);
    EXPECT_EQ(LockedQueryRxQueue(handle, &waiting), USB_OK);
    uint8_t reply[9];
    EXPECT_EQ(LockedRead(handle, reply, 9, &read), USB_OK);
    EXPECT_EQ(LockedClose(handle), USB_OK);

    ASSERT_EQ(gSimBus.calls.size(), 8u);
    for (const auto& call : gSimBus.calls) EXPECT_EQ(call.lockDepth, 1);
    EXPECT_EQ(gFake.maxLockDepth, 1);
    EXPECT_EQ(gFake.lockDepth, 0);
    EXPECT_EQ(gSimBus.calls[3].value, 1u) << "post-open set-up is called with (handle, 1, 1)";
    EXPECT_EQ(gSimBus.calls[3].value2, 1u);
}

TEST(UsbAccess, UnboundLibraryFailsEveryOperationWithoutCrashing) {
    InstallTestWorld();
    UnbindUsbLibrary();
    uint32_t count = 7, n = 0;
    DeviceHandle handle = NO_DEVICE;
    uint8_t buffer[DEVICE_STRING_SIZE];
    EXPECT_NE(LockedDeviceCount(&count), USB_OK);
    EXPECT_NE(LockedDeviceString(0, buffer, 0), USB_OK);
    EXPECT_NE(LockedOpen(0, &handle), USB_OK);
    EXPECT_NE(LockedClose(handle), USB_OK);
    EXPECT_NE(LockedRead(handle, buffer, 1, &n), USB_OK);
    EXPECT_NE(LockedWrite(handle, buffer, 1, &n), USB_OK);
    EXPECT_NE(LockedSetup(handle), USB_OK);
    EXPECT_NE(LockedQueryRxQueue(handle, &n), USB_OK);
    EXPECT_EQ(gFake.lockDepth, 0);
}

TEST(UsbAccess, IdentificationStringStopsAtNulAndNeverPassesTheBuffer) {
    InstallTestWorld();
    SimDevice* app = SimAddDevice();
    app->mode = SimMode::Application;
    SimSetAppName(app, "2021");
    SimDevice* full = SimAddDevice();
    full->fillWholeStringBuffer = true;

    IdString id{};
    ASSERT_EQ(ReadIdString(0, &id), USB_OK);
    EXPECT_EQ(id.length, 4u);
    EXPECT_TRUE(IdEquals(id, "2021"));
    EXPECT_FALSE(IdEquals(id, "2021 "));
    EXPECT_FALSE(IdEquals(id, "202"));

    ASSERT_EQ(ReadIdString(1, &id), USB_OK);
    EXPECT_EQ(id.length, DEVICE_STRING_SIZE);
}

TEST(UsbAccess, FailedStringReadLeavesTheCallersStringAlone) {
    InstallTestWorld();
    SimAddDevice()->idReadable = false;
    IdString id{};
    id.length = 3;
    std::memcpy(id.bytes, "abc", 3);
    EXPECT_NE(ReadIdString(0, &id), USB_OK);
    EXPECT_TRUE(IdEquals(id, "abc"));
}

}  // namespace
