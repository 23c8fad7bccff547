// The XML export and import of module records, through two small modules
// defined as module files would define them: a list of named rules with
// chain identifiers, and a positional settings file.  Documents are read
// back with the real XML library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/module_xml_harness.h"
#include "support/request.h"
#include "support/sandbox.h"
#include "system/module_xml.h"

namespace {

using testing_support::Document;
using testing_support::export_of;
using testing_support::import_into;

// ---- A list module ----------------------------------------------------------

struct list_rule {
    char name[33];
    char iface[17];
    int32_t port;
    char chain[21];
};

constexpr int kListFile = 14;
constexpr const char *kListPath = "/etc/sysconfig/.firewall/permit_ip.conf";
constexpr const char *kSource = "tests/system/test_module_xml.c";
constexpr const char *kListGroups[] = {"test_list"};
using list_texts = module::texts<kListGroups>;

std::string format_rule(const list_rule &r) {
    return module::line().name(r.name).text(r.iface).number(r.port).text(r.chain).str();
}

void *parse_rule(char *text, void *rec) {
    module::fields f(text);
    auto &r = *static_cast<list_rule *>(rec);
    f.text(0, r.name);
    f.text(1, r.iface);
    r.port = f.integer(2);
    f.text(3, r.chain);
    return rec;
}

void *rule_defaults(void *rec, const char *) {
    auto &r = *static_cast<list_rule *>(rec);
    module::set_text(r.name, nullptr);
    module::set_text(r.iface, nullptr);
    r.port = 80;
    r.chain[0] = '\0';
    return rec;
}

void rule_entry(module::xml_entry &e, const list_rule &r) {
    e.text("name", r.name).text("iface", r.iface, true).number("port", r.port).text("chain", r.chain);
}

void *rule_xmlEntry(xml_node *entry, void *rec) {
    const module::xml_values v(entry);
    auto &r = *static_cast<list_rule *>(rec);
    v.text("name", r.name);
    v.text("iface", r.iface, true);
    r.port = v.integer("port", r.port);
    v.text("chain", r.chain);
    return rec;
}

extern const module_table kListTable;

void rule_xmlConf(const char *function) {
    module::export_xml<list_rule, rule_entry>(kListTable, function, MODULE_TAG(kSource));
}

int rule_import_xmlConf(xml_node *function) {
    return module::import_list<list_rule, &list_rule::chain>(kListTable, function, kListFile, MODULE_TAG(kSource));
}

const module_table kListTable = {
    .name = "test_list",
    .clear = module::clear<list_rule>,
    .add = module::add<list_rule, format_rule>,
    .isTheSame = module::isTheSame<list_rule, parse_rule, &list_rule::name, &list_rule::chain>,
    .set_default = rule_defaults,
    .open = module::open<kListFile>,
    .getline = module::getline<parse_rule>,
    .parse = parse_rule,
    .close = module::close_file,
    .language = list_texts::language,
    .print = list_texts::print,
    .xmlConf = module::op(rule_xmlConf),
    .xmlEntry = module::op(rule_xmlEntry),
    .import_xmlConf = module::op(rule_import_xmlConf),
};

// ---- A positional module -----------------------------------------------------

struct port_setting {
    char label[17];
    int32_t speed;
    int32_t duplex;
};

constexpr int kPortFile = 26;
constexpr const char *kPortPath = "/etc/sysconfig/.firewall/interface_setting.conf";
constexpr const char *kPortGroups[] = {"test_port"};
using port_texts = module::texts<kPortGroups>;

std::string format_port(const port_setting &p) {
    return module::line().name(p.label).number(p.speed).number(p.duplex).str();
}

void *parse_port(char *text, void *rec) {
    module::fields f(text);
    auto &p = *static_cast<port_setting *>(rec);
    f.text(0, p.label);
    p.speed = f.integer(1);
    p.duplex = f.integer(2);
    return rec;
}

void *port_defaults(void *rec, const char *) {
    auto &p = *static_cast<port_setting *>(rec);
    module::set_text(p.label, "port");
    p.speed = 1000;
    p.duplex = 1;
    return rec;
}

void *port_xmlEntry(xml_node *entry, void *rec) {
    const module::xml_values v(entry);
    auto &p = *static_cast<port_setting *>(rec);
    v.text("label", p.label);
    p.speed = v.integer("speed", p.speed);
    p.duplex = v.integer("duplex", p.duplex);
    return rec;
}

extern const module_table kPortTable;

int port_import_xmlConf(xml_node *function) {
    return module::import_positional<port_setting>(kPortTable, function, MODULE_TAG(kSource), false);
}

const module_table kPortTable = {
    .name = "test_port",
    .modify = module::modify<port_setting, format_port>,
    .set_default = port_defaults,
    .open = module::open<kPortFile>,
    .getline = module::getline<parse_port>,
    .parse = parse_port,
    .close = module::close_file,
    .language = port_texts::language,
    .print = port_texts::print,
    .xmlEntry = module::op(port_xmlEntry),
    .import_xmlConf = module::op(port_import_xmlConf),
};

// ---- Driving them through their tables ----------------------------------------

class ModuleXml : public ::testing::Test {
protected:
    void SetUp() override {
        // A language text that a value must never pick up.
        box_.write("/etc/language/eng/test_list", "X \"substituted\"\n");
    }
    testing_support::Sandbox box_;
};

TEST_F(ModuleXml, ExportWritesOneEntryPerRecordWithValuesEscaped) {
    box_.write(kListPath,
               "\"office \\\"A\\\" <b>&${X}\" eth0 443 20261206010203 \n"
               "\"lab\" ^o^ 8080 20261206010204 \n");
    // The texts go through the print slot, which replaces language
    // placeholders: those inside values reach the document as they are.
    EXPECT_EQ(export_of(kListTable, "rules"),
              "<_function value=\"rules\" method=\"add\">"
              "<_entry><name value=\"office \\&quot;A\\&quot; &lt;b&gt;&amp;&#36;{X}\" />"
              "<iface value=\"eth0\" /><port value=\"443\" /><chain value=\"20261206010203\" /></_entry>"
              "<_entry><name value=\"lab\" /><iface value=\"\" /><port value=\"8080\" />"
              "<chain value=\"20261206010204\" /></_entry>"
              "</_function>");
    EXPECT_NE(box_.read(kListPath).find("\"lab\""), std::string::npos) << "a read-only export leaves the file";

    // An empty file, or none, exports nothing at all.
    box_.write(kListPath, "");
    EXPECT_EQ(export_of(kListTable, "rules"), "");
}

TEST_F(ModuleXml, ExportedRecordsImportBackToTheSameLines) {
    const std::string lines =
        "\"q \\\" b\\\\s <b>&amp; ${X}\tt\" eth1 1 20261206010203 \n"
        "\"plain\" ^o^ -7 20261206010204 \n"
        "\"second plain\" wan2 2147483647 20261206010205 \n";
    box_.write(kListPath, lines);
    const std::string document = export_of(kListTable, "permit");
    ASSERT_NE(document, "");
    box_.write(kListPath, "\"stale\" eth9 9 20200101000000 \n");
    ASSERT_EQ(import_into(kListTable, document), 0);
    EXPECT_EQ(box_.read(kListPath), lines);
}

TEST_F(ModuleXml, ListImportReplacesTheFileSkipsRepeatedNamesAndGivesChains) {
    box_.write(kListPath, "\"old\" eth0 1 20200101000000 \n");
    ASSERT_EQ(import_into(kListTable,
                          "<_function value=\"permit\" method=\"add\">"
                          "<_entry><name value=\"web\" /><chain value=\"20261206010203\" /></_entry>"
                          "<_entry><name value=\"mail\" /><iface value=\"\" /><port value=\"25\" /></_entry>"
                          "<_entry><name value=\"web\" /><port value=\"8443\" /></_entry>"
                          "<_entry><name value=\"dns\" /><port value=\"x53\" /><iface value=\"eth2\" /></_entry>"
                          "<other><_entry><name value=\"nested\" /></_entry></other>"
                          "</_function>"),
              0);
    module_table *t = module::register_table(kListTable);
    ASSERT_NE(t, nullptr);
    record_file *h = t->open(nullptr, MODULE_TAG(kSource), 0);
    std::vector<list_rule> stored;
    list_rule r{};
    for (int k = 1; t->getline(h, &r, nullptr, k); ++k) stored.push_back(r);
    t->close(&h);
    module::unregister_table(t);

    // The file held the old line; the second "web" is left out; an entry
    // not at the function's level is no entry of it.
    ASSERT_EQ(stored.size(), 3u) << box_.read(kListPath);
    EXPECT_STREQ(stored[0].name, "web");
    EXPECT_EQ(stored[0].port, 80);  // the default
    EXPECT_STREQ(stored[0].chain, "20261206010203");
    EXPECT_STREQ(stored[1].name, "mail");
    EXPECT_STREQ(stored[1].iface, "^o^");
    EXPECT_EQ(stored[1].port, 25);
    EXPECT_STREQ(stored[2].name, "dns");
    EXPECT_EQ(stored[2].port, 80);  // not a number: the default stays
    EXPECT_STREQ(stored[2].iface, "eth2");
    // Entries without a chain got fresh identifiers, distinct from each other.
    for (const list_rule *made : {&stored[1], &stored[2]}) {
        EXPECT_TRUE(testing_support::matches(made->chain, "[0-9]{14}")) << made->chain;
        EXPECT_NE(gTime(made->chain), 0);
    }
    EXPECT_EQ(gTime(stored[2].chain) - gTime(stored[1].chain), 2) << "the time plus the entry's position (2 and 4)";

    EXPECT_EQ(reinterpret_cast<int (*)(xml_node *)>(kListTable.import_xmlConf)(nullptr), -1);
}

TEST_F(ModuleXml, SecurityServicesOneElementEach) {
    const std::string security = module::xml_entry().security(0x15).str();
    EXPECT_EQ(security, "<security><PING value=\"1\" /><HTTP value=\"0\" /><HTTPS value=\"1\" /><TELNET value=\"0\" /><SSH value=\"1\" /></security>");
    Document d("<?xml version=\"1.0\"?><_function><_entry>" + security + "</_entry><_entry /></_function>");
    xml_node *first = my_mxmlFindElement(d.function(), d.function(), "_entry", nullptr, nullptr, MY_XML_DESCEND);
    EXPECT_EQ(module::xml_values(first).security(-1), 0x15);
    EXPECT_EQ(module::xml_values(my_mxmlFindElement(first, d.function(), "_entry", nullptr, nullptr, MY_XML_NO_DESCEND)).security(-1), -1);
}

TEST_F(ModuleXml, PositionalImportReplacesLineByLineAndAppendsTheRest) {
    box_.write(kPortPath, "\"lan\" 100 0 \n\"wan\" 10 0 \n\"dmz\" 1000 1 \n");
    ASSERT_EQ(import_into(kPortTable,
                          "<_function value=\"ports\" method=\"add\">"
                          "<_entry><label value=\"LAN 1\" /><speed value=\"1000\" /></_entry>"
                          "<_entry><duplex value=\"0\" /></_entry>"
                          "</_function>"),
              0);
    // Each entry starts from the defaults; a line no entry names stays.
    EXPECT_EQ(box_.read(kPortPath), "\"LAN 1\" 1000 1 \n\"port\" 1000 0 \n\"dmz\" 1000 1 \n");

    box_.write(kPortPath, "");
    ASSERT_EQ(import_into(kPortTable,
                          "<_function value=\"ports\" method=\"add\">"
                          "<_entry><label value=\"a\" /></_entry><_entry><label value=\"b\" /></_entry>"
                          "</_function>"),
              0);
    EXPECT_EQ(box_.read(kPortPath), "\"a\" 1000 1 \n\"b\" 1000 1 \n");
}

}  // namespace
