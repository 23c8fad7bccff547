// Virtual servers: a public address (and optionally one public port) on a
// WAN port, forwarded for the protocols of a service object to a pool of
// internal servers with a load-sharing mode.  Like a mapped address, each
// record fills four chains of its own and makes the appliance answer ARP
// for the public address.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "system/module.h"
#include "system/module_xml.h"
#include "webadmin.h"

namespace {

using record = virtual_ip_record;

constexpr int kFile = 55;
constexpr const char *kSource = "system/virtual_ip.c";
constexpr const char *kPrefix = "vip";  // of the record's chain
constexpr const char *kGroups[] = {"virtual_ip"};
using texts = module::texts<kGroups>;
constexpr module::translation_chains kChains{kSource, "vserver"};
constexpr const char kNoServer[] = "0.0.0.0";

// The rules of the add-command, whichever of its parts adds them, name it
// (the chains' own rules name their functions).
#define RULE(format, ...) \
    my_iptables(4, "[%s]%s(),L:%d=> " format, kSource, "virtual_ip_add_command", __LINE__, __VA_ARGS__)

extern const module_table kTable;

// How many of the record's server entries take part.
int servers() { return module::capacity(69, VIRTUAL_IP_SERVERS); }

bool no_server(const char *address) { return !*address || module::same_text(address, kNoServer); }

// A server entry holds an IPv4 address or none: whatever else a line or a
// document says there never reaches a rule.
void set_server(char (&entry)[16], std::string_view text) {
    const std::string address(text);
    module::set_text(entry, module::is_address(address.c_str(), 4) ? address.c_str() : kNoServer);
}

// Entries from 0 upwards from a comma list, the rest up to the capacity none.
void set_servers(record &r, std::string_view list) {
    const int n = servers();
    int i = 0;
    for (std::size_t start = 0; i < n && start <= list.size(); ++i) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        set_server(r.virtual_ip[i], list.substr(start, comma - start));
        start = comma + 1;
    }
    for (; i < n; ++i) module::set_text(r.virtual_ip[i], kNoServer);
}

// The capacity's entries joined by commas, an empty one as "0.0.0.0".
std::string server_list(const record &r) {
    std::string list;
    for (int i = 0; i < servers(); ++i) {
        if (i) list += ',';
        list += no_server(r.virtual_ip[i]) ? kNoServer : r.virtual_ip[i];
    }
    return list;
}

const char *server_field(const record &r, int i) { return no_server(r.virtual_ip[i]) ? kNoServer : r.virtual_ip[i]; }

std::string format(const record &r) {
    module::line l;
    l.name(r.name).text(r.id).text(r.mark).text(r.real_ip).text(r.real_port).text(r.real_device_name);
    l.text(r.service_chain).number(r.operating_mode);
    for (int i = 0; i < 4; ++i) l.text(server_field(r, i));
    l.text(r.virtual_device_name).number(r.iswan).name(server_list(r).c_str());
    return l.number(r.health_check).number(r.priority).str();
}

// The fields of a line; the server list is field 14, which the older
// four-server layout lacks.
constexpr int kListField = 14;

void *parse(char *line, void *rec) {
    const module::fields f(line);
    auto &r = *static_cast<record *>(rec);
    f.text(0, r.name);
    f.text(1, r.id);
    f.text(2, r.mark);
    f.text(3, r.real_ip);
    f.text(4, r.real_port);
    f.text(5, r.real_device_name);
    f.text(6, r.service_chain);
    r.operating_mode = f.integer(7);
    for (int i = 0; i < 4; ++i)
        if (const char *server = f[8 + i]) set_server(r.virtual_ip[i], server);
    f.text(12, r.virtual_device_name);
    r.iswan = f.integer(13);
    if (const char *list = f[kListField]) set_servers(r, list);
    r.health_check = f.integer(15);
    r.priority = f.integer(16);
    module::follow_identifier(r, kPrefix);
    return rec;
}

void *set_default(void *rec, const char *) {
    if (!rec) return nullptr;
    auto &r = *static_cast<record *>(rec);
    module::set_text(r.name, module::kUnset);
    module::set_text(r.id, my_chainID(0));
    module::set_chain(r.chain, kPrefix, r.id);
    module::set_text(r.mark, "0");
    module::set_text(r.real_ip, "0.0.0.0");
    for (char *text : {r.real_port, r.real_device_name, r.virtual_device_name}) std::strcpy(text, module::kUnset);
    module::set_text(r.service_chain, module::kUnset);
    r.operating_mode = 0;
    for (int i = 0; i < servers(); ++i) module::set_text(r.virtual_ip[i], kNoServer);
    r.iswan = r.refs = r.health_check = r.priority = 0;
    return rec;
}

