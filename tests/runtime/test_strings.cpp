// Text helpers of the runtime: shell words, base64, menu levels, tokens and
// lines, formatted texts, password hashes.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wchar.h>

#include <climits>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "runtime/shell_quote.h"
#include "runtime/string_parse.h"
#include "webadmin.h"

namespace {

using V = std::vector<std::string>;

std::string take(char *heap) {
    std::string text = heap ? heap : "<null>";
    free(heap);
    return text;
}

TEST(ShellWord, PlainWordsStayAndEverythingElseIsOneArgument) {
    for (const char *plain : {"192.168.1.10", "fe80::1", "/var/ap/firmware"}) EXPECT_EQ(runtime::shell_word(plain), plain);
    EXPECT_EQ(runtime::shell_word(""), "''");
    EXPECT_EQ(runtime::shell_word("-x"), "'-x'");
    for (const std::string &hostile : V{"a;b", "a|b", "$(id)", "`id`", "a'b", "a\"b", "a\nb", "${IFS}x", "-rf /", "it's \\ 'q'",
                                        std::string(65536, 'z') + ";"}) {
        FILE *p = popen(("printf '<%s>' " + runtime::shell_word(hostile)).c_str(), "r");  // what /bin/sh passes on
        std::string out;
        char buf[256];
        for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        pclose(p);
        EXPECT_EQ(out, "<" + hostile + ">") << hostile.substr(0, 40);
    }
}

// Decoded into a buffer of exactly the documented size, guard bytes after it.
int decode(const std::string &text, std::string *bytes = nullptr) {
    const size_t room = 3 * (text.size() / 4) + 3;
    std::vector<unsigned char> out(room + 8, 0xEE);
    int n = base64_decode_text(out.data(), text.c_str());
    for (size_t i = room; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << "written past the bound";
    if (n >= 0 && bytes) bytes->assign(reinterpret_cast<char *>(out.data()), static_cast<size_t>(n));
    if (n >= 0) {
        EXPECT_EQ(out[n], '\0');
    }
    return n;
}

std::string encode(const std::string &bytes) {
    std::vector<unsigned char> out(4 * ((bytes.size() + 2) / 3) + 1, 0xEE);
    to64frombits(out.data(), reinterpret_cast<const unsigned char *>(bytes.data()), static_cast<int>(bytes.size()));
    return reinterpret_cast<char *>(out.data());
}

TEST(Base64, EncodeAndDecode) {
    for (auto [bytes, text] : {std::pair<std::string, std::string>{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foobar", "Zm9vYmFy"},
                               {{"\xff\xfe\x00", 3}, "//4A"}})
        EXPECT_EQ(encode(bytes), text);
    // A leading "+ " is skipped; a line break or a group ending in '=' ends the text.
    for (auto [text, expected] : {std::pair{"Zm9vYmFy", "foobar"}, {"Zm8=", "fo"}, {"+ Zm9v", "foo"}, {"Zm9v\r\nYmFy", "foo"},
                                  {"Zg==Zm9v", "f"}, {"Zm9", "fo"}, {"\nZm9v", ""}}) {
        std::string bytes;
        EXPECT_EQ(decode(text, &bytes), static_cast<int>(strlen(expected))) << text;
        EXPECT_EQ(bytes, expected) << text;
    }
    for (const char *bad : {"Zm9v!mFy", "Zm9v\xc3\xa9", "Z", "Zg=A", "=AAA", "Z===", "Zm 9v"}) EXPECT_EQ(decode(bad), -1) << bad;
    EXPECT_EQ(base64_decode_text(nullptr, "Zg=="), -1);
    std::string all, back;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    for (size_t n = 0; n <= all.size(); n += 37) EXPECT_EQ((decode(encode(all.substr(0, n)), &back), back), all.substr(0, n));
}

TEST(MenuLevel, EncodeJoinsClickValuesAndDecodeWritesFormLines) {
    std::string query, fit, huge = "click_v=" + std::string(2000, '9');
    for (int i = 0; i < 1000; ++i) query += "click_v=123&";
    for (int i = 0; i < 256; ++i) fit += i ? "_123" : "123";  // the last whole level that fits 1023 characters
    for (auto [in, out] : {std::pair<std::string, std::string>{"q=1&click_v=3&lang=eng&click_v=12", "3_12"}, {"click_v=3\nclick_v=12\n", "3_12"},
                           {"xclick_v=4&click_vv=5&click_v=6", "6"}, {"q=1", ""}, {query, fit}, {huge, ""}, {"click_v=1&" + huge + "&click_v=2", "1"}})
        EXPECT_EQ(encodeMenuLV(in.c_str()), out);
    EXPECT_STREQ(encodeMenuLV(nullptr), "");
    // 49 characters fit (40 path characters, each '_' counting 9); a level that does not is left out whole.
    const std::string ones(23, '1'), fits = ones + "_22222222";
    for (auto [in, out] : {std::pair<std::string, std::string>{"3_12_5", "click_v=3\nclick_v=12\nclick_v=5\n"}, {"", "click_v=\n"},
                           {fits, "click_v=" + ones + "\nclick_v=22222222\n"}, {fits + "2", "click_v=" + ones + "\n"}, {std::string(41, '1'), ""},
                           {"1_2_3_4_5_6_7_8_9", "click_v=1\nclick_v=2\nclick_v=3\nclick_v=4\n"}})
        EXPECT_EQ(decodeMenuLV(in.c_str()), out) << in;
    EXPECT_EQ(decodeMenuLV(nullptr), nullptr);
}

TEST(Tokens, ParseTokenizeAndReadLine) {
    char *const stale = reinterpret_cast<char *>(0x1);
    auto parse = [&](std::string text) {
        char *tokens[8] = {stale, stale, stale, stale, stale, stale, stale, stale};
        int n = string_parse(tokens, 8, text.data());
        for (int i = n; i >= 0 && i < 8; ++i) EXPECT_EQ(tokens[i], nullptr) << text;
        return n < 0 ? V{"-1"} : V(tokens, tokens + n);
    };
    for (auto [line, tokens] : {std::pair<std::string, V>{"SYSTEM_MODEL = \"WA 1000\"\n", {"SYSTEM_MODEL", "=", "WA 1000"}},
                                {" \t a\tb \t c\r\n", {"a", "b", "c"}}, {"  \t \n", {}},
                                {R"("say \"hi\"" "back\\slash" "" "a\b"x y)", {"say \"hi\"", "back\\slash", "", "ab", "x", "y"}},
                                {"ab\"c d", {"ab\"c", "d"}}, {"NAME = \"no end\n", {"-1"}}, {"\"ends in escape\\\"", {"-1"}}, {"\"x\\", {"-1"}}})
        EXPECT_EQ(parse(line), tokens) << line;
    char line[] = "a b c d";
    char *tokens[3] = {stale, stale, stale};
    ASSERT_EQ(string_parse(tokens, 2, line), 2);  // into the line itself, only max slots touched
    EXPECT_EQ(tokens[0], line);
    EXPECT_EQ(tokens[2], stale);
    EXPECT_EQ(string_parse(tokens, 3, nullptr), 0);

    auto tokenize = [](std::string text, int max, const char *separator) {
        char *slots[5] = {};
        int n = string_tokenize(slots, max, text.data(), separator);
        return V(slots, slots + n);
    };
    EXPECT_EQ(tokenize("eth0,LAN,192.168.1.1", 5, ","), (V{"eth0", "LAN", "192.168.1.1"}));
    EXPECT_EQ(tokenize("a,b,c,d", 2, ","), (V{"a", "b,c,d"}));
    EXPECT_EQ(tokenize(",x,", 3, ","), (V{"", "x", ""}));
    EXPECT_EQ(tokenize("a::b::c", 4, "::"), (V{"a", "b", "c"}));
    char *none[2] = {line, line};
    EXPECT_EQ(string_tokenize(none, 2, nullptr, ","), 0);
    EXPECT_EQ(none[0], nullptr);

    FILE *f = tmpfile();
    fputs("abcdefgh\nxy\nlast", f);
    rewind(f);
    char buf[5];
    for (const char *expected : {"abcd", "xy\n", "last"}) EXPECT_TRUE(runtime::read_line(f, buf, sizeof buf) && !strcmp(buf, expected)) << buf;
    EXPECT_FALSE(runtime::read_line(f, buf, sizeof buf));
    fclose(f);
}

TEST(Text, ReplaceCountAndEscape) {
    for (auto [in, from, to, out] : {std::tuple{"a_b_c", "_", "\nclick_v=", "a\nclick_v=b\nclick_v=c"}, {"aaaa", "aa", "b", "bb"}, {"aaa", "aa", "b", "ba"},
                                     {"aaa", "a", "aa", "aaaaaa"}, {"x<br>y<br>", "<br>", "", "xy"}, {"abc", "", "x", "abc"}})
        EXPECT_EQ(take(my_replaceStr(in, from, to)), out) << in;
    EXPECT_EQ(my_replaceStr(nullptr, "a", "b"), nullptr);
    const char *const pairs[][2] = {{"<br>", "//n"}, {"a", "b"}, {"b", "c"}, {nullptr, nullptr}};
    EXPECT_EQ(take(my_MreplaceStr("ab<br>", pairs)), "cc//n");  // in order, each on the result before
    EXPECT_EQ(my_calc_strchr("1.2.3.4", '.'), 3);
    EXPECT_EQ(my_calc_strchr(nullptr, '.'), 0);
    for (auto [in, len, out] : {std::tuple{"O'Brien", 7, "O\\'Brien"}, {"a\\b\"c", 5, "a\\\\b\\\"c"}, {"x\x1ay", 3, "x\\Zy"},
                                {"t\tn\nr\rb\b", 8, "t\\\tn\\\nr\\\rb\\\b"}, {"O'Brien", 2, "O\\'"}})
        EXPECT_EQ(take(my_sqlescape(in, len)), out);
    char *with_nul = my_sqlescape("a\0b", 3);
    EXPECT_EQ(std::string(with_nul, 5), std::string("a\\\0b\0", 5));
    free(with_nul);
    EXPECT_EQ(my_sqlescape("x", 0), nullptr);
    EXPECT_EQ(take(my_strescape("a-b-c", 5, "-", 1)), "a\\-b\\-c");
    EXPECT_EQ(my_strescape("abc", 3, "-", 0), nullptr);
}

char *format_list(const char *format, ...) __attribute__((format(printf, 1, 2)));
char *format_list(const char *format, ...) {
    va_list args;
    va_start(args, format);
    char *text = xasprintf(format, args);
    va_end(args);
    return text;
}

TEST(Format, RotatingBuffersHeapTextsAndDates) {
    char *first = M("%s-%d", "first", 1);
    std::set<char *> seen{first};
    for (int i = 2; i <= 128; ++i) seen.insert(M("%d", i));
    EXPECT_EQ(seen.size(), 128u);
    EXPECT_STREQ(first, "first-1");  // valid for 127 further calls
    EXPECT_EQ(M("%s", "129th"), first);
    EXPECT_EQ(strlen(M("%s", std::string(700, 'x').c_str())), 511u);

    const wchar_t unwritable[] = {static_cast<wchar_t>(0xD800), 0};  // no multibyte locale writes it
    EXPECT_EQ(take(format_list("%s=%d", "port", 8080)), "port=8080");
    EXPECT_EQ(format_list("%ls", unwritable), nullptr);
    char *page = my_string(my_string(my_string(nullptr, "%s", "a"), "%c", 'b'), "<td>%d</td>", 7);
    EXPECT_STREQ(page, "ab<td>7</td>");
    EXPECT_EQ(my_string(page, "%ls", unwritable), nullptr);  // consumes the text it was to extend

    for (int days : {0, 1, -1, 31, -366, 3650}) {
        time_t now = time(nullptr);
        struct tm t;
        localtime_r(&now, &t);
        t.tm_hour = 12, t.tm_min = t.tm_sec = 0, t.tm_isdst = -1, t.tm_mday += days;
        mktime(&t);
        char expected[16];
        strftime(expected, sizeof expected, "%Y%m%d", &t);
        EXPECT_STREQ(my_getDate(days), expected) << days;
    }
    char *date = my_getDate(0);
    for (int i = 0; i < 63; ++i) EXPECT_NE(my_getDate(1), date);
    EXPECT_EQ(my_getDate(2), date);
    EXPECT_STREQ(my_getDate(INT_MAX), "");
    EXPECT_STREQ(my_getDate(INT_MIN), "");
}

// The MIPS cross sysroot has no crypt library: there every hash is null.
bool have_crypt_library() {
    for (const char *name : {"libcrypt.so.1", "libcrypt.so.0"})
        if (void *library = dlopen(name, RTLD_NOW)) return dlclose(library), true;
    return false;
}

TEST(Password, DesHashOfOneOrTwoBlocksAndNewSalts) {
    if (!have_crypt_library()) {
        EXPECT_EQ(my_pwencrypt("password", "ab"), nullptr);
        GTEST_SKIP() << "no crypt library on this system: every hash is null";
    }
    for (auto [password, salt, hash] : {std::tuple{"password", "ab", "abJnggxhB/yWI"}, {"password", "abJnggxhB/yWI", "abJnggxhB/yWI"},
                                        {"passwordpassword", "ab", "abJnggxhB/yWIJnggxhB/yWI"}})
        EXPECT_STREQ(my_pwencrypt(password, salt), hash);
    EXPECT_STRNE(my_pwencrypt("passwore", "abJnggxhB/yWI"), "abJnggxhB/yWI");
    const std::string nine = my_pwencrypt("secret123", "Zz");  // characters 9 to 16 are a second block
    EXPECT_EQ(nine.substr(0, 13), my_pwencrypt("secret12", "Zz"));
    EXPECT_EQ(nine.substr(13), std::string(my_pwencrypt("3", "Zz")).substr(2));
    EXPECT_STREQ(my_pwencrypt("secret123", nine.c_str()), nine.c_str());
    EXPECT_EQ(std::string(my_pwencrypt("0123456789abcdefXYZ", "x.")), my_pwencrypt("0123456789abcdef", "x."));
    const char *salt_text = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    for (auto [password, size] : {std::pair{"adminpass", 24u}, {"admin", 13u}}) {
        const std::string made = my_pwencrypt(password, nullptr);  // a salt is made
        EXPECT_EQ(made.size(), size);
        EXPECT_EQ(made.find_first_not_of(salt_text), std::string::npos) << made;
        EXPECT_EQ(my_pwencrypt(password, made.c_str()), made);
    }
    for (const char *salt : {"$6$abcdefgh$", "$1$ab$oKsM6dtDD2L1bKowOBX.7.", "a", "", "a!"}) EXPECT_EQ(my_pwencrypt("password", salt), nullptr) << salt;
}

}  // namespace
