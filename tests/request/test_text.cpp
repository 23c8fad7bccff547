// The text helpers of the request layer: URL coding, strings, digests, the
// HTML printer, fields, name/value lists and templates.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "support/request.h"
#include "support/sandbox.h"
#include "webadmin.h"

namespace {

using namespace testing_support;

std::string taken(char *text) {
    std::string s = text ? text : "<null>";
    free(text);
    return s;
}

TEST(Url, EncodeKeepsSafeCharactersAndDecodeReverses) {
    for (auto [in, out] : {std::pair{"a b&c", "a%20b%26c"}, {"user@host.tw:80-x_y\\z/AZ09.", "user@host.tw:80-x_y\\z/AZ09."},
                           {"=;+%?#\"'~\r\n", "%3d%3b%2b%25%3f%23%22%27%7e%0d%0a"}, {"\x01\x7f\x80\xff", "%01%7f%80%ff"}, {"", ""}})
        EXPECT_EQ(taken(qURLencode(in)), out);
    EXPECT_EQ(taken(qURLencode(nullptr)), "<null>");
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    std::string coded = taken(qURLencode(all.c_str()));
    EXPECT_EQ(coded.size(), 255u + 2u * (255u - 69u));
    EXPECT_EQ(qURLdecode(coded.data()), all);

    EXPECT_EQ(_x2c('f', 'F'), static_cast<char>(0xff));
    for (auto [in, out] : {std::pair{"a+b%41%2b%7e%0d", "a bA+~\r"}, {"50%", "50%"}, {"x%4", "x%4"}, {"", ""}}) {
        std::string text = in;
        EXPECT_EQ(qURLdecode(text.data()), text.data());
        EXPECT_EQ(text.c_str(), std::string(out));
    }
    EXPECT_EQ(qURLdecode(nullptr), nullptr);
    for (auto [line, word, rest] : {std::tuple{"name=value=more", "name", "value=more"}, {"value", "value", ""}, {"=r", "", "r"}}) {
        std::string text = line;
        EXPECT_EQ(taken(_makeword(text.data(), '=')), word);
        EXPECT_EQ(text.c_str(), std::string(rest));
    }
}

TEST(Url, FgetsCutsAtLineFeedAndCapacity) {
    FILE *in = tmpfile();
    const std::string fed("first\r\nxxxxxxxxxx\nlast\0after", 28);
    fwrite(fed.data(), 1, fed.size(), in);
    rewind(in);
    char buf[8];
    for (const std::string &expected : std::vector<std::string>{"first\r\n", "xxxxxxx", "xxx\n", std::string("last\0af", 7), "ter"}) {
        ASSERT_EQ(_fgets(buf, sizeof buf, in), buf);
        EXPECT_EQ(std::string(buf, expected.size()), expected);
    }
    EXPECT_EQ(_fgets(buf, sizeof buf, in), nullptr);
    EXPECT_EQ(_fgets(buf, 1, in), nullptr);
    fclose(in);
}

TEST(String, TrimCaseAndChecks) {
    for (auto [in, out] : {std::pair{" \t\r\n name = x \r\n", "name = x"}, {"   ", ""}, {"\va\v", "\va\v"}}) {
        std::string text = in;
        EXPECT_EQ(qRemoveSpace(text.data()), std::string(out));
    }
    char word[] = "abc-XYZ_09\xe9";
    EXPECT_STREQ(qStrupr(word), "ABC-XYZ_09\xe9");
    EXPECT_STREQ(qStrLower(word), "abc-xyz_09\xe9");
    EXPECT_EQ(qRemoveSpace(nullptr), nullptr);
    EXPECT_EQ(qStrupr(nullptr), nullptr);
    EXPECT_EQ(qStrIsAlnum("abcXYZ019"), 1);
    EXPECT_EQ(qStrIsAlnum("ab_c"), 0);
    EXPECT_EQ(qStrIsAlnum(nullptr), 0);

    EXPECT_EQ(qStrincmp("Content-Disposition: form-data", "content-disposition: ", 21), 0);
    EXPECT_LT(qStrincmp("abc", "ABD", 3), 0);
    EXPECT_EQ(qStrincmp("abc", "ABD", 2), 0);
    EXPECT_LT(qStrincmp("ab", "ABC", 10), 0);
    EXPECT_EQ(qStrCaseCmp("Hello", "hELLO"), 0);
    EXPECT_GT(qStrCaseCmp("_", "a"), 0);  // upper-cased first
    EXPECT_LT(qStrCaseCmp("Hell", "hello"), 0);
    const char *text = "multipart/Form-Data; boundary=x";
    EXPECT_EQ(qStrCaseStr(text, "BOUNDARY="), text + 21);
    EXPECT_EQ(qStrCaseStr(text, "boundary=xy"), nullptr);
    EXPECT_EQ(qStrCaseStr(nullptr, "a"), nullptr);

    for (const char *good : {"ab@cd.e", "first.last@mail.example.com", "ab..cd@ef.g"}) EXPECT_EQ(qCheckEmail(good), 1) << good;
    for (const char *bad : {"a.b@c", "ab@.cd", "abcd@ef", "ab@cd..ef", "@abcd.ef", "ab@cd@ef.g", "ab c@de.f", ""})
        EXPECT_EQ(qCheckEmail(bad), 0) << bad;
    for (const char *url : {"http://x", "ftp://x", "telnet://x", "mailto:a@b.c", "news:comp"}) EXPECT_EQ(qCheckURL(url), 1);
    for (const char *url : {"https://x", "HTTP://x", "http:/x", ""}) EXPECT_EQ(qCheckURL(url), 0) << url;
    for (auto [n, out] : {std::pair{0, "0"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"}, {-1234, "-1,234"},
                          {-2147483647 - 1, "-2,147,483,648"}})
        EXPECT_STREQ(qStrCommaNumber(n), out);
}

TEST(String, ReplaceNewAndInPlace) {
    for (auto [mode, src, tokens, word, out] : {
             std::tuple{"sn", "aaa", "aa", "b", "ba"}, {"sn", "a<br>b<br>", "<br>", "//n", "a//nb//n"}, {"sn", "abc", "abcd", "x", "abc"},
             {"sn", "xyx", "x", "", "y"}, {"sn", "abc", "", "zz", "abc"}, {"sn", "aaaa", "a", "0123456789", "0123456789012345678901234567890123456789"},
             {"tn", "a-b_c", "-_", "", "abc"}, {"tn", "a\"b", "\"", "\\\"", "a\\\"b"}, {"tn", "aXa", "a", "<>", "<>X<>"}}) {
        std::string copy = src;
        EXPECT_EQ(taken(qStrReplace(mode, copy.data(), tokens, word)), out) << mode << " " << src;
        EXPECT_EQ(copy, src);
    }
    char room[64] = "one two two", dots[32] = "1.2.3";
    EXPECT_EQ(qStrReplace("sr", room, "two", "2"), room);
    EXPECT_STREQ(room, "one 2 2");
    EXPECT_STREQ(qStrReplace("tr", dots, ".", " dot "), "1 dot 2 dot 3");
    for (const char *mode : {"xn", "sx", "s", "snn"})
        EXPECT_FATAL(qStrReplace(mode, room, "a", "b"), "^Error: qStrReplace\\(\\): Unknown mode \"" + std::string(mode) + "\"\\.\n$");

    char stop = 'x';
    auto next = [&](char *t, const char *delimiters) {
        const char *token = _strtok2(t, delimiters, &stop);
        return std::string(token ? token : "null") + "|" + (stop ? stop : '0');
    };
    char tokens[] = "a,,b;c";
    std::vector<std::string> seen{next(tokens, ",;")};
    for (int i = 0; i < 4; ++i) seen.push_back(next(nullptr, ",;"));
    EXPECT_EQ(seen, (std::vector<std::string>{"a|,", "|,", "b|;", "c|0", "null|0"}));
}

TEST(Md5, KnownDigestsAndPieces) {
    for (auto [text, digest] : {std::pair{"", "d41d8cd98f00b204e9800998ecf8427e"}, {"abc", "900150983cd24fb0d6963f7d28e17f72"},
                                {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
                                {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
                                 "57edf4a22be3c955ac49da2e2107b67a"}}) {
        EXPECT_STREQ(qMD5Str(text), digest);
        EXPECT_STREQ(qMD5StrLen(text, strlen(text)), digest);
    }
    EXPECT_STREQ(qMD5StrLen("a\0b", 4), "aa3a791e273bce9cf4a2a7caa9028b36");
    std::vector<unsigned char> data(1000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 31 + 7);
    for (auto [n, digest] : {std::pair{55, "c9e512626618c9980ef21a96597af94c"}, {56, "ecde7caa08e9f5657c863df107cac60a"},
                             {63, "2f0301069e1c40af7f6c8f843b1b13f2"}, {64, "b6bf87c24b1bc334e2541387a92b981b"},
                             {65, "f168246f08b6134d66bd2a10343fa9f1"}, {128, "3e85b70ffc8df5c735ecf2a8f14f1bee"}})
        EXPECT_STREQ(qMD5StrLen(data.data(), n), digest) << n;
    for (size_t piece : {1, 7, 56, 64, 65, 999}) {
        md5_context ctx;
        MD5Init(&ctx);
        for (size_t at = 0; at < data.size(); at += piece) MD5Update(&ctx, data.data() + at, std::min(piece, data.size() - at));
        unsigned char digest[16];
        MD5Final(digest, &ctx);
        EXPECT_EQ(memcmp(digest, "\x2b\x1e\x78\xd5\x76\x5d\xe9\xe1\x04\x95\xa0\x14\x12\xa1\xcf\x22", 16), 0) << piece;
    }
    Sandbox box;
    box.write("/etc/image.bin", std::string("abc\0def", 7));
    EXPECT_STREQ(qMD5FileStr("/etc/image.bin"), "900150983cd24fb0d6963f7d28e17f72");  // up to the first NUL
    EXPECT_EQ(qMD5FileStr("/etc/missing"), nullptr);

    clear_request_env();
    qFree();
    const std::string by_pid = qMD5Str(("0.0-" + std::to_string(getppid()) + ":" + std::to_string(getpid())).c_str());
    EXPECT_EQ(qUniqueID(), by_pid);
    qValueAdd("REMOTE_ADDR", "10.0.0.1");
    EXPECT_EQ(qUniqueID(), by_pid);
    qValueAdd("REMOTE_PORT", "5555");
    char *id = qUniqueID();
    qMD5Str("other");
    EXPECT_STREQ(id, "a59f3871e82c22803ba10264ce08f6b9");
    qFree();
}

std::string link(const std::string &url, const std::string &target) {
    return "<a href=\"" + url + "\" target=\"" + target + "\">" + url + "</a>";
}

TEST(HtmlPrint, EveryModeOnItsText) {
    const std::string esc = "x &lt; y &gt; &quot;z&quot; ", mixed = "x < y > \"z\" http://a.b";
    const struct {
        int mode;
        std::string in, out;
    } rows[] = {
        {0, "a<b> \"c\"\r\n  d", "a<b> \"c\"\r\n  d"},
        {10, "a\r\nb  c   d <x>", "a<br>\nb &nbsp;c &nbsp;&nbsp;d <x>"},
        {10, "  lead", " &nbsp;lead"},
        {1, mixed, esc + "http://a.b"},
        {2, mixed, esc + link("http://a.b", "")},
        {3, mixed, esc + link("http://a.b", "_top")},
        {23, mixed, esc + link("http://a.b", "qnewwin")},
        {2, "(https://s.t),[ftp://f.g]{telnet://h}`news:n'mailto:m",
         "(" + link("https://s.t", "") + "),[" + link("ftp://f.g", "") + "]{" + link("telnet://h", "") + "}`" + link("news:n", "") +
             "'" + link("mailto:m", "")},
        {2, "mail admin@corp.tw now", "mail <a href=\"mailto:admin@corp.tw\">admin@corp.tw</a> now"},
        {1, "mail admin@corp.tw now", "mail admin@corp.tw now"},
        {2, "HTTP://up.case a@b", "HTTP://up.case a@b"},
        {4, "a<b class=\"x\">bold</b> \"q\" > z", "abold &quot;q&quot; > z"},
        {4, "x\r\ny<unclosed tag", "x\r\ny"},
        {5, "<a href=\"http://x.y\">go</a> http://z.w", "go " + link("http://z.w", "")},
        {6, "http://z.w<i>", link("http://z.w", "_top")},
        {26, "<p>http://z.w</p>", link("http://z.w", "qnewwin")},
        {11, "a  b\r\n<c>", "a &nbsp;b<br>\n&lt;c&gt;"},
        {12, "go http://a.b\n", "go " + link("http://a.b", "") + "<br>\n"},
        {13, "http://a.b", link("http://a.b", "_top")},
        {14, "x<br>\ny   z", "x<br>\ny &nbsp;&nbsp;z"},
        {15, "<b>\r\n</b>x", "<br>\nx"},
        {16, "http://a.b\n", link("http://a.b", "_top") + "<br>\n"},
        {33, "\"a\"  http://a.b", "&quot;a&quot; &nbsp;" + link("http://a.b", "qnewwin")},
        {36, "<i>a</i>\nb", "a<br>\nb"},
    };
    for (const auto &r : rows) EXPECT_EQ(captured_stdout([&] { qPuts(r.mode, r.in.c_str()); }), r.out) << r.mode << " " << r.in;
    EXPECT_EQ(captured_stdout([] { qPuts(10, nullptr); }), "");
    for (int mode : {7, 17, 20, 21, 30, -1})
        EXPECT_FATAL(qPuts(mode, "x"), "^Error: _autolink\\(\\): Invalid Mode \\(" + std::to_string(mode) + "\\)\\.\n$");
    int n = 0;
    EXPECT_EQ(captured_stdout([&] { n = qPrintf(1, "<%s> %d", "tag", 42); }), "&lt;tag&gt; 42");
    EXPECT_EQ(n, 8);
    const std::string fits(10239, 'p');
    EXPECT_EQ(captured_stdout([&] { n = qPrintf(0, "%s", fits.c_str()); }), fits);
    EXPECT_FATAL(qPrintf(0, "%s", (fits + "p").c_str()), "^Error: qPrintf\\(\\): Message is too long or invalid\\.\n$");
}

struct Fields {
    char f[Q_AWK_MAX_FIELDS][Q_AWK_FIELD_SIZE];
    std::vector<std::string> first(int n) const { return std::vector<std::string>(f, f + n); }
};

TEST(Awk, SplitAndReadFileLines) {
    auto fields = std::make_unique<Fields>();
    for (auto [line, separator, expected] : {std::tuple{"a b  c", ' ', std::vector<std::string>{"a", "b", "", "c"}},
                                             {":x:", ':', {"", "x", ""}}, {"", ' ', {""}}, {"a b", '\0', {"a b"}}}) {
        std::string text = line;
        ASSERT_EQ(qAwkStr(fields->f, text.data(), separator), static_cast<int>(expected.size()));
        EXPECT_EQ(fields->first(expected.size()), expected);
    }
    std::string many = std::string(3000, 'L') + ",";
    for (int i = 1; i < Q_AWK_MAX_FIELDS + 2; ++i) many += std::to_string(i) + ",";
    ASSERT_EQ(qAwkStr(fields->f, many.data(), ','), Q_AWK_MAX_FIELDS);
    EXPECT_EQ(fields->f[0], std::string(Q_AWK_FIELD_SIZE - 1, 'L'));
    EXPECT_STREQ(fields->f[Q_AWK_MAX_FIELDS - 2], "62");
    EXPECT_STREQ(fields->f[Q_AWK_MAX_FIELDS - 1], "63,64,65,");

    Sandbox box;
    box.write("/etc/table", "  eth0 192.168.1.1  \r\n\nwan0:up\n");
    EXPECT_EQ(qAwkClose(), 0);
    ASSERT_EQ(qAwkOpen("/etc/table", ':'), 1);
    for (auto expected : {std::vector<std::string>{"eth0 192.168.1.1"}, {""}, {"wan0", "up"}})
        EXPECT_EQ(fields->first(qAwkNext(fields->f)), expected);
    EXPECT_EQ(qAwkNext(fields->f), -1);
    EXPECT_EQ(qAwkClose(), 1);
    ASSERT_EQ(qAwkOpen("/etc/table", ' '), 1);  // the separator of the new open
    EXPECT_EQ(fields->first(qAwkNext(fields->f)), (std::vector<std::string>{"eth0", "192.168.1.1"}));
    EXPECT_FATAL(qAwkOpen("/etc/table", ' '), "^Error: qAwkOpen\\(\\): There is already opened handle\\.\n$");
    EXPECT_EQ(qAwkClose(), 1);
    EXPECT_EQ(qAwkOpen("/etc/missing", ' '), 0);
    EXPECT_FATAL(qAwkNext(fields->f), "^Error: qAwkNext\\(\\): There is no opened handle\\.\n$");
}

TEST(Entry, AddReplaceLookUpRemoveAndPrint) {
    EXPECT_EQ(_EntryAdd(nullptr, "", "x"), nullptr);
    char name[] = "x", value[] = "12abc";
    q_entry *head = _EntryAdd(nullptr, name, value);
    name[0] = value[0] = 'z';  // the list holds copies
    _EntryAdd(head, "y", "-7");
    EXPECT_EQ(_EntryAdd(head, "x", "12"), head);  // replaced in place
    _EntryAdd(head, "k", nullptr);
    head->next->next->next = _EntryAdd(nullptr, "y", "second");  // as decoders append
    EXPECT_EQ(pairs(head), (Pairs{{"x", "12"}, {"y", "-7"}, {"k", ""}, {"y", "second"}}));
    EXPECT_STREQ(_EntryValue(head, "y"), "-7");
    EXPECT_EQ(_EntryValue(head, "Y"), nullptr);
    EXPECT_EQ(_EntryiValue(head, "y"), -7);
    EXPECT_EQ(_EntryNo(head, "k"), 3);
    EXPECT_EQ(_EntryNo(head, "none"), 0);
    qResetContentFlag();
    int printed = 0;
    EXPECT_EQ(captured_stdout([&] { printed = _EntryPrint(head); }),
              "Content-Type: text/html\n\n'x' = '12'<br>\n'y' = '-7'<br>\n'k' = ''<br>\n'y' = 'second'<br>\n");
    EXPECT_EQ(printed, 4);
    head = _EntryRemove(head, "y");
    head = _EntryRemove(head, "x");
    EXPECT_EQ(pairs(head), (Pairs{{"k", ""}}));
    EXPECT_EQ(_EntryRemove(head, "k"), nullptr);

    TempRoot root({"/store"});
    std::string every_byte;
    for (int c = 1; c < 256; ++c) every_byte += static_cast<char>(c);
    q_entry *list = _EntryAdd(nullptr, "bytes", every_byte.c_str());
    _EntryAdd(list, "padded", "  kept  ");
    root.write("/store/list", std::string(5000, 'o'));
    ASSERT_EQ(_EntrySave(list, "/store/list"), 1);
    q_entry *back = _EntryLoad("/store/list");
    EXPECT_EQ(pairs(back), pairs(list));
    _EntryFree(back);
    _EntryFree(list);
    root.write("/store/hand", "# comment\n\n  name = a%20b+c  \n=no name\nbare\n");
    back = _EntryLoad("/store/hand");
    EXPECT_EQ(pairs(back), (Pairs{{"name", "a b c"}, {"", "no name"}, {"bare", ""}}));
    _EntryFree(back);
    EXPECT_EQ(_EntryLoad("/store/missing"), nullptr);
}

TEST(TextList, LinesBecomeTrimmedPairsWalkedByName) {
    q_entry *list = qsDecoder("# c\n  name = value with spaces  \r\n\n  # c\nflag\n=anon\ncount = 42\nname=second\nlast=%41+");
    EXPECT_EQ(pairs(list), (Pairs{{"name", "value with spaces"}, {"flag", ""}, {"", "anon"}, {"count", "42"}, {"name", "second"},
                                  {"last", "%41+"}}));
    EXPECT_STREQ(qsValue(list, "%s", "count"), "42");
    EXPECT_EQ(qsiValue(list, "count"), 42);
    EXPECT_EQ(qsValue(list, "missing"), nullptr);
    EXPECT_STREQ(qsValueFirst(list, "name"), "value with spaces");
    EXPECT_STREQ(qsValueNext(), "second");
    EXPECT_EQ(qsValueNext(), nullptr);
    EXPECT_STREQ(qsValueFirst(list, "name"), "value with spaces");
    const std::string long_name(1024, 'n');
    EXPECT_STOPS(qsValue(list, "%s", long_name.c_str()), "qsValue(): Message is too long or invalid.");
    EXPECT_STOPS(qsValueFirst(list, "%s", long_name.c_str()), "qfValueFirst(): Message is too long or invalid.");
    qsFree(list);
    EXPECT_EQ(qsValueNext(), nullptr);  // freeing the walked list ends the walk

    TempRoot root;
    root.write("/list.conf", "a = 1\n#b = 2\nc=3\n");
    list = qfDecoder(root.file("/list.conf").c_str());
    qResetContentFlag();
    EXPECT_EQ(captured_stdout([&] { qsPrint(list); }), "Content-Type: text/html\n\n'a' = '1'<br>\n'c' = '3'<br>\n");
    qsFree(list);
    EXPECT_EQ(qfDecoder(root.file("/none").c_str()), nullptr);
}

// qSedStr into memory: what it wrote, and what it reported on standard output.
std::pair<std::string, std::string> sed(q_entry *args, const std::string &text) {
    char *buf = nullptr;
    size_t len = 0;
    FILE *out = open_memstream(&buf, &len);
    std::string notice = captured_stdout([&] { qSedStr(args, text.c_str(), out); });
    fclose(out);
    std::pair<std::string, std::string> r{std::string(buf, len), notice};
    free(buf);
    return r;
}

TEST(Template, PlaceholdersAndIncludes) {
    q_entry *args = qSedArgAdd(nullptr, "${A}", "%s %d", "x", 1);
    EXPECT_EQ(qSedArgAdd(args, "${AB}", "2"), args);
    qSedArgAdd(args, "${A}", "1");
    qSedArgAdd(args, "$X", "short");
    qSedArgAdd(args, "$XY", "long");
    EXPECT_STREQ(qSedStrValue(args, "${A}"), "1");
    for (auto [in, out] : {std::pair{"${AB}", "2"}, {"$5 costs ${A}.", "$5 costs 1."}, {"$XY", "shortY"}, {"${A}${AB}$", "12$"},
                           {"<b>${B}</b>", "<b>${B}</b>"}})
        EXPECT_EQ(sed(args, in).first, out) << in;

    Sandbox box;
    box.write("/etc/inner.html", "[${A}]");
    box.write("/etc/outer.html", "(<!--#include file=\"/etc/inner.html\"-->)");
    box.write("/etc/loop.html", "L<!--#include file=\"/etc/loop.html\"-->");
    std::string fan = "F";
    for (int i = 0; i < 3; ++i) fan += "<!--#include file=\"/etc/fan.html\"-->";
    box.write("/etc/fan.html", fan);
    const std::string fail = "[qSedStr: an error occurred while processing 'include' directive - ";
    const std::string long_name = "/" + std::string(1100, 'n');
    const struct {
        std::string in, out, notice;
    } rows[] = {
        {"a<!--#include file=\"/etc/outer.html\"-->b", "a([1])b", ""},
        {"x<!--#include file=\"/etc/missing\"-->y", "xy", fail + "file(/etc/missing) open fail]"},
        {"x<!--#include file=\"/etc/inner.html\" ${A}", "x!--#include file=\"/etc/inner.html\" 1", fail + "ending tag not found]"},
        {"<!--#include file=\"" + long_name + "\"-->z", "z", fail + "file(" + long_name.substr(0, 1023) + ") open fail]"},
        {"<!--#include file=\"/etc/loop.html\"-->", std::string(16, 'L'), fail + "file(/etc/loop.html) open fail]"},
    };
    for (const auto &r : rows) EXPECT_EQ(sed(args, r.in), std::make_pair(r.out, r.notice)) << r.in;
    // Each text may open 64 files, counted afresh per text.
    for (int twice = 0; twice < 2; ++twice) EXPECT_EQ(sed(args, "<!--#include file=\"/etc/fan.html\"-->").first, std::string(64, 'F'));
    char *buf = nullptr;
    size_t len = 0;
    FILE *out = open_memstream(&buf, &len);
    EXPECT_EQ(qSedFile(args, "/etc/outer.html", out), 1);
    EXPECT_EQ(qSedFile(args, "/etc/missing", out), 0);
    fclose(out);
    EXPECT_EQ(std::string(buf, len), "([1])");
    free(buf);
    qSedArgFree(args);
    EXPECT_FATAL(qSedArgAdd(nullptr, "", "x"), "^Error: qSedArgAdd\\(\\): can not add empty name\\.\n$");
    EXPECT_FATAL(qSedArgAdd(nullptr, "${A}", "%s", std::string(65536, 'v').c_str()),
                 "^Error: qSedArgAdd\\(\\): Message is too long or invalid\\.\n$");
}

}  // namespace