// The marks that single out the public address's (and port's) packets of
// the service, before they reach the record's translation.
void mark_service(const record &r, const std::string &c, const std::string &mark, const std::string &real,
                  const std::string &dev, const std::string &port) {
    RULE("/sbin/iptables -t nat -A %s -m utmmark --type vserver --mark 0x%s -j UTMMARK --set-type policy "
         "--or-mark 0x%x",
         c.c_str(), mark.c_str(), 2);
    RULE("/sbin/iptables -t mangle -A pre%s -m utmmark --type vserver ! --mark 0x0 -j RETURN", c.c_str());
    if (module::same_text(r.real_port, module::kUnset)) {
        RULE("/sbin/iptables -t mangle -A pre%s -j UTMMARK --set-type policy --and-mark 0x%x", c.c_str(), ~4u);
        RULE("/sbin/iptables -t mangle -A pre%s -d %s -j %s", c.c_str(), real.c_str(),
             module::arg(r.service_chain).c_str());
        for (const char *suffix : {"", "_+"})
            RULE("/sbin/iptables -t mangle -A pre%s -i %s%s -d %s -m utmmark --type policy --mark 0x%x/0x%x -j UTMMARK "
                 "--set-type param --or-mark 0x%x",
                 c.c_str(), dev.c_str(), suffix, real.c_str(), 4, 4, 0x40000);
        RULE("/sbin/iptables -t mangle -A pre%s -d %s -m utmmark --type policy --mark 0x%x/0x%x -j UTMMARK --set-type "
             "vserver --set-mark 0x%s",
             c.c_str(), real.c_str(), 4, 4, mark.c_str());
        return;
    }
    for (const service_protocol *p = r.service_info; p; p = p->next) {
        const std::string protocol = module::arg(module::bounded(p->protocol).c_str());
        if (module::has_ports(p->protocol)) {
            for (const char *suffix : {"", "_+"})
                RULE("/sbin/iptables -t mangle -A pre%s -i %s%s -p %s -d %s --dport %s:%s -j UTMMARK --set-type param "
                     "--or-mark 0x%x",
                     c.c_str(), dev.c_str(), suffix, protocol.c_str(), real.c_str(), port.c_str(), port.c_str(),
                     0x40000);
            RULE("/sbin/iptables -t mangle -A pre%s -p %s -d %s --dport %s:%s -j UTMMARK --set-type vserver "
                 "--set-mark 0x%s",
                 c.c_str(), protocol.c_str(), real.c_str(), port.c_str(), port.c_str(), mark.c_str());
        } else if (module::same_text(p->protocol, "all")) {
            RULE("/sbin/iptables -t mangle -A pre%s -i %s -d %s -j UTMMARK --set-type param --or-mark 0x%x", c.c_str(),
                 dev.c_str(), real.c_str(), 0x40000);
            RULE("/sbin/iptables -t mangle -A pre%s -i %s_+ -d %s -j UTMMARK --set-type param --set-mark 0x%x",
                 c.c_str(), dev.c_str(), real.c_str(), 0x40000);
            RULE("/sbin/iptables -t mangle -A pre%s -d %s -j UTMMARK --set-type vserver --set-mark 0x%s", c.c_str(),
                 real.c_str(), mark.c_str());
        } else {
            for (const char *suffix : {"", "_+"})
                RULE("/sbin/iptables -t mangle -A pre%s -i %s%s -p %s -d %s -j UTMMARK --set-type param --or-mark 0x%x",
                     c.c_str(), dev.c_str(), suffix, protocol.c_str(), real.c_str(), 0x40000);
            RULE("/sbin/iptables -t mangle -A pre%s -p %s -d %s -j UTMMARK --set-type vserver --set-mark 0x%s",
                 c.c_str(), protocol.c_str(), real.c_str(), mark.c_str());
        }
    }
}

