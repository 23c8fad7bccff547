// The shared module mechanics, through a small module defined as a module
// file would define it: its record, its line format and its table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "support/sandbox.h"
#include "system/module.h"

namespace {

struct test_rule {
    char name[33], iface[17];
    int32_t number;
    char chain[21], peer[17];  // a second interface, as a mapped address has
};
struct test_interface {
    char name[17];
};

constexpr const char *kPath = "/etc/sysconfig/.firewall/permit_ip.conf";

std::string format_rule(const test_rule &r) {
    return module::line().name(r.name).text(r.iface).number(r.number).text(r.chain).text(r.peer).str();
}

void *parse_rule(char *text, void *rec) {
    module::fields f(text);
    auto &r = *static_cast<test_rule *>(rec);
    f.text(0, r.name), f.text(1, r.iface), f.text(3, r.chain), f.text(4, r.peer);
    r.number = f.integer(2);
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
    .open = module::open<14>,
    .getline = module::getline<parse_rule>,
    .getnum = module::getnum<parse_rule>,
    .parse = parse_rule,
    .shift = module::shift,
    .close = module::close_file,
};

test_rule rule(const char *name, const char *iface, int32_t number, const char *chain, const char *peer = "^o^") {
    test_rule r{};
    module::set_text(r.name, name), module::set_text(r.iface, iface), module::set_text(r.chain, chain);
    module::set_text(r.peer, peer);
    r.number = number;
    return r;
}

std::string describe(const test_rule &r) {
    return std::string(r.name) + "|" + r.iface + "|" + std::to_string(r.number) + "|" + r.chain + "|" + r.peer;
}

// The table registered in a sandbox; its file is closed and the table
// released at the end.
class Module : public ::testing::Test {
protected:
    void TearDown() override {
        t_->close(reinterpret_cast<record_file **>(&t_->handle));
        module::unregister_table(t_);
    }
    // Opens the rule file, written first with content unless that is null.
    record_file *open(int mode, const char *content = "\"office\" eth0 1 mip_1001 ^o^ \n"
                                                      "\"lab\" eth1 2 mip_1002 eth3 \n\"guest\" eth2 3 mip_1003 ^o^ \n") {
        if (content) box_.write(kPath, content);
        t_->handle = t_->open(nullptr, MODULE_TAG("tests/system/test_module.c"), mode);
        return static_cast<record_file *>(t_->handle);
    }
    // Every record of the open file, as "line:record" lines.
    std::string records() {
        std::string out;
        test_rule r{};
        uint32_t line = 0;
        for (int k = 1; t_->getline(static_cast<record_file *>(t_->handle), &r, &line, k); ++k)
            out += std::to_string(line) + ":" + describe(r) + "\n";
        return out;
    }
    testing_support::Sandbox box_;
    module_table *t_ = module::register_table(kRuleTable);
};

}  // namespace

// Each register call gives an independent copy; the opener tag names the
// process, the source, the function and the line.
TEST_F(Module, RegisterCopiesAndTheOpenerTag) {
    module_table *other = module::register_table(kRuleTable);
    ASSERT_TRUE(t_ && other && t_ != other);
    EXPECT_STREQ(other->name, "test_rule");
    EXPECT_EQ(other->open, kRuleTable.open);
    EXPECT_EQ(other->xmlConf, nullptr);
    int word = 0;
    other->handle = &word;
    EXPECT_EQ(t_->handle, nullptr);
    module::unregister_table(other);
    module::unregister_table(nullptr);
    const int line = __LINE__ + 1;
    const std::string tag = MODULE_TAG("system/ap_setting.c");
    EXPECT_EQ(tag, "pid:" + std::to_string(getpid()) + ",system/ap_setting.c:TestBody():" + std::to_string(line));
}

