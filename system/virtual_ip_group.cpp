// Named groups of virtual servers.  A group owns one nat chain that jumps
// to its members' chains and raises the policy bit for their traffic, so
// that one policy rule can name the whole group.  Membership is one
// character per line of the virtual server file.
#include <algorithm>
#include <string>
#include <vector>

#include "system/translation.h"
#include "webadmin.h"

namespace {

using module::holds;
using module::kind;
using record = virtual_ip_group_record;

constexpr int kFile = 56;
constexpr const char *kSource = "system/virtual_ip_group.c";
constexpr const char *kPrefix = "vipgroup";  // of the record's chain
constexpr const char *kGroups[] = {"virtual_ip", "service"};
using texts = module::texts<kGroups>;

// The line's fields in order.  The mark follows the identifier, which the
// export leaves out; the form names the members by the identifiers of
// their virtual servers ("select_members"), the export by their names, and
// a request as the line keeps them.
constexpr auto kFields = module::describe({
    MODULE_FIELD(record, name, kind::name).is(holds::text),
    MODULE_FIELD(record, id, kind::word).is(holds::identifier).imported_only(),
    MODULE_UNKEYED(record, mark, kind::word).is(holds::mark, 8),
    MODULE_KEYED(record, members, "custom_member", kind::word)
        .is(holds::flags, VIRTUAL_IP_GROUP_MEMBERS)
        .in_form("")
        .imported_only(),
    MODULE_FIELD(record, iname, kind::word).is(holds::ifname),
});

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

std::string vgroup_format(const record &r) { return module::format_fields(&r, kFields); }

void *vgroup_parse(char *line, void *rec) {
    module::parse_fields(line, rec, kFields);
    auto &r = *static_cast<record *>(rec);
    set_members(r, r.members);
    module::follow_identifier(r, kPrefix);
    return rec;
}

void *vgroup_defaults(void *rec, const char *) {
    if (!rec) return nullptr;
    auto &r = *static_cast<record *>(rec);
    translation::fresh_identity(r, kPrefix, "0");
    set_members(r, nullptr);
    module::set_text(r.iname, module::kUnset);
    return rec;
}

// Calls visit(server, line) on each virtual server until it returns true.
template <typename Visit>
void each_server(Visit visit) {
    module::each_record<virtual_ip_record>("virtual_ip", MODULE_TAG(kSource), visit);
}

// The virtual servers of the group's members whose lines exist, in line
// order.
std::vector<virtual_ip_record> member_servers(const record &g) {
    std::vector<virtual_ip_record> found;
    each_server([&](const virtual_ip_record &v, uint32_t line) {
        if (line <= static_cast<uint32_t>(members()) && g.members[line - 1] == '1') found.push_back(v);
        return false;
    });
    return found;
}

void virtual_ip_group_add_command(const record &g) {
    const std::string c = module::arg(g.chain);
    for (const virtual_ip_record &v : member_servers(g)) {
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

int vgroup_command(void *rec) {
    if (!rec) return -1;
    virtual_ip_group_add_chain(*static_cast<const record *>(rec));
    virtual_ip_group_add_command(*static_cast<const record *>(rec));
    return 0;
}

int vgroup_recommand(void *rec) {
    if (!rec) return -1;
    virtual_ip_group_del_command(*static_cast<const record *>(rec));
    virtual_ip_group_add_command(*static_cast<const record *>(rec));
    return 0;
}

int vgroup_initial_system_cmd(void *rec, int, int flag) {
    if (!rec) return -1;
    if (flag) virtual_ip_group_add_command(*static_cast<const record *>(rec));
    return 0;
}

// A group's records follow its members, which follow the interface.
void *vgroup_restorebyinterface(void *x, const interface_record *) { return x; }
wan_address_event *vgroup_dynamicIPup(wan_address_event *event) { return event; }

int vgroup_interface_check(record_file *h, const interface_record *iface) {
    if (!h || !iface) return 0;
    const std::string iname = module::bounded(iface->iname);
    return module::uses_interface<record, vgroup_parse, &record::iname>(h, iname.c_str());
}

// 2 when another group has rec's name, else 4 when a virtual server has it.
int vgroup_isTheSame(record_file *h, void *rec, int n) {
    if (!h || !rec) return -1;
    const auto &wanted = *static_cast<const record *>(rec);
    const auto other = [&](const char *id, uint32_t line) {
        return !(n > 0 && line == static_cast<uint32_t>(n) && module::same_text(id, wanted.id));
    };
    if (module::any_record<record, vgroup_parse>(h, [&](const record &g, uint32_t line) {
            return other(g.id, line) && module::same_text(g.name, wanted.name);
        }))
        return 2;
    bool server = false;
    each_server([&](const virtual_ip_record &v, uint32_t line) {
        return server = other(v.id, line) && module::same_text(v.name, wanted.name);
    });
    return server ? 4 : 0;
}

// The described fields, and the members: the virtual servers whose
// identifiers the repeated form value "select_members" names.
bool form_members(record &r) {
    bool whole = !module::form_fields(&r, kFields);
    set_members(r, r.members);
    const module::field &id = *module::field_named(kFields, "id");
    std::vector<std::string> named;
    for (const char *value = qValueFirst("select_members"); value; value = qValueNext()) {
        if (module::accepts(id, value)) named.push_back(value);
        else whole = false;
    }
    if (!named.empty())
        each_server([&](const virtual_ip_record &v, uint32_t line) {
            if (line <= static_cast<uint32_t>(members()) && std::find(named.begin(), named.end(), v.id) != named.end())
                r.members[line - 1] = '1';
            return false;
        });
    return whole;
}

void *vgroup_cgiParam(void *rec) { return translation::form<record>(rec, kPrefix, true, form_members); }

// The described fields; members named as the export writes them are the
// virtual servers of those names, by their lines.
bool request_members(const module::xml_values &v, record &r) {
    const bool whole = !module::read_fields(v, &r, kFields);
    set_members(r, r.members);
    const std::vector<std::string> names = v.values_in("custom_member", "name");
    if (!v.raw("custom_member") && !names.empty()) {
        set_members(r, nullptr);
        each_server([&](const virtual_ip_record &s, uint32_t line) {
            const bool named = std::find(names.begin(), names.end(), s.name) != names.end();
            if (named && line <= static_cast<uint32_t>(members())) r.members[line - 1] = '1';
            return false;
        });
    }
    return whole;
}

void *vgroup_xmlParam(record_file *, void *rec, const char *path) {
    return translation::request<record>(rec, path, kPrefix, request_members);
}

// Members are exported by their names; a group without any has no
// element for them.
void vgroup_entry(module::xml_entry &e, const record &g) {
    e.text("name", g.name).text("iname", g.iname);
    const std::vector<virtual_ip_record> servers = member_servers(g);
    if (servers.empty()) return;
    e.open("custom_member");
    for (const virtual_ip_record &v : servers) e.text("name", v.name);
    e.close("custom_member");
}

void vgroup_xmlConf(const char *value, const char *) {
    module::export_records<record>(kTable, value, MODULE_TAG(kSource), vgroup_entry, module::spare_references<record>);
}

const module_table kTable = {
    .name = "virtual_ip_group",
    .clear = module::clear<record>,
    .add = module::add<record, vgroup_format>,
    .remove = module::remove,
    .modify = module::modify<record, vgroup_format>,
    .interface_check = module::op(vgroup_interface_check),
    .isTheSame = vgroup_isTheSame,
    .set_default = vgroup_defaults,
    .open = module::open<kFile>,
    .getline = module::getline<vgroup_parse>,
    .getnum = module::getnum<vgroup_parse>,
    .parse = vgroup_parse,
    .close = module::close_file,
    .command = module::op(vgroup_command),
    .discommand = module::op(virtual_ip_group_flush_chain),
    .recommand = module::op(vgroup_recommand),
    .restorebyinterface = module::op(vgroup_restorebyinterface),
    .dynamicIPup = module::op(vgroup_dynamicIPup),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(vgroup_cgiParam),
    .initial_system_cmd = module::op(vgroup_initial_system_cmd),
    .xmlParam = vgroup_xmlParam,
    .xmlConf = module::op(vgroup_xmlConf),
};

}  // namespace

const module::description module::descriptions::virtual_ip_group{"virtual_ip_group", kFields};

extern "C" {

module_table *virtual_ip_group_register(void) { return module::register_table(kTable); }

void virtual_ip_group_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
