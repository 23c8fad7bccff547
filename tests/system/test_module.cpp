// The shared module mechanics, through a small module defined as a module
// file would define it: its record, its line format and its table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "support/sandbox.h"
#include "system/module.h"

namespace {

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

const char *const kRules =
    "\"office\" eth0 1 mip_1001 ^o^ \n"
    "\"lab\" eth1 2 mip_1002 eth3 \n"
    "\"guest\" eth2 3 mip_1003 ^o^ \n";

// The table registered in a sandbox; its file is closed and the table
// released at the end.
class Module : public ::testing::Test {
protected:
    void TearDown() override {
        if (!t_) return;
        t_->close(reinterpret_cast<record_file **>(&t_->handle));
        module::unregister_table(t_);
    }
    // Opens the rule file, written first with content unless that is null.
    record_file *open(int mode, const char *content = kRules) {
        if (content) box_.write(kRulePath, content);
        t_->handle = t_->open(nullptr, MODULE_TAG(kSource), mode);
        return static_cast<record_file *>(t_->handle);
    }
    // Every record of the open file, as "line:record".
    std::vector<std::string> records() {
        std::vector<std::string> out;
        test_rule r{};
        uint32_t line = 0;
        for (int k = 1; t_->getline(static_cast<record_file *>(t_->handle), &r, &line, k); ++k)
            out.push_back(std::to_string(line) + ":" + describe(r));
        return out;
    }

    testing_support::Sandbox box_;
    module_table *t_ = module::register_table(kRuleTable);
};

}  // namespace

