// The address objects and address groups of the LAN, WAN and DMZ zones.
// Each owns two mangle chains that policies jump to: one marks packets
// from the object's network, one packets to it; a group's chains jump to
// its members' chains.
#include <cstdint>
#include <ctime>
#include <string>

#include "system/module_xml.h"

namespace {

using module::arg;
using module::holds;
using module::kind;
using module::same_text;
using record = address_record;

constexpr const char *kSource = "system/address.c";
constexpr const char *kChainPrefix = "address";
constexpr int kFirstFile = 30, kFiles = 6;
constexpr int kFromObject = 0x20, kToObject = 0x40;
constexpr const char *kGroups[] = {"address"};
using texts = module::texts<kGroups>;

// The line's fields in order; the identifier stays in the line.
constexpr auto kFields = module::describe(
    {
        MODULE_FIELD(record, name, kind::name).is(holds::text),
        MODULE_UNKEYED(record, id, kind::word).is(holds::identifier),
        MODULE_FIELD(record, zone, kind::number).is(holds::number, 0, 2),
        MODULE_FIELD(record, is_group, kind::number).is(holds::number, 0, 1),
        MODULE_FIELD(record, ipaddr, kind::word).is(holds::ipv4).or_default("0.0.0.0"),
        MODULE_FIELD(record, netmask, kind::word).is(holds::mask).or_default("255.255.255.255"),
    },
    // A group's members: the names of objects of its zone.
    module::elements<ADDRESS_GROUP_MEMBERS>(MODULE_UNKEYED(record, members[0], kind::name).is(holds::text),
                                            module::kMemberKeys));

// The selector of a record's file; -1 for a zone there is none of.
intptr_t selector_of(const record &r) {
    return r.zone >= 0 && r.zone <= 2 ? 2 * static_cast<intptr_t>(r.zone) + (r.is_group ? 1 : 0) : -1;
}

std::string format_address(const record &r) { return module::format_fields(&r, kFields); }

void *parse_address(char *line, void *rec) {
    module::parse_fields(line, rec, kFields);
    auto &r = *static_cast<record *>(rec);
    module::unset_empty(r.members);
    module::set_chain(r.chain, kChainPrefix, r.id);
    if (!r.refs_fixed)
        r.refs = static_cast<int32_t>(chain_references("mangle", (std::string(r.chain) + "SRC").c_str()) +
                                      chain_references("mangle", (std::string(r.chain) + "DST").c_str()));
    return rec;
}

void *address_defaults(void *rec, const char *) {
    if (!rec) return rec;
    auto &r = *static_cast<record *>(rec);
    r = record{};
    module::set_text(r.name, module::kUnset);
    module::set_text(r.id, my_chainID(0));
    module::set_chain(r.chain, kChainPrefix, r.id);
    module::default_fields(rec, kFields);
    module::unset_empty(r.members);
    return rec;
}

record_file *address_open(void *selector, const char *tag, int mode) {
    const auto which = reinterpret_cast<intptr_t>(selector);
    if (which < 0 || which >= kFiles) return nullptr;
    return module::open_file(kFirstFile + static_cast<int>(which), tag, mode);
}

// An object taken away leaves the groups of its zone first.
int address_remove(record_file *h, int n) {
    if (!h) return -1;
    record object{};
    module::spare_references(object);
    const int zone_objects = h->number - kFirstFile;
    if (zone_objects >= 0 && zone_objects < kFiles && zone_objects % 2 == 0 &&
        module::read_number(h, &object, n, parse_address)) {
        record_file *groups = module::open_file(h->number + 1, MODULE_TAG(kSource), 1);
        for (const record_line *l = groups ? groups->lines : nullptr; l; l = l->next) {
            record g{};
            module::spare_references(g);
            if (!module::parse_copy(l->text, &g, parse_address)) continue;
            bool changed = false;
            for (auto &member : g.members)
                if (same_text(member, object.name)) {
                    module::set_text(member, module::kUnset);
                    changed = true;
                }
            if (changed) module::modify<record, format_address>(groups, &g, static_cast<int>(l->number));
        }
        my_CloseFile(groups);
    }
    return module::remove(h, n);
}

extern const module_table kTable;

void *address_command(record *r) {
    if (!r) return r;
    const std::string c = arg(r->chain);
    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -N %sSRC", c.c_str());
    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -N %sDST", c.c_str());
    if (!r->is_group) {
        const std::string network = arg(r->ipaddr) + "/" + std::to_string(my_mask_to_int(r->netmask));
        MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -A %sSRC -s %s -j UTMMARK --set-type policy --or-mark 0x%x",
                    c.c_str(), network.c_str(), kFromObject);
        MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -A %sDST -d %s -j UTMMARK --set-type policy --or-mark 0x%x",
                    c.c_str(), network.c_str(), kToObject);
        return r;
    }
    // A group's members are the objects of its zone, in their file's order.
    module::each_record<record>(
        kTable.name, MODULE_TAG(kSource),
        [&](const record &object, uint32_t) {
            for (const auto &member : r->members)
                if (module::is_set(member) && same_text(member, object.name)) {
                    const std::string m = arg(object.chain);
                    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -A %sSRC -j %sSRC", c.c_str(), m.c_str());
                    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -A %sDST -j %sDST", c.c_str(), m.c_str());
                }
            return false;
        },
        reinterpret_cast<void *>(selector_of(*r) & ~intptr_t{1}));
    return r;
}

