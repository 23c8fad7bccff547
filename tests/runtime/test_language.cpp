#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

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
               "# Texts of every page\n"
               "COMMON_APPLY_STR \"Apply\"\n"
               "SHARED \"from common\"\n"
               "PERCENT \"50%%\"\n"
               "FORMAT \"%d %s %n %\"\n"
               "NAME_ONLY\n"
               "#COMMENTED \"no\"\n"
               "\"QUOTED NAME\" \"text\"\n"
               "EXTRA \"one\" \"two\"\n"
               "ESCAPED \"say \\\"hi\\\"\"\n"
               "BROKEN \"not closed\n");
    root.write("/etc/language/eng/upgrade", "SHARED \"from upgrade\"\nREBOOT_SECONDS_STR \"seconds\"\n");

    q_entry *head = load_my_language("eng", "upgrade", nullptr);
    ASSERT_NE(head, nullptr);
    EXPECT_STREQ(icons_path, "../icons_eng/");
    EXPECT_STREQ(Name2Str(nullptr, "${COMMON_APPLY_STR}"), "Apply");
    EXPECT_STREQ(Name2Str(nullptr, "${SHARED}"), "from upgrade");
    EXPECT_STREQ(Name2Str(nullptr, "${REBOOT_SECONDS_STR}"), "seconds");
    EXPECT_STREQ(Name2Str(nullptr, "${PERCENT}"), "50%");
    EXPECT_STREQ(Name2Str(nullptr, "${FORMAT}"), "%d %s %n %");
    EXPECT_STREQ(Name2Str(nullptr, "${QUOTED NAME}"), "text");
    EXPECT_STREQ(Name2Str(nullptr, "${EXTRA}"), "one");
    EXPECT_STREQ(Name2Str(nullptr, "${ESCAPED}"), "say \"hi\"");
    EXPECT_EQ(entries_named(head, "${SHARED}"), 1);

    // Unknown keys come back as the very pointer passed.
    for (const char *key : {"${NAME_ONLY}", "${#COMMENTED}", "${COMMENTED}", "${BROKEN}", "${shared}", "SHARED"})
        EXPECT_EQ(Name2Str(nullptr, key), key) << key;
    EXPECT_EQ(Name2Str(nullptr, nullptr), nullptr);

    // An empty caller table now shares the default one.
    q_entry *shared = nullptr;
    EXPECT_EQ(load_my_language("eng", "upgrade", &shared), head);
    EXPECT_EQ(shared, head);
    q_entry *none = nullptr;
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
    std::string text = "${" + name + "}tail that is cut off";
    EXPECT_STREQ(Name2Str(nullptr, text.c_str()), "found");

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
    EXPECT_EQ(load_static_language("..", "common", &outside), nullptr);
    EXPECT_EQ(load_static_language("ch", "../common", &outside), nullptr);
    EXPECT_EQ(load_static_language(".", "common", &outside), nullptr);

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
    EXPECT_STREQ(rows.data(), "item 0");
    EXPECT_STREQ(rows.data() + 5 * 20, "item 5");
    EXPECT_STREQ(rows.data() + 299 * 20, "item 299");

    // Texts are cut, and the last byte of a row is never written.
    root.write("/etc/long", "A \"abcdefghijklmnop\"\nB \"short\"\n");
    std::vector<char> small(3 * 8, 'X');
    EXPECT_EQ(load_data_file("/etc/long", small.data(), 3, 8), 2);
    EXPECT_EQ(std::string(small.data(), 8), "abcdefgX");
    EXPECT_EQ(std::string(small.data() + 8, 8), std::string("short\0\0X", 8));
    EXPECT_EQ(small[16], 'X');

    // A missing file fills nothing and leaves the rows alone.
    EXPECT_EQ(load_data_file("/etc/absent", small.data(), 3, 8), 0);
    EXPECT_EQ(std::string(small.data(), 8), "abcdefgX");
    EXPECT_EQ(load_data_file("/etc/long", small.data(), 0, 8), 0);
    EXPECT_EQ(load_data_file("/etc/long", small.data(), 3, 0), 0);
    EXPECT_EQ(load_data_file(nullptr, small.data(), 3, 8), 0);
}

