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

using record = service_record;

constexpr int kCustomFile = 38, kGroupFile = 39;
constexpr const char *kSource = "system/service.c";
constexpr const char *kGroups[] = {"service"};
using texts = module::texts<kGroups>;
constexpr const char *kTables[] = {"mangle", "nat"};

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

std::string format(const record &r) {
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
void *parse(char *line, void *rec) {
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

void *set_default(void *rec, const char *) {
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
record_file *open(void *selector, const char *tag, int mode) {
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

int command(void *rec) {
    if (!rec) return -1;
    const auto &r = *static_cast<const record *>(rec);
    for (const char *table : kTables) {
        RULE("/sbin/iptables -t %s -N %s", table, module::arg(r.chain).c_str());
        service_add_command(r, table);
    }
    return 0;
}

int discommand(void *rec) {
    if (!rec) return -1;
    const std::string c = module::arg(static_cast<const record *>(rec)->chain);
    for (const char *table : kTables) {
        RULE("/sbin/iptables -t %s -F %s", table, c.c_str());
        RULE("/sbin/iptables -t %s -X %s", table, c.c_str());
    }
    return 0;
}

int recommand(void *rec) {
    if (!rec) return -1;
    const auto &r = *static_cast<const record *>(rec);
    for (const char *table : kTables) {
        RULE("/sbin/iptables -t %s -F %s", table, module::arg(r.chain).c_str());
        service_add_command(r, table);
    }
    return 0;
}

int initial_system_cmd(void *rec, int, int flag) { return flag ? command(rec) : 0; }

// A custom service that goes is first taken out of the groups that hold
// it, and their chains follow.
int remove(record_file *h, int n) {
    if (!h || n < 1) return -1;
    record gone{};
    gone.refs_fixed = 1;
    if (h->number == kCustomFile && module::read_number(h, &gone, n, parse)) {
        record_file *groups = module::open_file(kGroupFile, MODULE_TAG(kSource), 1);
        record g{};
        g.refs_fixed = 1;
        uint32_t line = 0;
        for (int k = 1; module::read_next(groups, &g, &line, k, parse); ++k) {
            bool held = false;
            for (char *member : g.members)
                if (module::same_text(member, gone.chain)) {
                    std::strcpy(member, module::kUnset);
                    held = true;
                }
            if (!held) continue;
            module::modify<record, format>(groups, &g, static_cast<int>(line));
            recommand(&g);
        }
        module::close_file(&groups);
    }
    return module::remove(h, n);
}

// A protocol is a name the firewall knows or a protocol number; a port a
// number from 0 to 65535.
bool is_protocol(const char *text) {
    for (const char *name : {"tcp", "udp", "icmp", "all"})
        if (module::same_text(text, name)) return true;
    char *end = nullptr;
    const long number = std::strtol(text, &end, 10);
    return *text >= '0' && *text <= '9' && !*end && number <= 255;
}

bool is_port(const char *text) {
    char *end = nullptr;
    const long number = std::strtol(text, &end, 10);
    return *text >= '0' && *text <= '9' && !*end && number <= 65535 && std::strlen(text) < 6;
}

// One protocol entry from three values; unused unless the protocol is one
// and both ports are (a port missing from an entry without ports is "0").
void set_range(service_port_range &p, const char *protocol, const char *first, const char *last) {
    if (!protocol || !is_protocol(protocol)) return;
    if (!first) first = "0";
    if (!last) last = first;
    if (!is_port(first) || !is_port(last)) return;
    module::set_text(p.protocol, protocol);
    module::set_text(p.first_port, first);
    module::set_text(p.last_port, last);
}

// A member is a custom service's chain.
bool is_member(const char *text) { return text && std::strncmp(text, "svc_", 4) == 0 && module::is_identifier(text + 4); }

// The form: "kind", then a custom service's "protocol%d", "first_port%d"
// and "last_port%d" (1 to 8), or a group's repeated "select_members"
// chains.  Values that are none of these are left out.
void *cgiParam(void *rec) {
    if (!rec) return nullptr;
    auto &r = *static_cast<record *>(rec);
    module::form_text(r.name, "name");
    module::form_identifier(r.id);
    r.kind = module::form_integer("kind", SERVICE_CUSTOM) == SERVICE_GROUP ? SERVICE_GROUP : SERVICE_CUSTOM;
    follow_id(r);
    clear_entries(r);
    int next = 0;
    if (r.kind == SERVICE_GROUP) {
        for (const char *v = qValueFirst("select_members"); v && next < SERVICE_MEMBERS; v = qValueNext())
            if (is_member(v)) module::set_text(r.members[next++], v);
    } else {
        for (int i = 1; i <= SERVICE_PROTOCOLS; ++i) {
            set_range(r.ports[next], qValue("protocol%d", i), qValue("first_port%d", i), qValue("last_port%d", i));
            if (used(r.ports[next].protocol)) ++next;
        }
    }
    return rec;
}

// The same keys as the export: "name", "id", "kind", "protocol_%d",
// "first_port_%d", "last_port_%d" and "member_%d" from 0.
void fill(const module::xml_values &v, record &r) {
    v.text("name", r.name);
    v.identifier("id", r.id);
    r.kind = v.integer("kind", r.kind) == SERVICE_GROUP ? SERVICE_GROUP : SERVICE_CUSTOM;
    clear_entries(r);
    int next = 0;
    for (int i = 0; i < SERVICE_PROTOCOLS; ++i) {
        set_range(r.ports[next], v.raw(M("protocol_%d", i)), v.raw(M("first_port_%d", i)), v.raw(M("last_port_%d", i)));
        if (used(r.ports[next].protocol)) ++next;
    }
    next = 0;
    for (int i = 0; i < SERVICE_MEMBERS; ++i)
        if (const char *member = v.raw(M("member_%d", i)); is_member(member)) module::set_text(r.members[next++], member);
    follow_id(r);
}

void *xmlEntry(xml_node *entry, void *rec) {
    if (entry && rec) fill(module::xml_values(entry), *static_cast<record *>(rec));
    return rec;
}

void *xmlParam(record_file *, void *rec, const char *path) {
    if (!rec) return nullptr;
    module::read_request(path, [rec](const module::xml_values &v) { fill(v, *static_cast<record *>(rec)); });
    return rec;
}

void entry(module::xml_entry &e, const record &r) {
    e.text("name", r.name).text("id", r.id).number("kind", r.kind);
    for (int i = 0; i < SERVICE_PROTOCOLS && used(r.ports[i].protocol); ++i)
        e.text(M("protocol_%d", i), r.ports[i].protocol)
            .text(M("first_port_%d", i), r.ports[i].first_port)
            .text(M("last_port_%d", i), r.ports[i].last_port);
    for (int i = 0; i < SERVICE_MEMBERS && used(r.members[i]); ++i) e.text(M("member_%d", i), r.members[i]);
}

// Custom services, then groups, in one element; nothing when both files
// are empty.
void xmlConf(const char *value, const char *) {
    texts::language(now_language(RS(13)), nullptr);
    record_file *files[] = {module::open_file(kCustomFile, MODULE_TAG(kSource), 0),
                            module::open_file(kGroupFile, MODULE_TAG(kSource), 0)};
    try {
        if ((files[0] && files[0]->count) || (files[1] && files[1]->count)) {
            texts::print(module::function_open(value).c_str());
            record r{};
            r.refs_fixed = 1;
            for (record_file *h : files)
                for (int k = 1; module::read_next(h, &r, nullptr, k, parse); ++k) {
                    module::xml_entry e;
                    entry(e, r);
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
int import_xmlConf(xml_node *function) {
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
        set_default(&r, nullptr);
        r.id[0] = '\0';
        xmlEntry(e, &r);
        if (!r.id[0]) {
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
    .add = module::add<record, format>,
    .remove = remove,
    .modify = module::modify<record, format>,
    .isTheSame = module::isTheSame<record, parse, &record::name, &record::id>,
    .set_default = set_default,
    .open = open,
    .getline = module::getline<parse>,
    .getnum = module::getnum<parse>,
    .parse = parse,
    .close = module::close_file,
    .command = module::op(command),
    .discommand = module::op(discommand),
    .recommand = module::op(recommand),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(cgiParam),
    .initial_system_cmd = module::op(initial_system_cmd),
    .xmlParam = xmlParam,
    .xmlConf = module::op(xmlConf),
    .xmlEntry = module::op(xmlEntry),
    .import_xmlConf = module::op(import_xmlConf),
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
        for (int k = 1; module::read_next(custom, &r, nullptr, k, parse); ++k)
            if (module::same_text(r.chain, wanted)) {
                complete = complete && append(tail, r);
                return true;
            }
        return false;
    };
    if (!custom_service(chain)) {
        record g{};
        g.refs_fixed = 1;
        for (int k = 1; module::read_next(groups, &g, nullptr, k, parse); ++k) {
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
