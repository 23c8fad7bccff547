#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/capture.h"
#include "support/temp_root.h"
#include "webadmin.h"

namespace {

using testing_support::TempRoot;

int entries_named(q_entry *table, const char *name) {
    int n = 0;
    for (q_entry *e = table; e; e = e->next) n += std::strcmp(e->name, name) == 0;
    return n;
}

const char *lookup(q_entry *table, const char *key) { return Name2Str(&table, key); }

// The default table belongs to the process, so every check of it is here.
TEST(Language, LoadsCommonThenTheGroupIntoTheDefaultTable) {
    TempRoot root;
    root.write("/etc/language/eng/common",
               "# Texts of every page\nCOMMON_APPLY_STR \"Apply\"\nSHARED \"from common\"\nPERCENT \"50%%\"\n"
               "FORMAT \"%d %s %n %\"\nNAME_ONLY\n#COMMENTED \"no\"\n\"QUOTED NAME\" \"text\"\n"
               "EXTRA \"one\" \"two\"\nESCAPED \"say \\\"hi\\\"\"\nBROKEN \"not closed\n");
    root.write("/etc/language/eng/upgrade", "SHARED \"from upgrade\"\nREBOOT_SECONDS_STR \"seconds\"\n");

    q_entry *head = load_my_language("eng", "upgrade", nullptr);
    ASSERT_NE(head, nullptr);
    EXPECT_STREQ(icons_path, "../icons_eng/");
    const std::vector<std::pair<const char *, const char *>> texts = {{"${COMMON_APPLY_STR}", "Apply"},
                                                                      {"${SHARED}", "from upgrade"},
                                                                      {"${REBOOT_SECONDS_STR}", "seconds"},
                                                                      {"${PERCENT}", "50%"},
                                                                      {"${FORMAT}", "%d %s %n %"},
                                                                      {"${QUOTED NAME}", "text"},
                                                                      {"${EXTRA}", "one"},
                                                                      {"${ESCAPED}", "say \"hi\""}};
    for (const auto &[key, text] : texts) EXPECT_STREQ(Name2Str(nullptr, key), text) << key;
    EXPECT_EQ(entries_named(head, "${SHARED}"), 1);
    // Unknown keys come back as the very pointer passed.
    for (const char *key : {"${NAME_ONLY}", "${#COMMENTED}", "${COMMENTED}", "${BROKEN}", "${shared}", "SHARED"})
        EXPECT_EQ(Name2Str(nullptr, key), key) << key;
    EXPECT_EQ(Name2Str(nullptr, nullptr), nullptr);

    // An empty caller table now shares the default one.
    q_entry *shared = nullptr, *none = nullptr;
    EXPECT_EQ(load_my_language("eng", "upgrade", &shared), head);
    EXPECT_EQ(shared, head);
    EXPECT_STREQ(Name2Str(&none, "${SHARED}"), "from upgrade");

    // Reloading replaces the texts in place and keeps the other keys.
    root.write("/etc/language/eng/upgrade", "SHARED \"again\"\n");
    EXPECT_EQ(load_my_language("eng", "upgrade", nullptr), head);
    EXPECT_STREQ(Name2Str(nullptr, "${SHARED}"), "again");
    EXPECT_STREQ(Name2Str(nullptr, "${REBOOT_SECONDS_STR}"), "seconds");
    EXPECT_EQ(entries_named(head, "${SHARED}"), 1);
    // A missing file changes nothing but the icons path.
    EXPECT_EQ(load_my_language("xx", "upgrade", nullptr), head);
    EXPECT_STREQ(icons_path, "../icons_xx/");
    EXPECT_STREQ(Name2Str(nullptr, "${SHARED}"), "again");

    // Only the first 511 characters of a text take part in the lookup.
    std::string name(508, 'K');
    root.write("/etc/language/eng/long", name + " \"found\"\n");
    load_static_language("eng", "long", nullptr);
    EXPECT_STREQ(Name2Str(nullptr, ("${" + name + "}tail that is cut off").c_str()), "found");
    EXPECT_EQ(load_my_language(nullptr, "upgrade", nullptr), nullptr);
    EXPECT_EQ(load_my_language("eng", nullptr, nullptr), nullptr);
}

TEST(Language, CallersOwnTablesStayApartFromTheDefault) {
    TempRoot root;
    root.write("/etc/language/ch/common", "SHARED \"common ch\"\nONLY_COMMON \"c\"\n");
    root.write("/etc/language/ch/upgrade", "SHARED \"upgrade ch\"\n");

    q_entry *own = qSedArgAdd(nullptr, "${OWN}", "%s", "mine");
    const char *before = Name2Str(nullptr, "${SHARED}");
    EXPECT_EQ(load_my_language("ch", "upgrade", &own), own);
    EXPECT_STREQ(icons_path, "../icons_ch/");
    EXPECT_STREQ(lookup(own, "${OWN}"), "mine");
    EXPECT_STREQ(lookup(own, "${SHARED}"), "upgrade ch");
    EXPECT_STREQ(lookup(own, "${ONLY_COMMON}"), "c");
    EXPECT_STREQ(Name2Str(nullptr, "${SHARED}"), before);  // the default is untouched

    // The static loader reads only the group's file.
    q_entry *page = nullptr;
    q_entry *head = load_static_language("ch", "upgrade", &page);
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(page, head);
    EXPECT_STREQ(lookup(page, "${SHARED}"), "upgrade ch");
    EXPECT_EQ(entries_named(page, "${ONLY_COMMON}"), 0);
    EXPECT_EQ(load_static_language(nullptr, "upgrade", &page), nullptr);

    // A code or group that leads out of the language directory loads nothing.
    root.write("/etc/common", "LEAK \"outside\"\n");
    root.write("/etc/language/common", "LEAK \"outside\"\n");
    q_entry *outside = nullptr;
    for (const auto &[code, group] :
         {std::pair{"..", "common"}, std::pair{"ch", "../common"}, std::pair{".", "common"}})
        EXPECT_EQ(load_static_language(code, group, &outside), nullptr) << code << " " << group;

    // Codes are cut to nine characters, in paths and in the icons path.
    root.write("/etc/language/abcdefghi/upgrade", "CUT \"yes\"\n");
    q_entry *cut = qSedArgAdd(nullptr, "${SEED}", "%s", "own table");
    load_my_language("abcdefghijklmnop", "upgrade", &cut);
    EXPECT_STREQ(lookup(cut, "${CUT}"), "yes");
    EXPECT_STREQ(icons_path, "../icons_abcdefghi/");

    qSedArgFree(own);
    qSedArgFree(page);
    qSedArgFree(cut);
}

TEST(Language, DataFilesFillNumberedRows) {
    TempRoot root;
    std::string text = "# Menu names\n";
    for (int i = 0; i < 310; ++i) {
        if (i == 5) text += "SINGLE_TOKEN\n# a comment\n";
        text += "MENU_" + std::to_string(i) + " \"item " + std::to_string(i) + "\"\n";
    }
    root.write("/etc/menu", text);
    std::vector<char> rows(300 * 20, 'X');
    EXPECT_EQ(load_data_file("/etc/menu", rows.data(), 300, 20), 300);
    for (int i : {0, 5, 299}) EXPECT_EQ(rows.data() + i * 20, "item " + std::to_string(i));

    // Texts are cut, and the last byte of a row is never written.
    root.write("/etc/long", "A \"abcdefghijklmnop\"\nB \"short\"\n");
    std::vector<char> small(3 * 8, 'X');
    EXPECT_EQ(load_data_file("/etc/long", small.data(), 3, 8), 2);
    EXPECT_EQ(std::string(small.data(), 17), std::string("abcdefgXshort\0\0XX", 17));

    // A missing file fills nothing and leaves the rows alone.
    EXPECT_EQ(load_data_file("/etc/absent", small.data(), 3, 8), 0);
    EXPECT_EQ(std::string(small.data(), 8), "abcdefgX");
    EXPECT_EQ(load_data_file("/etc/long", small.data(), 0, 8), 0);
    EXPECT_EQ(load_data_file("/etc/long", small.data(), 3, 0), 0);
    EXPECT_EQ(load_data_file(nullptr, small.data(), 3, 8), 0);

    // load_language: the common texts into the table, the group into the rows.
    root.write("/etc/language/eng/common", "COMMON_HELP_STR \"Help\"\n");
    root.write("/etc/language/eng/menu", "M0 \"System\"\nM1 \"Network\"\n");
    q_entry *table = nullptr;
    char menu[4][32] = {};
    EXPECT_EQ(load_language("eng", "menu", menu[0], 4, 32, &table), 2);
    EXPECT_STREQ(menu[0], "System");
    EXPECT_STREQ(menu[1], "Network");
    EXPECT_STREQ(lookup(table, "${COMMON_HELP_STR}"), "Help");
    EXPECT_EQ(entries_named(table, "${M0}"), 0);
    EXPECT_STREQ(icons_path, "../icons_eng/");
    // Without a table only the rows are filled.
    char again[4][32] = {};
    EXPECT_EQ(load_language("eng", "menu", again[0], 4, 32, nullptr), 2);
    EXPECT_STREQ(again[1], "Network");
    // Nothing at all is done without code, group or rows.
    load_language("sch", "menu", nullptr, 4, 32, &table);
    EXPECT_STREQ(icons_path, "../icons_eng/");
    EXPECT_EQ(load_language(nullptr, "menu", menu[0], 4, 32, &table), 0);
    EXPECT_EQ(load_language("eng", "absent", menu[0], 4, 32, nullptr), 0);
    EXPECT_STREQ(menu[0], "System");
    qSedArgFree(table);
}

TEST(Language, NowLanguageTakesTheRequestOrTheFallback) {
    // now_language() of a request with this query string, in a process of its own.
    auto language_of = [](const char *query, const char *fallback) {
        testing_support::Ended ended = testing_support::in_child([&] {
            unsetenv("HTTP_COOKIE");
            unsetenv("CONTENT_LENGTH");
            setenv("REQUEST_METHOD", "GET", 1);
            setenv("QUERY_STRING", query, 1);
            std::fputs(now_language(fallback), stdout);
        });
        return ended.status == 0 ? ended.out : "<failed>";
    };
    const std::vector<std::vector<const char *>> cases = {
        {"q=0", nullptr, "eng"},
        {"q=0", "sch", "sch"},
        {"q=0", "", ""},
        {"MULTI_LANG=ch", "sch", "ch"},
        {"MULTI_LANG=xnullx", "sch", "sch"},
        {"MULTI_LANG=null", nullptr, "eng"},
        {"MULTI_LANG=", "sch", "sch"},
        {"MULTI_LANG=abcdefghijkl", "sch", "abcdefghi"},
        {"MULTI_LANG=zh-TW", "sch", "zh-TW"},
        // Codes that would leave the language directory or break a page.
        {"MULTI_LANG=../x", "sch", "sch"},
        {"MULTI_LANG=%22%3E%3Cb%3E", "sch", "sch"},
        {"q=0", "a-very-long-fallback", "a-very-lo"}};
    for (const auto &c : cases) EXPECT_EQ(language_of(c[0], c[1]), c[2]) << c[0] << " " << (c[1] ? c[1] : "null");

    // Results rotate through sixteen slots.
    std::vector<char *> results;
    for (int i = 0; i < 16; ++i) results.push_back(now_language(std::to_string(i).c_str()));
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_STREQ(results[i], std::to_string(i).c_str());
        for (size_t j = 0; j < i; ++j) EXPECT_NE(results[i], results[j]);
    }
    EXPECT_EQ(now_language("again"), results[0]);
    EXPECT_STREQ(results[0], "again");
    EXPECT_STREQ(results[1], "1");
}

}  // namespace