// The destination translation of the marked packets to the servers.
void translate(const record &r, const std::string &c, const std::string &mark, const std::string &real,
               const std::string &port) {
    std::string list = module::arg(r.virtual_ip[0]);
    for (int i = 1; i < servers(); ++i)
        if (!no_server(r.virtual_ip[i])) list += "," + module::arg(r.virtual_ip[i]);
    const char *mode = r.operating_mode == 1 ? "--set-backup" : r.operating_mode == 2 ? "--set-bysrc" : "";
    const std::string service = module::arg(r.service_chain);
    if (module::same_text(r.real_port, module::kUnset)) {
        RULE("/sbin/iptables -t nat -A nat%s -j %s", c.c_str(), service.c_str());
        RULE("/sbin/iptables -t mangle -A pre%s -d %s -m utmmark --type vserver --mark 0x%s -j PREDNAT "
             "--to-destination %s",
             c.c_str(), real.c_str(), mark.c_str(), list.c_str());
        RULE("/sbin/iptables -t nat -A nat%s -j DNAT --to-destination %s %s", c.c_str(), list.c_str(), mode);
        return;
    }
    if (!r.service_info) return;
    RULE("/sbin/iptables -t nat -A nat%s -j %s", c.c_str(), service.c_str());
    for (const service_protocol *p = r.service_info; p; p = p->next) {
        const std::string protocol = module::arg(module::bounded(p->protocol).c_str()),
                          first = module::arg(module::bounded(p->first_port).c_str());
        if (module::has_ports(p->protocol)) {
            RULE("/sbin/iptables -t mangle -A pre%s -p %s -d %s --dport %s -m utmmark --type vserver --mark 0x%s -j "
                 "PREDNAT --to-destination %s:%s",
                 c.c_str(), protocol.c_str(), real.c_str(), port.c_str(), mark.c_str(), list.c_str(), first.c_str());
            RULE("/sbin/iptables -t nat -A nat%s -p %s -j DNAT --to-destination %s:%s %s", c.c_str(), protocol.c_str(),
                 list.c_str(), first.c_str(), mode);
        } else if (module::same_text(p->protocol, "all")) {
            RULE("/sbin/iptables -t mangle -A pre%s -d %s -m utmmark --type vserver --mark 0x%s -j PREDNAT "
                 "--to-destination %s:%s",
                 c.c_str(), real.c_str(), mark.c_str(), list.c_str(), first.c_str());
            RULE("/sbin/iptables -t nat -A nat%s -j DNAT --to-destination %s:%s %s", c.c_str(), list.c_str(),
                 first.c_str(), mode);
        } else {
            RULE("/sbin/iptables -t mangle -A pre%s -p %s -d %s -m utmmark --type vserver --mark 0x%s -j PREDNAT "
                 "--to-destination %s:%s",
                 c.c_str(), protocol.c_str(), real.c_str(), mark.c_str(), list.c_str(), port.c_str());
            RULE("/sbin/iptables -t nat -A nat%s -p %s -j DNAT --to-destination %s:%s %s", c.c_str(), protocol.c_str(),
                 list.c_str(), port.c_str(), mode);
        }
    }
}

// The servers' own traffic leaves with the public address, also when it
// loops back between internal segments.
void translate_sources(const record &r, const std::string &c, const std::string &real,
                       const module::routed_device &port) {
    const std::string dev = module::arg(port.dev.c_str());
    for (int i = 0; i < servers(); ++i) {
        if (no_server(r.virtual_ip[i])) continue;
        const std::string address = module::arg(r.virtual_ip[i]);
        if (!port.route_mark.empty()) {
            const std::string route = module::arg(port.route_mark.c_str());
            RULE("/sbin/iptables -t nat -A post%s -o %s -s %s -m routemark --mark 0x%s -j SNAT --to-source %s",
                 c.c_str(), dev.c_str(), address.c_str(), route.c_str(), real.c_str());
            RULE("/sbin/iptables -t nat -A post%s -o %s -m routemark --mark 0x%s -m sockaddr --sockaddr %s -j SNAT "
                 "--to-source %s",
                 c.c_str(), dev.c_str(), route.c_str(), address.c_str(), real.c_str());
        } else {
            const std::string outs[] = {dev, dev + "_ppp"};
            for (const std::string &out : outs)
                RULE("/sbin/iptables -t nat -A post%s -o %s -s %s -j SNAT --to-source %s", c.c_str(), out.c_str(),
                     address.c_str(), real.c_str());
            for (const std::string &out : outs)
                RULE("/sbin/iptables -t nat -A post%s -o %s -m sockaddr --sockaddr %s -j SNAT --to-source %s",
                     c.c_str(), out.c_str(), address.c_str(), real.c_str());
        }
        for (const auto &pair : module::kLoopbackPairs)
            RULE("/sbin/iptables -t nat -A post%s -i %s+ -o %s+ -d %s -m utmmark --type vserver ! --mark 0x0 -j SNAT "
                 "--to-source %s",
                 c.c_str(), pair[0], pair[1], address.c_str(), real.c_str());
    }
}

