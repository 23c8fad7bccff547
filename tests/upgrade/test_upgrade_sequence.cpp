// The upload (q=1) from the browser's post to the restart, in a sandbox:
// the page, the recorded commands, the flash files, the logs and the
// timing record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "support/sandbox.h"
#include "webadmin.h"

using namespace testing_support;

namespace {

struct Section {
    std::string token;  // "N.NAME"
    std::string data;
};

// A firmware image as the vendor builds it; the trailer case and the last
// byte may be chosen.
std::string make_image(const std::string &major, const std::string &minor, const std::string &revision,
                       const std::string &product, const std::vector<Section> &sections, bool upper = false,
                       char last = '\n') {
    std::string header(60, '\0');
    auto put = [&](size_t offset, const std::string &text) { std::memcpy(&header[offset], text.data(), text.size()); };
    put(0, "Demo");
    put(21, "WA1000");
    put(41, major);
    put(44, minor);
    put(47, revision);
    put(50, product);
    std::string image = header;
    for (const auto &s : sections) {
        std::string section_header(64, '\0');
        std::string text = std::to_string(s.data.size()) + " " + s.token;
        std::memcpy(&section_header[0], text.data(), text.size());
        image += section_header + s.data;
    }
    std::string digest = qMD5StrLen(image.data(), image.size());
    if (upper) std::transform(digest.begin(), digest.end(), digest.begin(), ::toupper);
    return image + digest + last;
}

std::string bytes(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 7)) & 0xff);
    return s;
}

const std::string kBoundary = "----WebKitFormBoundaryJ8mXq2LrV3cN0aPe";

// The upgrade form as the browser posts it.
std::string upload_body(const std::string &image) {
    return multipart(kBoundary, {{"img", image, "Demo_WA1000_020106.img", ""},
                                 {"q", "1", "", ""},
                                 {"menu", "", "", ""},
                                 {"MULTI_LANG", "eng", "", ""}});
}

// A post of body that announces content_length bytes.
Output post(const Sandbox &box, const std::string &body, size_t content_length, const std::string &user = "admin") {
    return run_cgi(box,
                   {{"REQUEST_METHOD", "POST"},
                    {"CONTENT_TYPE", "multipart/form-data; boundary=" + kBoundary},
                    {"CONTENT_LENGTH", std::to_string(content_length)},
                    {"SCRIPT_NAME", "/cgi-bin/upgrade.cgi"},
                    {"REMOTE_ADDR", "192.168.1.10"},
                    {"REMOTE_USER", user}},
                   body);
}

Output upload(const Sandbox &box, const std::string &image, const std::string &user = "admin") {
    std::string body = upload_body(image);
    return post(box, body, body.size(), user);
}

bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

