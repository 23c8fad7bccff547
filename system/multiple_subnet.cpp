// Further subnets of an interface: an additional address on the device that
// carries the interface (file 18), or a VLAN of the port with its own
// subnet (file 226).  After a change the static routes and the dynamic
// routing are set again, since their gateways and networks may be new.
#include <optional>
#include <string>

#include "system/module.h"
#include "system/module_xml.h"

namespace {

constexpr char kSource[] = "system/multiple_subnet.c";
constexpr int kSubnetFile = 18, kVlanFile = 226;
void *const kVlans = reinterpret_cast<void *>(1);  // open's selector of the VLAN file

using module::holds;
using module::kind;
using record = msubnet_record;

// A VLAN of the port (1-4094) or an additional subnet on its device (0).
constexpr auto kFields = module::describe({
    MODULE_KEYED(record, iname, "interface", kind::word).is(holds::ifname).or_default(module::kUnset),
    MODULE_FIELD(record, vlan, kind::number).is(holds::number, 0, 4094).or_default("0"),
    MODULE_FIELD(record, ipaddr, kind::word).is(holds::ipv4).or_default("0.0.0.0"),
    MODULE_FIELD(record, netmask, kind::word).is(holds::mask).or_default("255.255.255.255"),
});

std::string format_subnet(const msubnet_record &r) { return module::format_fields(&r, kFields); }

void *parse_subnet(char *text, void *rec) {
    module::parse_fields(text, rec, kFields);
    return rec;
}

record_file *msubnet_open(void *selector, const char *tag, int mode) {
    return module::open_file(selector ? kVlanFile : kSubnetFile, tag, mode);
}

// The device of the record: the VLAN device of the port, or the device that
// carries the interface's own addresses.
std::optional<std::string> device_of(const msubnet_record &r) {
    if (r.vlan > 0) return std::string(r.iname) + "." + std::to_string(r.vlan);
    char device[32];
    if (interface_route_device(r.iname, device, sizeof device) != 0) return std::nullopt;
    return std::string(device);
}

int apply(const msubnet_record &r, bool on) {
    if (!module::well_formed(&r, kFields) || !module::has_ipv4(r.ipaddr)) return -1;
    const std::optional<std::string> device = device_of(r);
    if (!device) return -1;
    const std::string dev = module::arg(device->c_str());
    if (on && r.vlan > 0) {
        my_system("%s add %s %d", "/sbin/vconfig", module::arg(r.iname).c_str(), r.vlan);
        my_system("%s set %s %s", "/sbin/ip link", dev.c_str(), "up");
    }
    my_system("%s %s %s/%d broadcast %s dev %s", "/sbin/ip addr", on ? "add" : "del", module::arg(r.ipaddr).c_str(),
              my_mask_to_int(r.netmask), my_broadcast(r.ipaddr, r.netmask), dev.c_str());
    if (!on && r.vlan > 0) my_system("%s rem %s", "/sbin/vconfig", dev.c_str());
    return 0;
}

int msubnet_command(void *rec, int) { return rec ? apply(*static_cast<const msubnet_record *>(rec), true) : -1; }
int msubnet_discommand(void *rec, int) { return rec ? apply(*static_cast<const msubnet_record *>(rec), false) : -1; }

// The routes and the dynamic routing that depend on the subnets.
void routes_again() {
    for (const char *name : {"route table", "dynamic route"}) {
        module::registered table(name);
        if (table && table->recommand) reinterpret_cast<route_all_fn>(table->recommand)(nullptr);
    }
}

int msubnet_recommand(void *old_rec, void *new_rec) {
    if (old_rec) msubnet_discommand(old_rec, 0);
    if (new_rec) msubnet_command(new_rec, 0);
    routes_again();
    return 0;
}

// Calls visit on the records of both files until it returns true.
template <typename Visit>
void each_subnet(Visit visit) {
    for (void *selector : {static_cast<void *>(nullptr), kVlans}) {
        record_file *h = msubnet_open(selector, MODULE_TAG(kSource), 0);
        if (!h) continue;
        const bool stop = module::any_record<msubnet_record, parse_subnet>(h, visit);
        my_CloseFile(h);
        if (stop) return;
    }
}

int msubnet_restorebyinterface(const char *iname) {
    if (!iname) return 0;
    each_subnet([&](const msubnet_record &r, uint32_t) {
        if (module::same_text(r.iname, iname)) {
            apply(r, false);
            apply(r, true);
        }
        return false;
    });
    return 0;
}

int msubnet_initial_system_cmd(void *rec, int, int flag) { return flag ? msubnet_command(rec, 0) : 0; }

// Subnets and VLANs both tie a record to its interface, whichever of the
// two files the caller opened.
int msubnet_interface_check(record_file *h, const interface_record *iface) {
    if (!h || !iface) return 0;
    bool used = false;
    each_subnet([&](const msubnet_record &r, uint32_t) { return used = module::same_text(r.iname, iface->iname); });
    return used ? 1 : 0;
}

void *same_value(void *value) { return value; }
void *msubnet_set_default(void *rec, const char *) { return rec; }

// A value missing from the form or the entry leaves its field's default.
void *msubnet_cgiParam(msubnet_record *rec) {
    if (!rec) return rec;
    return module::form_fields(rec, kFields) ? nullptr : rec;
}

void *msubnet_xmlEntry(xml_node *entry, void *rec) {
    if (!rec) return rec;
    module::default_fields(rec, kFields);
    return module::read_fields(module::xml_values(entry), rec, kFields) ? nullptr : rec;
}

constexpr const char *kGroups[] = {"multiple_subnet"};
using texts = module::texts<kGroups>;

// Subnets and VLANs in one "_function" element.
void msubnet_xmlConf(const char *function) {
    texts::language(now_language(RS(13)), nullptr);
    try {
        std::string entries;
        each_subnet([&](const msubnet_record &r, uint32_t) {
            module::xml_entry e;
            module::export_fields(e, &r, kFields);
            entries += "<_entry>" + e.str() + "</_entry>";
            return false;
        });
        if (!entries.empty())
            texts::print((module::function_open(function) + entries + module::kFunctionClose).c_str());
    } catch (...) {
        // Out of memory: nothing is printed.
    }
}

int msubnet_isTheSame(record_file *h, void *rec, int n) {
    return module::isTheSame<msubnet_record, parse_subnet, &msubnet_record::ipaddr, nullptr>(h, rec, n);
}

// Each entry goes to the file of its kind; an address already stored there
// is left out.
int msubnet_import_xmlConf(xml_node *function) {
    if (!function) return -1;
    my_RemoveFile(kSubnetFile);
    my_RemoveFile(kVlanFile);
    record_file *subnets = msubnet_open(nullptr, MODULE_TAG(kSource), 1);
    record_file *vlans = msubnet_open(kVlans, MODULE_TAG(kSource), 1);
    for (xml_node *e = module::next_entry(function, nullptr); e && subnets && vlans;
         e = module::next_entry(function, e)) {
        msubnet_record r{};
        msubnet_xmlEntry(e, &r);
        record_file *h = r.vlan > 0 ? vlans : subnets;
        if (msubnet_isTheSame(h, &r, 0) != 1) module::add<msubnet_record, format_subnet>(h, &r);
    }
    module::close_file(&subnets);
    module::close_file(&vlans);
    return 0;
}

const module_table kTable = {
    .name = "multiple subnet",
    .clear = module::clear<msubnet_record>,
    .add = module::add<msubnet_record, format_subnet>,
    .remove = module::remove,
    .modify = module::modify<msubnet_record, format_subnet>,
    .interface_check = module::op(msubnet_interface_check),
    .isTheSame = msubnet_isTheSame,
    .set_default = msubnet_set_default,
    .open = msubnet_open,
    .getline = module::getline<parse_subnet>,
    .getnum = module::getnum<parse_subnet>,
    .parse = parse_subnet,
    .close = module::close_file,
    .command = module::op(msubnet_command),
    .discommand = module::op(msubnet_discommand),
    .recommand = module::op(msubnet_recommand),
    .slot17 = module::op(same_value),
    .slot18 = module::op(same_value),
    .restorebyinterface = module::op(msubnet_restorebyinterface),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(msubnet_cgiParam),
    .initial_system_cmd = module::op(msubnet_initial_system_cmd),
    .xmlConf = module::op(msubnet_xmlConf),
    .xmlEntry = module::op(msubnet_xmlEntry),
    .import_xmlConf = module::op(msubnet_import_xmlConf),
};

}  // namespace

const module::description module::descriptions::multiple_subnet{"multiple subnet", kFields};

extern "C" {

module_table *msubnet_register(void) { return module::register_table(kTable); }
void msubnet_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
