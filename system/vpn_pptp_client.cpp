// The appliance's outgoing PPTP connections: the client CHAP secrets, the
// chains that mark a connection's traffic, and the masquerading of what
// leaves through it.  The PPP daemon runs a connection (vpn_util).
#include <ctime>
#include <string>

#include "system/module_xml.h"
#include "system/vpn_util.h"

namespace {

using module::arg;
using module::holds;
using module::kind;
using record = vpn_pptp_client_record;

constexpr const char *kSource = "system/vpn_pptp_client.c";
constexpr const char *kChainPrefix = "vpnClient";
constexpr int kFile = 61, kWizardFile = 68;
constexpr char kSecrets[] = "/etc/ppp/chap-secrets.Client";
constexpr char kName[] = "vpn_pptp_client";
constexpr const char *kGroups[] = {kName};
using texts = module::texts<kGroups>;

// Line order, also the XML's.  The chains "vpnClient_ID" + 4 characters
// stay within 28 with an identifier of 14 digits; the device
// "WAN<port>_C<interface_id>" stays within 15 with a two-digit port and an
// interface_id of at most 8 characters (the default: the time in hex).
constexpr auto kFields = module::describe({
    MODULE_FIELD(record, user_name, kind::name).is(holds::label),
    MODULE_FIELD(record, id, kind::word).is(holds::identifier),
    MODULE_FIELD(record, password, kind::name).is(holds::secret),
    MODULE_FIELD(record, server, kind::word).is(holds::host),
    MODULE_FIELD(record, wan_num, kind::number).port_number(),
    MODULE_FIELD(record, encrypt, kind::number).is(holds::number, 0, 1),
    MODULE_FIELD(record, nat, kind::number).is(holds::number, 0, 1),
    MODULE_FIELD(record, manual, kind::number).is(holds::number, 0, 1),
    MODULE_FIELD(record, interface_id, kind::word).is(holds::identifier, 8),
});

std::string format_connection(const record &r) { return module::format_fields(&r, kFields); }

void follow_id(record &r) { module::follow_identifier(r, kChainPrefix, {"CSRC", "CDST", "SSRC", "SDST"}); }

void *parse_connection(char *line, void *rec) {
    module::parse_fields(line, rec, kFields);
    follow_id(*static_cast<record *>(rec));
    return rec;
}

void *connection_defaults(void *rec, const char *) {
    if (!rec) return rec;
    auto &r = *static_cast<record *>(rec);
    r = record{};
    module::set_text(r.user_name, module::kUnset);
    module::set_text(r.password, module::kUnset);
    module::set_text(r.server, module::kUnset);
    module::set_text(r.id, my_chainID(0));
    module::set_chain(r.chain, kChainPrefix, r.id);
    r.wan_num = 1;
    r.encrypt = 1;
    std::snprintf(r.interface_id, sizeof r.interface_id, "%x", static_cast<unsigned>(std::time(nullptr)));
    return rec;
}

int connection_interface_check(record_file *h, const interface_record *iface) {
    if (!h || !iface) return 0;
    const int port = return_contrast_port_num(module::bounded(iface->iname).c_str());
    if (port < 1) return 0;
    auto on_port = [&](const record &r, uint32_t) { return r.wan_num == port; };
    return module::any_record<record, parse_connection>(h, on_port);
}

int connection_isTheSame(record_file *h, void *rec, int n) {
    if (!h || !rec) return 0;
    const record &wanted = *static_cast<const record *>(rec);
    const bool clash = module::any_record<record, parse_connection>(h, [&](const record &r, uint32_t line) {
        return line != static_cast<uint32_t>(n) && module::same_text(r.server, wanted.server) &&
               module::same_text(r.user_name, wanted.user_name);
    });
    return clash ? 1 : 0;
}

void vpn_pptp_client_add_chain(const record &r) { MODULE_CHAINS(kSource, "-N", r.chain, vpn::kTunnelChains); }
void vpn_pptp_client_del_chain(const record &r) { MODULE_CHAINS(kSource, "-X", r.chain, vpn::kTunnelChains); }

// The daemon raises the condition named after the chain while connected.
void vpn_pptp_client_chain_cmd(const record &r) {
    const std::string c = arg(r.chain), id = arg(r.interface_id);
    for (const char *table : {"mangle", "nat"}) {
        MODULE_RULE(4, kSource,
                    "/sbin/iptables -t %s -A %sSSRC -i WAN%d_C%s -m condition --condition %s -j UTMMARK --set-type "
                    "policy --or-mark 0x%x",
                    table, c.c_str(), r.wan_num, id.c_str(), c.c_str(), vpn::kFromTunnel);
        MODULE_RULE(4, kSource,
                    "/sbin/iptables -t %s -A %sSDST -m condition --condition %s -j UTMMARK --set-type policy "
                    "--or-mark 0x%x",
                    table, c.c_str(), c.c_str(), vpn::kToTunnel);
    }
    if (r.nat)
        MODULE_RULE(4, kSource, "/sbin/iptables -t nat -A postNat_pptp_client -o WAN%d_C%s -j MASQUERADE", r.wan_num,
                    id.c_str());
}

// The masquerading rule goes whatever nat says now: it may have been on
// when the connection was applied.
void vpn_pptp_client_flush_chain(const record &r) {
    MODULE_RULE(4, kSource, "/sbin/iptables -t nat -D postNat_pptp_client -o WAN%d_C%s -j MASQUERADE", r.wan_num,
                arg(r.interface_id).c_str());
    MODULE_CHAINS(kSource, "-F", r.chain, vpn::kTunnelChains);
}

void *connection_command(record *r) {
    if (!r) return r;
    vpn_pptp_client_add_chain(*r);
    vpn_pptp_client_chain_cmd(*r);
    return r;
}

void *connection_discommand(record *r) {
    if (!r) return r;
    disconnectPPTPClient(r);
    vpn_pptp_client_flush_chain(*r);
    vpn_pptp_client_del_chain(*r);
    return r;
}

void *connection_recommand(record *now, record *before) {
    if (!now || !before) return now;
    disconnectPPTPClient(before);
    vpn_pptp_client_flush_chain(*before);
    vpn_pptp_client_chain_cmd(*now);
    return now;
}

void *connection_initial_system_cmd(record *r, int, int flag) {
    if (r && flag) vpn_pptp_client_chain_cmd(*r);
    return r;
}

extern const module_table kTable;

// The connections dialled from a port, each handed to op.
template <typename Op>
void on_port(int port, Op op) {
    module::each_record<record>(kTable.name, MODULE_TAG(kSource), [&](const record &r, uint32_t) {
        if (r.wan_num == port) op(r);
        return false;
    });
}

// A WAN port that changed takes its connections down; while it is still a
// WAN, those not dialled by hand are started again on the new settings.
const interface_record *connection_restorebyinterface(const interface_record *before, const interface_record *now) {
    const bool now_wan = now && now->itype == 2;
    if (!now_wan && !(before && before->itype == 2)) return now;
    on_port(now ? now->port : before->port, [&](const record &r) {
        disconnectPPTPClient(&r);
        if (now_wan && !r.manual) connectPPTPClient(&r);
    });
    return now;
}

wan_address_event *connection_dynamicIPup(wan_address_event *event) {
    if (event) on_port(event->port, [](const record &r) { disconnectPPTPClient(&r); });
    return event;
}

// The connection's line of the secrets file; none for values that would
// break it.
std::string secret_line(const record &r) {
    if (!module::holds_values(&r, kFields, {"user_name", "server", "password"})) return {};
    return std::string(r.user_name) + " " + r.server + " \"" + r.password + "\" *\n";
}

void *connection_xmlParam(record_file *, void *rec, const char *path) {
    if (!rec) return rec;
    auto &r = *static_cast<record *>(rec);
    if (!module::read_request_fields(path, r, kFields)) return nullptr;
    follow_id(r);
    return rec;
}

void connection_entry(module::xml_entry &e, const record &r) { module::export_fields(e, &r, kFields); }

void connection_xmlConf(const char *function) {
    module::export_xml<record, connection_entry>(kTable, function, MODULE_TAG(kSource));
}

const module_table kTable = {
    .name = "vpn_pptp_client",
    .clear = module::clear<record>,
    .add = module::add<record, format_connection>,
    .remove = module::remove,
    .modify = module::modify<record, format_connection>,
    .interface_check = module::op(connection_interface_check),
    .isTheSame = connection_isTheSame,
    .set_default = connection_defaults,
    .open = module::open_wizard<kFile, kWizardFile>,
    .getline = module::getline<parse_connection>,
    .getnum = module::getnum<parse_connection>,
    .parse = parse_connection,
    .close = module::close_file,
    .command = module::op(connection_command),
    .discommand = module::op(connection_discommand),
    .recommand = module::op(connection_recommand),
    .restorebyinterface = module::op(connection_restorebyinterface),
    .dynamicIPup = module::op(connection_dynamicIPup),
    .language = texts::language,
    .print = texts::print,
    .initial_system_cmd = module::op(connection_initial_system_cmd),
    .rewrite_secrets = module::op(vpn::Rewrite_ChapSecrets<record, kSecrets, kName, secret_line>),
    .xmlParam = connection_xmlParam,
    .xmlConf = module::op(connection_xmlConf),
};

}  // namespace

const module::description module::descriptions::vpn_pptp_client{kName, kFields};

extern "C" {

module_table *vpn_pptp_client_register(void) { return module::register_table(kTable); }
void vpn_pptp_client_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
