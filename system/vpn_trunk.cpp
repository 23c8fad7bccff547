// The VPN trunks: a tunnel of one of the VPN modules and the networks it
// carries.  An IPsec tunnel gets the networks in its IKE connection; the
// other tunnels get a route of the remote network to their device.
#include <cstring>
#include <string>

#include "system/module_xml.h"
#include "system/vpn_util.h"

namespace {

using module::arg;
using module::holds;
using module::kind;
using module::same_text;
using record = vpn_trunk_record;

constexpr const char *kSource = "system/vpn_trunk.c";
constexpr int kFile = 58, kWizardFile = 66;
constexpr const char *kGroups[] = {"vpn_trunk"};
using texts = module::texts<kGroups>;

#define ADDRESS(member, what) MODULE_FIELD(record, member, kind::word).is(what).or_default("0.0.0.0")
constexpr auto kFields = module::describe({
    MODULE_FIELD(record, name, kind::name).is(holds::text),
    // A request names the trunk it is about by its identifier, when it has one.
    MODULE_FIELD(record, id, kind::word).is(holds::identifier).in_form("").imported_only(),
    MODULE_FIELD(record, type, kind::number).is(holds::number, TRUNK_IPSEC, TRUNK_GRE),
    MODULE_FIELD(record, tunnel, kind::name).is(holds::text),
    ADDRESS(local_ip, holds::ipv4),
    ADDRESS(local_mask, holds::mask),
    ADDRESS(remote_ip, holds::ipv4),
    ADDRESS(remote_mask, holds::mask),
    MODULE_FIELD(record, whole_network, kind::number).is(holds::number, 0, 1),
});
#undef ADDRESS

std::string format_trunk(const record &r) { return module::format_fields(&r, kFields); }

void *parse_trunk(char *line, void *rec) {
    module::parse_fields(line, rec, kFields);
    return rec;
}

void *trunk_defaults(void *rec, const char *) {
    if (!rec) return rec;
    auto &r = *static_cast<record *>(rec);
    r = record{};
    module::set_text(r.name, module::kUnset);
    module::set_text(r.id, my_chainID(0));
    module::set_text(r.tunnel, module::kUnset);
    for (char *address : {r.local_ip, r.local_mask, r.remote_ip, r.remote_mask})
        module::set_text(address, 16, "0.0.0.0");
    return rec;
}

// A trunk and a trunk group are named alike by the policies: neither name
// may be taken twice.
int trunk_isTheSame(record_file *h, void *rec, int n) {
    const int trunks = module::isTheSame<record, parse_trunk, &record::name, &record::id>(h, rec, n);
    if (trunks != 0) return trunks;
    const char *name = static_cast<const record *>(rec)->name;
    return module::each_record<vpn_trunk_group_record>(
               "vpn_trunk_group", MODULE_TAG(kSource),
               [&](const vpn_trunk_group_record &g, uint32_t) { return same_text(g.name, name); })
               ? 1
               : 0;
}

// The stored tunnel of the module the trunk names, found by its name field.
template <typename Tunnel, std::size_t Size>
bool find_tunnel(const char *module_name, char (Tunnel::*field)[Size], const char *wanted, Tunnel &out) {
    return module::each_record<Tunnel>(module_name, MODULE_TAG(kSource), [&](const Tunnel &t, uint32_t) {
        if (!same_text(t.*field, wanted)) return false;
        out = t;
        return true;
    });
}

// The device and gateway a route of the remote network takes; false for a
// tunnel that is missing or has no device of its own.
bool route_target(const record &r, std::string &target) {
    if (r.type == TRUNK_PPTP_CLIENT) {
        vpn_pptp_client_record c{};
        if (!find_tunnel("vpn_pptp_client", &vpn_pptp_client_record::interface_id, r.tunnel, c)) return false;
        target = "dev " + arg(("WAN" + std::to_string(c.wan_num) + "_C" + c.interface_id).c_str());
    } else if (r.type == TRUNK_GRE) {
        gre_tunnel_record g{};
        if (!find_tunnel("gre_tunnel", &gre_tunnel_record::name, r.tunnel, g)) return false;
        target = "dev " + arg(("WAN" + std::to_string(g.wan_num) + "_T" + g.mark).c_str());
    } else if (r.type == TRUNK_PPTP_SERVER) {
        vpn_pptp_server_record a{};
        if (!find_tunnel("vpn_pptp_server", &vpn_pptp_server_record::user_name, r.tunnel, a) || !a.ip_mode ||
            !module::is_set(a.fixed_ip))
            return false;
        target = "via " + arg(a.fixed_ip);
    } else {
        return false;
    }
    return true;
}

void route(const char *verb, const record &r) {
    std::string target;
    if (route_target(r, target))
        my_system("%s %s %s/%d %s", "/sbin/ip route", verb, arg(r.remote_ip).c_str(), my_mask_to_int(r.remote_mask),
                  target.c_str());
}

void *trunk_command(record *r) {
    if (!r) return r;
    if (r->type != TRUNK_IPSEC) {
        route("replace", *r);
        return r;
    }
    vpn_ipsec_autokey_record t{};
    if (!find_tunnel("vpn_ipsec_autokey", &vpn_ipsec_autokey_record::name, r->tunnel, t)) return r;
    ipsec_subnets s{};
    module::set_text(s.local_ip, r->local_ip);
    module::set_text(s.local_mask, r->local_mask);
    s.whole_network = r->whole_network;
    module::set_text(s.remote_ip, r->remote_ip);
    module::set_text(s.remote_mask, r->remote_mask);
    module::set_text(s.updown, r->id);
    recommandIPSecAutokey(&t, &s);
    if (!t.hand_connection) connectIPSecAutokey(&t);
    return r;
}

void *trunk_discommand(record *r) {
    if (!r) return r;
    if (r->type != TRUNK_IPSEC) {
        route("del", *r);
        return r;
    }
    vpn_ipsec_autokey_record t{};
    if (find_tunnel("vpn_ipsec_autokey", &vpn_ipsec_autokey_record::name, r->tunnel, t)) disconnectIPSecAutokey(&t);
    return r;
}

void *trunk_recommand(record *now, record *before) {
    if (!now || !before) return now;
    trunk_discommand(before);
    return trunk_command(now);
}

void *trunk_initial_system_cmd(record *r, int, int flag) { return flag ? trunk_command(r) : r; }

void *trunk_cgiParam(record *r) {
    if (!r) return r;
    return module::form_fields(r, kFields) ? nullptr : r;
}

void *trunk_xmlParam(record_file *, void *rec, const char *path) {
    if (!rec) return rec;
    const module::field *refused = nullptr;
    module::read_request(path, [&](const module::xml_values &v) { refused = module::read_fields(v, rec, kFields); });
    return refused ? nullptr : rec;
}

void trunk_entry(module::xml_entry &e, const record &r) { module::export_fields(e, &r, kFields); }

extern const module_table kTable;

void trunk_xmlConf(const char *function) {
    module::export_xml<record, trunk_entry>(kTable, function, MODULE_TAG(kSource));
}

const module_table kTable = {
    .name = "vpn_trunk",
    .clear = module::clear<record>,
    .add = module::add<record, format_trunk>,
    .remove = module::remove,
    .modify = module::modify<record, format_trunk>,
    .isTheSame = trunk_isTheSame,
    .set_default = trunk_defaults,
    .open = module::open_wizard<kFile, kWizardFile>,
    .getline = module::getline<parse_trunk>,
    .getnum = module::getnum<parse_trunk>,
    .parse = parse_trunk,
    .close = module::close_file,
    .command = module::op(trunk_command),
    .discommand = module::op(trunk_discommand),
    .recommand = module::op(trunk_recommand),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(trunk_cgiParam),
    .initial_system_cmd = module::op(trunk_initial_system_cmd),
    .xmlParam = trunk_xmlParam,
    .xmlConf = module::op(trunk_xmlConf),
};

}  // namespace

const module::description module::descriptions::vpn_trunk{"vpn_trunk", kFields};

extern "C" {

module_table *vpn_trunk_register(void) { return module::register_table(kTable); }
void vpn_trunk_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
