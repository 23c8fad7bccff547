// Clean-up of uploaded access-point firmware.
#include <gtest/gtest.h>
#include <utime.h>

#include <ctime>

#include "support/sandbox.h"
#include "webadmin.h"

using namespace testing_support;

TEST(ApSetting, UploadedFirmwareRemovedByAge) {
    Sandbox box;
    box.write("/var/ap/firmware/a.img", "a");
    box.write("/var/ap/firmware/old.bin", "o");
    box.write("/var/ap/firmware/recent.bin", "r");
    box.write("/var/ap/firmware/.keep", "");
    auto age = [&](const char *name, time_t seconds) {
        utimbuf t{std::time(nullptr) - seconds, std::time(nullptr) - seconds};
        ASSERT_EQ(utime(box.file(std::string("/var/ap/firmware/") + name).c_str(), &t), 0);
    };
    age("old.bin", 600);     // not below the age: removed
    age("recent.bin", 540);  // nine minutes: kept
    age("a.img", 0);
    EXPECT_EQ(ap_setting_checkUploadFirmware(600), 0);
    EXPECT_TRUE(box.exists("/var/ap/firmware/a.img"));
    EXPECT_FALSE(box.exists("/var/ap/firmware/old.bin"));
    EXPECT_TRUE(box.exists("/var/ap/firmware/recent.bin"));

    EXPECT_EQ(ap_setting_checkUploadFirmware(0), 0);
    EXPECT_FALSE(box.exists("/var/ap/firmware/a.img"));
    EXPECT_FALSE(box.exists("/var/ap/firmware/recent.bin"));
    EXPECT_TRUE(box.exists("/var/ap/firmware/.keep"));
    // Removed in-process: no shell command was needed.
    EXPECT_EQ(box.commands(), "");

    ASSERT_EQ(std::system(("rm -rf " + box.file("/var/ap/firmware")).c_str()), 0);
    EXPECT_EQ(ap_setting_checkUploadFirmware(0), 0);
}
