// Service objects: custom services (protocols with destination port
// ranges) and groups of them.  Each owns a chain of the same name in the
// mangle and nat tables that raises the policy bit for its packets; rules
// that forward a service (the virtual servers) jump to it and read its
// protocols through getProtocolInfoBychain.
//
// Lines: "name" id kind, then a custom service's protocols as "protocol
// first-port last-port" triples, or a group's member chains.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "system/module.h"
#include "system/module_xml.h"
#include "webadmin.h"

namespace {

using module::holds;
using record = service_record;

constexpr int kCustomFile = 38, kGroupFile = 39;
constexpr const char *kSource = "system/service.c";
constexpr const char *kGroups[] = {"service"};
using texts = module::texts<kGroups>;
constexpr const char *kTables[] = {"mangle", "nat"};

// The keys of a custom service's protocols in documents, from 0, and their
// names in the form, from 1.
constexpr module::numbered<SERVICE_PROTOCOLS> kProtocolKeys{"protocol_", 0}, kFirstKeys{"first_port_", 0},
    kLastKeys{"last_port_", 0}, kProtocolForms{"protocol", 1}, kFirstForms{"first_port", 1},
    kLastForms{"last_port", 1};
// A group's members are custom services, by their chains.
constexpr const char *kMemberChains[] = {"svc"};

#define PORT_FIELD(member) MODULE_UNKEYED(record, ports[0].member, module::kind::none)
constexpr std::size_t kStride = sizeof(service_port_range);
// The fields a form or a document fills (the line, the used protocols or
// members only, is the module's own).  A protocol without ports has port
// 0; a range without its last port ends at its first.  The form names a
// group's members by the repeated value "select_members".
constexpr auto kFields = module::describe(
    {
        MODULE_FIELD(record, name, module::kind::name).is(holds::text),
        MODULE_FIELD(record, id, module::kind::word).is(holds::identifier),
        MODULE_FIELD(record, kind, module::kind::number)
            .is(holds::number, SERVICE_CUSTOM, SERVICE_GROUP)
            .or_default("1"),
    },
    module::elements<SERVICE_PROTOCOLS>(PORT_FIELD(protocol).is(holds::protocol), kProtocolKeys, &kProtocolForms,
                                        kStride),
    module::elements<SERVICE_PROTOCOLS>(PORT_FIELD(first_port).is(holds::number, 0, 65535).or_default("0"), kFirstKeys,
                                        &kFirstForms, kStride),
    module::elements<SERVICE_PROTOCOLS>(PORT_FIELD(last_port).is(holds::number, 0, 65535), kLastKeys, &kLastForms,
                                        kStride),
    module::elements<SERVICE_MEMBERS>(
        MODULE_UNKEYED(record, members[0], module::kind::none).chain_of(kMemberChains).in_form(""),
        module::kMemberKeys));
#undef PORT_FIELD

#define RULE(format, ...) MODULE_RULE(4, kSource, format, __VA_ARGS__)

extern const module_table kTable;

bool used(const char *text) { return *text && !module::same_text(text, module::kUnset); }

// The chain's prefix is the kind's.
void follow_id(record &r) { module::follow_identifier(r, r.kind == SERVICE_GROUP ? "svcgroup" : "svc"); }

void clear_entries(record &r) {
    for (service_port_range &p : r.ports)
        for (char *text : {p.protocol, p.first_port, p.last_port}) std::strcpy(text, module::kUnset);
    for (char *member : r.members) std::strcpy(member, module::kUnset);
}

std::string service_format(const record &r) {
    module::line l;
    l.name(r.name).text(r.id).number(r.kind);
    if (r.kind == SERVICE_GROUP) {
        for (const char *member : r.members)
            if (used(member)) l.text(member);
    } else {
        for (const service_port_range &p : r.ports)
            if (used(p.protocol)) l.text(p.protocol).text(p.first_port).text(p.last_port);
    }
    return l.str();
}

// The entries of the line fill the record's from the first; the others
// are unused.
void *service_parse(char *line, void *rec) {
    const module::fields f(line);
    auto &r = *static_cast<record *>(rec);
    f.text(0, r.name);
    f.text(1, r.id);
    r.kind = f.integer(2) == SERVICE_GROUP ? SERVICE_GROUP : SERVICE_CUSTOM;
    clear_entries(r);
    int next = 0;
    if (r.kind == SERVICE_GROUP) {
        for (int i = 3; i < f.count() && next < SERVICE_MEMBERS; ++i)
            if (used(f[i])) f.text(i, r.members[next++]);
    } else {
        for (int i = 3; i < f.count() && next < SERVICE_PROTOCOLS; i += 3) {
            if (!used(f[i])) continue;
            service_port_range &p = r.ports[next++];
            f.text(i, p.protocol);
            f.text(i + 1, p.first_port);
            f.text(i + 2, p.last_port);
        }
    }
    follow_id(r);
    return rec;
}

void *service_defaults(void *rec, const char *) {
    if (!rec) return nullptr;
    auto &r = *static_cast<record *>(rec);
    module::set_text(r.name, module::kUnset);
    module::set_text(r.id, my_chainID(0));
    r.kind = SERVICE_CUSTOM;
    module::set_chain(r.chain, "svc", r.id);
    r.refs = 0;
    clear_entries(r);
    return rec;
}

// Selector 1 the custom services, 2 the groups.
record_file *service_open(void *selector, const char *tag, int mode) {
    switch (reinterpret_cast<intptr_t>(selector)) {
        case SERVICE_CUSTOM: return module::open_file(kCustomFile, tag, mode);
        case SERVICE_GROUP: return module::open_file(kGroupFile, tag, mode);
        default: return nullptr;
    }
}

// The rules of the record's chain in one table.
void service_add_command(const record &r, const char *table) {
    const std::string c = module::arg(r.chain);
    if (r.kind == SERVICE_GROUP) {
        for (const char *member : r.members)
            if (used(member)) RULE("/sbin/iptables -t %s -A %s -j %s", table, c.c_str(), module::arg(member).c_str());
        return;
    }
    for (const service_port_range &p : r.ports) {
        if (!used(p.protocol)) continue;
        const std::string protocol = module::arg(p.protocol);
        if (module::has_ports(p.protocol))
            RULE("/sbin/iptables -t %s -A %s -p %s --dport %s:%s -j UTMMARK --set-type policy --or-mark 0x%x", table,
                 c.c_str(), protocol.c_str(), module::arg(p.first_port).c_str(), module::arg(p.last_port).c_str(), 4);
        else if (module::same_text(p.protocol, "all"))
            RULE("/sbin/iptables -t %s -A %s -j UTMMARK --set-type policy --or-mark 0x%x", table, c.c_str(), 4);
        else
            RULE("/sbin/iptables -t %s -A %s -p %s -j UTMMARK --set-type policy --or-mark 0x%x", table, c.c_str(),
                 protocol.c_str(), 4);
    }
}

int service_command(void *rec) {
    if (!rec) return -1;
    const auto &r = *static_cast<const record *>(rec);
    for (const char *table : kTables) {
        RULE("/sbin/iptables -t %s -N %s", table, module::arg(r.chain).c_str());
        service_add_command(r, table);
    }
    return 0;
}

int service_discommand(void *rec) {
    if (!rec) return -1;
    const std::string c = module::arg(static_cast<const record *>(rec)->chain);
    for (const char *table : kTables) {
        RULE("/sbin/iptables -t %s -F %s", table, c.c_str());
        RULE("/sbin/iptables -t %s -X %s", table, c.c_str());
    }
    return 0;
}

int service_recommand(void *rec) {
    if (!rec) return -1;
    const auto &r = *static_cast<const record *>(rec);
    for (const char *table : kTables) {
        RULE("/sbin/iptables -t %s -F %s", table, module::arg(r.chain).c_str());
        service_add_command(r, table);
    }
    return 0;
}

int service_initial_system_cmd(void *rec, int, int flag) { return flag ? service_command(rec) : 0; }

// A custom service that goes is first taken out of the groups that hold
// it, and their chains follow.
int service_remove(record_file *h, int n) {
    if (!h || n < 1) return -1;
    record gone{};
    gone.refs_fixed = 1;
    if (h->number == kCustomFile && module::read_number(h, &gone, n, service_parse)) {
        record_file *groups = module::open_file(kGroupFile, MODULE_TAG(kSource), 1);
        record g{};
        g.refs_fixed = 1;
        uint32_t line = 0;
        for (int k = 1; module::read_next(groups, &g, &line, k, service_parse); ++k) {
            bool held = false;
            for (char *member : g.members)
                if (module::same_text(member, gone.chain)) {
                    std::strcpy(member, module::kUnset);
                    held = true;
                }
            if (!held) continue;
            module::modify<record, service_format>(groups, &g, static_cast<int>(line));
            service_recommand(&g);
        }
        module::close_file(&groups);
    }
    return module::remove(h, n);
}

// A protocol's range without its last port ends at its first.
void complete_ranges(record &r) {
    for (service_port_range &p : r.ports)
        if (used(p.protocol) && !used(p.last_port)) module::set_text(p.last_port, p.first_port);
}

// The form: the described fields, then a group's members, the custom
// services whose chains the repeated value "select_members" names.
void *service_cgiParam(void *rec) {
    if (!rec) return nullptr;
    auto &r = *static_cast<record *>(rec);
    clear_entries(r);
    bool whole = !module::form_fields(rec, kFields);
    if (!module::is_identifier(r.id)) module::set_text(r.id, my_chainID(0));
    complete_ranges(r);
    const module::field &member = *module::field_named(kFields, module::kMemberKeys.text[0]);
    int next = 0;
    for (const char *v = qValueFirst("select_members"); v; v = qValueNext()) {
        if (!module::accepts(member, v)) whole = false;
        else if (next < SERVICE_MEMBERS) module::set_text(r.members[next++], v);
    }
    follow_id(r);
    return whole ? rec : nullptr;
}

// A document's entry: the described fields; whether all were taken.
bool fill(const module::xml_values &v, record &r) {
    clear_entries(r);
    const bool whole = !module::read_fields(v, &r, kFields);
    complete_ranges(r);
    follow_id(r);
    return whole;
}

void *service_xmlEntry(xml_node *entry, void *rec) {
    if (!entry || !rec) return rec;
    return fill(module::xml_values(entry), *static_cast<record *>(rec)) ? rec : nullptr;
}

void *service_xmlParam(record_file *, void *rec, const char *path) {
    if (!rec) return nullptr;
    bool whole = true;
    module::read_request(path, [&](const module::xml_values &v) { whole = fill(v, *static_cast<record *>(rec)); });
    return whole ? rec : nullptr;
}

// The used protocols and members, each as its keys name it.
void service_entry(module::xml_entry &e, const record &r) {
    e.text("name", r.name).text("id", r.id).number("kind", r.kind);
    for (int i = 0; i < SERVICE_PROTOCOLS && used(r.ports[i].protocol); ++i)
        e.text(kProtocolKeys.text[i], r.ports[i].protocol)
            .text(kFirstKeys.text[i], r.ports[i].first_port)
            .text(kLastKeys.text[i], r.ports[i].last_port);
    for (int i = 0; i < SERVICE_MEMBERS && used(r.members[i]); ++i) e.text(module::kMemberKeys.text[i], r.members[i]);
}

// Custom services, then groups, in one element; nothing when both files
// are empty.
void service_xmlConf(const char *value, const char *) {
    texts::language(now_language(RS(13)), nullptr);
    record_file *files[] = {module::open_file(kCustomFile, MODULE_TAG(kSource), 0),
                            module::open_file(kGroupFile, MODULE_TAG(kSource), 0)};
    try {
        if ((files[0] && files[0]->count) || (files[1] && files[1]->count)) {
            texts::print(module::function_open(value).c_str());
            record r{};
            r.refs_fixed = 1;
            for (record_file *h : files)
                for (int k = 1; module::read_next(h, &r, nullptr, k, service_parse); ++k) {
                    module::xml_entry e;
                    service_entry(e, r);
                    texts::print(("<_entry>" + e.str() + "</_entry>").c_str());
                }
            texts::print(module::kFunctionClose);
        }
    } catch (const std::bad_alloc &) {
        // Out of memory: the element stays incomplete, the files untouched.
    }
    for (record_file *&h : files) module::close_file(&h);
}

// Both files are replaced by the entries, each in its kind's file; an entry
// without an identifier gets one from the current time and its position,
// and one whose name its file already holds is left out.
int service_import_xmlConf(xml_node *function) {
    if (!function) return -1;
    my_RemoveFile(kCustomFile);
    my_RemoveFile(kGroupFile);
    record_file *files[] = {module::open_file(kCustomFile, MODULE_TAG(kSource), 1),
                            module::open_file(kGroupFile, MODULE_TAG(kSource), 1)};
    const time_t now = time(nullptr);
    int position = 0;
    for (xml_node *e = module::next_entry(function, nullptr); e && files[0] && files[1];
         e = module::next_entry(function, e)) {
        ++position;
        record r{};
        service_defaults(&r, nullptr);
        r.id[0] = '\0';
        service_xmlEntry(e, &r);
        if (!module::is_identifier(r.id)) {
            module::set_text(r.id, my_chainID(now + position));
            follow_id(r);
        }
        record_file *h = files[r.kind == SERVICE_GROUP ? 1 : 0];
        if (kTable.isTheSame(h, &r, 0) != 1) kTable.add(h, &r);
    }
    const int result = files[0] && files[1] ? 0 : -1;
    for (record_file *&h : files) module::close_file(&h);
    return result;
}

const module_table kTable = {
    .name = "service",
    .clear = module::clear<record>,
    .add = module::add<record, service_format>,
    .remove = service_remove,
    .modify = module::modify<record, service_format>,
    .isTheSame = module::isTheSame<record, service_parse, &record::name, &record::id>,
    .set_default = service_defaults,
    .open = service_open,
    .getline = module::getline<service_parse>,
    .getnum = module::getnum<service_parse>,
    .parse = service_parse,
    .close = module::close_file,
    .command = module::op(service_command),
    .discommand = module::op(service_discommand),
    .recommand = module::op(service_recommand),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(service_cgiParam),
    .initial_system_cmd = module::op(service_initial_system_cmd),
    .xmlParam = service_xmlParam,
    .xmlConf = module::op(service_xmlConf),
    .xmlEntry = module::op(service_xmlEntry),
    .import_xmlConf = module::op(service_import_xmlConf),
};

// Appends the record's protocols to the list at *tail; false when memory
// runs out.
bool append(service_protocol **&tail, const record &r) {
    for (const service_port_range &p : r.ports) {
        if (!used(p.protocol)) continue;
        auto *entry = static_cast<service_protocol *>(std::calloc(1, sizeof(service_protocol)));
        if (!entry) return false;
        module::set_text(entry->protocol, p.protocol);
        module::set_text(entry->first_port, p.first_port);
        module::set_text(entry->last_port, p.last_port);
        *tail = entry;
        tail = &entry->next;
    }
    return true;
}

}  // namespace