// open, getline, getnum, clear, add, modify, remove, shift and close in the
// order a page calls them; the file written back and mirrored to flash.
TEST_F(Module, TheWholeCallingOrderReadsEditsAndWritesBack) {
    EXPECT_EQ(t_->open(nullptr, nullptr, 1), nullptr);
    record_file *h = open(1);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(records(), "1:office|eth0|1|mip_1001|^o^\n2:lab|eth1|2|mip_1002|eth3\n3:guest|eth2|3|mip_1003|^o^\n");
    // Past the end the record is left as it was; k = 1 starts again, and the
    // line number may be left out.
    test_rule r = rule("x", "x", 0, "x");
    EXPECT_EQ(t_->getline(h, &r, nullptr, 4), 0);
    EXPECT_EQ(describe(r), "x|x|0|x|^o^");
    EXPECT_EQ(t_->getline(h, &r, nullptr, 1), 1);
    EXPECT_EQ(describe(r), "office|eth0|1|mip_1001|^o^");
    ASSERT_EQ(t_->getnum(h, &r, 2), &r);
    EXPECT_EQ(describe(r), "lab|eth1|2|mip_1002|eth3");
    for (int n : {4, 0}) EXPECT_EQ(t_->getnum(h, &r, n), nullptr) << n;
    EXPECT_EQ(describe(r), "lab|eth1|2|mip_1002|eth3");
    uint32_t line = 0;
    EXPECT_EQ(t_->getline(nullptr, &r, &line, 1), 0);
    EXPECT_EQ(t_->getnum(nullptr, &r, 1), nullptr);
    ASSERT_EQ(t_->clear(&r), &r);
    EXPECT_EQ(describe(r), "||0||");
    test_rule added = rule("wifi", "eth4", 4, "mip_1004"), changed = rule("office", "eth0", 10, "mip_1001"),
              late = rule("late", "eth5", 5, "mip_1005");
    EXPECT_EQ(t_->add(h, &added), 0);
    EXPECT_EQ(t_->modify(h, &changed, 1), 0);
    EXPECT_EQ(t_->modify(h, &late, 9), 0);  // beyond the last line: appended
    EXPECT_EQ(t_->remove(h, 2), 0);
    for (int n : {2, 0}) EXPECT_EQ(t_->remove(h, n), -1) << n;
    EXPECT_EQ(t_->add(nullptr, &added), -1);
    EXPECT_EQ(t_->add(h, nullptr), -1);
    EXPECT_EQ(t_->modify(nullptr, &added, 1), -1);
    EXPECT_EQ(records(), "1:office|eth0|10|mip_1001|^o^\n3:guest|eth2|3|mip_1003|^o^\n4:wifi|eth4|4|mip_1004|^o^\n"
                         "5:late|eth5|5|mip_1005|^o^\n");
    // shift: nothing for equal positions or a position past the lines.
    for (auto [from, to] : {std::pair{3, 3}, {1, 5}, {0, 1}}) EXPECT_EQ(t_->shift(h, from, to), nullptr) << from;
    EXPECT_EQ(t_->shift(nullptr, 1, 2), nullptr);
    EXPECT_EQ(t_->shift(h, 4, 1), h);
    EXPECT_EQ(records(), "1:wifi|eth4|4|mip_1004|^o^\n2:office|eth0|10|mip_1001|^o^\n4:guest|eth2|3|mip_1003|^o^\n"
                         "5:late|eth5|5|mip_1005|^o^\n");
    EXPECT_EQ(t_->shift(h, 1, 2), h);
    EXPECT_EQ(t_->shift(h, 2, 1), h);  // and back
    // Closing writes back and mirrors the file; a second close does nothing.
    t_->close(reinterpret_cast<record_file **>(&t_->handle));
    EXPECT_EQ(t_->handle, nullptr);
    t_->close(nullptr);
    EXPECT_EQ(box_.read(kPath), "\"wifi\" eth4 4 mip_1004 ^o^ \n\"office\" eth0 10 mip_1001 ^o^ \n"
                                "\"guest\" eth2 3 mip_1003 ^o^ \n\"late\" eth5 5 mip_1005 ^o^ \n");
    EXPECT_EQ(box_.commands(), "/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n"
                               "/bin/cp /etc/sysconfig/.firewall/permit_ip.conf /mnt > /dev/null 2>&1\n"
                               "/bin/umount /mnt > /dev/null 2>&1\n> /var/tmp/last.config\n");
}

// A missing file opened read only reads nothing and is never written.
TEST_F(Module, ReadOnlyAndMissingFiles) {
    record_file *h = open(0, nullptr);
    ASSERT_NE(h, nullptr);
    test_rule r = rule("kept", "eth9", 9, "c");
    EXPECT_EQ(t_->getline(h, &r, nullptr, 1), 0);
    EXPECT_EQ(describe(r), "kept|eth9|9|c|^o^");
    EXPECT_EQ(t_->add(h, &r), 0);
    t_->close(reinterpret_cast<record_file **>(&t_->handle));
    EXPECT_FALSE(box_.exists(kPath));
    EXPECT_EQ(box_.commands(), "");
}

