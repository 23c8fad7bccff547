#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "support/sandbox.h"
#include "system/module.h"

namespace {

using testing_support::Sandbox;

// A small module as a module file would define it: its record, its line
// format and its table.
struct test_rule {
    char name[33];
    char iface[17];
    int32_t number;
    char chain[21];
    char peer[17];  // a second interface, as a mapped address has
};

struct test_interface {
    char name[17];
};

constexpr int kRuleFile = 14;
constexpr const char *kRulePath = "/etc/sysconfig/.firewall/permit_ip.conf";
constexpr const char *kSource = "tests/system/test_module.c";

std::string format_rule(const test_rule &r) {
    return module::line().name(r.name).text(r.iface).number(r.number).text(r.chain).text(r.peer).str();
}

void *parse_rule(char *text, void *rec) {
    module::fields f(text);
    auto &r = *static_cast<test_rule *>(rec);
    f.text(0, r.name);
    f.text(1, r.iface);
    r.number = f.integer(2);
    f.text(3, r.chain);
    f.text(4, r.peer);
    return rec;
}

int rule_interface_check(record_file *h, const test_interface *i) {
    return module::uses_interface<test_rule, parse_rule, &test_rule::iface, &test_rule::peer>(h, i ? i->name : nullptr);
}

const module_table kRuleTable = {
    .name = "test_rule",
    .clear = module::clear<test_rule>,
    .add = module::add<test_rule, format_rule>,
    .remove = module::remove,
    .modify = module::modify<test_rule, format_rule>,
    .interface_check = module::op(rule_interface_check),
    .isTheSame = module::isTheSame<test_rule, parse_rule, &test_rule::name, &test_rule::chain>,
    .open = module::open<kRuleFile>,
    .getline = module::getline<parse_rule>,
    .getnum = module::getnum<parse_rule>,
    .parse = parse_rule,
    .shift = module::shift,
    .close = module::close_file,
};

module_table *test_rule_register() { return module::register_table(kRuleTable); }
void test_rule_unregister(module_table *t) { module::unregister_table(t); }

test_rule rule(const char *name, const char *iface, int32_t number, const char *chain, const char *peer = "^o^") {
    test_rule r{};
    module::set_text(r.name, name);
    module::set_text(r.iface, iface);
    r.number = number;
    module::set_text(r.chain, chain);
    module::set_text(r.peer, peer);
    return r;
}

std::string describe(const test_rule &r) {
    return std::string(r.name) + "|" + r.iface + "|" + std::to_string(r.number) + "|" + r.chain + "|" + r.peer;
}

// Every record of an open table, as "line:record".
std::vector<std::string> records_of(module_table *t) {
    std::vector<std::string> out;
    test_rule r{};
    uint32_t line = 0;
    auto *h = static_cast<record_file *>(t->handle);
    for (int k = 1; t->getline(h, &r, &line, k); ++k) out.push_back(std::to_string(line) + ":" + describe(r));
    return out;
}

const char *const kRules =
    "\"office\" eth0 1 mip_1001 ^o^ \n"
    "\"lab\" eth1 2 mip_1002 eth3 \n"
    "\"guest\" eth2 3 mip_1003 ^o^ \n";

}  // namespace

TEST(Module, RegisterGivesIndependentCopies) {
    module_table *a = test_rule_register();
    module_table *b = test_rule_register();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_STREQ(a->name, "test_rule");
    EXPECT_EQ(a->open, kRuleTable.open);
    EXPECT_EQ(a->change, nullptr);
    EXPECT_EQ(a->xmlConf, nullptr);
    int word = 0;
    a->handle = &word;
    EXPECT_EQ(b->handle, nullptr);
    EXPECT_EQ(kRuleTable.handle, nullptr);
    test_rule_unregister(a);
    test_rule_unregister(b);
    test_rule_unregister(nullptr);
}

