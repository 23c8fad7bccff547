// Entry lists: add/replace, lookups, removal and printing.
#include <gtest/gtest.h>

#include <string>

#include "support/capture.h"
#include "support/request_env.h"
#include "support/temp_root.h"
#include "webadmin.h"

namespace {

using testing_support::Pairs;
using testing_support::pairs;

TEST(Entry, AddMakesHeadAppendsAndReplacesFirstMatch) {
    EXPECT_EQ(_EntryAdd(nullptr, "", "x"), nullptr);
    EXPECT_EQ(_EntryAdd(nullptr, nullptr, "x"), nullptr);

    char name[] = "a", value[] = "1";
    q_entry *head = _EntryAdd(nullptr, name, value);
    ASSERT_NE(head, nullptr);
    name[0] = 'z';  // the list holds its own copies
    value[0] = '9';
    q_entry *b = _EntryAdd(head, "b", "2");
    EXPECT_EQ(head->next, b);
    EXPECT_EQ(_EntryAdd(head, "", "3"), nullptr);
    EXPECT_EQ(pairs(head), (Pairs{{"a", "1"}, {"b", "2"}}));

    // An existing name keeps its place and gets a new value; a null value
    // is stored as an empty one.
    EXPECT_EQ(_EntryAdd(head, "a", "replaced"), head);
    q_entry *c = _EntryAdd(head, "c", nullptr);
    EXPECT_EQ(b->next, c);
    EXPECT_EQ(pairs(head), (Pairs{{"a", "replaced"}, {"b", "2"}, {"c", ""}}));
    _EntryFree(head);
}

TEST(Entry, LookupsReturnFirstMatchPositionAndNumber) {
    q_entry *head = _EntryAdd(nullptr, "x", "12abc");
    _EntryAdd(head, "y", "-7");
    _EntryAdd(head, "z", "text");
    // A duplicate name only arises from appending directly, as decoders do.
    head->next->next->next = _EntryAdd(nullptr, "y", "second");

    EXPECT_STREQ(_EntryValue(head, "y"), "-7");
    EXPECT_EQ(_EntryValue(head, "Y"), nullptr);  // names are case-sensitive
    EXPECT_EQ(_EntryValue(head, nullptr), nullptr);
    EXPECT_EQ(_EntryValue(nullptr, "x"), nullptr);

    EXPECT_EQ(_EntryiValue(head, "x"), 12);
    EXPECT_EQ(_EntryiValue(head, "y"), -7);
    EXPECT_EQ(_EntryiValue(head, "z"), 0);
    EXPECT_EQ(_EntryiValue(head, "missing"), 0);

    EXPECT_EQ(_EntryNo(head, "x"), 1);
    EXPECT_EQ(_EntryNo(head, "y"), 2);
    EXPECT_EQ(_EntryNo(head, "z"), 3);
    EXPECT_EQ(_EntryNo(head, "missing"), 0);
    EXPECT_EQ(_EntryNo(nullptr, "x"), 0);
    _EntryFree(head);
}

TEST(Entry, RemoveTakesEveryMatchIncludingTheHead) {
    q_entry *head = _EntryAdd(nullptr, "k", "1");
    _EntryAdd(head, "a", "2");
    head->next->next = _EntryAdd(nullptr, "k", "3");
    head->next->next->next = _EntryAdd(nullptr, "b", "4");
    head->next->next->next->next = _EntryAdd(nullptr, "k", "5");

    EXPECT_EQ(_EntryRemove(head, ""), head);
    EXPECT_EQ(_EntryRemove(head, nullptr), head);
    EXPECT_EQ(_EntryRemove(nullptr, "k"), nullptr);
    EXPECT_EQ(pairs(head).size(), 5u);

    head = _EntryRemove(head, "k");
    EXPECT_EQ(pairs(head), (Pairs{{"a", "2"}, {"b", "4"}}));
    head = _EntryRemove(head, "a");
    head = _EntryRemove(head, "b");
    EXPECT_EQ(head, nullptr);
}

TEST(Entry, PrintSendsHeaderOnceAndEveryEntry) {
    q_entry *head = _EntryAdd(nullptr, "name", "value");
    _EntryAdd(head, "empty", "");
    qResetContentFlag();
    int first = -1, second = -1;
    EXPECT_EQ(testing_support::captured_stdout([&] {
                  first = _EntryPrint(head);
                  second = _EntryPrint(nullptr);
              }),
              "Content-Type: text/html\n\n'name' = 'value'<br>\n'empty' = ''<br>\n");
    EXPECT_EQ(first, 2);
    EXPECT_EQ(second, 0);
    _EntryFree(head);
    _EntryFree(nullptr);
}

TEST(Entry, StoreFileKeepsEveryValueByteAndReadsHandWrittenLines) {
    testing_support::TempRoot root({"/store"});
    std::string every_byte;
    for (int c = 1; c < 256; ++c) every_byte += static_cast<char>(c);
    q_entry *list = _EntryAdd(nullptr, "plain", "value");
    _EntryAdd(list, "bytes", every_byte.c_str());
    _EntryAdd(list, "padded", "  spaces kept  ");
    _EntryAdd(list, "empty", "");
    ASSERT_EQ(_EntrySave(list, "/store/list"), 1);
    q_entry *back = _EntryLoad("/store/list");
    EXPECT_EQ(pairs(back), pairs(list));
    _EntryFree(back);

    // A shorter list written over a longer one leaves nothing of it behind.
    q_entry *one = _EntryAdd(nullptr, "only", "1");
    ASSERT_EQ(_EntrySave(one, "/store/list"), 1);
    back = _EntryLoad("/store/list");
    EXPECT_EQ(pairs(back), (Pairs{{"only", "1"}}));
    _EntryFree(back);
    _EntryFree(one);
    _EntryFree(list);

    root.write("/store/hand", "# comment\n\n  name = a%20b+c  \n=no name\nbare\n");
    back = _EntryLoad("/store/hand");
    EXPECT_EQ(pairs(back), (Pairs{{"name", "a b c"}, {"", "no name"}, {"bare", ""}}));
    _EntryFree(back);

    EXPECT_EQ(_EntryLoad("/store/missing"), nullptr);
    EXPECT_EQ(_EntrySave(nullptr, "/store/missing/dir/file"), 0);
}

}  // namespace