// The record's rules; the marks and a public port's translation need the
// service's protocols in service_info.
void virtual_ip_add_command(const record &r) {
    const module::routed_device port = module::split_device(r.real_device_name);
    const std::string c = module::arg(r.chain), mark = module::arg(r.mark), real = module::arg(r.real_ip),
                      public_port = module::arg(r.real_port);
    if (r.service_info) {
        my_add_bcast_system_ip(return_contrast_port_num(port.dev.c_str()), r.real_ip);
        mark_service(r, c, mark, real, module::arg(port.dev.c_str()), public_port);
    }
    translate(r, c, mark, real, public_port);
    translate_sources(r, c, real, port);
    module::public_arp("-I", port.dev.c_str(), r.real_ip);
}

void virtual_ip_del_command(const record &r) {
    kChains.flush(__func__, r.chain);
    module::public_arp("-D", module::split_device(r.real_device_name).dev.c_str(), r.real_ip);
}

void virtual_ip_add_chain(const record &r) { kChains.create(__func__, r.chain, r.mark); }

int virtual_ip_flush_chain(void *rec) {
    if (!rec) return -1;
    const auto &r = *static_cast<const record *>(rec);
    virtual_ip_del_command(r);
    kChains.remove(__func__, r.chain, r.mark);
    return 0;
}

int command(void *rec) {
    if (!rec) return -1;
    virtual_ip_add_chain(*static_cast<const record *>(rec));
    virtual_ip_add_command(*static_cast<const record *>(rec));
    return 0;
}

// Old rules out, new ones in: the chains stay.
void replace(const record &now, const record &before) {
    virtual_ip_del_command(before);
    virtual_ip_add_command(now);
}

int recommand(void *new_rec, void *old_rec) {
    if (!new_rec || !old_rec) return -1;
    replace(*static_cast<const record *>(new_rec), *static_cast<const record *>(old_rec));
    return 0;
}

int initial_system_cmd(void *rec, int, int flag) {
    if (!rec) return -1;
    if (flag) virtual_ip_add_command(*static_cast<const record *>(rec));
    return 0;
}

// A record for each line of a walk, so that a short line takes nothing
// from the one before; parsing it asks no reference count.
record walk_record() {
    record r{};
    r.refs_fixed = 1;
    return r;
}

// Re-applies the record with its service's protocols, fetched for the
// occasion; previous is what was applied before.
void reapply(record &r, const record &previous) {
    r.service_info = getProtocolInfoBychain(r.service_chain);
    replace(r, previous);
    freeProtocolInfo(r.service_info);
    r.service_info = nullptr;
}

// 2 when another virtual server forwards the same public address, port and
// service; else rec's priority counts the others on its public address.
// 4 more when a mapped address has the public address.
int isTheSame(record_file *h, void *rec, int n) {
    if (!h || !rec) return -1;
    auto &wanted = *static_cast<record *>(rec);
    if (wanted.priority == 0) wanted.priority = 1;
    int result = 0;
    module::any_record<record, parse>(h, [&](const record &r, uint32_t line) {
        if (n > 0 && line == static_cast<uint32_t>(n) && module::same_text(r.id, wanted.id)) return false;
        if (!module::same_text(r.real_ip, wanted.real_ip)) return false;
        if (module::same_text(r.service_chain, wanted.service_chain) && module::same_text(r.real_port, wanted.real_port)) {
            result = 2;
            return true;
        }
        ++wanted.priority;
        return false;
    });
    module::registered mapped("mapped_ip");
    if (record_file *mh = mapped.open(MODULE_TAG(kSource), 0))
        for (int k = 1;; ++k) {
            mapped_ip_record m{};
            m.refs_fixed = 1;
            if (!mapped->getline(mh, &m, nullptr, k)) break;
            if (module::same_text(m.real_ip, wanted.real_ip)) {
                result += 4;
                break;
            }
        }
    return result;
}