TEST(Module, OpenerTagNamesProcessSourceFunctionAndLine) {
    int line = __LINE__ + 1;
    std::string tag = MODULE_TAG("system/ap_setting.c");
    EXPECT_EQ(tag, "pid:" + std::to_string(getpid()) + ",system/ap_setting.c:TestBody():" + std::to_string(line));
}

TEST(Module, TheWholeCallingOrderReadsEditsAndWritesBack) {
    Sandbox box;
    box.write(kRulePath, kRules);
    module_table *t = test_rule_register();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->open(nullptr, nullptr, 1), nullptr);
    t->handle = t->open(nullptr, MODULE_TAG(kSource), 1);
    ASSERT_NE(t->handle, nullptr);
    auto *h = static_cast<record_file *>(t->handle);

    // getline until 0; the record keeps the last line at the end.
    test_rule r{};
    uint32_t line = 0;
    std::vector<std::string> seen;
    int k = 1;
    for (; t->getline(h, &r, &line, k); ++k) seen.push_back(std::to_string(line) + ":" + describe(r));
    EXPECT_EQ(k, 4);
    EXPECT_EQ(seen, (std::vector<std::string>{"1:office|eth0|1|mip_1001|^o^", "2:lab|eth1|2|mip_1002|eth3",
                                              "3:guest|eth2|3|mip_1003|^o^"}));
    EXPECT_EQ(describe(r), "guest|eth2|3|mip_1003|^o^");
    EXPECT_EQ(t->getline(h, &r, nullptr, 5), 0);
    EXPECT_EQ(describe(r), "guest|eth2|3|mip_1003|^o^");
    // k = 1 after the end starts again; the line number may be left out.
    EXPECT_EQ(t->getline(h, &r, nullptr, 1), 1);
    EXPECT_EQ(describe(r), "office|eth0|1|mip_1001|^o^");

    ASSERT_EQ(t->getnum(h, &r, 2), &r);
    EXPECT_EQ(describe(r), "lab|eth1|2|mip_1002|eth3");
    EXPECT_EQ(t->getnum(h, &r, 4), nullptr);
    EXPECT_EQ(t->getnum(h, &r, 0), nullptr);
    EXPECT_EQ(describe(r), "lab|eth1|2|mip_1002|eth3");
    EXPECT_EQ(t->getline(nullptr, &r, &line, 1), 0);
    EXPECT_EQ(t->getnum(nullptr, &r, 1), nullptr);

    ASSERT_EQ(t->clear(&r), &r);
    EXPECT_EQ(describe(r), "||0||");

    test_rule added = rule("wifi", "eth4", 4, "mip_1004");
    EXPECT_EQ(t->add(h, &added), 0);
    test_rule changed = rule("office", "eth0", 10, "mip_1001");
    EXPECT_EQ(t->modify(h, &changed, 1), 0);
    test_rule late = rule("late", "eth5", 5, "mip_1005");
    EXPECT_EQ(t->modify(h, &late, 9), 0);  // beyond the last line: appended
    EXPECT_EQ(t->remove(h, 2), 0);
    EXPECT_EQ(t->remove(h, 2), -1);
    EXPECT_EQ(t->remove(h, 0), -1);
    EXPECT_EQ(t->add(nullptr, &added), -1);
    EXPECT_EQ(t->add(h, nullptr), -1);
    EXPECT_EQ(t->modify(nullptr, &added, 1), -1);
    EXPECT_EQ(records_of(t), (std::vector<std::string>{"1:office|eth0|10|mip_1001|^o^", "3:guest|eth2|3|mip_1003|^o^",
                                                       "4:wifi|eth4|4|mip_1004|^o^", "5:late|eth5|5|mip_1005|^o^"}));

    // shift: nothing for equal positions or a position past the lines.
    EXPECT_EQ(t->shift(h, 3, 3), nullptr);
    EXPECT_EQ(t->shift(h, 1, 5), nullptr);
    EXPECT_EQ(t->shift(h, 0, 1), nullptr);
    EXPECT_EQ(t->shift(nullptr, 1, 2), nullptr);
    EXPECT_EQ(t->shift(h, 4, 1), h);
    EXPECT_EQ(records_of(t), (std::vector<std::string>{"1:wifi|eth4|4|mip_1004|^o^", "2:office|eth0|10|mip_1001|^o^",
                                                       "4:guest|eth2|3|mip_1003|^o^", "5:late|eth5|5|mip_1005|^o^"}));

    record_file **word = reinterpret_cast<record_file **>(&t->handle);
    t->close(word);
    EXPECT_EQ(t->handle, nullptr);
    t->close(word);
    t->close(nullptr);
    test_rule_unregister(t);

    EXPECT_EQ(box.read(kRulePath),
              "\"wifi\" eth4 4 mip_1004 ^o^ \n"
              "\"office\" eth0 10 mip_1001 ^o^ \n"
              "\"guest\" eth2 3 mip_1003 ^o^ \n"
              "\"late\" eth5 5 mip_1005 ^o^ \n");
    EXPECT_EQ(box.commands(),
              "/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n"
              "/bin/cp /etc/sysconfig/.firewall/permit_ip.conf /mnt > /dev/null 2>&1\n"
              "/bin/umount /mnt > /dev/null 2>&1\n"
              "> /var/tmp/last.config\n");
}

