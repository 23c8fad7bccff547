// Text helpers of the runtime: shell words, base64, menu levels, tokens and
// lines, formatted texts, password hashes.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <time.h>
#include <wchar.h>

#include <climits>
#include <set>
#include <string>
#include <vector>

#include "runtime/shell_quote.h"
#include "runtime/string_parse.h"
#include "webadmin.h"

namespace {

using V = std::vector<std::string>;
using S = std::string;

// A heap text (its first size bytes, when given) freed.
S take(char *heap, size_t size = S::npos) {
    S text = !heap ? "<null>" : size == S::npos ? heap : S(heap, size);
    free(heap);
    return text;
}

// Encoding pads; decoding into exactly 3 * (n / 4) + 3 bytes skips a leading "+ ", stops at a line
// break or a '=' group and refuses bad digits and misplaced '='.
TEST(Base64, EncodeAndDecode) {
    auto encode = [](const S &bytes) {
        std::vector<unsigned char> out(4 * ((bytes.size() + 2) / 3) + 1, 0xEE);
        to64frombits(out.data(), reinterpret_cast<const unsigned char *>(bytes.data()), static_cast<int>(bytes.size()));
        return S(reinterpret_cast<char *>(out.data()));
    };
    auto decode = [](const S &text) {
        std::vector<unsigned char> out(3 * (text.size() / 4) + 3 + 8, 0xEE);
        int n = base64_decode_text(out.data(), text.c_str());
        EXPECT_EQ(S(out.end() - 8, out.end()), S(8, '\xEE')) << "written past the bound";
        return n < 0 ? S("-1") : S(reinterpret_cast<char *>(out.data()), static_cast<size_t>(n + 1));
    };
    for (auto [bytes, text] : {std::pair<S, S>{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foobar", "Zm9vYmFy"},
                               {{"\xff\xfe\x00", 3}, "//4A"}})
        EXPECT_EQ(encode(bytes) + " " + decode(text), text + " " + bytes + '\0');
    for (auto [text, bytes] : {std::pair{"+ Zm9v", "foo"}, {"Zm9v\r\nYmFy", "foo"}, {"Zg==Zm9v", "f"}, {"Zm9", "fo"},
                               {"\nZm9v", ""}})
        EXPECT_EQ(decode(text), bytes + S(1, '\0')) << text;
    for (const char *bad : {"Zm9v!mFy", "Zm9v\xc3\xa9", "Z", "Zg=A", "=AAA", "Z===", "Zm 9v"})
        EXPECT_EQ(decode(bad), "-1") << bad;
    EXPECT_EQ(base64_decode_text(nullptr, "Zg=="), -1);
    S all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    for (size_t n = 0; n <= all.size(); n += 37) EXPECT_EQ(decode(encode(all.substr(0, n))), all.substr(0, n) + '\0');
}

// Click values join into a level of at most 1023 characters; a level decodes into form lines of 49 characters.
TEST(MenuLevel, EncodeJoinsClickValuesAndDecodeWritesFormLines) {
    S query, fit, huge = "click_v=" + S(2000, '9'), ones(23, '1'), fits = ones + "_22222222";
    for (int i = 0; i < 1000; ++i) query += "click_v=123&";
    for (int i = 0; i < 256; ++i) fit += i ? "_123" : "123";
    for (auto [in, out] : {std::pair<S, S>{"q=1&click_v=3&lang=eng&click_v=12", "3_12"},
                           {"click_v=3\nclick_v=12\n", "3_12"}, {"xclick_v=4&click_vv=5&click_v=6", "6"}, {"q=1", ""},
                           {query, fit}, {huge, ""}, {"click_v=1&" + huge + "&click_v=2", "1"}})
        EXPECT_EQ(encodeMenuLV(in.c_str()), out);
    EXPECT_STREQ(encodeMenuLV(nullptr), "");
    for (auto [in, out] : {std::pair<S, S>{"3_12_5", "click_v=3\nclick_v=12\nclick_v=5\n"}, {"", "click_v=\n"},
                           {fits, "click_v=" + ones + "\nclick_v=22222222\n"}, {fits + "2", "click_v=" + ones + "\n"},
                           {S(41, '1'), ""}, {"1_2_3_4_5_6_7_8_9", "click_v=1\nclick_v=2\nclick_v=3\nclick_v=4\n"}})
        EXPECT_EQ(decodeMenuLV(in.c_str()), out) << in;
    EXPECT_EQ(decodeMenuLV(nullptr), nullptr);
}

// Tokens split on blanks or quotes (escapes inside), on a separator, and lines read cut to the buffer.
TEST(Tokens, ParseTokenizeAndReadLine) {
    char *const stale = reinterpret_cast<char *>(0x1);
    auto parse = [&](S text) {
        char *tokens[8] = {stale, stale, stale, stale, stale, stale, stale, stale};
        int n = string_parse(tokens, 8, text.data());
        for (int i = n; i >= 0 && i < 8; ++i) EXPECT_EQ(tokens[i], nullptr) << text;
        return n < 0 ? V{"-1"} : V(tokens, tokens + n);
    };
    for (auto [line, tokens] : {std::pair<S, V>{"SYSTEM_MODEL = \"WA 1000\"\n", {"SYSTEM_MODEL", "=", "WA 1000"}},
                                {" \t a\tb \t c\r\n", {"a", "b", "c"}}, {"  \t \n", {}}, {"ab\"c d", {"ab\"c", "d"}},
                                {R"("say \"hi\"" "back\\slash" "" "a\b"x y)",
                                 {"say \"hi\"", "back\\slash", "", "ab", "x", "y"}},
                                {"NAME = \"no end\n", {"-1"}}, {"\"ends in escape\\\"", {"-1"}}, {"\"x\\", {"-1"}}})
        EXPECT_EQ(parse(line), tokens) << line;
    char line[] = "a b c d";
    char *tokens[3] = {stale, stale, stale};
    ASSERT_EQ(string_parse(tokens, 2, line), 2);  // into the line itself, only max slots touched
    EXPECT_TRUE(tokens[0] == line && tokens[2] == stale && string_parse(tokens, 3, nullptr) == 0);

    for (auto [text, max, separator, expected] :
         {std::tuple<S, int, const char *, V>{"eth0,LAN,1.1", 5, ",", {"eth0", "LAN", "1.1"}},
          {"a,b,c,d", 2, ",", {"a", "b,c,d"}}, {",x,", 3, ",", {"", "x", ""}}, {"a::b::c", 4, "::", {"a", "b", "c"}}}) {
        char *slots[5] = {};
        EXPECT_EQ(V(slots, slots + string_tokenize(slots, max, text.data(), separator)), expected) << text;
    }
    char *none[2] = {line, line};
    EXPECT_TRUE(string_tokenize(none, 2, nullptr, ",") == 0 && none[0] == nullptr);

    // The rest of a cut line is skipped; a NUL ends a line's text early, and what the buffer did not take then
    // reads as the next line ("efgh", its rest skipped).
    char text[] = "a\0cdefgh\nxy\nlast", buf[5];
    FILE *f = fmemopen(text, 16, "r");
    V got;
    while (runtime::read_line(f, buf, sizeof buf)) got.push_back(buf);
    EXPECT_EQ(got, (V{"a", "efgh", "xy\n", "last"}));
    fclose(f);
}

// Replacing all occurrences, in pairs in order, counting, and escaping for SQL and the shell; a shell word stays
// plain or becomes one single-quoted word, its quotes closed and escaped.
TEST(Text, ReplaceCountAndEscape) {
    for (auto [in, out] : {std::pair{"192.168.1.10", "192.168.1.10"}, {"fe80::1/a_b-c", "fe80::1/a_b-c"}, {"", "''"},
                           {"-rf", "'-rf'"}, {"a;b $(id)`id`", "'a;b $(id)`id`'"},
                           {"it's \\ \"q\"\n", "'it'\\''s \\ \"q\"\n'"}})
        EXPECT_EQ(runtime::shell_word(in), out);
    for (auto [in, from, to, out] : {std::tuple{"a_b_c", "_", "\nclick_v=", "a\nclick_v=b\nclick_v=c"},
                                     {"aaaa", "aa", "b", "bb"}, {"aaa", "aa", "b", "ba"}, {"aaa", "a", "aa", "aaaaaa"},
                                     {"x<br>y<br>", "<br>", "", "xy"}, {"abc", "", "x", "abc"},
                                     {nullptr, "a", "b", "<null>"}})
        EXPECT_EQ(take(my_replaceStr(in, from, to)), out) << (in ? in : "null");
    const char *const pairs[][2] = {{"<br>", "//n"}, {"a", "b"}, {"b", "c"}, {nullptr, nullptr}};
    EXPECT_EQ(take(my_MreplaceStr("ab<br>", pairs)), "cc//n");
    EXPECT_EQ(my_calc_strchr("1.2.3.4", '.') * 10 + my_calc_strchr(nullptr, '.'), 30);
    for (auto [in, len, out] : {std::tuple<S, int, S>{"O'Brien", 7, "O\\'Brien"}, {"a\\b\"c", 5, "a\\\\b\\\"c"},
                                {"x\x1ay", 3, "x\\Zy"}, {"t\tn\nr\rb\b", 8, "t\\\tn\\\nr\\\rb\\\b"},
                                {"O'Brien", 2, "O\\'"}, {S("a\0b", 3), 3, S("a\\\0b", 4)}})
        EXPECT_EQ(take(my_sqlescape(in.data(), len), out.size() + 1), out + '\0');
    EXPECT_EQ(take(my_strescape("a-b-c", 5, "-", 1)), "a\\-b\\-c");
    EXPECT_TRUE(my_sqlescape("x", 0) == nullptr && my_strescape("abc", 3, "-", 0) == nullptr);
}

// M's 128 rotating buffers of 511 characters, heap texts, and dates of eight digits up to the year 9999.
TEST(Format, RotatingBuffersHeapTextsAndDates) {
    char *first = M("%s-%d", "first", 1);
    std::set<char *> seen{first};
    for (int i = 2; i <= 128; ++i) seen.insert(M("%d", i));
    EXPECT_TRUE(seen.size() == 128 && first == S("first-1") && M("%s", "129th") == first);
    EXPECT_EQ(strlen(M("%s", S(700, 'x').c_str())), 511u);

    const wchar_t unwritable[] = {static_cast<wchar_t>(0xD800), 0};  // no multibyte locale writes it
    char *page = my_string(my_string(my_string(nullptr, "%s", "a"), "%c", 'b'), "<td>%d</td>", 7);
    EXPECT_TRUE(page == S("ab<td>7</td>") && !my_string(page, "%ls", unwritable));  // the last consumes page

    const time_t now = time(nullptr);
    struct tm last {};
    last.tm_year = 9999 - 1900, last.tm_mon = 11, last.tm_mday = 31, last.tm_hour = 12, last.tm_isdst = -1;
    const int to_last = static_cast<int>((mktime(&last) - now) / 86400);
    for (int days : {0, 1, -1, 31, -366, 3650, to_last, to_last + 2, INT_MAX, INT_MIN}) {
        struct tm t;
        localtime_r(&now, &t);
        t.tm_hour = 12, t.tm_min = t.tm_sec = 0, t.tm_isdst = -1;
        char expected[16] = "";
        if (days > INT_MIN && days < INT_MAX && (t.tm_mday += days, mktime(&t) != -1) && t.tm_year <= 9999 - 1900)
            strftime(expected, sizeof expected, "%Y%m%d", &t);
        EXPECT_STREQ(my_getDate(days), expected) << days;
    }
    char *date = my_getDate(0);
    for (int i = 0; i < 63; ++i) EXPECT_NE(my_getDate(1), date);
    EXPECT_EQ(my_getDate(2), date);
}

// DES hashes of one block, or two for passwords of 9 to 16 characters; a salt is made when none is given.
TEST(Password, DesHashOfOneOrTwoBlocksAndNewSalts) {
    void *library = dlopen("libcrypt.so.1", RTLD_NOW);  // the MIPS cross sysroot has none: every hash is null
    if (!library && !(library = dlopen("libcrypt.so.0", RTLD_NOW))) {
        EXPECT_EQ(my_pwencrypt("password", "ab"), nullptr);
        GTEST_SKIP() << "no crypt library on this system";
    }
    dlclose(library);
    auto hash = [](const char *password, const char *salt) { return S(my_pwencrypt(password, salt) ?: "<null>"); };
    for (auto [password, salt, hashed] :
         {std::tuple{"password", "ab", "abJnggxhB/yWI"}, {"password", "abJnggxhB/yWI", "abJnggxhB/yWI"},
          {"passwordpassword", "ab", "abJnggxhB/yWIJnggxhB/yWI"}, {"passwore", "ab", "abEga516i1a/o"},
          {"password", "a", "<null>"}, {"password", "$6$abcdefgh$", "<null>"}, {"password", "a!", "<null>"}})
        EXPECT_EQ(hash(password, salt), hashed) << password << " " << salt;
    EXPECT_EQ(hash("secret123", "Zz"), hash("secret12", "Zz") + hash("3", "Zz").substr(2));
    EXPECT_EQ(hash("0123456789abcdefXYZ", "x."), hash("0123456789abcdef", "x."));
    for (auto [password, size] : {std::pair{"adminpass", 24u}, {"admin", 13u}}) {
        const S made = hash(password, nullptr);
        EXPECT_EQ(made.size(), size);
        EXPECT_EQ(made.find_first_not_of("./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"), S::npos);
        EXPECT_EQ(hash(password, made.c_str()), made);
    }
}

}  // namespace