size_t count(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

const std::string kMirror =
    "/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n"
    "/bin/cp /etc/sysconfig/.firewall/upgrade_info.conf /mnt > /dev/null 2>&1\n"
    "/bin/umount /mnt > /dev/null 2>&1\n"
    "> /var/tmp/last.config\n";

// Everything a successful upgrade runs, in order, after main's own commands.
const std::string kUpgradeCommands =
    "/bin/cp /bin/busybox /tmp > /dev/null 2>&1\n"
    "/bin/ln -s /tmp/busybox /tmp/reboot > /dev/null 2>&1\n"
    "/bin/ln -s /tmp/busybox /tmp/sync > /dev/null 2>&1\n"
    "/bin/ln -s /tmp/busybox /tmp/killall > /dev/null 2>&1\n"
    "/bin/ln -s /tmp/busybox /tmp/echo > /dev/null 2>&1\n"
    "/bin/ln -s /tmp/busybox /tmp/ln > /dev/null 2>&1\n"
    "/bin/ln -s /tmp/busybox /tmp/sleep > /dev/null 2>&1\n"
    "/bin/cp /lib/ld* /var/lib > /dev/null 2>&1\n"
    "/bin/cp /lib/libcrypt-* /var/lib > /dev/null 2>&1\n"
    "/bin/cp /lib/libcrypt.* /var/lib > /dev/null 2>&1\n"
    "/bin/cp /lib/libdl* /var/lib > /dev/null 2>&1\n"
    "/bin/cp /lib/libgcc* /var/lib > /dev/null 2>&1\n"
    "/bin/cp /lib/libm* /var/lib > /dev/null 2>&1\n"
    "/bin/cp /lib/libresolv* /var/lib > /dev/null 2>&1\n"
    "/bin/cp /lib/libuClibc-* /var/lib > /dev/null 2>&1\n"
    "/bin/cp /lib/libutil* /var/lib > /dev/null 2>&1\n"
    "/bin/rm /var/log -rf > /dev/null 2>&1\n"
    // the boot log is copied to flash before the daemons stop
    "/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n"
    "/bin/cp /etc/sysconfig/.firewall/eventlog /mnt > /dev/null 2>&1\n"
    "/bin/umount /mnt > /dev/null 2>&1\n"
    "/tmp/killall pptp > /dev/null 2>&1\n"
    "/tmp/killall whack > /dev/null 2>&1\n"
    "/tmp/killall telnetd > /dev/null 2>&1\n"
    "/tmp/killall dropbear > /dev/null 2>&1\n"
    "/tmp/killall syslogd > /dev/null 2>&1\n"
    "/tmp/killall ZERodevido > /dev/null 2>&1\n"
    "/tmp/killall VODUd > /dev/null 2>&1\n"
    "/tmp/killall CMS_tunnel > /dev/null 2>&1\n"
    "/tmp/echo 3 > /proc/watchdog_reboot\n" +
    kMirror +  // the timing record read for the progress bar
    "/tmp/sync > /dev/null 2>&1\n" +
    kMirror +  // the new duration stored
    "/tmp/sync;/tmp/sleep 30;/tmp/reboot\n"
    "/tmp/echo 1 > /proc/watchdog_reboot\n"
    "<reboot>\n";

const std::string kRefusal =
    "<tr class=\"TextAttr\"><td >The file is not a valid firmware image for this appliance.</td></tr>\n"
    "<tr class=\"TextAttr\"><td >Please choose a correct firmware image.</td></tr>\n";

std::string demo_image(const std::string &revision = "6") {
    return make_image("2", "1", revision, "101003", {{"1.kernel", bytes(4096, 1)}, {"2.rootfs", bytes(3000, 2)}});
}

// Every file of the sandbox with its size: a refused or broken upload
// leaves it as it was, with no flash write and no temporary file.
std::map<std::string, uintmax_t> tree(const Sandbox &box) {
    std::map<std::string, uintmax_t> files;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(box.root()))
        if (entry.is_regular_file()) files[entry.path().string()] = entry.file_size();
    return files;
}

}  // namespace

TEST(UpgradeSequence, AcceptedImageIsWrittenAndTheApplianceRestarts) {
    Sandbox box({"HAVE_HARDDISK=y"});
    box.write("/etc/sysconfig/.firewall/upgrade_info.conf", "1000 1180\n");
    std::string image = demo_image();
    Output r = upload(box, image);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(box.commands(), kUpgradeCommands);

    // The flash: section 1 whole, section 2 without its first 16 bytes.
    EXPECT_EQ(box.read("/dev/mtdblock1"), bytes(4096, 1));
    EXPECT_EQ(box.read("/dev/mtdblock2"), bytes(3000, 2).substr(16));

    // The page: reboot head, the valid fragment, a bar of the stored 180
    // seconds, the bar hidden, then the count-down of 45 + 30 -> 80 s.
    const std::string &page = r.out;
    EXPECT_EQ(page.rfind("Content-Type: text/html\n\n<html>\n<head>\n", 0), 0u);
    size_t at = 0;  // in this order
    for (const char *part : {"<div id=\"sys_reboot_log\">", "The firmware image is valid and is being written.", "<progress id=\"wp\" max=\"180\" value=\"0\">",
                             "document.getElementById(\"wp\").style.display=\"none\"", "<span id=\"timer\" style=\"color: #cc0000\">80</span>",
                             "total_time = 80;\n  if (total_time > 0) degree = 4;"})
        EXPECT_NE(at = page.find(part, at), std::string::npos) << part;
    EXPECT_TRUE(has(page, "<td>Demo WA1000 is restarting, please wait...</td>"));
    EXPECT_FALSE(has(page, "older firmware version") || has(page, "Please choose a correct firmware image."));

    // The boot log survives the restart: time 0, both versions.
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/eventlog"),
              "\"0\" \"upgrade\" \"\" \"admin\" \"192.168.1.10\" 0 11 "
              "\"${EVENTLOG_SUCCESS_STR} (v2.01.5 ==> v2.01.6)\"\n");
    EXPECT_EQ(box.read("/var/log/eventlog"), "");

    // The new duration replaces the stored one: the write took no time here.
    unsigned long start = 0, end = 0;
    ASSERT_EQ(std::sscanf(box.read("/etc/sysconfig/.firewall/upgrade_info.conf").c_str(), "%lu %lu", &start, &end), 2);
    EXPECT_LE(end - start, 5u);
    EXPECT_GT(start, 1000u);
}