TEST(Module, ReadOnlyAndMissingFiles) {
    Sandbox box;
    module_table *t = test_rule_register();
    t->handle = t->open(nullptr, MODULE_TAG(kSource), 0);
    ASSERT_NE(t->handle, nullptr);
    test_rule r = rule("kept", "eth9", 9, "c");
    EXPECT_EQ(t->getline(static_cast<record_file *>(t->handle), &r, nullptr, 1), 0);
    EXPECT_EQ(describe(r), "kept|eth9|9|c|^o^");
    EXPECT_EQ(t->add(static_cast<record_file *>(t->handle), &r), 0);
    t->close(reinterpret_cast<record_file **>(&t->handle));
    test_rule_unregister(t);
    EXPECT_FALSE(box.exists(kRulePath));
    EXPECT_EQ(box.commands(), "");
}

TEST(Module, NamesAndTextsRoundTripThroughALine) {
    Sandbox box;
    module_table *t = test_rule_register();
    t->handle = t->open(nullptr, MODULE_TAG(kSource), 1);
    auto *h = static_cast<record_file *>(t->handle);
    ASSERT_NE(h, nullptr);

    test_rule quoted = rule("say \"hi\" \\ there", "", -7, "has blank", "\"q");
    test_rule breaks = rule("one\r\ntwo\rthree\nfour<br>five", "eth0", INT32_MAX, "^o^");
    ASSERT_EQ(t->add(h, &quoted), 0);
    ASSERT_EQ(t->add(h, &breaks), 0);
    EXPECT_STREQ(my_GetNumData(h, 1), "\"say \\\"hi\\\" \\\\ there\" \"\" -7 \"has blank\" \"\\\"q\" ");
    EXPECT_STREQ(my_GetNumData(h, 2), "\"one//ntwo//nthree//nfour//nfive\" eth0 2147483647 ^o^ ^o^ ");

    test_rule back{};
    ASSERT_EQ(t->getnum(h, &back, 1), &back);
    EXPECT_EQ(describe(back), describe(quoted));
    ASSERT_EQ(t->getnum(h, &back, 2), &back);
    EXPECT_EQ(describe(back), "one//ntwo//nthree//nfour//nfive|eth0|2147483647|^o^|^o^");

    // Missing integers read 0, missing texts stay; an unclosed quote ends
    // the line; numbers are clamped; texts are cut at their capacity.
    test_rule r = rule("x", "keep", 7, "keep", "keep");
    char short_line[] = "\"only name\" ";
    t->parse(short_line, &r);
    EXPECT_EQ(describe(r), "only name|keep|0|keep|keep");
    char open_quote[] = "\"n\" eth1 99999999999 \"never closed";
    t->parse(open_quote, &r);
    EXPECT_EQ(describe(r), "n|eth1|2147483647|keep|keep");
    char negative[] = "\"n\" eth1 -99999999999 abc";
    t->parse(negative, &r);
    EXPECT_EQ(r.number, INT32_MIN);
    std::string long_line =
        "\"" + std::string(40, 'n') + "\" " + std::string(30, 'i') + " 12 " + std::string(30, 'c') + " eth1 extra";
    t->parse(long_line.data(), &r);
    EXPECT_EQ(describe(r), std::string(32, 'n') + "|" + std::string(16, 'i') + "|12|" + std::string(20, 'c') + "|eth1");

    char cut[4];
    module::set_text(cut, "abcdef");
    EXPECT_STREQ(cut, "abc");
    module::set_text(cut, nullptr);
    EXPECT_STREQ(cut, "^o^");
    EXPECT_EQ(module::line().text(nullptr).name(nullptr).quoted_number(3).str(), "^o^ \"^o^\" \"3\" ");

    t->close(reinterpret_cast<record_file **>(&t->handle));
    test_rule_unregister(t);
}

