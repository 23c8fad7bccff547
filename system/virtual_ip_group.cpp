// Named groups of virtual servers.  A group owns one nat chain that jumps
// to its members' chains and raises the policy bit for their traffic, so
// that one policy rule can name the whole group.  Membership is one
// character per line of the virtual server file.
#include <algorithm>
#include <string>
#include <vector>

#include "system/module.h"
#include "system/module_xml.h"
#include "webadmin.h"

namespace {

using record = virtual_ip_group_record;

constexpr int kFile = 56;
constexpr const char *kSource = "system/virtual_ip_group.c";
constexpr const char *kPrefix = "vipgroup";  // of the record's chain
constexpr const char *kGroups[] = {"virtual_ip", "service"};
using texts = module::texts<kGroups>;

#define RULE(format, ...) MODULE_RULE(4, kSource, format, __VA_ARGS__)

extern const module_table kTable;

// The most virtual servers, and so the characters of a membership text.
int members() { return module::capacity(17, VIRTUAL_IP_GROUP_MEMBERS); }

// Exactly the capacity's characters, '1' a member and '0' not; what text
// lacks is '0'.
void set_members(record &r, const char *text) {
    const int m = members();
    int i = 0;
    for (; i < m && text && text[i]; ++i) r.members[i] = text[i] == '1' ? '1' : '0';
    for (; i < m; ++i) r.members[i] = '0';
    r.members[m] = '\0';
}

std::string format(const record &r) {
    return module::line().name(r.name).text(r.id).text(r.mark).text(r.members).text(r.iname).str();
}

void *parse(char *line, void *rec) {
    const module::fields f(line);
    auto &r = *static_cast<record *>(rec);
    f.text(0, r.name);
    f.text(1, r.id);
    f.text(2, r.mark);
    set_members(r, f[3] ? f[3] : r.members);
    f.text(4, r.iname);
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
    r.refs = 0;
    set_members(r, nullptr);
    module::set_text(r.iname, module::kUnset);
    return rec;
}

// A virtual server for each line a walk reads, so that a short line takes
// nothing from the one before; parsing it asks no reference count.
virtual_ip_record server_record() {
    virtual_ip_record v{};
    v.refs_fixed = 1;
    return v;
}

// The virtual servers of the group's members whose lines exist, in line
// order, read through the open handle of servers.
std::vector<virtual_ip_record> member_servers(const module::registered &servers, const record &g) {
    std::vector<virtual_ip_record> found;
    for (int k = 1; servers.handle() && k <= members(); ++k) {
        virtual_ip_record v = server_record();
        if (g.members[k - 1] == '1' && servers->getnum(servers.handle(), &v, k)) found.push_back(v);
    }
    return found;
}

void virtual_ip_group_add_command(const record &g) {
    const std::string c = module::arg(g.chain);
    module::registered servers("virtual_ip");
    servers.open(MODULE_TAG(kSource), 0);
    for (const virtual_ip_record &v : member_servers(servers, g)) {
        RULE("/sbin/iptables -t nat -A %s -j %s", c.c_str(), module::arg(v.chain).c_str());
        RULE("/sbin/iptables -t nat -A %s -m utmmark --type vserver --mark 0x%s -j UTMMARK --set-type policy "
             "--or-mark 0x%x",
             c.c_str(), module::arg(v.mark).c_str(), 4);
    }
}

void virtual_ip_group_add_chain(const record &g) { RULE("/sbin/iptables -t nat -N %s", module::arg(g.chain).c_str()); }

void virtual_ip_group_del_command(const record &g) {
    RULE("/sbin/iptables -t nat -F %s", module::arg(g.chain).c_str());
}

int virtual_ip_group_flush_chain(void *rec) {
    if (!rec) return -1;
    const auto &g = *static_cast<const record *>(rec);
    virtual_ip_group_del_command(g);
    RULE("/sbin/iptables -t nat -X %s", module::arg(g.chain).c_str());
    return 0;
}

int command(void *rec) {
    if (!rec) return -1;
    virtual_ip_group_add_chain(*static_cast<const record *>(rec));
    virtual_ip_group_add_command(*static_cast<const record *>(rec));
    return 0;
}

int recommand(void *rec) {
    if (!rec) return -1;
    virtual_ip_group_del_command(*static_cast<const record *>(rec));
    virtual_ip_group_add_command(*static_cast<const record *>(rec));
    return 0;
}

int initial_system_cmd(void *rec, int, int flag) {
    if (!rec) return -1;
    if (flag) virtual_ip_group_add_command(*static_cast<const record *>(rec));
    return 0;
}

// A group's records follow its members, which follow the interface.
void *restorebyinterface(void *x, const interface_record *) { return x; }
wan_address_event *dynamicIPup(wan_address_event *event) { return event; }

int interface_check(record_file *h, const interface_record *iface) {
    if (!h || !iface) return 0;
    const std::string iname = module::bounded(iface->iname);
    const bool used = module::any_record<record, parse>(h, [&](const record &g, uint32_t) { return g.iname == iname; });
    return used ? 1 : 0;
}

// 2 when another group has rec's name, else 4 when a virtual server has it.
int isTheSame(record_file *h, void *rec, int n) {
    if (!h || !rec) return -1;
    const auto &wanted = *static_cast<const record *>(rec);
    const auto other = [&](const char *id, uint32_t line) {
        return !(n > 0 && line == static_cast<uint32_t>(n) && module::same_text(id, wanted.id));
    };
    if (module::any_record<record, parse>(h, [&](const record &g, uint32_t line) {
            return other(g.id, line) && module::same_text(g.name, wanted.name);
        }))
        return 2;
    module::registered servers("virtual_ip");
    record_file *vh = servers.open(MODULE_TAG(kSource), 0);
    uint32_t line = 0;
    for (int k = 1; vh; ++k) {
        virtual_ip_record v = server_record();
        if (!servers->getline(vh, &v, &line, k)) break;
        if (other(v.id, line) && module::same_text(v.name, wanted.name)) return 4;
    }
    return 0;
}

// The members are the virtual servers whose identifiers the repeated form
// value "select_members" names.
void *cgiParam(void *rec) {
    if (!rec) return nullptr;
    auto &r = *static_cast<record *>(rec);
    module::form_text(r.name, "name");
    module::form_identifier(r.id);
    module::follow_identifier(r, kPrefix);
    module::set_text(r.mark, id2mark(r.id));
    set_members(r, r.members);
    if (const char *value = qValueFirst("select_members")) {
        module::registered servers("virtual_ip");
        record_file *vh = servers.open(MODULE_TAG(kSource), 0);
        uint32_t line = 0;
        for (; value; value = qValueNext())
            for (int k = 1; vh; ++k) {
                virtual_ip_record v = server_record();
                if (!servers->getline(vh, &v, &line, k)) break;
                if (module::same_text(v.id, value)) {
                    if (line <= static_cast<uint32_t>(members())) r.members[line - 1] = '1';
                    break;
                }
            }
    }
    module::form_text(r.iname, "iname");
    return rec;
}

// Members named as the export writes them: the virtual servers of those
// names, by their lines.
void take_member_names(record &r, const std::vector<std::string> &names) {
    if (names.empty()) return;
    set_members(r, nullptr);
    module::registered servers("virtual_ip");
    record_file *vh = servers.open(MODULE_TAG(kSource), 0);
    uint32_t line = 0;
    for (int k = 1; vh; ++k) {
        virtual_ip_record v = server_record();
        if (!servers->getline(vh, &v, &line, k)) break;
        if (line <= static_cast<uint32_t>(members()) && std::find(names.begin(), names.end(), v.name) != names.end())
            r.members[line - 1] = '1';
    }
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
        if (const char *custom = v.raw("custom_member")) set_members(r, custom);
        else take_member_names(r, v.values_in("custom_member", "name"));
        v.text("iname", r.iname);
    });
    return rec;
}

// Members are exported by their names.
void xmlConf(const char *value, const char *) {
    module::registered servers("virtual_ip");
    if (!servers.open(MODULE_TAG(kSource), 0)) return;
    const auto entry = [&servers](module::xml_entry &e, const record &g) {
        e.text("name", g.name).text("iname", g.iname).open("custom_member");
        for (const virtual_ip_record &v : member_servers(servers, g)) e.text("name", v.name);
        e.close("custom_member");
    };
    module::export_records<record>(kTable, value, MODULE_TAG(kSource), entry, [](record &g) { g.refs_fixed = 1; });
}

const module_table kTable = {
    .name = "virtual_ip_group",
    .clear = module::clear<record>,
    .add = module::add<record, format>,
    .remove = module::remove,
    .modify = module::modify<record, format>,
    .interface_check = module::op(interface_check),
    .isTheSame = isTheSame,
    .set_default = set_default,
    .open = module::open<kFile>,
    .getline = module::getline<parse>,
    .getnum = module::getnum<parse>,
    .parse = parse,
    .close = module::close_file,
    .command = module::op(command),
    .discommand = module::op(virtual_ip_group_flush_chain),
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

module_table *virtual_ip_group_register(void) { return module::register_table(kTable); }

void virtual_ip_group_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
