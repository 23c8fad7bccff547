// The section walk and the flash writes, on the sandbox's flash files, and
// the project's own image tools.
#include <gtest/gtest.h>

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
    // Section 1 whole, section 2 without its first 16 bytes; section 3 is
    // passed over but counts, and the walk finds section 7 right after its
    // data.  The result is the number of sections reached less one.
    std::string rootfs = std::string(16, 'h') + std::string(84, 'r');
    EXPECT_EQ(write(section("1.kernel", 4096, 'k') + section("100 2.rootfs", rootfs) + section("3.extra", 512, 'x') +
                    section("7.other", 10, 'o') + kTrailer),
              3);
    EXPECT_EQ(box.read("/dev/mtdblock1"), std::string(4096, 'k'));
    EXPECT_EQ(box.read("/dev/mtdblock2"), std::string(84, 'r'));
    EXPECT_EQ(box.read("/dev/mtdblock3"), "");
    EXPECT_EQ(box.commands(), "/tmp/sync > /dev/null 2>&1\n");
}

TEST(FlashWriter, WalkEndsWhereTheHeadersStopMakingSense) {
    Sandbox box;
    for (const std::string &body : {std::string(), std::string(63, '1'), section("-1.bad", 10, 'b') + kTrailer,
                                    section("4096 kernel", std::string(4096, 'k')) + kTrailer,  // no dot
                                    section("junk", "") + kTrailer,
                                    // a size beyond the body ends the walk before anything is written
                                    section("99999 1.kernel", std::string(100, 'z')) + kTrailer,
                                    section("4294967297 1.kernel", std::string(100, 'z')) + kTrailer}) {
        SCOPED_TRACE(body.substr(0, 20));
        EXPECT_EQ(write(body), -1);
    }
    EXPECT_EQ(box.read("/dev/mtdblock1"), "");
    // A later bad header keeps the sections before it.
    EXPECT_EQ(write(section("1.kernel", 8, 'a') + section("nodot", 8, 'b') + section("2.rootfs", 40, 'c')), 0);
    EXPECT_EQ(box.read("/dev/mtdblock1"), "aaaaaaaa");
    EXPECT_EQ(box.read("/dev/mtdblock2"), "");
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
    const std::string digest = image.substr(image.size() - 33, 32);
    EXPECT_EQ(digest, qMD5StrLen(image.data(), image.size() - 33));

    Output seen = run(box, {BUILD_DIR "/inspect-image", out}, {});
    EXPECT_EQ(seen.status, 0);
    EXPECT_EQ(seen.out,
              "length: 8221\nvendor: Demo\nmodel: WA1000\nversion: 2.01.06 (number 20106)\nproduct id: 101003 "
              "(0x101003)\nsection 1 at 124: 5000 bytes -> /dev/mtdblock1\nsection 2 at 5188: 3000 bytes -> "
              "/dev/mtdblock2 (2984 bytes from data byte 16)\nsections reached: 2\ntrailer: valid (" +
                  digest + ")\n");

    image[200] ^= 1;
    box.write("/in/bad.img", image);
    Output bad = run(box, {BUILD_DIR "/inspect-image", box.file("/in/bad.img")}, {});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("trailer: INVALID (expected "), std::string::npos);

    // A version without its revision, and a product identifier too long.
    EXPECT_EQ(run(box, {BUILD_DIR "/make-image", "--version", "2.1", "--product-id", "1", "-o", out}, {}).status, 2);
    EXPECT_EQ(run(box, {BUILD_DIR "/make-image", "--version", "2.1.6", "--product-id", "1234567890", "-o", out}, {})
                  .status,
              1);
}
