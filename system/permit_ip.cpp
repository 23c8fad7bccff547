// The hosts and networks that may reach the appliance's own management
// services.  A record's rules go into ten chains that other parts of the
// appliance create and jump to: one per service and direction, accepting or
// dropping through the logging chains.
#include <cstdlib>
#include <cstring>
#include <string>

#include "system/module.h"
#include "system/module_xml.h"
#include "webadmin.h"

namespace {

using record = permit_ip_record;

constexpr int kFile = 14;
constexpr const char *kSource = "system/permit_ip.c";
constexpr const char *kGroups[] = {"permit_ip"};
using texts = module::texts<kGroups>;

// The ten chains in the order their rules are applied, each with the
// service bit it stands for and whether the record's address is the
// packets' source (in) or destination (out).
struct permit_chain {
    const char *chain;
    int32_t bit;
    const char *match;
};
constexpr permit_chain kChains[] = {
    {"permitip_http_in", 2, "-s"},   {"permitip_http_out", 2, "-d"},   {"permitip_https_in", 4, "-s"},
    {"permitip_https_out", 4, "-d"}, {"permitip_ping_in", 1, "-s"},    {"permitip_ping_out", 1, "-d"},
    {"permitip_telnet_in", 8, "-s"}, {"permitip_telnet_out", 8, "-d"}, {"permitip_ssh_in", 16, "-s"},
    {"permitip_ssh_out", 16, "-d"},
};

// A mask is a dotted IPv4 mask or a prefix length.
bool is_netmask(const char *text) {
    if (module::is_address(text, 4)) return true;
    if (!text || !*text || std::strlen(text) > 3) return false;
    for (const char *p = text; *p; ++p)
        if (*p < '0' || *p > '9') return false;
    return std::atoi(text) <= 128;
}

int family_of(const record &r) { return r.ipv == 0 ? 4 : r.ipv == 1 ? 6 : 0; }

std::string format(const record &r) {
    return module::line().name(r.name).text(r.id).number(r.ipv).text(r.ipaddr).text(r.netmask).number(r.security).str();
}

void *parse(char *line, void *rec) {
    const module::fields f(line);
    auto &r = *static_cast<record *>(rec);
    f.text(0, r.name);
    f.text(1, r.id);
    r.ipv = f.integer(2);
    f.text(3, r.ipaddr);
    f.text(4, r.netmask);
    r.security = f.integer(5);
    return rec;
}

void *set_default(void *rec, const char *) {
    if (!rec) return nullptr;
    auto &r = *static_cast<record *>(rec);
    module::set_text(r.name, module::kUnset);
    r.ipv = 0;
    module::set_text(r.id, my_chainID(0));
    module::set_text(r.ipaddr, "0.0.0.0");
    module::set_text(r.netmask, "255.255.255.255");
    r.security = 31;
    return rec;
}

// The ten rules of a record in its family, action "-A", "-D" or "-R" (with
// the rule's position after the chain); -1 when the family is unknown.
int rules(const void *rec, const char *function, const char *action, const int *position = nullptr) {
    if (!rec) return -1;
    const auto &r = *static_cast<const record *>(rec);
    const int family = family_of(r);
    if (!family) return -1;
    const std::string address = module::arg(r.ipaddr), mask = module::arg(r.netmask);
    for (const permit_chain &c : kChains) {
        std::string chain = c.chain;
        if (position) chain += " " + std::to_string(*position);
        my_iptables(family, "[%s]%s(),L:%d=> %s -t filter %s %s %s %s/%s -j tlog_%s", kSource, function, __LINE__,
                    family == 4 ? "/sbin/iptables" : "/sbin/ip6tables", action, chain.c_str(), c.match,
                    address.c_str(), mask.c_str(), (r.security & c.bit) ? "accept" : "drop");
    }
    return 0;
}

int permit_ip_command(void *rec) { return rules(rec, __func__, "-A"); }

int permit_ip_discommand(void *rec) { return rules(rec, __func__, "-D"); }

int permit_ip_recommand(void *rec, int position) { return rules(rec, __func__, "-R", &position); }

int initial_system_cmd(void *rec, int, int flag) { return flag ? permit_ip_command(rec) : 0; }

// The form's address is refused (left at its default) unless it is an
// address of the record's family, and its mask unless it is a mask.
void *cgiParam(void *rec) {
    if (!rec) return nullptr;
    auto &r = *static_cast<record *>(rec);
    module::form_text(r.name, "pname");
    module::form_identifier(r.id);
    r.ipv = module::form_integer("ipv");
    module::form_address(r.ipaddr, "ip", "0.0.0.0", r.ipv == 1 ? 6 : 4);
    const char *mask = qValue("nm");
    module::set_text(r.netmask, mask && is_netmask(mask) ? mask : "255.255.255.255");
    r.security = 0;
    for (const char *service : {"pping", "phttp", "phttps", "ptelnet", "pssh"}) r.security |= module::form_integer(service);
    return rec;
}

void entry(module::xml_entry &e, const record &r) {
    e.text("name", r.name)
        .text("ipv_mode", r.ipv < 1 ? "IPv4" : "IPv6")
        .text("ipaddr", r.ipaddr)
        .text("netmask", r.netmask)
        .security(r.security);
}

void *xmlEntry(xml_node *node, void *rec, void *, time_t seed) {
    if (!node || !rec) return rec;
    const module::xml_values v(node);
    auto &r = *static_cast<record *>(rec);
    v.text("name", r.name);
    if (!v.identifier("id", r.id)) module::set_text(r.id, my_chainID(seed));
    const char *mode = v.raw("ipv_mode");
    r.ipv = mode && std::strncmp(mode, "IPv6", 4) == 0 ? 1 : 0;
    v.address("ipaddr", r.ipaddr, r.ipv == 1 ? 6 : 4);
    if (const char *mask = v.raw("netmask"); mask && is_netmask(mask)) module::set_text(r.netmask, mask);
    r.security = v.security(0);  // management access opens only what an entry names
    return rec;
}

extern const module_table kTable;

void xmlConf(const char *value, const char *) {
    module::export_xml<record, entry>(kTable, value, MODULE_TAG(kSource));
}

int import_xmlConf(xml_node *function) {
    return module::import_list<record, &record::id, true, nullptr, true>(kTable, function, kFile, MODULE_TAG(kSource));
}

const module_table kTable = {
    .name = "permit_ip",
    .clear = module::clear<record>,
    .add = module::add<record, format>,
    .remove = module::remove,
    .modify = module::modify<record, format>,
    .isTheSame = module::isTheSame<record, parse, &record::name, &record::id>,
    .set_default = set_default,
    .open = module::open<kFile>,
    .getline = module::getline<parse>,
    .getnum = module::getnum<parse>,
    .parse = parse,
    .close = module::close_file,
    .command = module::op(permit_ip_command),
    .discommand = module::op(permit_ip_discommand),
    .recommand = module::op(permit_ip_recommand),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(cgiParam),
    .initial_system_cmd = module::op(initial_system_cmd),
    .xmlConf = module::op(xmlConf),
    .xmlEntry = module::op(xmlEntry),
    .import_xmlConf = module::op(import_xmlConf),
};

}  // namespace

extern "C" {

module_table *permit_ip_register(void) { return module::register_table(kTable); }

void permit_ip_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
