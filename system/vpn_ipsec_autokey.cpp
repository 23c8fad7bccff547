// The IPsec tunnels with automatic keying: their records, their marking
// chains, their hand-over to the IKE daemon, the secrets files it reads,
// and the GRE bridges that join a tunnel to a LAN or DMZ port.
#include <cstdint>
#include <cstring>
#include <string>

#include "system/module_xml.h"
#include "system/vpn_util.h"

namespace {

using module::arg;
using module::holds;
using module::is_set;
using module::kind;
using record = vpn_ipsec_autokey_record;

constexpr const char *kSource = "system/vpn_ipsec_autokey.c";
constexpr const char *kChainPrefix = "vpnAuto";
constexpr int kFile = 57, kWizardFile = 65;
constexpr const char *kSecrets = "/etc/ipsec.secrets";
constexpr const char *kXauthUsers = "/etc/ipsec.d/passwd";
constexpr const char *kGroups[] = {"vpn_ipsec_autokey", "vpn_trunk"};
using texts = module::texts<kGroups>;

// Line order; the keys are those of the form and the XML.  The chains
// "vpnAuto_ID" + 4 characters stay within 28 with an identifier of 14
// digits; the certificate names name files "NAME.crt" and "NAME.key".
#define WORD(member, what) MODULE_FIELD(record, member, kind::word).is(what)
#define FLAG(member) MODULE_FIELD(record, member, kind::number).is(holds::number, 0, 1)
#define COUNT(member, low, high) MODULE_FIELD(record, member, kind::number).is(holds::number, low, high)
// A port whose bridge a tunnel joins, 0 for none.
constexpr module::field bridge_port(module::field f) {
    f = f.port_number();
    f.low = 0;
    return f;
}
constexpr auto kFields = module::describe({
    MODULE_FIELD(record, name, kind::name).is(holds::text),
    // A request names the tunnel it is about by its identifier, when it has one.
    WORD(id, holds::identifier).imported_only(),
    MODULE_FIELD(record, wan_num, kind::number).port_number(),
    FLAG(fixed_or_dynamic),
    WORD(remote, holds::host),
    FLAG(auth_method),
    WORD(key, holds::secret),
    WORD(inside_pem_name, holds::label),
    WORD(outside_pem_name, holds::label),
    WORD(enc_alg_I, holds::word),
    WORD(hash_alg_I, holds::word),
    COUNT(group, 1, 8192),
    COUNT(lifetime_I, 0, INT32_MAX),
    FLAG(esp_or_ah),
    WORD(enc_alg_II, holds::word),
    WORD(hash_alg_II, holds::word),
    COUNT(lifetime_II, 0, INT32_MAX),
    COUNT(pfs, 0, 8192),
    WORD(mode, holds::word),
    WORD(my_id, holds::label),
    WORD(peer_id, holds::label),
    WORD(local_ip, holds::ipv4),
    WORD(remote_ip, holds::ipv4),
    WORD(local_ip_mask, holds::mask),
    FLAG(hand_connection),
    COUNT(dpd_delay, 0, INT32_MAX),
    COUNT(dpd_timeout, 0, INT32_MAX),
    WORD(gredevid, holds::ifname),
    FLAG(xauth_enable),
    WORD(xauth_auth_user, holds::label),
    WORD(xauth_username, holds::label),
    WORD(xauth_password, holds::secret),
    FLAG(en_l2tp_over_ipsec),
    COUNT(greType, 0, INT32_MAX),
    bridge_port(MODULE_FIELD(record, greInterface, kind::number)),
});
#undef WORD
#undef FLAG
#undef COUNT

std::string format_tunnel(const record &t) { return module::format_fields(&t, kFields); }

void *parse_tunnel(char *line, void *rec) {
    module::parse_fields(line, rec, kFields);
    auto &t = *static_cast<record *>(rec);
    module::set_chain(t.chain, kChainPrefix, t.id);
    return rec;
}

void *tunnel_defaults(void *rec, const char *) {
    if (!rec) return rec;
    auto &t = *static_cast<record *>(rec);
    t = record{};
    for (const module::field &f : kFields)
        if (!f.is_number()) module::set_text(module::text_in(&t, f), f.size, module::kUnset);
    module::set_text(t.id, my_chainID(0));
    module::set_chain(t.chain, kChainPrefix, t.id);
    t.wan_num = 1;
    module::set_text(t.enc_alg_I, "3des");
    module::set_text(t.hash_alg_I, "md5");
    t.group = 2;
    t.lifetime_I = 3600;
    module::set_text(t.enc_alg_II, "3des");
    module::set_text(t.hash_alg_II, "md5");
    t.lifetime_II = 28800;
    module::set_text(t.mode, "Main");
    return rec;
}

// A tunnel the form does not name keeps the identifier its defaults gave it.
void *tunnel_cgiParam(record *rec) {
    if (!rec) return rec;
    record t = *rec;
    if (module::form_fields(&t, kFields)) return nullptr;
    if (module::same_text(t.id, module::kUnset)) module::set_text(t.id, rec->id);
    module::set_chain(t.chain, kChainPrefix, t.id);
    *rec = t;
    return rec;
}

void *tunnel_xmlParam(record_file *, void *rec, const char *path) {
    if (!rec) return rec;
    auto &t = *static_cast<record *>(rec);
    if (!module::read_request_fields(path, t, kFields)) return nullptr;
    module::set_chain(t.chain, kChainPrefix, t.id);
    return rec;
}

void tunnel_entry(module::xml_entry &e, const record &t) { module::export_fields(e, &t, kFields); }

extern const module_table kTable;

void vpn_ipsec_autokey_xmlConf(const char *function) {
    module::export_xml<record, tunnel_entry>(kTable, function, MODULE_TAG(kSource));
}

// Calls visit on every stored tunnel.
template <typename Visit>
void each_tunnel(Visit visit) {
    module::each_record<record>(kTable.name, MODULE_TAG(kSource), [&](const record &t, uint32_t) {
        visit(t);
        return false;
    });
}

// The networks of the first trunk that names the tunnel, with the trunk's
// identifier as the up-down word; false when no trunk does.
bool trunk_networks(const record &t, ipsec_subnets &s) {
    auto names_tunnel = [&](const vpn_trunk_record &k, uint32_t) {
        if (k.type != TRUNK_IPSEC || std::strcmp(k.tunnel, t.name) != 0) return false;
        module::set_text(s.local_ip, k.local_ip);
        module::set_text(s.local_mask, k.local_mask);
        s.whole_network = k.whole_network;
        module::set_text(s.remote_ip, k.remote_ip);
        module::set_text(s.remote_mask, k.remote_mask);
        module::set_text(s.updown, k.id);
        return true;
    };
    return module::each_record<vpn_trunk_record>("vpn_trunk", MODULE_TAG(kSource), names_tunnel);
}

// The tunnel handed to the IKE daemon and, unless it is connected by hand,
// initiated.  A tunnel that carries networks waits for a trunk to name them.
void apply_connection(const record &t) {
    ipsec_subnets s{};
    module::set_text(s.updown, "0");
    if (!trunk_networks(t, s) && vpn::carries_networks(t)) return;
    recommandIPSecAutokey(&t, &s);
    if (!t.hand_connection) connectIPSecAutokey(&t);
}

void *tunnel_command(record *t) {
    if (!t) return t;
    vpn_ipsec_autokey_add_chain(t);
    vpn_ipsec_autokey_set_gre_bridge("A", t);
    apply_connection(*t);
    return t;
}

void *tunnel_recommand(record *now, record *before) {
    if (!now || !before) return now;
    vpn_ipsec_autokey_del_chain(before);
    return tunnel_command(now);
}

void *tunnel_initial_system_cmd(record *t, int, int flag) { return flag ? tunnel_command(t) : t; }

// The tunnels carried by the interface's port, each handed to op.
template <typename Op>
void on_port(int port, Op op) {
    each_tunnel([&](const record &t) {
        if (t.wan_num == port) op(t);
    });
}

const interface_record *tunnel_restorebyinterface(const interface_record *iface) {
    if (iface) on_port(iface->port, apply_connection);
    return iface;
}

// A new address changes the identities of the secrets file too.
wan_address_event *tunnel_dynamicIPup(wan_address_event *event) {
    if (!event) return event;
    Rewrite_IpsecSecrets();
    on_port(event->port, apply_connection);
    return event;
}

wan_address_event *tunnel_dynamicIPdown(wan_address_event *event) {
    if (event) on_port(event->port, [](const record &t) { disconnectIPSecAutokey(&t); });
    return event;
}

int tunnel_interface_check(record_file *h, const interface_record *iface) {
    if (!h || !iface) return 0;
    const int port = return_contrast_port_num(module::bounded(iface->iname).c_str());
    if (port < 1) return 0;
    return module::any_record<record, parse_tunnel>(h, [&](const record &t, uint32_t) { return t.wan_num == port; });
}

// ---- Secrets --------------------------------------------------------------

// A tunnel with a key authenticates by it, whatever its method says;
// without one by its local certificate (none: no line).  A tunnel whose
// values would break its line has none.
void write_secret(std::FILE *f, const record &t) {
    if (!module::holds_values(&t, kFields, {"key", "remote", "my_id", "peer_id", "inside_pem_name"})) return;
    if (!t.key[0] || module::same_text(t.key, module::kUnset)) {
        if (is_set(t.inside_pem_name)) std::fprintf(f, ": RSA %s.key \"\"\n", t.inside_pem_name);
        return;
    }
    char local[16];
    const std::string mine = is_set(t.my_id) ? t.my_id : getSrcIP(t.wan_num, local) == 0 ? local : "10.64.64.64";
    const std::string peer = is_set(t.peer_id) ? t.peer_id : t.fixed_or_dynamic ? "%any" : t.remote;
    std::fprintf(f, "%s %s: PSK \"%s\"\n", mine.c_str(), peer.c_str(), t.key);
}

// The members of an XAUTH server's group, as the daemon's user file lists
// them: user, password hash, connection.
void write_xauth_users(std::FILE *f, const record &t) {
    if (!vpn::xauth_server(t) || !is_set(t.xauth_auth_user)) return;
    if (std::strpbrk(t.name, ":\r\n")) return;
    module::each_record<auth_user_record>(
        "auth_user", MODULE_TAG(kSource),
        [&](const auth_user_record &u, uint32_t) {
            if (std::strcmp(u.group, t.xauth_auth_user) == 0 && !std::strpbrk(u.name, ":\r\n") &&
                !std::strpbrk(u.password, ":\r\n"))
                std::fprintf(f, "%s:%s:%s\n", u.name, u.password, t.name);
            return false;
        },
        nullptr);
}

const module_table kTable = {
    .name = "vpn_ipsec_autokey",
    .clear = module::clear<record>,
    .add = module::add<record, format_tunnel>,
    .remove = module::remove,
    .modify = module::modify<record, format_tunnel>,
    .interface_check = module::op(tunnel_interface_check),
    .isTheSame = module::isTheSame<record, parse_tunnel, &record::name, &record::id>,
    .set_default = tunnel_defaults,
    .open = module::open_wizard<kFile, kWizardFile>,
    .getline = module::getline<parse_tunnel>,
    .getnum = module::getnum<parse_tunnel>,
    .parse = parse_tunnel,
    .close = module::close_file,
    .command = module::op(tunnel_command),
    .discommand = module::op(vpn_ipsec_autokey_del_chain),
    .recommand = module::op(tunnel_recommand),
    .restorebyinterface = module::op(tunnel_restorebyinterface),
    .dynamicIPup = module::op(tunnel_dynamicIPup),
    .dynamicIPdown = module::op(tunnel_dynamicIPdown),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(tunnel_cgiParam),
    .initial_system_cmd = module::op(tunnel_initial_system_cmd),
    .rewrite_secrets = module::op(Rewrite_IpsecSecrets),
    .xmlParam = tunnel_xmlParam,
    .xmlConf = module::op(vpn_ipsec_autokey_xmlConf),
};

}  // namespace

