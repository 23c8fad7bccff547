#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/capture.h"
#include "support/sandbox.h"
#include "webadmin.h"

using testing_support::captured_stdout;
using testing_support::Sandbox;

namespace {

const char *marker_name(int i) { return _mydebug_buf + 128 * i; }

}  // namespace

TEST(Debug, WritesOnlyWhileTheMarkerExists) {
    Sandbox box;
    my_debug("page.cpp", 12, "value %d", 5);
    EXPECT_EQ(box.commands(), "");
    box.write("/var/debug.msg", "");
    my_debug("page.cpp", 12, "value %d", 5);
    EXPECT_EQ(box.commands(), "<sync>\n");

    // Without a /var directory the marker is /debug.msg.
    std::filesystem::remove_all(box.file("/var"));
    box.write("/commands.log", "");
    my_debug("page.cpp", 12, "value %d", 5);
    EXPECT_EQ(box.commands(), "");
    box.write("/debug.msg", "");
    my_debug(nullptr, 0, "%s", "no file name");
    EXPECT_EQ(box.commands(), "<sync>\n");
}

TEST(Debug, ProgramMarkersSetTheFlags) {
    Sandbox box;
    my_debug_set_level(0x30);
    my_debug_init("/usr/local/www/cgi-bin/upgrade.cgi");
    const char *suffixes[] = {".print", ".log", ".fp", ".fprm", ".syslog", ".level"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(marker_name(i), std::string("/upgrade") + suffixes[i]);
    EXPECT_EQ(_mydebug_f, 0);
    EXPECT_EQ(_mydebug_level, 0x30);  // no level file: unchanged
    EXPECT_EQ(_mydebug_pid, static_cast<int>(getpid()));
    EXPECT_EQ(box.commands(), "");

    for (const char *name : {"/upgrade.print", "/upgrade.fp", "/upgrade.fprm", "/upgrade.syslog"}) box.write(name, "");
    box.write("/upgrade.level", "1f\n");
    my_debug_init("upgrade");
    EXPECT_EQ(_mydebug_f, 1 | 2 | 4);
    EXPECT_EQ(_mydebug_level, 0x1f);
    EXPECT_EQ(box.commands(), "> /upgrade.log\n");

    // Only the log switch: flag 2 alone; a name of shell characters reaches
    // the shell quoted.
    box.write("/commands.log", "");
    box.write("/a b;c.fp", "");
    box.write("/a b;c.fprm", "");
    my_debug_init("/bin/a b;c.cgi");
    EXPECT_STREQ(marker_name(1), "/a b;c.log");
    EXPECT_EQ(_mydebug_f, 2);
    EXPECT_EQ(box.commands(), "> '/a b;c.log'\n");

    // A name longer than a slot is cut inside it.
    my_debug_init(std::string(300, 'x').c_str());
    EXPECT_EQ(marker_name(0), "/" + std::string(126, 'x'));
    EXPECT_EQ(marker_name(5), "/" + std::string(126, 'x'));
    my_debug_init(nullptr);
    EXPECT_STREQ(marker_name(0), "");
    EXPECT_EQ(_mydebug_f, 0);
}

TEST(Debug, OutputGoesWhereTheFlagsSayAndUsageNamesTheMarkers) {
    Sandbox box;
    box.write("/cgi.print", "");
    box.write("/cgi.fp", "");
    my_debug_init("/cgi");
    my_debug_set_pid(4242);
    my_debug_set_level(0x1);
    EXPECT_EQ(captured_stdout([] {
                  my_debug_printf(0x2, "handler", 17, "masked %d", 1);
                  my_debug_printf(0x3, "handler", 17, "shown %d", 2);
              }),
              "(pid:4242)[handler] 17: shown 2\n");
    // "%D %T" of UTC: digits in the shape 99/99/99 99:99:99.
    EXPECT_TRUE(testing_support::matches(box.read("/cgi.log"),
                                         "[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} ==> "
                                         "\\(pid:4242\\)\\[handler\\] 17: shown 2\n"))
        << box.read("/cgi.log");

    // No flag set: nothing, whatever the mask.
    my_debug_init("/quiet");
    EXPECT_EQ(captured_stdout([] { my_debug_printf(0xff, "handler", 1, "silent"); }), "");
    EXPECT_FALSE(box.exists("/quiet.log"));

    my_debug_init("/sbin/tool");
    EXPECT_EQ(captured_stdout(my_debug_usage),
              "\ndebug flag:\n"
              "  echo \"0xFF\" > /tool.level\t: set level (hex)\n"
              "  > /tool.print\t\t: print\n"
              "  > /tool.fp\t\t\t: write to /tool.log\n"
              "  > /tool.fprm\t\t\t: clear /tool.log\n"
              "  > /tool.syslog\t\t: write to syslog\n");
}
