// The section walk and the flash writes, on the sandbox's flash files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "support/sandbox.h"
#include "upgrade/upgrade.h"

using namespace testing_support;

namespace {

std::string section(const std::string &header_text, const std::string &data) {
    std::string header(64, '\0');
    std::memcpy(&header[0], header_text.data(), std::min<size_t>(header_text.size(), 64));
    return header + data;
}

std::string section(const std::string &token, size_t size, char fill) {
    return section(std::to_string(size) + " " + token, std::string(size, fill));
}

const std::string kTrailer = std::string(32, 'a') + "\n";

int write(const std::string &body) {
    return write_to_fs(reinterpret_cast<const unsigned char *>(body.data()), static_cast<long>(body.size()));
}

}  // namespace

TEST(FlashWriter, SectionsGoToTheirDevices) {
    Sandbox box;
    EXPECT_EQ(write(section("1.kernel", 4096, 'k') + kTrailer), 0);
    EXPECT_EQ(box.read("/dev/mtdblock1"), std::string(4096, 'k'));
    EXPECT_EQ(box.commands(), "/tmp/sync > /dev/null 2>&1\n");

    // Section 2 loses its first 16 bytes; section 3 is passed over but counts,
    // and the walk finds section 7 right after its data.
    std::string rootfs = std::string(16, 'h') + std::string(84, 'r');
    EXPECT_EQ(write(section("100 2.rootfs", rootfs) + section("3.extra", 512, 'x') + section("7.other", 10, 'o') +
                    kTrailer),
              2);
    EXPECT_EQ(box.read("/dev/mtdblock2"), std::string(84, 'r'));
    EXPECT_FALSE(box.exists("/dev/mtdblock3") && box.read("/dev/mtdblock3").size() > 0);
}

TEST(FlashWriter, WalkEndsWhereTheHeadersStopMakingSense) {
    Sandbox box;
    EXPECT_EQ(write(""), -1);
    EXPECT_EQ(write(std::string(63, '1')), -1);
    EXPECT_EQ(write(section("-1.bad", 10, 'b') + kTrailer), -1);
    EXPECT_EQ(write(section("4096 kernel", std::string(4096, 'k')) + kTrailer), -1);  // no dot
    EXPECT_EQ(write(section("junk", "") + kTrailer), -1);
    EXPECT_EQ(box.read("/dev/mtdblock1"), "");
    // A later bad header keeps the sections before it.
    EXPECT_EQ(write(section("1.kernel", 8, 'a') + section("nodot", 8, 'b') + section("2.rootfs", 40, 'c')), 0);
    EXPECT_EQ(box.read("/dev/mtdblock1"), "aaaaaaaa");
    EXPECT_EQ(box.read("/dev/mtdblock2"), "");
    // A size beyond the body ends the walk before anything is written.
    EXPECT_EQ(write(section("99999 1.kernel", std::string(100, 'z')) + kTrailer), -1);
    EXPECT_EQ(write(section("4294967297 1.kernel", std::string(100, 'z')) + kTrailer), -1);
    EXPECT_EQ(box.read("/dev/mtdblock1"), "aaaaaaaa");
}

TEST(FlashWriter, DeviceProblemsGiveUpTheSectionOnly) {
    Sandbox box;
    std::remove(box.file("/dev/mtdblock1").c_str());
    EXPECT_EQ(write(section("1.kernel", 64, 'k') + section("2.rootfs", 10, 's') + section("2.rootfs", 20, 't') +
                    kTrailer),
              2);
    EXPECT_FALSE(box.exists("/dev/mtdblock1"));  // never created
    // A section 2 of fewer than 16 bytes writes nothing; the next one does.
    EXPECT_EQ(box.read("/dev/mtdblock2"), "tttt");
}

TEST(ImageTools, MadeImageIsWhatTheApplianceChecks) {
    Sandbox box;
    box.write("/in/kernel", std::string(5000, 'K'));
    box.write("/in/rootfs", std::string(3000, 'R'));
    std::string out = box.file("/in/demo.img");
    Output made = run(box, {BUILD_DIR "/make-image", "--version", "2.1.6", "--product-id", "101003", "--section",
                            "1.kernel=" + box.file("/in/kernel"), "--section", "2.rootfs=" + box.file("/in/rootfs"),
                            "-o", out},
                      {});
    ASSERT_EQ(made.status, 0) << made.err;
    std::string image = read_file(out);
    ASSERT_EQ(image.size(), 60u + 64 + 5000 + 64 + 3000 + 33);
    EXPECT_EQ(std::string(image.data() + 60, 15), std::string("5000 1.kernel\0\0", 15));
    EXPECT_EQ(image.substr(image.size() - 33, 32), qMD5StrLen(image.data(), image.size() - 33));

    Output seen = run(box, {BUILD_DIR "/inspect-image", out}, {});
    EXPECT_EQ(seen.status, 0);
    EXPECT_EQ(seen.out,
              "length: 8221\nvendor: Demo\nmodel: WA1000\nversion: 2.01.06 (number 20106)\nproduct id: 101003 "
              "(0x101003)\nsection 1 at 124: 5000 bytes -> /dev/mtdblock1\nsection 2 at 5188: 3000 bytes -> "
              "/dev/mtdblock2 (2984 bytes from data byte 16)\nsections reached: 2\ntrailer: valid (" +
                  image.substr(image.size() - 33, 32) + ")\n");

    image[200] ^= 1;
    box.write("/in/bad.img", image);
    Output bad = run(box, {BUILD_DIR "/inspect-image", box.file("/in/bad.img")}, {});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("trailer: INVALID (expected "), std::string::npos);

    Output refused = run(box, {BUILD_DIR "/make-image", "--version", "2.1", "--product-id", "1", "-o", out}, {});
    EXPECT_EQ(refused.status, 2);
    Output too_long = run(box, {BUILD_DIR "/make-image", "--version", "2.1.6", "--product-id", "1234567890", "-o", out},
                          {});
    EXPECT_EQ(too_long.status, 1);
}
