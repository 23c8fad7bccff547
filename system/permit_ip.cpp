// The hosts and networks that may reach the appliance's own management
// services.  A record's rules go into ten chains that other parts of the
// appliance create and jump to: one per service and direction, accepting or
// dropping through the logging chains.
#include <cstring>
#include <string>

#include "system/module.h"
#include "system/module_xml.h"
#include "webadmin.h"

namespace {

using module::holds;
using module::kind;
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

// The line's fields in order.  The form's names are its own; the family
// ("ipv_mode" in a document) and the services (one form value each, a
// "security" element of a document) are read by the module itself.
constexpr auto kFields = module::describe({
    MODULE_FIELD(record, name, kind::name).is(holds::text).in_form("pname"),
    MODULE_FIELD(record, id, kind::word).is(holds::identifier).imported_only(),
    MODULE_UNKEYED(record, ipv, kind::number).is(holds::number, 0, 1).in_form("ipv"),
    MODULE_FIELD(record, ipaddr, kind::word).is(holds::address).or_default("0.0.0.0").in_form("ip"),
    MODULE_FIELD(record, netmask, kind::word).is(holds::mask_or_prefix).or_default("255.255.255.255").in_form("nm"),
    MODULE_UNKEYED(record, security, kind::number).is(holds::number, 0, 31),
});

// The form values of the services, in the order of their bits.
constexpr const char *kServiceForm[] = {"pping", "phttp", "phttps", "ptelnet", "pssh"};

int family_of(const record &r) { return r.ipv == 0 ? 4 : r.ipv == 1 ? 6 : 0; }

std::string permit_format(const record &r) { return module::format_fields(&r, kFields); }

void *permit_parse(char *line, void *rec) {
    module::parse_fields(line, rec, kFields);
    return rec;
}

void *permit_defaults(void *rec, const char *) {
    if (!rec) return nullptr;
    auto &r = *static_cast<record *>(rec);
    module::set_text(r.name, module::kUnset);
    r.ipv = 0;
    module::set_text(r.id, my_chainID(0));
    module::default_fields(rec, kFields);
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

int permit_initial_system_cmd(void *rec, int, int flag) { return flag ? permit_ip_command(rec) : 0; }

// The services a form ticks: each sends its bit, or 0; whether every one
// did (another value leaves its service dropped).
bool form_security(int32_t &security) {
    security = 0;
    bool whole = true;
    for (int bit = 0; bit < 5; ++bit) {
        const char *value = qValue("%s", kServiceForm[bit]);
        if (!value || !*value || module::same_text(value, "0")) continue;
        if (module::same_text(value, std::to_string(1 << bit).c_str())) security |= 1 << bit;
        else whole = false;
    }
    return whole;
}

void *permit_cgiParam(void *rec) {
    if (!rec) return nullptr;
    auto &r = *static_cast<record *>(rec);
    bool whole = !module::form_fields(rec, kFields);
    whole = form_security(r.security) && whole;
    if (!module::is_identifier(r.id)) module::set_text(r.id, my_chainID(0));
    return whole ? rec : nullptr;
}

void permit_entry(module::xml_entry &e, const record &r) {
    e.text("name", r.name)
        .text("ipv_mode", r.ipv < 1 ? "IPv4" : "IPv6")
        .text("ipaddr", r.ipaddr)
        .text("netmask", r.netmask)
        .security(r.security);
}

// An entry without an identifier gets my_chainID(seed).
void *permit_xmlEntry(xml_node *node, void *rec, void *, time_t seed) {
    if (!node || !rec) return rec;
    const module::xml_values v(node);
    auto &r = *static_cast<record *>(rec);
    const char *mode = v.raw("ipv_mode");
    r.ipv = mode && std::strncmp(mode, "IPv6", 4) == 0 ? 1 : 0;
    const bool whole = !module::read_fields(v, rec, kFields);
    if (!v.raw("id")) module::set_text(r.id, my_chainID(seed));
    r.security = v.security(0);  // management access opens only what an entry names
    return whole ? rec : nullptr;
}

extern const module_table kTable;

void permit_xmlConf(const char *value, const char *) {
    module::export_xml<record, permit_entry>(kTable, value, MODULE_TAG(kSource));
}

int permit_import_xmlConf(xml_node *function) {
    return module::import_list<record, &record::id, true, nullptr, true>(kTable, function, kFile, MODULE_TAG(kSource));
}

const module_table kTable = {
    .name = "permit_ip",
    .clear = module::clear<record>,
    .add = module::add<record, permit_format>,
    .remove = module::remove,
    .modify = module::modify<record, permit_format>,
    .isTheSame = module::isTheSame<record, permit_parse, &record::name, &record::id>,
    .set_default = permit_defaults,
    .open = module::open<kFile>,
    .getline = module::getline<permit_parse>,
    .getnum = module::getnum<permit_parse>,
    .parse = permit_parse,
    .close = module::close_file,
    .command = module::op(permit_ip_command),
    .discommand = module::op(permit_ip_discommand),
    .recommand = module::op(permit_ip_recommand),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(permit_cgiParam),
    .initial_system_cmd = module::op(permit_initial_system_cmd),
    .xmlConf = module::op(permit_xmlConf),
    .xmlEntry = module::op(permit_xmlEntry),
    .import_xmlConf = module::op(permit_import_xmlConf),
};

}  // namespace

const module::description module::descriptions::permit_ip{"permit_ip", kFields};

extern "C" {

module_table *permit_ip_register(void) { return module::register_table(kTable); }

void permit_ip_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
