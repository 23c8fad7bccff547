// The message page, its style block and the reboot-page fragments, written
// with the demo appliance's theme and texts.
#include <gtest/gtest.h>

#include "support/capture.h"
#include "support/sandbox.h"
#include "upgrade/upgrade.h"

using namespace testing_support;

namespace {

class MessagePage : public ::testing::Test {
protected:
    void SetUp() override {
        system_info_record record{};
        ASSERT_EQ(my_systemInfo(reinterpret_cast<char *>(&record)), 0);
        load_my_language("eng", "upgrade", nullptr);
    }
    Sandbox box_;
};

std::string take(char *heap) {
    std::string s = heap ? heap : "(null)";
    std::free(heap);
    return s;
}

const std::string kStyle =
    "<style type=\"text/css\">\n"
    "BODY {\n"
    "  margin: 0px;\n"
    "  font-family: Verdana, Arial, Helvetica;\n"
    "  background-color: #f4f6f8;\n"
    "  background-position: center top;\n"
    "  scrollbar-face-color: #c8d0d8;\n"
    "  scrollbar-highlight-color: #ffffff;\n"
    "  scrollbar-shadow-color: #a0a8b0;\n"
    "  scrollbar-3dlight-color: #e8ecf0;\n"
    "  scrollbar-arrow-color: #203040;\n"
    "  scrollbar-track-color: #eef1f4;\n"
    "  scrollbar-darkshadow-color: #808890;\n"
    "}\n"
    ".TextAttr {\n"
    "  font-family: Arial;\n"
    "  font-weight: normal;\n"
    "  font-size: 12px;\n"
    "  color: #203040;\n"
    "  height: 20px;\n"
    "  text-align: center;\n"
    "}\n"
    "</style>\n";

}  // namespace

// The colour flag styles both lines; the style block is the theme's, in its order.
TEST_F(MessagePage, PageWithItsStyleBlock) {
    EXPECT_EQ(captured_stdout(upgrade_css), kStyle);
    auto page = [](const std::string &td) {
        const std::string row = "<tr class=\"TextAttr\"><td " + td + ">";
        return "<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n" + kStyle +
               "</head>\n<body>\n<center>\n<br>\n<table border=0 width=700 cellpadding=3 cellspacing=1>\n" + row +
               "first</td></tr>\n" + row + "second</td></tr>\n</table>\n</center>\n</body>\n</html>\n";
    };
    EXPECT_EQ(captured_stdout([] { message("first", "second", 1); }), page("style=\"color: #cc0000\""));
    EXPECT_EQ(captured_stdout([] { message("first", "second", 0); }), page(""));
}

// Each fragment is one line of a script string.
TEST_F(MessagePage, FragmentsAreSingleLinesForAScriptString) {
    EXPECT_EQ(take(ui_para_valid()),
              "<table border=0 width=700 cellpadding=3 cellspacing=1>\\n"
              "<tr class=\"TextAttr\" align=\"center\"><td>The firmware image is valid and is being written.</td></tr>\\n"
              "<tr class=\"TextAttr\" align=\"center\"><td>This takes a few minutes; the appliance then restarts by "
              "itself.</td></tr>\\n</table>");
    EXPECT_EQ(take(ui_para_ver_down_warn()),
              "<table border=0 width=700 cellpadding=3 cellspacing=1>\\n"
              "<tr class=\"TextAttr\" align=\"center\"><td style=\"color: #cc0000\">The image holds an older firmware "
              "version than the one running.</td></tr>\\n"
              "<tr class=\"TextAttr\" align=\"center\"><td style=\"color: #cc0000\">The upgrade goes on; settings of "
              "newer versions may be lost.</td></tr>\\n</table>");
    EXPECT_EQ(take(ui_invalid()),
              "<table border=0 width=700 cellpadding=3 cellspacing=1>\\n"
              "<tr class=\\\"TextAttr\\\" align=\\\"center\\\"><td>The file is not a valid firmware image for this "
              "appliance.</td></tr>\\n"
              "<tr class=\\\"TextAttr\\\" align=\\\"center\\\"><td>Please choose a correct firmware image.</td></tr>\\n"
              "</table>");
}
