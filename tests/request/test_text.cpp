// The text helpers of the request layer (URL coding, strings, digests, the
// HTML printer, fields, name/value lists, templates), what a request answers
// and reads (headers, cookies, the error page, the CGI environment, files),
// and sessions.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstddef>
#include <ctime>
#include <filesystem>
#include <memory>
#include <set>

#include "support/request.h"

namespace {

using namespace testing_support;
using Strings = std::vector<std::string>;

// Results as text joined by '|': a string, "<null>", or a number.
struct Text {
    std::string s;
    Text(const char *p) : s(p ? p : "<null>") {}
    Text(const std::string &text) : s(text) {}
    Text(long n) : s(std::to_string(n)) {}
    Text(int n) : s(std::to_string(n)) {}
    Text(size_t n) : s(std::to_string(n)) {}
};
std::string join(std::initializer_list<Text> texts) {
    std::string out;
    for (const Text &t : texts) out += (out.empty() ? "" : "|") + t.s;
    return out;
}
std::string taken(char *text) {
    std::string s = text ? text : "<null>";
    return free(text), s;
}
std::string in_place(char *(*fn)(char *), std::string text) { return fn(text.data()) ? text.c_str() : "<null>"; }
std::string out_of(const std::function<void()> &body) { return qResetContentFlag(), captured_stdout(body); }

// URL coding keeps the safe characters and reverses; words cut at their stop; _fgets lines cut at the capacity.
TEST(Url, CodingWordsAndLines) {
    for (auto [in, out] : {std::pair{"a b&c", "a%20b%26c"}, {"user@host.tw:80-x_y\\z/AZ09.", "user@host.tw:80-x_y\\z/AZ09."},
                           {"=;+%?#\"'~\r\n", "%3d%3b%2b%25%3f%23%22%27%7e%0d%0a"}, {"\x01\x7f\x80\xff", "%01%7f%80%ff"},
                           {"", ""}})
        EXPECT_EQ(taken(qURLencode(in)), out);
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    std::string coded = taken(qURLencode(all.c_str()));
    EXPECT_EQ(join({coded.size(), qURLdecode(coded.data()) == all, taken(qURLencode(nullptr)), qURLdecode(nullptr)}),
              join({255 + 2 * (255 - 69), 1, "<null>", "<null>"}));
    EXPECT_EQ(join({in_place(qURLdecode, "a+b%41%2B%7e%0d%Af%"), in_place(qURLdecode, "x%4"), in_place(qURLdecode, "")}),
              "a bA+~\r\xaf%|x%4|");
    for (auto [line, word_rest] : {std::pair{"name=value=more", "name|value=more"}, {"value", "value|"}, {"=r", "|r"}}) {
        std::string text = line, word = taken(_makeword(text.data(), '='));
        EXPECT_EQ(word + "|" + text.c_str(), word_rest);
    }
    FILE *in = tmpfile();
    fwrite("first\r\nxxxxxxxxxx\nlast\0after", 1, 28, in);
    rewind(in);
    char buf[8];
    for (const std::string &expected : Strings{"first\r\n", "xxxxxxx", "xxx\n", std::string("last\0af", 7), "ter"}) {
        ASSERT_EQ(_fgets(buf, sizeof buf, in), buf);
        EXPECT_EQ(std::string(buf, expected.size() + 1), expected + '\0');
    }
    EXPECT_EQ(join({_fgets(buf, sizeof buf, in), _fgets(buf, 1, in)}), "<null>|<null>");
    fclose(in);
}

// Trimming, case, comparisons, checks of addresses and URLs, numbers with commas, and replacing.
TEST(String, TrimCaseCompareCheckAndReplace) {
    EXPECT_EQ(join({in_place(qRemoveSpace, " \t\r\n name = x \r\n"), in_place(qRemoveSpace, "   "),
                    in_place(qRemoveSpace, "\va\v"), in_place(qStrupr, "abc-XYZ_09\xe9"), in_place(qStrLower, "AB-xy_\xc9"),
                    qRemoveSpace(nullptr), qStrupr(nullptr)}),
              "name = x||\va\v|ABC-XYZ_09\xe9|ab-xy_\xc9|<null>|<null>");
    const char *text = "multipart/Form-Data; boundary=x";
    auto sign = [](int n) { return n < 0 ? -1 : n > 0 ? 1 : 0; };
    EXPECT_EQ(join({qStrIsAlnum("abcXYZ019"), qStrIsAlnum("ab_c"), qStrIsAlnum(nullptr),
                    sign(qStrincmp("Content-Disposition: form-data", "content-disposition: ", 21)),
                    sign(qStrincmp("abc", "ABD", 3)), sign(qStrincmp("abc", "ABD", 2)), sign(qStrincmp("ab", "ABC", 10)),
                    sign(qStrCaseCmp("Hello", "hELLO")), sign(qStrCaseCmp("_", "a")), sign(qStrCaseCmp("Hell", "hello")),
                    qStrCaseStr(text, "BOUNDARY=") - text, qStrCaseStr(text, "boundary=xy"), qStrCaseStr(nullptr, "a")}),
              "1|0|0|0|-1|0|-1|0|1|-1|21|<null>|<null>");  // '_' sorts after 'a' upper-cased
    for (auto [check, texts, expected] : {
             std::tuple{&qCheckEmail, Strings{"ab@cd.e", "first.last@mail.example.com", "ab..cd@ef.g", "a.b@c", "ab@.cd",
                                             "abcd@ef", "ab@cd..ef", "@abcd.ef", "ab@cd@ef.g", "ab c@de.f", ""},
                        "11100000000"},
             {&qCheckURL,
              {"http://x", "ftp://x", "telnet://x", "mailto:a@b.c", "news:comp", "https://x", "HTTP://x", "http:/x", ""},
              "111110000"}}) {
        std::string got;
        for (const std::string &t : texts) got += std::to_string(check(t.c_str()));
        EXPECT_EQ(got, expected);
    }
    EXPECT_EQ(join({qStrCommaNumber(0), qStrCommaNumber(999), qStrCommaNumber(1000), qStrCommaNumber(1234567),
                    qStrCommaNumber(-1234), qStrCommaNumber(-2147483647 - 1)}),
              "0|999|1,000|1,234,567|-1,234|-2,147,483,648");
    for (auto [mode, src, tokens, word, out] : {
             std::tuple{"sn", "aaa", "aa", "b", "ba"}, {"sn", "a<br>b<br>", "<br>", "//n", "a//nb//n"},
             {"sn", "abc", "abcd", "x", "abc"}, {"sn", "xyx", "x", "", "y"}, {"sn", "abc", "", "zz", "abc"},
             {"sn", "aaaa", "a", "0123456789", "0123456789012345678901234567890123456789"},
             {"tn", "a-b_c", "-_", "", "abc"}, {"tn", "a\"b", "\"", "\\\"", "a\\\"b"}, {"tn", "aXa", "a", "<>", "<>X<>"}}) {
        std::string copy = src;
        EXPECT_EQ(taken(qStrReplace(mode, copy.data(), tokens, word)) + "|" + copy, out + std::string("|") + src);
    }
    char room[64] = "one two two", dots[32] = "1.2.3";
    EXPECT_EQ(qStrReplace("sr", room, "two", "2"), room);
    EXPECT_EQ(join({room, qStrReplace("tr", dots, ".", " dot ")}), "one 2 2|1 dot 2 dot 3");
    for (const char *mode : {"xn", "sx", "s", "snn"})
        EXPECT_STOPS(qStrReplace(mode, room, "a", "b"), "qStrReplace(): Unknown mode \"" + std::string(mode) + "\".");
}

// Known digests, the padding boundaries, any split into pieces, files, and the request's unique identifier.
TEST(Md5, KnownDigestsAndPieces) {
    const char *eighty = "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
    EXPECT_EQ(join({qMD5Str(""), qMD5Str("message digest"), qMD5StrLen(eighty, 80), qMD5StrLen("a\0b", 4)}),
              "d41d8cd98f00b204e9800998ecf8427e|f96b697d7cb7938d525a2f31aaf161d0|57edf4a22be3c955ac49da2e2107b67a|"
              "aa3a791e273bce9cf4a2a7caa9028b36");
    std::vector<unsigned char> data(1000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 31 + 7);
    EXPECT_EQ(join({qMD5StrLen(data.data(), 55), qMD5StrLen(data.data(), 56), qMD5StrLen(data.data(), 63),
                    qMD5StrLen(data.data(), 64), qMD5StrLen(data.data(), 65), qMD5StrLen(data.data(), 128)}),
              "c9e512626618c9980ef21a96597af94c|ecde7caa08e9f5657c863df107cac60a|2f0301069e1c40af7f6c8f843b1b13f2|"
              "b6bf87c24b1bc334e2541387a92b981b|f168246f08b6134d66bd2a10343fa9f1|3e85b70ffc8df5c735ecf2a8f14f1bee");
    for (size_t piece : {1, 7, 56, 64, 65, 999}) {
        md5_context ctx;
        MD5Init(&ctx);
        for (size_t at = 0; at < data.size(); at += piece) MD5Update(&ctx, &data[at], std::min(piece, data.size() - at));
        unsigned char digest[16];
        MD5Final(digest, &ctx);
        EXPECT_EQ(memcmp(digest, "\x2b\x1e\x78\xd5\x76\x5d\xe9\xe1\x04\x95\xa0\x14\x12\xa1\xcf\x22", 16), 0) << piece;
    }
    TempRoot root;
    root.write("/etc/image.bin", std::string("abc\0def", 7));  // up to the first NUL
    EXPECT_EQ(join({qMD5FileStr("/etc/image.bin"), qMD5FileStr("/etc/missing")}), "900150983cd24fb0d6963f7d28e17f72|<null>");
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

// Each printing mode on its text: escapes, spaces and line ends, tags removed, links made.
TEST(HtmlPrint, EveryModeOnItsText) {
    const std::string esc = "x &lt; y &gt; &quot;z&quot; ", mixed = "x < y > \"z\" http://a.b";
    for (auto [mode, in, out] : std::vector<std::tuple<int, std::string, std::string>>{
             {0, "a<b> \"c\"\r\n  d", "a<b> \"c\"\r\n  d"},
             {10, "a\r\nb  c   d <x>", "a<br>\nb &nbsp;c &nbsp;&nbsp;d <x>"},
             {10, "  lead", " &nbsp;lead"},
             {1, mixed, esc + "http://a.b"},
             {2, mixed, esc + link("http://a.b", "")},
             {3, mixed, esc + link("http://a.b", "_top")},
             {23, mixed, esc + link("http://a.b", "qnewwin")},
             {2, "(https://s.t),[ftp://f.g]{telnet://h}`news:n'mailto:m",
              "(" + link("https://s.t", "") + "),[" + link("ftp://f.g", "") + "]{" + link("telnet://h", "") + "}`" +
                  link("news:n", "") + "'" + link("mailto:m", "")},
             {2, "HTTP://up.case a@b mail admin@corp.tw",
              "HTTP://up.case a@b mail <a href=\"mailto:admin@corp.tw\">admin@corp.tw</a>"},
             {4, "a<b class=\"x\">bold</b> \"q\" > z", "abold &quot;q&quot; > z"},
             {4, "x\r\ny<unclosed tag", "x\r\ny"},
             {5, "<a href=\"http://x.y\">go</a> http://z.w", "go " + link("http://z.w", "")},
             {6, "http://z.w<i>", link("http://z.w", "_top")},
             {26, "<p>http://z.w</p>", link("http://z.w", "qnewwin")},
             {11, "a  b\r\n<c>", "a &nbsp;b<br>\n&lt;c&gt;"},
             {15, "<b>\r\n</b>x", "<br>\nx"},
             {16, "http://a.b\n", link("http://a.b", "_top") + "<br>\n"},
             {33, "\"a\"  http://a.b", "&quot;a&quot; &nbsp;" + link("http://a.b", "qnewwin")},
             {36, "<i>a</i>\nhttp://a.b", "a<br>\n" + link("http://a.b", "qnewwin")}})
        EXPECT_EQ(captured_stdout([&, mode = mode, in = in] { qPuts(mode, in.c_str()); }), out) << mode << in;
    EXPECT_EQ(captured_stdout([] { qPuts(10, nullptr); }), "");
    for (int mode : {7, 17, 20, 21, 30, -1})
        EXPECT_STOPS(qPuts(mode, "x"), "_autolink(): Invalid Mode (" + std::to_string(mode) + ").");
    int n = 0;
    EXPECT_EQ(captured_stdout([&] { n = qPrintf(1, "<%s> %d", "tag", 42); }), "&lt;tag&gt; 42");
    EXPECT_EQ(n, 8);
    const std::string fits(10239, 'p');
    EXPECT_EQ(captured_stdout([&] { qPrintf(0, "%s", fits.c_str()); }), fits);
    EXPECT_STOPS(qPrintf(0, "%s", (fits + "p").c_str()), "qPrintf(): Message is too long or invalid.");
}

// Lines split into fields (the last one keeps the rest), and a file read line by line.
TEST(Awk, SplitAndReadFileLines) {
    struct Fields {
        char f[Q_AWK_MAX_FIELDS][Q_AWK_FIELD_SIZE];
        Strings first(int n) const { return Strings(f, f + n); }
    };
    auto fields = std::make_unique<Fields>();
    std::string many = std::string(3000, 'L') + ",";
    for (int i = 1; i < Q_AWK_MAX_FIELDS + 2; ++i) many += std::to_string(i) + ",";
    for (auto [line, separator, expected] : {std::tuple{std::string("a b  c"), ' ', Strings{"a", "b", "", "c"}},
                                             {":x:", ':', {"", "x", ""}}, {"", ' ', {""}}, {"a b", '\0', {"a b"}}}) {
        EXPECT_EQ(fields->first(qAwkStr(fields->f, line.data(), separator)), expected);
    }
    ASSERT_EQ(qAwkStr(fields->f, many.data(), ','), Q_AWK_MAX_FIELDS);
    EXPECT_EQ(join({fields->f[0], fields->f[Q_AWK_MAX_FIELDS - 2], fields->f[Q_AWK_MAX_FIELDS - 1]}),
              std::string(Q_AWK_FIELD_SIZE - 1, 'L') + "|62|63,64,65,");
    TempRoot root;
    root.write("/etc/table", "  eth0 192.168.1.1  \r\n\nwan0:up\n");
    EXPECT_EQ(join({qAwkClose(), qAwkOpen("/etc/table", ':')}), "0|1");
    for (auto expected : {Strings{"eth0 192.168.1.1"}, {""}, {"wan0", "up"}, {}})
        EXPECT_EQ(fields->first(std::max(0, qAwkNext(fields->f))), expected);
    EXPECT_EQ(join({qAwkNext(fields->f), qAwkClose(), qAwkOpen("/etc/table", ' ')}), "-1|1|1");
    EXPECT_EQ(fields->first(qAwkNext(fields->f)), (Strings{"eth0", "192.168.1.1"}));  // the new open's separator
    EXPECT_STOPS(qAwkOpen("/etc/table", ' '), "qAwkOpen(): There is already opened handle.");
    EXPECT_EQ(join({qAwkClose(), qAwkOpen("/etc/missing", ' ')}), "1|0");
    EXPECT_STOPS(qAwkNext(fields->f), "qAwkNext(): There is no opened handle.");
}

// The name/value list: added as copies, replaced in place, looked up, printed, removed, saved and loaded.
TEST(Entry, AddReplaceLookUpRemoveSaveAndLoad) {
    EXPECT_EQ(_EntryAdd(nullptr, "", "x"), nullptr);
    char name[] = "x", value[] = "12abc";
    q_entry *head = _EntryAdd(nullptr, name, value);
    name[0] = value[0] = 'z';  // the list holds copies
    _EntryAdd(head, "y", "-7");
    EXPECT_EQ(_EntryAdd(head, "x", "12"), head);  // replaced in place
    _EntryAdd(head, "k", nullptr);
    head->next->next->next = _EntryAdd(nullptr, "y", "second");  // as decoders append
    int printed = 0;
    EXPECT_EQ(out_of([&] { printed = _EntryPrint(head); }),
              "Content-Type: text/html\n\n'x' = '12'<br>\n'y' = '-7'<br>\n'k' = ''<br>\n'y' = 'second'<br>\n");
    EXPECT_EQ(join({printed, _EntryValue(head, "y"), _EntryValue(head, "Y"), _EntryiValue(head, "y"),
                    _EntryNo(head, "k"), _EntryNo(head, "none")}),
              "4|-7|<null>|-7|3|0");
    head = _EntryRemove(_EntryRemove(head, "y"), "x");
    EXPECT_EQ(pairs(head), (Pairs{{"k", ""}}));
    EXPECT_EQ(_EntryRemove(head, "k"), nullptr);
    TempRoot root({"/store"});
    std::string every_byte;
    for (int c = 1; c < 256; ++c) every_byte += static_cast<char>(c);
    q_entry *list = _EntryAdd(nullptr, "bytes", every_byte.c_str());  // appending gives the new entry, not the head
    _EntryAdd(list, "padded", "  kept  ");
    root.write("/store/list", std::string(5000, 'o'));
    root.write("/store/hand", "# comment\n\n  name = a%20b+c  \n=no name\nbare\n");
    ASSERT_EQ(_EntrySave(list, "/store/list"), 1);
    for (auto [file, expected] : {std::pair{"/store/list", pairs(list)}, {"/store/hand", {{"name", "a b c"},
                                                                           {"", "no name"}, {"bare", ""}}}}) {
        q_entry *back = _EntryLoad(file);
        EXPECT_EQ(pairs(back), expected);
        _EntryFree(back);
    }
    _EntryFree(list);
    EXPECT_EQ(_EntryLoad("/store/missing"), nullptr);
}

// A text (or file) of lines becomes trimmed pairs, comments skipped, walked by name.
TEST(TextList, LinesBecomeTrimmedPairsWalkedByName) {
    q_entry *list =
        qsDecoder("# c\n  name = value with spaces  \r\n\n  # c\nflag\n=anon\ncount = 42\nname=second\nlast=%41+");
    EXPECT_EQ(pairs(list), (Pairs{{"name", "value with spaces"}, {"flag", ""}, {"", "anon"}, {"count", "42"},
                                  {"name", "second"}, {"last", "%41+"}}));
    EXPECT_EQ(join({qsValue(list, "%s", "count"), qsiValue(list, "%s", "count"), qsValue(list, "missing"),
                    qsValueFirst(list, "name"), qsValueNext(), qsValueNext(), qsValueFirst(list, "name")}),
              "42|42|<null>|value with spaces|second|<null>|value with spaces");
    const std::string n(1024, 'n');
    EXPECT_STOPS(qsValue(list, "%s", n.c_str()), "qsValue(): Message is too long or invalid.");
    EXPECT_STOPS(qsiValue(list, "%s", n.c_str()), "qsiValue(): Message is too long or invalid.");
    EXPECT_STOPS(qsValueFirst(list, "%s", n.c_str()), "qfValueFirst(): Message is too long or invalid.");
    qsFree(list);
    EXPECT_EQ(qsValueNext(), nullptr);  // freeing the walked list ends the walk
    TempRoot root;
    root.write("/list.conf", "a = 1\n#b = 2\nc=3\n");
    list = qfDecoder(root.file("/list.conf").c_str());
    EXPECT_EQ(out_of([&] { qsPrint(list); }), "Content-Type: text/html\n\n'a' = '1'<br>\n'c' = '3'<br>\n");
    qsFree(list);
    EXPECT_EQ(qfDecoder(root.file("/none").c_str()), nullptr);
}

// qSedStr into memory: what it wrote, then what it reported on standard output.
std::string sed(q_entry *args, const std::string &text) {
    char *buf = nullptr;
    size_t len = 0;
    FILE *out = open_memstream(&buf, &len);
    std::string notice = captured_stdout([&] { qSedStr(args, text.c_str(), out); });
    fclose(out);
    std::string written(buf, len);
    free(buf);
    return notice.empty() ? written : written + "|" + notice;
}

// Placeholders replaced (the first added name that fits), included files, and their failures.
TEST(Template, PlaceholdersAndIncludes) {
    q_entry *args = qSedArgAdd(nullptr, "${A}", "%s %d", "x", 1);
    EXPECT_EQ(qSedArgAdd(args, "${AB}", "2"), args);
    qSedArgAdd(qSedArgAdd(qSedArgAdd(args, "${A}", "1"), "$X", "short"), "$XY", "long");
    EXPECT_STREQ(qSedStrValue(args, "${A}"), "1");
    TempRoot root;
    root.write("/etc/inner.html", "[${A}]");
    root.write("/etc/outer.html", "(<!--#include file=\"/etc/inner.html\"-->)");
    root.write("/etc/loop.html", "L<!--#include file=\"/etc/loop.html\"-->");
    const std::string fan = "<!--#include file=\"/etc/fan.html\"-->";
    root.write("/etc/fan.html", "F" + fan + fan + fan);
    const std::string fail = "[qSedStr: an error occurred while processing 'include' directive - ";
    const std::string long_name = "/" + std::string(1100, 'n');
    for (auto [in, out] : std::vector<std::pair<std::string, std::string>>{
             {"${AB}", "2"}, {"$5 costs ${A}.", "$5 costs 1."}, {"$XY", "shortY"}, {"${A}${AB}$", "12$"},
             {"<b>${B}</b>", "<b>${B}</b>"},
             {"a<!--#include file=\"/etc/outer.html\"-->b", "a([1])b"},
             {"x<!--#include file=\"/etc/missing\"-->y", "xy|" + fail + "file(/etc/missing) open fail]"},
             {"x<!--#include file=\"/etc/inner.html\" ${A}", "x!--#include file=\"/etc/inner.html\" 1|" + fail +
                                                                 "ending tag not found]"},
             {"<!--#include file=\"" + long_name + "\"-->z",
              "z|" + fail + "file(" + long_name.substr(0, 1023) + ") open fail]"},
             {"<!--#include file=\"/etc/loop.html\"-->",
              std::string(16, 'L') + "|" + fail + "file(/etc/loop.html) open fail]"}})
        EXPECT_EQ(sed(args, in), out) << in;
    // Each text may open 64 files, counted afresh per text.
    for (int twice = 0; twice < 2; ++twice) EXPECT_EQ(sed(args, fan).substr(0, 66), std::string(64, 'F') + "|[");
    char *buf = nullptr;
    size_t len = 0;
    FILE *out = open_memstream(&buf, &len);
    EXPECT_EQ(join({qSedFile(args, "/etc/outer.html", out), qSedFile(args, "/etc/missing", out), qSedStr(args, "x", nullptr),
                    qSedStr(args, nullptr, out)}),
              "1|0|0|0");
    fclose(out);
    EXPECT_EQ(taken(buf).substr(0, len), "([1])");
    qSedArgFree(args);
    EXPECT_STOPS(qSedArgAdd(nullptr, "", "x"), "qSedArgAdd(): can not add empty name.");
    EXPECT_STOPS(qSedArgAdd(nullptr, "${A}", "%s", std::string(65536, 'v').c_str()),
                 "qSedArgAdd(): Message is too long or invalid.");
}

// The header lines: content type once, cookies encoded with their attributes, redirects, scripts, and misuse.
TEST(Header, GoldenHeaderLines) {
    const std::pair<void (*)(), std::string> rows[] = {
        {[] { qContentType("text/html"), qContentType("text/plain"); }, "Content-Type: text/html\n\n"},
        {[] { qCookieSet("QSESSIONID", "0123abcd", 0, "/", nullptr, 0); }, "Set-Cookie: QSESSIONID=0123abcd; path=/\n"},
        {[] { qCookieSet("a b", "x y@z.w/:-_", 0, nullptr, nullptr, 0); }, "Set-Cookie: a%20b=x%20y@z.w/:-_\n"},
        {[] { qCookieSet("n", "v;=", 0, "/cgi-bin", "appliance.lan", 1); },
         "Set-Cookie: n=v%3b%3d; path=/cgi-bin; domain=appliance.lan; secure\n"},
        {[] { qCookieSet("n", nullptr, 0, nullptr, nullptr, 0); }, "Set-Cookie: n=\n"},
        {[] { qCookieSet("n", "v", 0, nullptr, nullptr, 0), qContentType("a/b"); },
         "Set-Cookie: n=v\nContent-Type: a/b\n\n"},
        {[] { qCookieSet("n", std::string(4093, 'v').c_str(), 0, nullptr, nullptr, 0); },
         "Set-Cookie: n=" + std::string(4093, 'v') + "\n"},  // 4095 bytes of cookie text fit
        {[] { qRedirect("/cgi-bin/index.cgi"); }, "Location: /cgi-bin/index.cgi\n\n"},
        {[] { qJavaScript("alert('%s');", "done"), qJavaScript("x"); },
         "Content-Type: text/html\n\n<html>\n<head>\n<script language='JavaScript'>\nalert('done');\n</script>\n</head>\n"
         "</html>\n<html>\n<head>\n<script language='JavaScript'>\nx\n</script>\n</head>\n</html>\n"},
    };
    for (const auto &[body, out] : rows) EXPECT_EQ(out_of(body), out);
    const std::string date = "[A-Z][a-z]{2}, [0-9]{2}-[A-Z][a-z]{2}-[0-9]{4} [0-9:]{8} GMT";
    std::string line = out_of([] { qCookieRemove("n", "/", nullptr, 0); });
    EXPECT_TRUE(matches(line, "Set-Cookie: n=; expires=" + date + "; path=/\n")) << line;
    line = out_of([] { qCookieSet("n", "v", 2, nullptr, nullptr, 0); });
    EXPECT_TRUE(matches(line, "Set-Cookie: n=v; expires=" + date + "\n")) << line;
    const std::string before = "must be called before qContentType() and any stream out.";
    const std::string too_long = "Cookie string is too long.";
    for (auto [call, message] : std::vector<std::pair<std::function<void()>, std::string>>{
             {[] { qCookieSet("n", std::string(4094, 'v').c_str(), 0, nullptr, nullptr, 1); }, too_long},
             {[] { qCookieSet("n", std::string(1400, ' ').c_str(), 0, nullptr, nullptr, 0); }, too_long},
             {[] { qContentType("text/html"), qCookieSet("n", "v", 0, nullptr, nullptr, 0); }, before},
             {[] { qContentType("text/html"), qCookieRemove("n", nullptr, nullptr, 0); }, "qCookieRemove(): " + before},
             {[] { qContentType("text/html"), qRedirect("/"); }, "qRedirect(): qRedirect() " + before},
             {[] { qCookieSet("n", "v", 0, "cgi-bin", nullptr, 0); }, "Path string(cgi-bin) must start with '/' character."},
             {[] { qCookieSet("n", "v", 0, nullptr, "localhost", 0); }, "Invalid domain name(localhost)."},
             {[] { qCookieSet("n", "v", 0, nullptr, "a.b/c", 0); }, "Invalid domain name(a.b/c)."},
             {[] { qJavaScript("%s", std::string(1024, 's').c_str()); }, "qJavaScript(): Message is too long or invalid."}})
        EXPECT_STOPS((qResetContentFlag(), call()), (message[0] == 'q' ? "" : "qCookieSet(): ") + message);
}

// The stop outside a web server, and the error page inside one with its contact and log line.
TEST(Error, PlainLineAlertPageLogAndState) {
    for (const char *name : {"REMOTE_ADDR", "REMOTE_HOST", "HTTP_USER_AGENT"}) unsetenv(name);
    qResetContentFlag();
    const std::string fits(1023, 'm');
    EXPECT_EQ(in_child([] { qError("bad %s %d", "value", 7); }).out, "Error: bad value 7\n");
    EXPECT_EQ(in_child([&] { qError("%s", fits.c_str()); }).out, "Error: " + fits + "\n");
    EXPECT_EQ(in_child([&] { qError("%s", (fits + "m").c_str()); }).out, "qError(): Message is too long or invalid.");
    TempRoot box({"/tmp"});
    setenv("REMOTE_ADDR", "10.1.1.1", 1);
    setenv("HTTP_USER_AGENT", "Agent/1.0", 1);
    for (auto [body, out] : std::vector<std::pair<std::function<void()>, std::string>>{
             {[] { qErrorLog("/tmp/cgi.err"), qError("Upload failed"); }, error_page("Upload failed")},
             {[] { qContentType("text/html"), qErrorContact(" - call"), qError("x"); }, error_page("x - call")},
             {[] {
                  qErrorContact("C"), qErrorContact(nullptr), setenv("REMOTE_HOST", "admin.lan", 1);
                  qErrorLog("/tmp/cgi.err"), qError("y");
              },
              error_page("y")},
             {[] { qErrorContact("!"), qErrorLog("/no/such/dir/cgi.err"), qError("lost"); },
              error_page("lost! [ERROR LOGGING FAIL]")},
             {[] {
                  qErrorLog("/tmp/other.err"), qErrorContact(" c"), qContentType("text/html"), qResetState();
                  qError("p");
              },
              "Content-Type: text/html\n\n" + error_page("p")}}) {
        Ended e = in_child(body);
        EXPECT_EQ(std::to_string(e.status) + e.out, "1" + out);
    }
    EXPECT_FALSE(box.exists("/tmp/other.err"));
    EXPECT_TRUE(matches(box.read("/tmp/cgi.err"),
                        "[0-9]{4}/[0-9]{2}/[0-9]{2}\\([0-9]{2}:[0-9]{2}\\) : 'Upload failed' from 10\\.1\\.1\\.1 "
                        "\\(Agent/1\\.0\\)\n[0-9/]{10}\\([0-9:]{5}\\) : 'y' from admin\\.lan \\(Agent/1\\.0\\)\n"))
        << box.read("/tmp/cgi.err");
}

// The CGI variables, each in its own field, the script's name, and the local time.
TEST(CgiEnv, VariablesNameTimeAndRecord) {
    unsetenv("SCRIPT_NAME");
    setenv("WA_TEST_VAR", "", 1);
    EXPECT_EQ(join({qCGIname(), qGetenvDefault("dflt", "WA_TEST_VAR"), qGetenvDefault("dflt", "WA_NO_VAR")}),
              "<null>||dflt");
    for (auto [script, name] : {std::pair<std::string, std::string>{"/cgi-bin/directory.cgi", "directory.cgi"},
                                {"C:\\web\\cgi\\upgrade.cgi ", "upgrade.cgi"}, {" index.cgi", "index.cgi"},
                                {"/cgi-bin/", ""},
                                {"/" + std::string(400, 'd') + "/upgrade.cgi", "upgrade.cgi"},
                                {"/cgi-bin/" + std::string(300, 'w'), std::string(255, 'w')}}) {
        setenv("SCRIPT_NAME", script.c_str(), 1);
        EXPECT_EQ(qCGIname(), name);
    }
    // The fields in their order, each variable set to its own name; a missing host is the address.
    const char *const names[] = {"AUTH_TYPE", "CONTENT_LENGTH", "CONTENT_TYPE", "DOCUMENT_ROOT", "GATEWAY_INTERFACE",
                                 "HTTP_ACCEPT", "HTTP_ACCEPT_ENCODING", "HTTP_ACCEPT_LANGUAGE", "HTTP_CONNECTION",
                                 "HTTP_COOKIE", "HTTP_HOST", "HTTP_REFERER", "HTTP_USER_AGENT", "QUERY_STRING",
                                 "REMOTE_ADDR", "REMOTE_HOST", "REMOTE_PORT", "REMOTE_USER", "REQUEST_METHOD",
                                 "REQUEST_URI", "SCRIPT_FILENAME", "SCRIPT_NAME", "SERVER_ADMIN", "SERVER_NAME",
                                 "SERVER_PORT", "SERVER_PROTOCOL", "SERVER_SOFTWARE", "SERVER_SIGNATURE", "UNIQUE_ID"};
    static_assert(offsetof(q_cgi_env, unique_id) == offsetof(q_cgi_env, auth_type) + 28 * sizeof(char *));
    std::string expected;
    for (const char *name : names) setenv(name, name, 1), expected += std::string(name) + " ";
    q_cgi_env env;
    qCGIEnvironment(&env);
    std::string got;
    for (char **field = &env.auth_type; field <= &env.unique_id; ++field) got += Text(*field).s + " ";
    EXPECT_EQ(got, expected);
    unsetenv("REMOTE_HOST"), unsetenv("AUTH_TYPE");
    qCGIEnvironment(&env);
    for (const char *name : names) unsetenv(name);
    const time_t clock = time(nullptr);
    struct tm local;
    localtime_r(&clock, &local);
    const struct tm *now = qGetTime();
    char date[32];
    snprintf(date, sizeof date, "%04d%02d", local.tm_year + 1900, local.tm_mon + 1);
    EXPECT_EQ(join({env.remote_host, env.auth_type, now->tm_year, now->tm_mon, env.day, env.mon,
                    std::string(qGetTimeStamp()).size(), std::string(qGetTimeStamp(), 6)}),
              join({"REMOTE_ADDR", "<null>", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_mon + 1,
                    14, date}));
    char buf[64];  // the time given from now, in GMT
    qGetGMTime(buf, 86400 * 365 + 3600 * 13 + 60 * 7 - time(nullptr));
    EXPECT_EQ(std::string(buf, 24), "Fri, 01-Jan-1971 13:07:0") << buf;
}

// Files read line by line, whole, by size, printed, and saved (a spilled upload is moved).
TEST(File, LinesLocksWholeFilesAndSaving) {
    TempRoot box({"/tmp"});
    const std::string edge(1023, 'y'), wide(5000, 'x'), content = std::string(10000, 'c') + std::string("\0end", 4);
    box.write("/etc/lines", "first\n\n" + edge + "\n" + wide + "\nlast");
    box.write("/etc/page.html", content);
    FILE *fp = qfopen("/etc/lines", "r");
    ASSERT_NE(fp, nullptr);
    for (const std::string &expected : Strings{"first\n", "\n", edge + "\n", wide + "\n", "last", "<null>"})
        EXPECT_EQ(taken(qfGetLine(fp)), expected);
    EXPECT_EQ(qfclose(fp), 0);
    EXPECT_EQ(qfopen("/etc/no/file", "r"), nullptr);
    int size = -1, n = 0;
    char *data = qReadFile("/etc/page.html", &size);
    EXPECT_EQ(std::string(data, content.size() + 1) + std::to_string(size), content + '\0' + "10004");
    free(data);
    EXPECT_EQ(captured_stdout([&] { n = qCatFile("/etc/%s.html", "page"); }), content);
    EXPECT_EQ(join({qReadFile("/etc", &size), size, qFileSize("/etc/page.html"), qFileSize("/etc/none"), n,
                    qCheckFile("/etc/%s", "page.html"), qCheckFile("/etc/%s", "none"), qCatFile("/etc/missing")}),
              "<null>|0|10004|-1|10004|1|0|-1");
    const std::string long_name = "/" + std::string(1023, 'n');
    EXPECT_STOPS(qCheckFile("%s", long_name.c_str()), "qCheckFile(): File name is too long or invalid.");
    EXPECT_STOPS(qCatFile("%s", long_name.c_str()), "qCatFile(): File name is too long or invalid.");
    EXPECT_EQ(join({qSaveData("abc\0d", 5, "/tmp/saved", "wb"), qSaveData("ef", 2, "/tmp/saved", "ab"),
                    qSaveData("x", 1, "/no/such/dir/file", "wb"), box.read("/tmp/saved"), box.commands()}),
              std::string("5|2|-1|abc\0def|", 15));
    // An upload already spilled to disk is moved there, the target quoted.
    box.write("/database/.qUploadFile", "spilled");
    box.write("/tmp/target", "1234");
    EXPECT_EQ(join({qSaveData("ignored", 7, "/tmp/target", "wb"), qSaveData("", 0, "/tmp/a \"b\" $(reboot) `x` \\", "wb")}),
              "4|-1");
    EXPECT_EQ(box.commands(), "/bin/mv /database/.qUploadFile \"/tmp/target\"\n"
                              "/bin/mv /database/.qUploadFile \"/tmp/a \\\"b\\\" \\$(reboot) \\`x\\` \\\\\"\n");
}

// Sessions across requests: each request is its own process, as each CGI
// run is, and they share one repository.
constexpr const char *kRepository = "/sessions";

class Session : public testing::Test {
protected:
    TempRoot root_{{kRepository}};
    void SetUp() override { qResetContentFlag(); }

    // The output of one request with this cookie (none when empty), body run
    // before the request's end in a process of its own.
    static std::string request(const std::string &id, const std::function<void()> &body) {
        Ended run = in_child([&] {
            clear_request_env(), qResetContentFlag();
            if (!id.empty()) setenv("HTTP_COOKIE", ("QSESSIONID=" + id).c_str(), 1);
            body();
            qFreeAll();
        });
        return run.out + (run.status ? "status " + std::to_string(run.status) : "");
    }
    // A request that opens a session, adds the pairs, and gives its id.
    static std::string start(const Pairs &values = {}) {
        const std::string out = request("", [&] {
            qSession(kRepository);
            for (const auto &[name, value] : values) qSessionAdd(name.c_str(), "%s", value.c_str());
            printf("\n%s", qSessionGetID());
        });
        return out.substr(out.rfind('\n') + 1);
    }
    static std::string store(const std::string &id) { return "/sessions/qsession-" + id + ".properties"; }
    static std::string timeout(const std::string &id) { return "/sessions/qsession-" + id + ".timeout"; }
    void expire(const std::string &path) const { root_.write(path, std::to_string(std::time(nullptr) - 10) + "\n"); }
    long seconds_left(const std::string &path) const { return std::stol(root_.read(path)) - std::time(nullptr); }
    std::set<std::string> on_disk() const {
        std::set<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(root_.file(kRepository)))
            if (entry.path().filename() != "qsession-timetoclear") names.insert(entry.path().filename());
        return names;
    }
};

// A new session is stored only once written into; its values, counters and interval carry across requests.
TEST_F(Session, StoredOnceWrittenIntoAndCarriedAcrossRequests) {
    std::string out = request("", [] {
        printf("%s", join({qSession(kRepository), qSession(kRepository), qSessionGetID(), qSessionValue("_Q_CONNECTIONS")})
                         .c_str());
    });
    EXPECT_EQ(out, "Set-Cookie: QSESSIONID=" + out.substr(23, 32) + "; path=/\n1|1|" + out.substr(23, 32) + "|1");
    EXPECT_TRUE(matches(out.substr(23, 32), "[0-9a-f]{32}")) << out;
    EXPECT_EQ(on_disk(), std::set<std::string>{});

    const std::string value = "two words = one\nline feed, 100% &amp; \"quotes\" ";
    const std::string id = start({{"note", value}, {"visits", "5"}, {"gone", "x"}});
    EXPECT_EQ(on_disk(), (std::set<std::string>{"qsession-" + id + ".properties", "qsession-" + id + ".timeout"}));
    EXPECT_TRUE(matches(root_.read(store(id)),
                        "# automatically generated by qDecoder at [A-Z][a-z]{2}, [0-9]{2}-[A-Z][a-z]{2}-[0-9]{4} "
                        "[0-9:]{8} GMT\\.\n# /sessions/qsession-" + id + "\\.properties\n_Q_SESSIONID=" + id +
                            "\n_Q_CREATED-GMT=[^\n]+\n_Q_CREATED=[0-9]+\n_Q_CONNECTIONS=1\n_Q_INTERVAL=1800\n"
                            "note=[^ \n]+\nvisits=5\ngone=x\n"))
        << root_.read(store(id));
    EXPECT_TRUE(seconds_left(timeout(id)) >= 1790 && seconds_left(timeout(id)) <= 1800);
    // No new cookie for a known session; the values come back as they were written.
    EXPECT_EQ(request(id, [] {
                  printf("%s", join({qSession(kRepository), qSessionValue("note"), qSessionValue("_Q_CONNECTIONS"),
                                     qValue("QSESSIONID"), qSessionUpdateInteger("visits", 2),
                                     qSessionAddInteger("limit", 2147483647), qSessionUpdateInteger("limit", 1),
                                     qSessionAdd("gone", "y"), qSessionSetTimeout(600), qSessionGetCreated() > 0})
                                   .c_str());
              }),
              join({0, value.c_str(), "2", id.c_str(), 7, 2147483647, -2147483647 - 1, "y", 600, 1}));
    EXPECT_LE(seconds_left(timeout(id)), 600);
    EXPECT_EQ(request(id, [] {
                  printf("%s", join({qSession(kRepository), qSessionValueInteger("visits"), qSessionValue("gone"),
                                     qSessionValue("_Q_INTERVAL"), qSessionValue("_Q_CONNECTIONS")})
                                   .c_str());
                  qSessionRemove("%s", "gone");
              }),
              "0|7|y|600|3");
    std::string text = root_.read(store(id));
    EXPECT_EQ(text.find("gone="), std::string::npos);
    text.erase(text.find("_Q_INTERVAL=600\n"), 16);  // a store without its interval opens with the default
    root_.write(store(id), text);
    EXPECT_EQ(request(id, [] { printf("%s", join({qSession(kRepository), qSessionValue("_Q_INTERVAL")}).c_str()); }),
              "0|1800");
    out = request(id, [] { qSession(kRepository), qSessionDestroy(), qSessionSave(); });
    EXPECT_TRUE(matches(out, "Set-Cookie: QSESSIONID=; expires=[^;]+ GMT; path=/\n")) << out;
    EXPECT_EQ(on_disk(), std::set<std::string>{});
}

// Expired, lost or foreign identifiers start a fresh session, and a cookie that is no identifier reaches no
// file; opening a session removes the expired ones, at most once per interval, and only the repository's own.
TEST_F(Session, FreshSessionsAndCleanUp) {
    const std::string id = start({{"a", "1"}}), other = start({{"b", "2"}}), live = start({{"c", "3"}});
    expire(timeout(id));
    root_.remove(store(other));  // a valid timeout whose store is gone
    for (const std::string &old : {id, other}) {
        std::string out = request(old, [] { printf("%s", join({qSession(kRepository), qSessionGetID()}).c_str()); });
        EXPECT_EQ(out, "Set-Cookie: QSESSIONID=" + out.substr(23, 32) + "; path=/\n1|" + out.substr(23, 32));
        EXPECT_FALSE(out.substr(23, 32) == old || root_.exists(store(old)) || root_.exists(timeout(old)));
    }
    root_.write("/sessions/qsession-x/.keep", "");
    root_.write("/victim.timeout", "0\n");
    root_.write("/victim.properties", "kept\n");
    for (const std::string cookie : {"x/../../victim", "0123456789abcdef0123456789abcde/", "short"})
        EXPECT_TRUE(matches(request(cookie, [] { printf("%d", qSession(kRepository)); }),
                            "Set-Cookie: QSESSIONID=[0-9a-f]{32}; path=/\n1")) << cookie;
    EXPECT_EQ(root_.read("/victim.properties") + root_.read("/victim.timeout"), "kept\n0\n");

    const std::string clear = "/sessions/qsession-timetoclear";
    root_.write("/sessions/unrelated.timeout", "0\n");
    expire(timeout(live));
    auto clear_now = [] { printf("\n%d", (qSession(kRepository), _clearRepository())); };
    EXPECT_EQ(request("", clear_now).substr(64), "\n0");  // within the interval
    EXPECT_TRUE(root_.exists(store(live)) && root_.exists(timeout(live)));
    expire(clear);
    EXPECT_EQ(request("", clear_now).substr(64), "\n1");
    EXPECT_FALSE(root_.exists(store(live)) || root_.exists(timeout(live)));
    EXPECT_TRUE(root_.exists("/sessions/unrelated.timeout"));
    EXPECT_GE(seconds_left(clear), 1790);
    expire(clear);
    request("", [] {});  // no session, no scan
    EXPECT_LT(seconds_left(clear), 0);
}

// Calls before qSession, reserved or empty names, over-long values and a repository that is a file stop.
TEST_F(Session, MisuseStopsWithItsMessage) {
    const std::string before = "(): qSession() must be called before.", too_long(1024, 'v');
    const std::pair<std::function<void()>, std::string> rows[] = {
        {[] { qSessionValue("a"); }, "qSessionValue" + before}, {[] { qSessionAdd("a", "1"); }, "qSessionAdd" + before},
        {[] { qSessionGetID(); }, "qSessionGetID" + before}, {[] { qSessionDestroy(); }, "qSessionDestroy" + before},
        {[] { qSessionPrint(); }, "qSessionPrint" + before}, {[] { qSessionRemove("a"); }, "qSessionRemove" + before},
        {[] { qSessionSetTimeout(5); }, "qSessionSetTimeout" + before},
        {[] { _clearRepository(); }, "_clearRepository" + before},
        {[] { qSession(std::string(4096, 'r').c_str()); }, "qSession(): Session repository path is too long."},
        {[] { qContentType("text/html"), qSession(kRepository); },
         "qSession(): must be called before qContentType() and any stream out."},
        {[] { qSession(kRepository), qSessionAdd("_Q_CONNECTIONS", "9"); },
         "qSessionAdd(): Name can not start with _Q_. It's reserved for internal uses."},
        {[] { qSession(kRepository), qSessionAdd("", "1"); }, "qSessionAdd(): can not add empty name."},
        {[&] { qSession(kRepository), qSessionAdd("a", "%s", too_long.c_str()); },
         "qSessionAdd(): Message is too long or invalid."},
        {[] { qSession(kRepository), qSessionRemove("_Q_INTERVAL"); }, "qSessionRemove(): can not remove reserved words."},
        {[] { qSession(kRepository), qSessionRemove("%s", ""); }, "qAddRemove(): can not remove empty name."},
        {[] { qSession(kRepository), qSessionSetTimeout(0); },
         "qSessionSetTimeout(): can not set negative interval. Use qSessionDestory() instead."},
    };
    for (const auto &[call, message] : rows) EXPECT_STOPS(call(), message);
    EXPECT_EQ(on_disk(), std::set<std::string>{});
    std::filesystem::remove_all(root_.file(kRepository));
    root_.write(kRepository, "a file, not a directory");
    EXPECT_FATAL((qSession(kRepository), qSessionAdd("a", "1"), qSessionSave()),
                 "Error: qSessionSave\\(\\): Can not access session repository\\(/sessions/qsession-[0-9a-f]{32}"
                 "\\.properties\\)\\.");
}

// Two processes work in one repository at once: every request also forces the repository scan, which reads
// the other session's timeout file while that one may be rewriting it.
TEST_F(Session, TwoProcessesWorkInOneRepositoryAtOnce) {
    const int kRequests = slow_processes() ? 40 : 150;
    const std::string ids[] = {start({{"count", "0"}}), start({{"count", "0"}})};
    pid_t workers[2];
    for (int w = 0; w < 2; ++w)
        if ((workers[w] = fork()) == 0) {
            int failures = 0;
            for (int i = 0; i < kRequests; ++i)
                failures += request(ids[w], [&] {
                    root_.remove("/sessions/qsession-timetoclear");
                    if (qSession(kRepository) != 0) printf("lost\n");
                    qSessionUpdateInteger("count", 1);
                }) != "";
            _exit(failures ? 1 : 0);
        }
    for (pid_t pid : workers) {
        int status = -1;
        waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0);
    }
    for (const std::string &id : ids)
        EXPECT_EQ(request(id, [] {
                      printf("%s", join({qSession(kRepository), qSessionValueInteger("count"),
                                         qSessionValueInteger("_Q_CONNECTIONS")}).c_str());
                  }),
                  join({0, kRequests, kRequests + 2}));
}

}  // namespace
