// Clean-up of uploaded access-point firmware by age (the lock-down's
// removal of all of it is checked with the lock-down request).
#include <gtest/gtest.h>
#include <utime.h>

#include <ctime>
#include <filesystem>

#include "support/sandbox.h"
#include "webadmin.h"

using namespace testing_support;

TEST(ApSetting, UploadedFirmwareRemovedByAge) {
    Sandbox box;
    // Not below the age: removed; nine minutes old: kept; dot files never.
    for (const auto &[name, seconds] : {std::pair{"old.bin", 600}, {"recent.bin", 540}, {".keep", 600}}) {
        box.write(std::string("/var/ap/firmware/") + name, "x");
        utimbuf t{std::time(nullptr) - seconds, std::time(nullptr) - seconds};
        ASSERT_EQ(utime(box.file(std::string("/var/ap/firmware/") + name).c_str(), &t), 0);
    }
    EXPECT_EQ(ap_setting_checkUploadFirmware(600), 0);
    EXPECT_FALSE(box.exists("/var/ap/firmware/old.bin"));
    EXPECT_TRUE(box.exists("/var/ap/firmware/recent.bin"));
    EXPECT_TRUE(box.exists("/var/ap/firmware/.keep"));
    EXPECT_EQ(box.commands(), "");  // removed in-process, no shell command

    std::filesystem::remove_all(box.file("/var/ap/firmware"));
    EXPECT_EQ(ap_setting_checkUploadFirmware(0), 0);
}