TEST(Module, IsTheSameAndInterfaceCheckWalkTheRecords) {
    Sandbox box;
    box.write(kRulePath, kRules);
    module_table *t = test_rule_register();
    t->handle = t->open(nullptr, MODULE_TAG(kSource), 0);
    auto *h = static_cast<record_file *>(t->handle);
    ASSERT_NE(h, nullptr);

    // A getline walk in progress is not disturbed by the walks.
    test_rule current{};
    ASSERT_EQ(t->getline(h, &current, nullptr, 1), 1);

    test_rule lab = rule("lab", "eth1", 2, "mip_1002");
    EXPECT_EQ(t->isTheSame(h, &lab, 2), 0);   // the record itself
    EXPECT_EQ(t->isTheSame(h, &lab, 0), 1);   // a new record with a name in use
    EXPECT_EQ(t->isTheSame(h, &lab, 3), 1);   // another line holds the name
    test_rule other_chain = rule("lab", "eth1", 2, "mip_9999");
    EXPECT_EQ(t->isTheSame(h, &other_chain, 2), 1);
    test_rule fresh = rule("fresh", "eth1", 2, "mip_1005");
    EXPECT_EQ(t->isTheSame(h, &fresh, 0), 0);
    EXPECT_EQ(t->isTheSame(nullptr, &lab, 0), -1);
    EXPECT_EQ(t->isTheSame(h, nullptr, 0), -1);

    // Without chain identifiers the line alone says which record is edited.
    auto by_line = module::isTheSame<test_rule, parse_rule, &test_rule::name, nullptr>;
    EXPECT_EQ(by_line(h, &other_chain, 2), 0);
    EXPECT_EQ(by_line(h, &other_chain, 1), 1);

    auto check = reinterpret_cast<int (*)(record_file *, const test_interface *)>(t->interface_check);
    auto uses = [&](record_file *file, const char *name) {
        test_interface port{};
        module::set_text(port.name, name);
        return check(file, &port);
    };
    EXPECT_EQ(uses(h, "eth2"), 1);
    EXPECT_EQ(uses(h, "eth3"), 1);  // the second interface field
    EXPECT_EQ(uses(h, "eth7"), 0);
    EXPECT_EQ(uses(nullptr, "eth2"), 0);
    EXPECT_EQ(check(h, nullptr), 0);
    auto first_only = module::uses_interface<test_rule, parse_rule, &test_rule::iface>;
    EXPECT_EQ(first_only(h, "eth3"), 0);
    EXPECT_EQ(first_only(h, "eth0"), 1);

    ASSERT_EQ(t->getline(h, &current, nullptr, 2), 1);
    EXPECT_EQ(describe(current), "lab|eth1|2|mip_1002|eth3");
    t->close(reinterpret_cast<record_file **>(&t->handle));
    test_rule_unregister(t);
}
