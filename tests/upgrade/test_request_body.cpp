// Request bodies as a browser posts them to the upgrade CGI.
#include <gtest/gtest.h>

#include "support/sandbox.h"

using namespace testing_support;

namespace {

const std::string kBoundary = "----WebKitFormBoundaryq1XmZ8bYc4TgR2vA";

std::map<std::string, std::string> post(const std::string &body, const std::string &user,
                                        const std::string &boundary = kBoundary) {
    return {{"REQUEST_METHOD", "POST"},
            {"CONTENT_TYPE", "multipart/form-data; boundary=" + boundary},
            {"CONTENT_LENGTH", std::to_string(body.size())},
            {"QUERY_STRING", ""},
            {"SCRIPT_NAME", "/cgi-bin/upgrade.cgi"},
            {"REMOTE_ADDR", "192.168.1.10"},
            {"REMOTE_USER", user}};
}

// The upgrade form as posted: the image first, then the hidden fields.
std::string form_body(const std::string &image) {
    return multipart(kBoundary, {{"img", image, "C:\\Users\\admin\\Downloads\\Demo_WA1000_020106.img", ""},
                                 {"q", "1", "", ""},
                                 {"menu", "click_v12", "", ""},
                                 {"MULTI_LANG", "eng", "", ""}});
}

}  // namespace

TEST(RequestBody, ViewerPostingAnImageGetsTheFormBack) {
    Sandbox box;
    std::string image("\x00\x01\r\n--", 6);
    image += std::string(5000, '\xff') + "\r\n" + std::string(3, '\0');
    std::string body = form_body(image);
    Output r = run_cgi(box, post(body, "viewer"), body);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("<form name=\"upgrade\" method=\"post\" >"), std::string::npos);
    EXPECT_NE(r.out.find("name=\"menu\" value=\"click_v12\""), std::string::npos);
}

TEST(RequestBody, BrokenBodiesEndWithTheErrorPage) {
    Sandbox box({"HAVE_HARDDISK=y"});
    std::string body = form_body("image bytes");
    // Cut before the closing delimiter: the image never ends.
    Output cut = run_cgi(box, post(body, "admin"), body.substr(0, 120));
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(cut.out, error_page("_parse_multipart_data(): Broken stream."));

    Output empty = run_cgi(box, post("", "admin"), "");
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.out, error_page("_parse_multipart_data(): Your browser sent a non-HTTP compliant message."));

    Output wrong = run_cgi(box, post(body, "admin", "another"), body);
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.out, error_page("_parse_multipart_data(): String format invalid."));

    std::string long_boundary(250, 'b');
    std::string long_body = multipart(long_boundary, {{"q", "0", "", ""}});
    Output too_long = run_cgi(box, post(long_body, "admin", long_boundary), long_body);
    EXPECT_EQ(too_long.status, 1);
    EXPECT_EQ(too_long.out,
              error_page("_parse_multipart_data(): The boundary string is too long. Stopping process."));
    EXPECT_EQ(box.commands(), "");

    // A part named "upgrade" runs the appliance's upgrade script while decoding.
    std::string boundary(249, 'b');
    std::string script_body = multipart(boundary, {{"upgrade", "x", "", ""}, {"q", "0", "", ""}});
    Output script = run_cgi(box, post(script_body, "admin", boundary), script_body);
    EXPECT_EQ(script.status, 0);
    EXPECT_NE(script.out.find("<form name=\"upgrade\""), std::string::npos);
    EXPECT_EQ(box.commands(), "/sbin/upgrade.sh > /dev/null 2>&1\n");
}