TEST(Language, LoadLanguageFillsTableAndRows) {
    TempRoot root;
    root.write("/etc/language/eng/common", "COMMON_HELP_STR \"Help\"\n");
    root.write("/etc/language/eng/menu", "M0 \"System\"\nM1 \"Network\"\n");

    q_entry *table = nullptr;
    char rows[4][32] = {};
    EXPECT_EQ(load_language("eng", "menu", rows[0], 4, 32, &table), 2);
    EXPECT_STREQ(rows[0], "System");
    EXPECT_STREQ(rows[1], "Network");
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
    EXPECT_EQ(load_language(nullptr, "menu", rows[0], 4, 32, &table), 0);
    EXPECT_EQ(load_language("eng", "absent", rows[0], 4, 32, nullptr), 0);
    EXPECT_STREQ(rows[0], "System");
    qSedArgFree(table);
}

// now_language() of a request with this query string, in a process of its own.
std::string language_of_request(const char *query, const char *fallback) {
    int fds[2];
    if (pipe(fds) != 0) return "<pipe>";
    pid_t pid = fork();
    if (pid < 0) return "<fork>";
    if (pid == 0) {
        close(fds[0]);
        unsetenv("HTTP_COOKIE");
        unsetenv("CONTENT_LENGTH");
        setenv("REQUEST_METHOD", "GET", 1);
        setenv("QUERY_STRING", query, 1);
        const char *code = now_language(fallback);
        ssize_t written = write(fds[1], code, std::strlen(code));
        _exit(written < 0 ? 1 : 0);
    }
    close(fds[1]);
    std::string out;
    char buf[64];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : "<failed>";
}

TEST(Language, NowLanguageTakesTheRequestOrTheFallback) {
    EXPECT_EQ(language_of_request("q=0", nullptr), "eng");
    EXPECT_EQ(language_of_request("q=0", "sch"), "sch");
    EXPECT_EQ(language_of_request("q=0", ""), "");
    EXPECT_EQ(language_of_request("MULTI_LANG=ch", "sch"), "ch");
    EXPECT_EQ(language_of_request("MULTI_LANG=xnullx", "sch"), "sch");
    EXPECT_EQ(language_of_request("MULTI_LANG=null", nullptr), "eng");
    EXPECT_EQ(language_of_request("MULTI_LANG=", "sch"), "sch");
    EXPECT_EQ(language_of_request("MULTI_LANG=abcdefghijkl", "sch"), "abcdefghi");
    EXPECT_EQ(language_of_request("MULTI_LANG=zh-TW", "sch"), "zh-TW");
    // Codes that would leave the language directory or break a page.
    EXPECT_EQ(language_of_request("MULTI_LANG=../x", "sch"), "sch");
    EXPECT_EQ(language_of_request("MULTI_LANG=%22%3E%3Cb%3E", "sch"), "sch");
    EXPECT_EQ(language_of_request("q=0", "a-very-long-fallback"), "a-very-lo");
}

TEST(Language, NowLanguageRotatesSixteenSlots) {
    std::vector<char *> results;
    for (int i = 0; i < 16; ++i) results.push_back(now_language(std::to_string(i).c_str()));
    for (int i = 0; i < 16; ++i) {
        EXPECT_STREQ(results[static_cast<size_t>(i)], std::to_string(i).c_str());
        for (int j = 0; j < i; ++j) EXPECT_NE(results[static_cast<size_t>(i)], results[static_cast<size_t>(j)]);
    }
    EXPECT_EQ(now_language("again"), results[0]);
    EXPECT_STREQ(results[0], "again");
    EXPECT_STREQ(results[1], "1");
}

}  // namespace