void *address_discommand(record *r) {
    if (!r) return r;
    const std::string c = arg(r->chain);
    for (const char *option : {"-F", "-X"})
        for (const char *way : {"SRC", "DST"})
            MODULE_RULE(4, kSource, "/sbin/iptables -t mangle %s %s%s", option, c.c_str(), way);
    return r;
}

void *address_recommand(record *r) { return address_command(static_cast<record *>(address_discommand(r))); }

void *address_initial_system_cmd(record *r, int, int flag) { return flag ? address_command(r) : r; }

void *address_cgiParam(record *r) {
    if (!r) return r;
    const bool whole = !module::form_fields(r, kFields);
    module::set_chain(r->chain, kChainPrefix, r->id);
    return whole ? r : nullptr;
}

void *address_xmlParam(record_file *, void *rec, const char *path) {
    return module::request_fields<record>(path, rec, kFields);
}

void address_entry(module::xml_entry &e, const record &r) { module::export_fields(e, &r, kFields); }

// One "_function" element for the six files, each record in it once.
void address_xmlConf(const char *function) {
    kTable.language(now_language(RS(13)), nullptr);
    std::string entries;
    for (intptr_t s = 0; s < kFiles; ++s)
        module::each_record<record>(
            kTable.name, MODULE_TAG(kSource),
            [&](const record &r, uint32_t) {
                module::xml_entry e;
                address_entry(e, r);
                entries += "<_entry>" + e.str() + "</_entry>";
                return false;
            },
            reinterpret_cast<void *>(s));
    if (entries.empty()) return;
    kTable.print(module::function_open(function).c_str());
    kTable.print(entries.c_str());
    kTable.print(module::kFunctionClose);
}

void *address_xmlEntry(xml_node *node, void *rec) {
    if (!node || !rec) return rec;
    return module::read_fields(module::xml_values(node), rec, kFields) ? nullptr : rec;
}

// Every entry to the file of its zone and kind; a name already there is
// left out.
int address_import_xmlConf(xml_node *function) {
    if (!function) return -1;
    record_file *files[kFiles];
    for (int s = 0; s < kFiles; ++s) {
        my_RemoveFile(kFirstFile + s);
        files[s] = module::open_file(kFirstFile + s, MODULE_TAG(kSource), 1);
    }
    const time_t now = time(nullptr);
    int position = 0;
    for (xml_node *e = module::next_entry(function, nullptr); e; e = module::next_entry(function, e)) {
        record r;
        address_defaults(&r, nullptr);
        address_xmlEntry(e, &r);
        module::set_text(r.id, my_chainID(now + ++position));
        const intptr_t s = selector_of(r);
        if (s < 0 || s >= kFiles || !files[s]) continue;
        if (module::isTheSame<record, parse_address, &record::name, nullptr>(files[s], &r, 0) == 0)
            module::add<record, format_address>(files[s], &r);
    }
    for (record_file *h : files) my_CloseFile(h);
    return 0;
}

const module_table kTable = {
    .name = "address",
    .clear = module::clear<record>,
    .add = module::add<record, format_address>,
    .remove = address_remove,
    .modify = module::modify<record, format_address>,
    .isTheSame = module::isTheSame<record, parse_address, &record::name, &record::id>,
    .set_default = address_defaults,
    .open = address_open,
    .getline = module::getline<parse_address>,
    .getnum = module::getnum<parse_address>,
    .parse = parse_address,
    .shift = module::shift,
    .close = module::close_file,
    .command = module::op(address_command),
    .discommand = module::op(address_discommand),
    .recommand = module::op(address_recommand),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(address_cgiParam),
    .initial_system_cmd = module::op(address_initial_system_cmd),
    .xmlParam = address_xmlParam,
    .xmlConf = module::op(address_xmlConf),
    .xmlEntry = module::op(address_xmlEntry),
    .import_xmlConf = module::op(address_import_xmlConf),
};

}  // namespace

const module::description module::descriptions::address{"address", kFields};

extern "C" {

module_table *address_register(void) { return module::register_table(kTable); }
void address_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