// A record uses an interface by its WAN port, or, for a LAN or DMZ port in
// NAT mode outside a bridged zone, by a server in that port's subnet.
int interface_check(record_file *h, const interface_record *iface) {
    if (!h || !iface) return 0;
    const std::string iname = module::bounded(iface->iname), mask = module::bounded(iface->netmask);
    const bool routed = (iface->itype == 1 || iface->itype == 3) && iface->imode == 1 && iface->izone == 0;
    std::string net, broadcast;
    if (routed) {
        const std::string address = module::bounded(iface->ipaddr);
        net = my_netid(address.c_str(), mask.c_str());
        broadcast = my_broadcast(address.c_str(), mask.c_str());
    }
    const bool used = module::any_record<record, parse>(h, [&](const record &r, uint32_t) {
        if (r.real_device_name == iname) return true;  // a virtual link of the port is the link's
        for (int i = 0; routed && i < servers() && !no_server(r.virtual_ip[i]); ++i)
            if (net == my_netid(r.virtual_ip[i], mask.c_str()) && broadcast == my_broadcast(r.virtual_ip[i], mask.c_str()))
                return true;
        return false;
    });
    return used ? 1 : 0;
}

// Group memberships are one character per virtual server line: the removed
// line's character goes and the later ones move up.
int remove(record_file *h, int n) {
    if (module::remove(h, n) != 0) return -1;
    const int members = module::capacity(17, VIRTUAL_IP_GROUP_MEMBERS);
    module::registered groups("virtual_ip_group");
    record_file *gh = groups.open(MODULE_TAG(kSource), 1);
    uint32_t line = 0;
    for (int k = 1; gh; ++k) {
        // Each group from its own line: one without members has none.
        virtual_ip_group_record g{};
        groups->set_default(&g, nullptr);
        g.refs_fixed = 1;
        if (!groups->getline(gh, &g, &line, k)) break;
        if (n <= members) {
            std::memmove(g.members + n - 1, g.members + n, static_cast<std::size_t>(members - n));
            g.members[members - 1] = '0';
        }
        if (std::strspn(g.members, "0") >= static_cast<std::size_t>(members)) module::set_text(g.iname, module::kUnset);
        groups->modify(gh, &g, static_cast<int>(line));
    }
    return 0;
}

void *restorebyinterface(void *x, const interface_record *iface) {
    if (!iface) return x;
    const std::string iname = module::bounded(iface->iname);
    record_file *h = module::open_file(kFile, MODULE_TAG(kSource), 0);
    for (int k = 1;; ++k) {
        record r = walk_record();
        if (!module::read_next(h, &r, nullptr, k, parse)) break;
        if (r.real_device_name != iname && r.virtual_device_name != iname) continue;
        // The system address is the WAN port's, also for a record on one of its virtual links.
        const module::routed_device port = module::split_device(r.real_device_name);
        my_del_bcast_system_ip(return_contrast_port_num(port.dev.c_str()), r.real_ip);
        reapply(r, r);
    }
    module::close_file(&h);
    return x;
}

wan_address_event *dynamicIPup(wan_address_event *event) {
    if (!event) return event;
    const std::string address = module::bounded(event->ipaddr), iname = module::bounded(event->iname);
    if (!module::is_address(address.c_str(), 4)) return event;
    module_table *t = module::register_table(kTable);
    if (!t) return event;
    record_file *h = t->open(nullptr, MODULE_TAG(kSource), 1);
    uint32_t line = 0;
    for (int k = 1;; ++k) {
        record r = walk_record();
        set_default(&r, nullptr);  // a short line is written back with the defaults it lacks
        if (!t->getline(h, &r, &line, k)) break;
        if (!r.iswan || r.real_device_name != iname) continue;
        const record previous = r;
        my_del_bcast_system_ip(return_contrast_port_num(iname.c_str()), previous.real_ip);
        module::set_text(r.real_ip, address.c_str());
        t->modify(h, &r, static_cast<int>(line));
        reapply(r, previous);
    }
    t->close(&h);
    module::unregister_table(t);
    return event;
}