const module::description module::descriptions::service{"service", kFields};

extern "C" {

module_table *service_register(void) { return module::register_table(kTable); }

void service_unregister(module_table *table) { module::unregister_table(table); }

service_protocol *getProtocolInfoBychain(const char *chain) {
    if (!chain) return nullptr;
    record_file *custom = module::open_file(kCustomFile, MODULE_TAG(kSource), 0);
    record_file *groups = module::open_file(kGroupFile, MODULE_TAG(kSource), 0);
    service_protocol *list = nullptr, **tail = &list;
    bool complete = true;
    const auto custom_service = [&](const char *wanted) {
        record r{};
        r.refs_fixed = 1;
        for (int k = 1; module::read_next(custom, &r, nullptr, k, service_parse); ++k)
            if (module::same_text(r.chain, wanted)) {
                complete = complete && append(tail, r);
                return true;
            }
        return false;
    };
    if (!custom_service(chain)) {
        record g{};
        g.refs_fixed = 1;
        for (int k = 1; module::read_next(groups, &g, nullptr, k, service_parse); ++k) {
            if (!module::same_text(g.chain, chain)) continue;
            for (const char *member : g.members)
                if (used(member) && complete) custom_service(member);
            break;
        }
    }
    module::close_file(&custom);
    module::close_file(&groups);
    if (!complete) {
        freeProtocolInfo(list);
        return nullptr;
    }
    return list;
}

void freeProtocolInfo(service_protocol *list) {
    while (list) {
        service_protocol *next = list->next;
        std::free(list);
        list = next;
    }
}

}  // extern "C"
