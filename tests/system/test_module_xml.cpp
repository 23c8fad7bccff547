// The XML export and import of module records, through two small modules
// defined as module files would define them: a list of named rules with
// chain identifiers, and a positional settings file.  Documents are read
// back with the real XML library.
#include <gtest/gtest.h>

#include <string>

#include "support/module_harness.h"
#include "support/module_xml_harness.h"
#include "support/request.h"
#include "support/sandbox.h"
#include "system/module_xml.h"

namespace {

using testing_support::export_of;
using testing_support::import_into;

constexpr const char *kSource = "tests/system/test_module_xml.c";
constexpr const char *kListPath = "/etc/sysconfig/.firewall/permit_ip.conf";
constexpr const char *kPortPath = "/etc/sysconfig/.firewall/interface_setting.conf";

// ---- A list module: a rule's name, interface, port and chain ----------------
struct list_rule {
    char name[33], iface[17];
    int32_t port;
    char chain[21];
};
constexpr const char *kListGroups[] = {"test_list"};
using list_texts = module::texts<kListGroups>;

std::string format_rule(const list_rule &r) {
    return module::line().name(r.name).text(r.iface).number(r.port).text(r.chain).str();
}
void *parse_rule(char *text, void *rec) {
    module::fields f(text);
    auto &r = *static_cast<list_rule *>(rec);
    f.text(0, r.name), f.text(1, r.iface), f.text(3, r.chain);
    r.port = f.integer(2);
    return rec;
}
void *rule_defaults(void *rec, const char *) {
    auto &r = *static_cast<list_rule *>(rec);
    module::set_text(r.name, nullptr), module::set_text(r.iface, nullptr);
    r.port = 80, r.chain[0] = '\0';
    return rec;
}
void rule_entry(module::xml_entry &e, const list_rule &r) {
    e.text("name", r.name).text("iface", r.iface, true).number("port", r.port).text("chain", r.chain);
}
using module::holds;
using module::kind;
constexpr auto kRuleFields = module::describe({
    MODULE_FIELD(list_rule, name, kind::name).is(holds::text),
    MODULE_FIELD(list_rule, iface, kind::word).is(holds::ifname),
    MODULE_FIELD(list_rule, port, kind::number).is(holds::port),
    MODULE_FIELD(list_rule, chain, kind::word).is(holds::word),
});
void *rule_xmlEntry(xml_node *entry, void *rec) {
    return module::read_fields(module::xml_values(entry), rec, kRuleFields) ? nullptr : rec;
}
extern const module_table kListTable;
void rule_xmlConf(const char *function) {
    module::export_xml<list_rule, rule_entry>(kListTable, function, MODULE_TAG(kSource));
}
int rule_import_xmlConf(xml_node *function) {
    return module::import_list<list_rule, &list_rule::chain>(kListTable, function, 14, MODULE_TAG(kSource));
}
const module_table kListTable = {
    .name = "test_list",
    .clear = module::clear<list_rule>,
    .add = module::add<list_rule, format_rule>,
    .isTheSame = module::isTheSame<list_rule, parse_rule, &list_rule::name, &list_rule::chain>,
    .set_default = rule_defaults,
    .open = module::open<14>,
    .getline = module::getline<parse_rule>,
    .parse = parse_rule,
    .close = module::close_file,
    .language = list_texts::language,
    .print = list_texts::print,
    .xmlConf = module::op(rule_xmlConf),
    .xmlEntry = module::op(rule_xmlEntry),
    .import_xmlConf = module::op(rule_import_xmlConf),
};

// ---- A positional module: a port's label, speed and duplex ------------------
struct port_setting {
    char label[17];
    int32_t speed, duplex;
};
constexpr const char *kPortGroups[] = {"test_port"};
using port_texts = module::texts<kPortGroups>;

std::string format_port(const port_setting &p) {
    return module::line().name(p.label).number(p.speed).number(p.duplex).str();
}
void *parse_port(char *text, void *rec) {
    module::fields f(text);
    auto &p = *static_cast<port_setting *>(rec);
    f.text(0, p.label);
    p.speed = f.integer(1), p.duplex = f.integer(2);
    return rec;
}
void *port_defaults(void *rec, const char *) {
    auto &p = *static_cast<port_setting *>(rec);
    module::set_text(p.label, "port");
    p.speed = 1000, p.duplex = 1;
    return rec;
}
constexpr auto kPortFields = module::describe({
    MODULE_FIELD(port_setting, label, kind::name).is(holds::text),
    MODULE_FIELD(port_setting, speed, kind::number).is(holds::number, 0, 100000),
    MODULE_FIELD(port_setting, duplex, kind::number).is(holds::number, 0, 1),
});
void *port_xmlEntry(xml_node *entry, void *rec) {
    return module::read_fields(module::xml_values(entry), rec, kPortFields) ? nullptr : rec;
}
extern const module_table kPortTable;
int port_import_xmlConf(xml_node *function) {
    return module::import_positional<port_setting>(kPortTable, function, MODULE_TAG(kSource), false);
}
const module_table kPortTable = {
    .name = "test_port",
    .modify = module::modify<port_setting, format_port>,
    .set_default = port_defaults,
    .open = module::open<26>,
    .getline = module::getline<parse_port>,
    .parse = parse_port,
    .close = module::close_file,
    .language = port_texts::language,
    .print = port_texts::print,
    .xmlEntry = module::op(port_xmlEntry),
    .import_xmlConf = module::op(port_import_xmlConf),
};

class ModuleXml : public ::testing::Test {
protected:
    // A language text that a value must never pick up.
    void SetUp() override { box_.write("/etc/language/eng/test_list", "X \"substituted\"\n"); }
    testing_support::Sandbox box_;
};

// One entry per record, values escaped and language placeholders left as
// they are; a read-only export leaves the file; an empty file exports
// nothing; the document imports back to the same lines.
TEST_F(ModuleXml, ExportWritesOneEntryPerRecordAndImportsBack) {
    box_.write(kListPath, "\"office \\\"A\\\" <b>&${X}\" eth0 443 20261206010203 \n\"lab\" ^o^ 8080 20261206010204 \n");
    WS(13, "sch");  // the appliance's language, the request naming none
    box_.write("/etc/language/sch/test_list", "X \"substituted\"\n");
    EXPECT_EQ(export_of(kListTable, "rules"),
              "<_function value=\"rules\" method=\"add\">"
              "<_entry><name value=\"office \\&quot;A\\&quot; &lt;b&gt;&amp;&#36;{X}\" />"
              "<iface value=\"eth0\" /><port value=\"443\" /><chain value=\"20261206010203\" /></_entry>"
              "<_entry><name value=\"lab\" /><iface value=\"\" /><port value=\"8080\" />"
              "<chain value=\"20261206010204\" /></_entry></_function>");
    EXPECT_STREQ(icons_path, "../icons_sch/");
    EXPECT_NE(box_.read(kListPath).find("\"lab\""), std::string::npos);
    box_.write(kListPath, "");
    EXPECT_EQ(export_of(kListTable, "rules"), "");
    const std::string lines = "\"q \\\" b\\\\s <b>&amp; ${X}\" eth1 1 20261206010203 \n"
                              "\"plain\" ^o^ 7 20261206010204 \n\"second plain\" wan2 65535 20261206010205 \n";
    box_.write(kListPath, lines);
    const std::string document = export_of(kListTable, "permit");
    box_.write(kListPath, "\"stale\" eth9 9 20200101000000 \n");
    ASSERT_EQ(import_into(kListTable, document), 0);
    EXPECT_EQ(box_.read(kListPath), lines);
}

// A list import replaces the file, skips a repeated name, leaves out an
// entry with a value its field cannot hold and entries nested deeper,
// keeps defaults for missing values and gives each entry without a chain a
// fresh one (time plus position).
TEST_F(ModuleXml, ListImportReplacesTheFileSkipsRepeatedNamesAndGivesChains) {
    box_.write(kListPath, "\"old\" eth0 1 20200101000000 \n");
    ASSERT_EQ(import_into(kListTable, "<_function value=\"permit\" method=\"add\">"
                                      "<_entry><name value=\"web\" /><chain value=\"20261206010203\" /></_entry>"
                                      "<_entry><name value=\"mail\" /><iface value=\"\" /><port value=\"25\" /></_entry>"
                                      "<_entry><name value=\"web\" /><port value=\"8443\" /></_entry>"
                                      "<_entry><name value=\"bad\" /><port value=\"x53\" /></_entry>"
                                      "<_entry><name value=\"dns\" /><iface value=\"eth2\" />"
                                      "</_entry><other><_entry><name value=\"nested\" /></_entry></other></_function>"),
              0);
    const std::string file = box_.read(kListPath);
    std::string chains[2];
    for (int i = 0; i < 2; ++i) chains[i] = testing_support::line_of(file, i + 2).substr(14, 14);
    EXPECT_EQ(file, "\"web\" ^o^ 80 20261206010203 \n\"mail\" ^o^ 25 " + chains[0] + " \n\"dns\" eth2 80 " + chains[1] +
                        " \n");
    for (const std::string &made : chains) EXPECT_TRUE(testing_support::matches(made, "[0-9]{14}")) << made;
    EXPECT_EQ(gTime(chains[1].c_str()) - gTime(chains[0].c_str()), 3) << "the entry's positions, 2 and 5";
    EXPECT_NE(gTime(chains[0].c_str()), 0);
    EXPECT_EQ(reinterpret_cast<int (*)(xml_node *)>(kListTable.import_xmlConf)(nullptr), -1);
}

// The security bits as one element per service, and read back.
TEST_F(ModuleXml, SecurityServicesOneElementEach) {
    const std::string security = module::xml_entry().security(0x15).str();
    EXPECT_EQ(security, "<security><PING value=\"1\" /><HTTP value=\"0\" /><HTTPS value=\"1\" /><TELNET value=\"0\" />"
                        "<SSH value=\"1\" /></security>");
    testing_support::Document d("<?xml version=\"1.0\"?><_function><_entry>" + security +
                                "</_entry><_entry /></_function>");
    xml_node *first = my_mxmlFindElement(d.function(), d.function(), "_entry", nullptr, nullptr, MY_XML_DESCEND),
             *second = my_mxmlFindElement(first, d.function(), "_entry", nullptr, nullptr, MY_XML_NO_DESCEND);
    EXPECT_EQ(module::xml_values(first).security(-1), 0x15);
    EXPECT_EQ(module::xml_values(second).security(-1), -1);
}

// A positional import replaces line by line from the defaults, leaves the
// lines no entry names and appends past the end.
TEST_F(ModuleXml, PositionalImportReplacesLineByLineAndAppendsTheRest) {
    box_.write(kPortPath, "\"lan\" 100 0 \n\"wan\" 10 0 \n\"dmz\" 1000 1 \n");
    ASSERT_EQ(import_into(kPortTable, "<_function value=\"ports\" method=\"add\"><_entry><label value=\"LAN 1\" />"
                                      "<speed value=\"1000\" /></_entry><_entry><duplex value=\"0\" /></_entry>"
                                      "</_function>"),
              0);
    EXPECT_EQ(box_.read(kPortPath), "\"LAN 1\" 1000 1 \n\"port\" 1000 0 \n\"dmz\" 1000 1 \n");
    box_.write(kPortPath, "");
    ASSERT_EQ(import_into(kPortTable, "<_function><_entry><label value=\"a\" /></_entry><_entry><label value=\"b\" />"
                                      "</_entry></_function>"),
              0);
    EXPECT_EQ(box_.read(kPortPath), "\"a\" 1000 1 \n\"b\" 1000 1 \n");
}

}  // namespace