// The public address and the servers are refused (left at their defaults)
// unless they are IPv4 addresses, the identifier and mark unless they are
// what my_chainID and id2mark make; the other texts reach rules quoted.
void *cgiParam(void *rec) {
    if (!rec) return nullptr;
    auto &r = *static_cast<record *>(rec);
    module::form_text(r.name, "name");
    module::form_identifier(r.id);
    module::follow_identifier(r, kPrefix);
    const char *mark = qValue("mark");
    module::set_text(r.mark, mark && module::is_mark(mark) ? mark : id2mark(r.id));
    module::form_address(r.real_ip, "rip", "0.0.0.0");
    module::form_text(r.real_port, "rp");
    module::form_text(r.real_device_name, "rname2");
    module::form_text(r.service_chain, "schain");
    r.operating_mode = module::form_integer("omode2");
    for (int i = 1; i <= servers(); ++i) module::form_address(r.virtual_ip[i - 1], M("vip%d", i), kNoServer);
    module::form_text(r.virtual_device_name, "vname2");
    r.iswan = module::form_integer("iswan", 1);
    r.health_check = module::form_integer("health_check");
    return rec;
}

void *xmlParam(record_file *, void *rec, const char *path) {
    if (!rec) return nullptr;
    auto &r = *static_cast<record *>(rec);
    module::read_request(path, [&r](const module::xml_values &v) {
        v.text("name", r.name);
        if (v.identifier("id", r.id)) {
            module::follow_identifier(r, kPrefix);
            module::set_text(r.mark, id2mark(r.id));
        }
        v.address("real_ip", r.real_ip);
        v.text("real_port", r.real_port);
        v.text("real_device_name", r.real_device_name);
        v.text("service_chain", r.service_chain);
        r.operating_mode = v.integer("operating_mode", r.operating_mode);
        r.iswan = v.integer("iswan", r.iswan);
        v.text("virtual_device_name", r.virtual_device_name);
        if (const char *list = v.raw("virtual_ip_x")) set_servers(r, list);
        for (int i = 0; i < 4; ++i)
            if (const char *server = v.raw(M("virtual_ip_%d", i))) set_server(r.virtual_ip[i], server);
        r.health_check = v.integer("health_check", r.health_check);
        r.priority = v.integer("priority", r.priority);
    });
    return rec;
}

void entry(module::xml_entry &e, const record &r) {
    e.text("name", r.name).text("real_ip", r.real_ip).text("real_port", r.real_port, true);
    e.text("real_device_name", r.real_device_name).text("service_chain", r.service_chain);
    e.number("operating_mode", r.operating_mode);
    for (int i = 0; i < 4; ++i) e.text(M("virtual_ip_%d", i), server_field(r, i));
    e.text("virtual_device_name", r.virtual_device_name).number("iswan", r.iswan);
    e.text("virtual_ip_x", server_list(r).c_str()).number("health_check", r.health_check).number("priority", r.priority);
}

void xmlConf(const char *value, const char *) {
    module::export_records<record>(kTable, value, MODULE_TAG(kSource), entry, [](record &r) { r.refs_fixed = 1; });
}

const module_table kTable = {
    .name = "virtual_ip",
    .clear = module::clear<record>,
    .add = module::add<record, format>,
    .remove = remove,
    .modify = module::modify<record, format>,
    .interface_check = module::op(interface_check),
    .isTheSame = isTheSame,
    .set_default = set_default,
    .open = module::open<kFile>,
    .getline = module::getline<parse>,
    .getnum = module::getnum<parse>,
    .parse = parse,
    .shift = module::shift,
    .close = module::close_file,
    .command = module::op(command),
    .discommand = module::op(virtual_ip_flush_chain),
    .recommand = module::op(recommand),
    .restorebyinterface = module::op(restorebyinterface),
    .dynamicIPup = module::op(dynamicIPup),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(cgiParam),
    .initial_system_cmd = module::op(initial_system_cmd),
    .xmlParam = xmlParam,
    .xmlConf = module::op(xmlConf),
};

}  // namespace

extern "C" {

module_table *virtual_ip_register(void) { return module::register_table(kTable); }

void virtual_ip_unregister(module_table *table) { module::unregister_table(table); }

int virtual_rewrite_config(void) {
    record_file *h = module::open_file(kFile, MODULE_TAG(kSource), 1);
    if (!h) return -1;
    int rewritten = 0;
    for (const record_line *l = h->lines; l; l = l->next) {
        std::string copy = l->text;
        const module::fields f(copy.data());
        if (f.count() > kListField) {
            if (std::strchr(f[kListField], ',')) break;
            continue;
        }
        record r{};
        set_default(&r, nullptr);
        r.refs_fixed = 1;
        if (module::parse_copy(l->text, &r, parse) && module::modify<record, format>(h, &r, static_cast<int>(l->number)) == 0)
            ++rewritten;
    }
    module::close_file(&h);
    return rewritten;
}

}  // extern "C"