TEST_F(Module, RegisterGivesIndependentCopies) {
    module_table *other = module::register_table(kRuleTable);
    ASSERT_NE(t_, nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(t_, other);
    EXPECT_STREQ(other->name, "test_rule");
    EXPECT_EQ(other->open, kRuleTable.open);
    EXPECT_EQ(other->xmlConf, nullptr);
    int word = 0;
    other->handle = &word;
    EXPECT_EQ(t_->handle, nullptr);
    EXPECT_EQ(kRuleTable.handle, nullptr);
    module::unregister_table(other);
    module::unregister_table(nullptr);
}

TEST_F(Module, OpenerTagNamesProcessSourceFunctionAndLine) {
    int line = __LINE__ + 1;
    std::string tag = MODULE_TAG("system/ap_setting.c");
    EXPECT_EQ(tag, "pid:" + std::to_string(getpid()) + ",system/ap_setting.c:TestBody():" + std::to_string(line));
}

TEST_F(Module, TheWholeCallingOrderReadsEditsAndWritesBack) {
    EXPECT_EQ(t_->open(nullptr, nullptr, 1), nullptr);
    record_file *h = open(1);
    ASSERT_NE(h, nullptr);

    EXPECT_EQ(records(), (std::vector<std::string>{"1:office|eth0|1|mip_1001|^o^", "2:lab|eth1|2|mip_1002|eth3",
                                                   "3:guest|eth2|3|mip_1003|^o^"}));
    // Past the end the record is left as it was; k = 1 starts again, and the
    // line number may be left out.
    test_rule r = rule("x", "x", 0, "x");
    EXPECT_EQ(t_->getline(h, &r, nullptr, 4), 0);
    EXPECT_EQ(describe(r), "x|x|0|x|^o^");
    EXPECT_EQ(t_->getline(h, &r, nullptr, 1), 1);
    EXPECT_EQ(describe(r), "office|eth0|1|mip_1001|^o^");

    ASSERT_EQ(t_->getnum(h, &r, 2), &r);
    EXPECT_EQ(describe(r), "lab|eth1|2|mip_1002|eth3");
    EXPECT_EQ(t_->getnum(h, &r, 4), nullptr);
    EXPECT_EQ(t_->getnum(h, &r, 0), nullptr);
    EXPECT_EQ(describe(r), "lab|eth1|2|mip_1002|eth3");
    uint32_t line = 0;
    EXPECT_EQ(t_->getline(nullptr, &r, &line, 1), 0);
    EXPECT_EQ(t_->getnum(nullptr, &r, 1), nullptr);

    ASSERT_EQ(t_->clear(&r), &r);
    EXPECT_EQ(describe(r), "||0||");

    test_rule added = rule("wifi", "eth4", 4, "mip_1004");
    EXPECT_EQ(t_->add(h, &added), 0);
    test_rule changed = rule("office", "eth0", 10, "mip_1001");
    EXPECT_EQ(t_->modify(h, &changed, 1), 0);
    test_rule late = rule("late", "eth5", 5, "mip_1005");
    EXPECT_EQ(t_->modify(h, &late, 9), 0);  // beyond the last line: appended
    EXPECT_EQ(t_->remove(h, 2), 0);
    EXPECT_EQ(t_->remove(h, 2), -1);
    EXPECT_EQ(t_->remove(h, 0), -1);
    EXPECT_EQ(t_->add(nullptr, &added), -1);
    EXPECT_EQ(t_->add(h, nullptr), -1);
    EXPECT_EQ(t_->modify(nullptr, &added, 1), -1);
    EXPECT_EQ(records(), (std::vector<std::string>{"1:office|eth0|10|mip_1001|^o^", "3:guest|eth2|3|mip_1003|^o^",
                                                   "4:wifi|eth4|4|mip_1004|^o^", "5:late|eth5|5|mip_1005|^o^"}));

    // shift: nothing for equal positions or a position past the lines.
    EXPECT_EQ(t_->shift(h, 3, 3), nullptr);
    EXPECT_EQ(t_->shift(h, 1, 5), nullptr);
    EXPECT_EQ(t_->shift(h, 0, 1), nullptr);
    EXPECT_EQ(t_->shift(nullptr, 1, 2), nullptr);
    EXPECT_EQ(t_->shift(h, 4, 1), h);
    EXPECT_EQ(records(), (std::vector<std::string>{"1:wifi|eth4|4|mip_1004|^o^", "2:office|eth0|10|mip_1001|^o^",
                                                   "4:guest|eth2|3|mip_1003|^o^", "5:late|eth5|5|mip_1005|^o^"}));
    EXPECT_EQ(t_->shift(h, 1, 2), h);
    EXPECT_EQ(t_->shift(h, 2, 1), h);  // and back

    // Closing writes back and mirrors the file; a second close does nothing.
    t_->close(reinterpret_cast<record_file **>(&t_->handle));
    EXPECT_EQ(t_->handle, nullptr);
    t_->close(nullptr);
    EXPECT_EQ(box_.read(kRulePath),
              "\"wifi\" eth4 4 mip_1004 ^o^ \n"
              "\"office\" eth0 10 mip_1001 ^o^ \n"
              "\"guest\" eth2 3 mip_1003 ^o^ \n"
              "\"late\" eth5 5 mip_1005 ^o^ \n");
    EXPECT_EQ(box_.commands(),
              "/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n"
              "/bin/cp /etc/sysconfig/.firewall/permit_ip.conf /mnt > /dev/null 2>&1\n"
              "/bin/umount /mnt > /dev/null 2>&1\n"
              "> /var/tmp/last.config\n");
}

TEST_F(Module, ReadOnlyAndMissingFiles) {
    record_file *h = open(0, nullptr);
    ASSERT_NE(h, nullptr);
    test_rule r = rule("kept", "eth9", 9, "c");
    EXPECT_EQ(t_->getline(h, &r, nullptr, 1), 0);
    EXPECT_EQ(describe(r), "kept|eth9|9|c|^o^");
    EXPECT_EQ(t_->add(h, &r), 0);
    t_->close(reinterpret_cast<record_file **>(&t_->handle));
    EXPECT_FALSE(box_.exists(kRulePath));
    EXPECT_EQ(box_.commands(), "");
}

TEST_F(Module, NamesAndTextsRoundTripThroughALine) {
    record_file *h = open(1, nullptr);
    ASSERT_NE(h, nullptr);
    test_rule quoted = rule("say \"hi\" \\ there", "", -7, "has blank", "\"q");
    test_rule breaks = rule("one\r\ntwo\rthree\nfour<br>five", "eth0", INT32_MAX, "^o^");
    ASSERT_EQ(t_->add(h, &quoted), 0);
    ASSERT_EQ(t_->add(h, &breaks), 0);
    EXPECT_STREQ(my_GetNumData(h, 1), "\"say \\\"hi\\\" \\\\ there\" \"\" -7 \"has blank\" \"\\\"q\" ");
    EXPECT_STREQ(my_GetNumData(h, 2), "\"one//ntwo//nthree//nfour//nfive\" eth0 2147483647 ^o^ ^o^ ");

    test_rule back{};
    ASSERT_EQ(t_->getnum(h, &back, 1), &back);
    EXPECT_EQ(describe(back), describe(quoted));
    ASSERT_EQ(t_->getnum(h, &back, 2), &back);
    EXPECT_EQ(describe(back), "one//ntwo//nthree//nfour//nfive|eth0|2147483647|^o^|^o^");

    // Missing integers read 0, missing texts stay; an unclosed quote ends
    // the line; numbers are clamped; texts are cut at their capacity.
    test_rule r = rule("x", "keep", 7, "keep", "keep");
    char short_line[] = "\"only name\" ";
    t_->parse(short_line, &r);
    EXPECT_EQ(describe(r), "only name|keep|0|keep|keep");
    char open_quote[] = "\"n\" eth1 99999999999 \"never closed";
    t_->parse(open_quote, &r);
    EXPECT_EQ(describe(r), "n|eth1|2147483647|keep|keep");
    char negative[] = "\"n\" eth1 -99999999999 abc";
    t_->parse(negative, &r);
    EXPECT_EQ(r.number, INT32_MIN);
    std::string long_line =
        "\"" + std::string(40, 'n') + "\" " + std::string(30, 'i') + " 12 " + std::string(30, 'c') + " eth1 extra";
    t_->parse(long_line.data(), &r);
    EXPECT_EQ(describe(r), std::string(32, 'n') + "|" + std::string(16, 'i') + "|12|" + std::string(20, 'c') + "|eth1");

    char cut[4];
    module::set_text(cut, "abcdef");
    EXPECT_STREQ(cut, "abc");
    module::set_text(cut, nullptr);
    EXPECT_STREQ(cut, "^o^");
    EXPECT_EQ(module::line().text(nullptr).name(nullptr).quoted_number(3).str(), "^o^ \"^o^\" \"3\" ");
}

TEST_F(Module, IsTheSameAndInterfaceCheckWalkTheRecords) {
    record_file *h = open(0);
    ASSERT_NE(h, nullptr);
    // A getline walk in progress is not disturbed by the walks.
    test_rule current{};
    ASSERT_EQ(t_->getline(h, &current, nullptr, 1), 1);

    test_rule lab = rule("lab", "eth1", 2, "mip_1002");
    EXPECT_EQ(t_->isTheSame(h, &lab, 2), 0);  // the record itself
    EXPECT_EQ(t_->isTheSame(h, &lab, 0), 1);  // a new record with a name in use
    EXPECT_EQ(t_->isTheSame(h, &lab, 3), 1);  // another line holds the name
    test_rule other_chain = rule("lab", "eth1", 2, "mip_9999");
    EXPECT_EQ(t_->isTheSame(h, &other_chain, 2), 1);
    test_rule fresh = rule("fresh", "eth1", 2, "mip_1005");
    EXPECT_EQ(t_->isTheSame(h, &fresh, 0), 0);
    EXPECT_EQ(t_->isTheSame(nullptr, &lab, 0), -1);
    EXPECT_EQ(t_->isTheSame(h, nullptr, 0), -1);

    // Without chain identifiers the line alone says which record is edited.
    auto by_line = module::isTheSame<test_rule, parse_rule, &test_rule::name, nullptr>;
    EXPECT_EQ(by_line(h, &other_chain, 2), 0);
    EXPECT_EQ(by_line(h, &other_chain, 1), 1);

    auto check = reinterpret_cast<int (*)(record_file *, const test_interface *)>(t_->interface_check);
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

    ASSERT_EQ(t_->getline(h, &current, nullptr, 2), 1);
    EXPECT_EQ(describe(current), "lab|eth1|2|mip_1002|eth3");
}