// What the image check decides, each image in a fresh sandbox: the smallest
// image taken (60 + 64 + 867 + 33 = 1024 bytes) whatever its last byte, a
// downgrade, another product where the identity card is; a refused image
// leaves the flash and the timing record alone and logs the failure.
TEST(UpgradeSequence, TheImageCheckDecides) {
    struct Case {
        std::string what, image;
        std::string kernel;  // written to section 1; empty: refused
        bool card = false;
    };
    const std::string small = bytes(867, 3), kernel = bytes(4096, 1);
    std::string trailer_digit = demo_image(), body = demo_image();
    trailer_digit[trailer_digit.size() - 2] ^= 1;
    body[100] ^= 1;
    std::vector<Case> cases = {
        {"downgrade", demo_image("4"), kernel},
        {"identity card", make_image("2", "1", "6", "202003", {{"1.kernel", kernel}}), kernel, true},
        {"1023 bytes", make_image("2", "1", "6", "101003", {{"1.kernel", bytes(866, 3)}}), ""},
        {"trailer digit", trailer_digit, ""},
        {"body", body, ""},
        {"upper-case trailer", make_image("2", "1", "6", "101003", {{"1.kernel", kernel}}, true), ""},
        {"product", make_image("2", "1", "6", "202003", {{"1.kernel", kernel}}), ""},
        {"product running into the body", make_image("2", "1", "6", "0000101003", {{"1.kernel", kernel}}), ""},
    };
    for (char last : {'\n', '\0', 'Z'})
        cases.push_back({"last byte " + std::to_string(int(last)),
                         make_image("2", "1", "6", "101003", {{"1.kernel", small}}, false, last), small});
    ASSERT_EQ(cases[2].image.size(), 1023u);
    ASSERT_EQ(cases.back().image.size(), 1024u);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const bool accepted = !c.kernel.empty();
        Sandbox box({"HAVE_HARDDISK=y"});
        if (c.card) box.write("/var/tmp/UIIDCARD", "");
        Output r = upload(box, c.image);
        EXPECT_EQ(r.status, 0);
        // The reboot page head comes first, then the verdict.
        EXPECT_TRUE(has(r.out, "<div id=\"sys_reboot_log\">"));
        EXPECT_EQ(has(r.out, "is being written"), accepted);
        EXPECT_EQ(has(r.out, kRefusal), !accepted);
        EXPECT_EQ(has(r.out, "older firmware version than the one running"), c.what == "downgrade");
        EXPECT_EQ(box.read("/dev/mtdblock1"), c.kernel);
        if (accepted) {
            EXPECT_EQ(box.commands(), kUpgradeCommands);
            // No stored duration yet: the first upgrade shows a 360-second bar.
            EXPECT_TRUE(has(r.out, "<progress id=\"wp\" max=\"360\" value=\"0\">"));
        } else {
            EXPECT_EQ(box.commands(), "/usr/bin/killall -CONT vavazUzo > /dev/null 2>&1\n");
            EXPECT_EQ(box.read("/var/log/eventlog"),
                      "\"0\" \"upgrade\" \"\" \"admin\" \"192.168.1.10\" 0 11 \"${EVENTLOG_FAILURE_STR}\"\n");
            EXPECT_FALSE(box.exists("/etc/sysconfig/.firewall/upgrade_info.conf"));
        }
        // Only an image of another product is a failure worth the system log.
        EXPECT_EQ(box.read("/syslog.log"), c.what.rfind("product", 0) == 0 ? "<3>check_product failed!!\n" : "");
    }
}