// Names are quoted and escaped, line breaks kept as //n; short, unclosed,
// out-of-range and over-long lines parse to what fits.
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
    // Missing integers read 0 and missing texts stay; an unclosed quote ends
    // the line; numbers are clamped; texts are cut at their capacity.
    const std::string n40(40, 'n'), i30(30, 'i'), c30(30, 'c');
    const struct {
        std::string line, record;
    } rows[] = {
        {"\"only name\" ", "only name|keep|0|keep|keep"},
        {"\"n\" eth1 99999999999 \"never closed", "n|eth1|2147483647|keep|keep"},
        {"\"n\" eth1 -99999999999 abc", "n|eth1|-2147483648|abc|keep"},
        {"\"" + n40 + "\" " + i30 + " 12 " + c30 + " eth1 extra", n40.substr(8) + "|" + i30.substr(14) + "|12|" +
                                                                     c30.substr(10) + "|eth1"},
    };
    for (auto row : rows) {
        test_rule r = rule("x", "keep", 7, "keep", "keep");
        t_->parse(row.line.data(), &r);
        EXPECT_EQ(describe(r), row.record) << row.line;
    }
    char cut[4];
    module::set_text(cut, "abcdef");
    EXPECT_STREQ(cut, "abc");
    module::set_text(cut, nullptr);
    EXPECT_STREQ(cut, "^o^");
    EXPECT_EQ(module::line().text(nullptr).name(nullptr).quoted_number(3).str(), "^o^ \"^o^\" \"3\" ");
}

// isTheSame finds a name in use on another line (or under another chain);
// interface_check finds an interface in either field; neither disturbs a
// getline walk in progress.
TEST_F(Module, IsTheSameAndInterfaceCheckWalkTheRecords) {
    record_file *h = open(0);
    ASSERT_NE(h, nullptr);
    test_rule current{};
    ASSERT_EQ(t_->getline(h, &current, nullptr, 1), 1);
    test_rule lab = rule("lab", "eth1", 2, "mip_1002"), other_chain = rule("lab", "eth1", 2, "mip_9999"),
              fresh = rule("fresh", "eth1", 2, "mip_1005");
    // The record itself; a new one with a name in use; another line holds it.
    EXPECT_EQ(std::to_string(t_->isTheSame(h, &lab, 2)) + std::to_string(t_->isTheSame(h, &lab, 0)) +
                  std::to_string(t_->isTheSame(h, &lab, 3)) + std::to_string(t_->isTheSame(h, &other_chain, 2)) +
                  std::to_string(t_->isTheSame(h, &fresh, 0)),
              "01110");
    EXPECT_EQ(t_->isTheSame(nullptr, &lab, 0), -1);
    EXPECT_EQ(t_->isTheSame(h, nullptr, 0), -1);
    // Without chain identifiers the line alone says which record is edited.
    auto by_line = module::isTheSame<test_rule, parse_rule, &test_rule::name, nullptr>;
    EXPECT_EQ((std::vector<int>{by_line(h, &other_chain, 2), by_line(h, &other_chain, 1)}), (std::vector<int>{0, 1}));
    auto check = reinterpret_cast<int (*)(record_file *, const test_interface *)>(t_->interface_check);
    auto uses = [&](record_file *file, const char *name) {
        test_interface port{};
        module::set_text(port.name, name);
        return std::to_string(check(file, &port));
    };
    // eth3 is in the second interface field.
    EXPECT_EQ(uses(h, "eth2") + uses(h, "eth3") + uses(h, "eth7") + uses(nullptr, "eth2"), "1100");
    EXPECT_EQ(check(h, nullptr), 0);
    auto first_only = module::uses_interface<test_rule, parse_rule, &test_rule::iface>;
    EXPECT_EQ((std::vector<int>{first_only(h, "eth3"), first_only(h, "eth0")}), (std::vector<int>{0, 1}));
    ASSERT_EQ(t_->getline(h, &current, nullptr, 2), 1);
    EXPECT_EQ(describe(current), "lab|eth1|2|mip_1002|eth3");
}
