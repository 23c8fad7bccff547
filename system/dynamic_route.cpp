// Dynamic routing (RIP) on the appliance's interfaces: one record per
// interface.  The routing daemon's configuration is built from every record,
// the networks of the interfaces and their further subnets, and whether
// static routes exist to be announced; the daemon is restarted with it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "system/module.h"
#include "system/module_xml.h"

namespace {

constexpr char kSource[] = "system/dynamic_route.c";
constexpr int kFile = 21;
constexpr char kConfig[] = "/etc/rip.conf";
constexpr char kPidFile[] = "/var/run/routed.pid";

std::string format_rip(const dynamic_route_record &r) {
    return module::line().text(r.iname).number(r.version).number(r.passive).str();
}

void *parse_rip(char *text, void *rec) {
    auto &r = *static_cast<dynamic_route_record *>(rec);
    const module::fields f(text);
    f.text(0, r.iname);
    r.version = f.integer(1);
    r.passive = f.integer(2);
    return rec;
}

// Calls visit on every record of the named module's file (opened with
// selector) until it returns true.
template <typename Record, typename Visit>
void each_of(const char *module_name, void *selector, Visit visit) {
    module::registered table(module_name);
    record_file *h = table.open(MODULE_TAG(kSource), 0, selector);
    Record r{};
    for (int k = 1; h && table->getline(h, &r, nullptr, k); ++k)
        if (visit(r)) return;
}

std::string network(const char *address, const char *mask) {
    return std::string(my_netid(address, mask)) + "/" + std::to_string(my_mask_to_int(mask));
}

// The configuration without the record named except (null: every record);
// whether any interface is left to route on.
bool configuration(const char *except, std::string &text) {
    bool any = false;
    each_of<dynamic_route_record>("dynamic route", nullptr, [&](const dynamic_route_record &d) {
        if (d.version < 1 || !module::is_ifname(d.iname) || (except && module::same_text(d.iname, except)))
            return false;
        any = true;
        text += "interface " + std::string(d.iname) + " version " + std::to_string(d.version) +
                (d.passive ? " passive\n" : "\n");
        each_of<interface_record>("interface", nullptr, [&](const interface_record &i) {
            if (module::same_text(i.iname, d.iname) && module::has_ipv4(i.ipaddr) && module::is_ipv4(i.netmask))
                text += "network " + network(i.ipaddr, i.netmask) + "\n";
            return false;
        });
        for (void *selector : {static_cast<void *>(nullptr), reinterpret_cast<void *>(1)})
            each_of<msubnet_record>("multiple subnet", selector, [&](const msubnet_record &s) {
                if (module::same_text(s.iname, d.iname) && module::has_ipv4(s.ipaddr) && module::is_ipv4(s.netmask))
                    text += "network " + network(s.ipaddr, s.netmask) + "\n";
                return false;
            });
        return false;
    });
    bool routes = false;
    each_of<route_record>("route table", nullptr, [&](const route_record &) { return routes = true; });
    if (routes) text += "redistribute static\n";
    return any;
}

int rebuild(const char *except) {
    std::string text;
    try {
        const bool any = configuration(except, text);
        runtime::file_handle file(std::fopen(platform::path(kConfig).c_str(), "w+"));
        if (file) std::fputs(text.c_str(), file.get());
        my_system("/bin/kill `/bin/cat %s` > /dev/null 2>&1", kPidFile);
        if (any) my_system("/usr/sbin/routed -f %s > /dev/null 2>&1", kConfig);
    } catch (...) {
        return -1;
    }
    return 0;
}

int rip_command(void *rec, int) { return rec ? rebuild(nullptr) : -1; }
int rip_discommand(void *rec, int) { return rec ? rebuild(static_cast<const dynamic_route_record *>(rec)->iname) : -1; }
int rip_recommand(void *) { return rebuild(nullptr); }
int rip_initial_system_cmd(void *rec, int, int flag) { return flag ? rip_command(rec, 0) : 0; }

int rip_restorebyinterface(const char *iname) {
    bool used = false;
    each_of<dynamic_route_record>("dynamic route", nullptr, [&](const dynamic_route_record &d) {
        return used = iname && module::same_text(d.iname, iname) && d.version > 0;
    });
    return used ? rebuild(nullptr) : 0;
}

void *rip_set_default(void *rec, const char *) {
    if (!rec) return rec;
    auto &r = *static_cast<dynamic_route_record *>(rec);
    module::set_text(r.iname, module::kUnset);
    r.version = 2;
    r.passive = 0;
    return rec;
}

// An interface name that is not one is refused; the version is 0 to 2.
void *rip_cgiParam(dynamic_route_record *rec) {
    if (!rec) return rec;
    rip_set_default(rec, nullptr);
    const char *iname = qValue("%s", "iname");
    if (module::is_ifname(iname)) module::set_text(rec->iname, iname);
    const int32_t version = module::form_integer("version", 2);
    rec->version = version >= 0 && version <= 2 ? version : 2;
    rec->passive = module::form_integer("passive") ? 1 : 0;
    return rec;
}

void rip_entry(module::xml_entry &e, const dynamic_route_record &r) {
    e.text("interface", r.iname).number("version", r.version).number("passive", r.passive);
}

constexpr const char *kGroups[] = {"route_table"};
using texts = module::texts<kGroups>;

extern const module_table kTable;

void rip_xmlConf(const char *function) {
    module::export_xml<dynamic_route_record, rip_entry>(kTable, function, MODULE_TAG(kSource));
}

const module_table kTable = {
    .name = "dynamic route",
    .clear = module::clear<dynamic_route_record>,
    .add = module::add<dynamic_route_record, format_rip>,
    .modify = module::modify<dynamic_route_record, format_rip>,
    .set_default = rip_set_default,
    .open = module::open<kFile>,
    .getline = module::getline<parse_rip>,
    .getnum = module::getnum<parse_rip>,
    .parse = parse_rip,
    .close = module::close_file,
    .command = module::op(rip_command),
    .discommand = module::op(rip_discommand),
    .recommand = module::op(rip_recommand),
    .restorebyinterface = module::op(rip_restorebyinterface),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(rip_cgiParam),
    .initial_system_cmd = module::op(rip_initial_system_cmd),
    .xmlConf = module::op(rip_xmlConf),
};

}  // namespace

extern "C" {

module_table *dynamic_route_register(void) { return module::register_table(kTable); }
void dynamic_route_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