TEST(UpgradeSequence, NothingToWriteRestartsOnTheOldFirmware) {
    Sandbox box({"HAVE_HARDDISK=y"});
    // A first section header without a dot in its token: no section is reached.
    Output r = upload(box, make_image("2", "1", "6", "101003", {{"kernel", bytes(4096, 1)}}));
    EXPECT_TRUE(has(r.out, "is being written"));
    EXPECT_TRUE(has(r.out, "<tr class=\\\"TextAttr\\\" align=\\\"center\\\"><td>The file is not a valid firmware"));
    EXPECT_TRUE(has(box.commands(), "/tmp/sync > /dev/null 2>&1\n/tmp/reboot\n/tmp/echo 1 > /proc/watchdog_reboot\n"
                                    "<reboot>\n/usr/bin/killall -CONT vavazUzo > /dev/null 2>&1\n"));
    EXPECT_EQ(box.read("/dev/mtdblock1"), "");
    // The restart was recorded, not done: the sandbox goes on with the refusal.
    EXPECT_TRUE(has(r.out, kRefusal));
    EXPECT_TRUE(has(box.read("/var/log/eventlog"), "${EVENTLOG_FAILURE_STR}"));
}

TEST(UpgradeSequence, ForgedLengthIsRefusedAndTheViewerGetsTheForm) {
    Sandbox box({"HAVE_HARDDISK=y"});
    // A URL-encoded post naming its own img.length (the value is 3 bytes), and a multipart one whose length part comes first.
    const std::string body = "q=1&img=abc&img.length=100000000";
    Output r = run_cgi(box, {{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", "application/x-www-form-urlencoded"}, {"CONTENT_LENGTH", std::to_string(body.size())},
                             {"SCRIPT_NAME", "/cgi-bin/upgrade.cgi"}, {"REMOTE_ADDR", "192.168.1.10"}, {"REMOTE_USER", "admin"}},
                       body);
    EXPECT_TRUE(r.status == 0 && has(r.out, kRefusal));
    const std::string forged = multipart(kBoundary, {{"img.length", "5000", "", ""}, {"img", demo_image().substr(0, 2000), "x.img", ""}, {"q", "1", "", ""}});
    EXPECT_TRUE(has(post(box, forged, forged.size()).out, kRefusal));
    EXPECT_EQ(count(box.commands(), "/usr/bin/killall -CONT vavazUzo"), 2u);
    Sandbox viewer({"HAVE_HARDDISK=y"});
    r = upload(viewer, demo_image(), "viewer");
    EXPECT_TRUE(has(r.out, "<form name=\"upgrade\" method=\"post\" >") && !has(r.out, "sys_reboot_log"));
    EXPECT_EQ(viewer.commands() + viewer.read("/dev/mtdblock1"), "");
}

// A small image posted cut short but announced whole: short of the closing
// delimiter nothing is an upload, and every such request ends on its error
// page with the sandbox as it was.  Cut at every byte near a line break or a
// dash (where the decoder looks for a delimiter) and at every seventh byte
// elsewhere.  A body running on past its announced length is read only up to
// its closing delimiter.
TEST(UpgradeSequence, CutBodiesNeverWriteTheFlash) {
    Sandbox box({"HAVE_HARDDISK=y"});
    const std::string kernel = bytes(450, 4), rootfs = bytes(450, 5);
    const std::string image = make_image("2", "1", "6", "101003", {{"1.kernel", kernel}, {"2.rootfs", rootfs}});
    ASSERT_GE(image.size(), 1024u);
    const std::string body = upload_body(image);
    const size_t first_line = 2 + kBoundary.size();  // "--" and the boundary
    const size_t closed = body.size() - 2;           // "--" after the last delimiter read
    const std::map<std::string, uintmax_t> before = tree(box);
    auto near_delimiter_byte = [&](size_t cut) {
        for (size_t i = cut >= 2 ? cut - 2 : 0; i < std::min(cut + 2, body.size()); ++i)
            if (body[i] == '\n' || body[i] == '-') return true;
        return false;
    };
    for (size_t cut = 0; cut < closed; ++cut) {
        if (cut % 7 != 0 && !near_delimiter_byte(cut)) continue;
        Output r = post(box, body.substr(0, cut), body.size());
        ASSERT_EQ(r.status, 1) << "cut at " << cut;
        ASSERT_EQ(r.out, error_page(std::string("_parse_multipart_data(): ") +
                                    (cut == 0 ? "Your browser sent a non-HTTP compliant message." : cut < first_line ? "String format invalid." : "Broken stream.")))
            << "cut at " << cut;
        ASSERT_EQ(tree(box), before) << "cut at " << cut;
    }

    Output r = post(box, body.substr(0, closed) + std::string(4096, '\xff'), body.size());
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.out, "is being written"));
    EXPECT_EQ(box.read("/dev/mtdblock1"), kernel);
    EXPECT_EQ(box.read("/dev/mtdblock2"), rootfs.substr(16));
}