const module::description module::descriptions::vpn_ipsec_autokey{"vpn_ipsec_autokey", kFields};

extern "C" {

module_table *vpn_ipsec_autokey_register(void) { return module::register_table(kTable); }
void vpn_ipsec_autokey_unregister(module_table *table) { module::unregister_table(table); }

// The chains' condition, named after the chain, is raised by the up-down
// script while the tunnel is up.
void *vpn_ipsec_autokey_add_chain(record *t) {
    if (!t) return t;
    MODULE_CHAINS(kSource, "-N", t->chain, vpn::kTunnelChains);
    const std::string c = arg(t->chain);
    for (const char *table : {"mangle", "nat"}) {
        MODULE_RULE(4, kSource,
                    "/sbin/iptables -t %s -A %sSSRC -m condition --condition %s -j UTMMARK --set-type policy "
                    "--or-mark 0x%x",
                    table, c.c_str(), c.c_str(), vpn::kFromTunnel);
        MODULE_RULE(4, kSource,
                    "/sbin/iptables -t %s -A %sSDST -m condition --condition %s -j UTMMARK --set-type policy "
                    "--or-mark 0x%x",
                    table, c.c_str(), c.c_str(), vpn::kToTunnel);
    }
    return t;
}

void *vpn_ipsec_autokey_del_chain(record *t) {
    if (!t) return t;
    disconnectIPSecAutokey(t);
    vpn_ipsec_autokey_set_gre_bridge("D", t);
    MODULE_CHAINS(kSource, "-F", t->chain, vpn::kTunnelChains);
    MODULE_CHAINS(kSource, "-X", t->chain, vpn::kTunnelChains);
    return t;
}

// The tunnel's GRE device between its end points (the GRE addresses when
// set, else the WAN's and the peer's), in the bridge of its port together
// with the port's own device.  The bridge stays while the port is bridged.
int vpn_ipsec_autokey_gre_bridge(const char *operation, const record *t) {
    if (!operation || !t || !t->greInterface || !is_set(t->gredevid)) return 0;
    const interface_record *port = interface_read_shm(t->greInterface);
    if (!port) return 0;
    const int p = t->greInterface;
    const std::string device = arg(t->gredevid);
    if (std::strcmp(operation, "A") == 0) {
        char source[16];
        getSrcIP(t->wan_num, source);
        const std::string local = arg(is_set(t->local_ip) ? t->local_ip : source);
        const std::string remote = arg(is_set(t->remote_ip) ? t->remote_ip : t->remote);
        my_system("%s addbr brvpn%d", "/sbin/brctl", p);
        my_system("%s addif brvpn%d %s", "/sbin/brctl", p, arg(module::bounded(port->iname).c_str()).c_str());
        my_system("%s add %s type gretap local %s remote %s", "/sbin/ip link", device.c_str(), local.c_str(),
                  remote.c_str());
        my_system("%s set %s up", "/sbin/ip link", device.c_str());
        my_system("%s addif brvpn%d %s", "/sbin/brctl", p, device.c_str());
        my_system("%s set brvpn%d up", "/sbin/ip link", p);
    } else if (std::strcmp(operation, "D") == 0) {
        my_system("%s delif brvpn%d %s", "/sbin/brctl", p, device.c_str());
        my_system("%s del %s", "/sbin/ip link", device.c_str());
    } else {
        return 0;
    }
    return 1;
}

int vpn_ipsec_autokey_set_gre_bridge(const char *operation, const record *t) {
    if (!t || !t->greInterface) return 0;
    const int handled = vpn_ipsec_autokey_gre_bridge(operation, t);
    vpn_ipsec_autokey_brvpn_global();
    return handled;
}

int vpn_ipsec_autokey_gre_bridge_port(const char *operation, int port) {
    int handled = 0;
    if (port > 0)
        each_tunnel([&](const record &t) {
            if (t.greInterface == port) handled += vpn_ipsec_autokey_gre_bridge(operation, &t);
        });
    vpn_ipsec_autokey_brvpn_global();
    return handled;
}

// Bridged traffic keeps its addresses: one rule for every bridge, present
// while some stored tunnel is bridged, never twice.
int vpn_ipsec_autokey_brvpn_global(void) {
    int bridged = 0;
    each_tunnel([&](const record &t) { bridged += t.greInterface ? 1 : 0; });
    MODULE_RULE(4, kSource, "/sbin/iptables -t nat -D postNat_bridge -i brvpn+ -j ACCEPT");
    if (bridged) MODULE_RULE(4, kSource, "/sbin/iptables -t nat -A postNat_bridge -i brvpn+ -j ACCEPT");
    return bridged;
}

// A file that cannot be created is left out; the other is still written.
int Rewrite_IpsecSecrets(void) {
    runtime::file_handle secrets = vpn::secrets_file(kSecrets), users = vpn::secrets_file(kXauthUsers, "w+");
    if (secrets || users)
        each_tunnel([&](const record &t) {
            if (secrets) write_secret(secrets.get(), t);
            if (users) write_xauth_users(users.get(), t);
        });
    return secrets ? 0 : -1;
}

}  // extern "C"
