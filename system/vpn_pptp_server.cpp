// The dial-in accounts of the PPTP server: the server's CHAP secrets, the
// chains that mark traffic arriving over an account's tunnels, and the end
// of its sessions.
#include <cstdint>
#include <string>

#include "system/module_xml.h"
#include "system/vpn_util.h"

namespace {

using module::arg;
using module::holds;
using module::kind;
using record = vpn_pptp_server_record;

constexpr const char *kSource = "system/vpn_pptp_server.c";
constexpr const char *kChainPrefix = "vpnServer";
constexpr int kFile = 60, kWizardFile = 67;
constexpr char kSecrets[] = "/etc/ppp/chap-secrets.Server";
constexpr char kName[] = "vpn_pptp_server";
constexpr const char *kGroups[] = {kName};
using texts = module::texts<kGroups>;

// The account's chains, in the order they are created, flushed and deleted.
constexpr module::chain_part kChains[] = {
    {"mangle", "SSRC"}, {"mangle", "SDST"}, {"mangle", "CSRC"}, {"mangle", "CDST"},
    {"nat", "SSRC"},    {"nat", "SDST"},    {"nat", "CSRC"},    {"nat", "CDST"},
};

// Line order; xmlParam reads every key, the export writes the others.  The
// chains "vpnServer_ID" + 4 characters stay within 28 with an identifier
// of 14 digits; a tunnel device "WAN<port>_S<interface_id>_<session>"
// stays within 15 with a two-digit port, a one-character session and an
// interface_id of at most 6 characters.
constexpr auto kFields = module::describe({
    MODULE_FIELD(record, user_name, kind::name).is(holds::label),
    MODULE_FIELD(record, id, kind::word).is(holds::identifier).imported_only(),
    MODULE_FIELD(record, password, kind::name).is(holds::secret),
    MODULE_FIELD(record, ip_mode, kind::number).is(holds::number, 0, 1),
    MODULE_FIELD(record, fixed_ip, kind::word).is(holds::ipv4),
    MODULE_FIELD(record, manual, kind::number).is(holds::number, 0, 1),
    MODULE_FIELD(record, interface_id, kind::word).is(holds::identifier, 6).imported_only(),
    MODULE_FIELD(record, type, kind::number).is(holds::number, 0, INT32_MAX),
});

std::string format_account(const record &r) { return module::format_fields(&r, kFields); }

void follow_id(record &r) { module::follow_identifier(r, kChainPrefix, {"SSRC", "SDST", "CSRC", "CDST"}); }

void *parse_account(char *line, void *rec) {
    module::parse_fields(line, rec, kFields);
    follow_id(*static_cast<record *>(rec));
    return rec;
}

void *account_defaults(void *rec, const char *) {
    if (!rec) return rec;
    auto &r = *static_cast<record *>(rec);
    r = record{};
    for (char *text : {r.user_name, r.password}) module::set_text(text, sizeof r.user_name, module::kUnset);
    module::set_text(r.fixed_ip, module::kUnset);
    module::set_text(r.interface_id, module::kUnset);
    module::set_text(r.id, my_chainID(0));
    module::set_chain(r.chain, kChainPrefix, r.id);
    return rec;
}

int account_isTheSame(record_file *h, void *name, int n) {
    if (!h || !name) return 0;
    const bool clash = module::any_record<record, parse_account>(h, [&](const record &r, uint32_t line) {
        return line != static_cast<uint32_t>(n) && module::same_text(r.user_name, static_cast<const char *>(name));
    });
    return clash ? 1 : 0;
}

void vpn_pptp_server_add_chain(const record &r) { MODULE_CHAINS(kSource, "-N", r.chain, kChains); }
void vpn_pptp_server_flush_chain(const record &r) { MODULE_CHAINS(kSource, "-F", r.chain, kChains); }
void vpn_pptp_server_del_chain(const record &r) { MODULE_CHAINS(kSource, "-X", r.chain, kChains); }

// The condition named after the chain switches the account's marks on and
// off; a session's tunnel on any WAN port is "WAN<port>_S<interface_id>_...".
void vpn_pptp_server_chain_cmd(const record &r) {
    const std::string c = arg(r.chain);
    for (const char *chain : {"SSRC", "SDST"})
        for (const char *table : {"mangle", "nat"})
            MODULE_RULE(4, kSource, "/sbin/iptables -t %s -A %s%s -m condition ! --condition %s -j RETURN", table,
                        c.c_str(), chain, c.c_str());
    const std::string id = arg(r.interface_id);
    const int ports = RETURN_DEF_INT("SYSTEM_PORT_NUM");
    for (int p = 0; p <= ports; ++p) {
        for (const char *table : {"mangle", "nat"})
            MODULE_RULE(4, kSource,
                        "/sbin/iptables -t %s -A %sSSRC -i WAN%d_S%s_+ -j UTMMARK --set-type policy --or-mark 0x%x",
                        table, c.c_str(), p, id.c_str(), vpn::kFromTunnel);
        for (const char *table : {"mangle", "nat"})
            MODULE_RULE(4, kSource, "/sbin/iptables -t %s -A %sSDST -j UTMMARK --set-type policy --or-mark 0x%x", table,
                        c.c_str(), vpn::kToTunnel);
    }
}

void *account_command(record *r) {
    if (!r) return r;
    vpn_pptp_server_add_chain(*r);
    vpn_pptp_server_chain_cmd(*r);
    return r;
}

void *account_discommand(record *r) {
    if (!r) return r;
    disconnectPPTPServer(r);
    vpn_pptp_server_flush_chain(*r);
    vpn_pptp_server_del_chain(*r);
    return r;
}

void *account_recommand(record *r) {
    if (!r) return r;
    disconnectPPTPServer(r);
    vpn_pptp_server_flush_chain(*r);
    vpn_pptp_server_chain_cmd(*r);
    return r;
}

void *account_initial_system_cmd(record *r, int, int flag) {
    if (r && flag) vpn_pptp_server_chain_cmd(*r);
    return r;
}

const interface_record *account_restorebyinterface(const interface_record *iface) {
    if (iface && iface->itype == 2) disconnectPPTPServerbyWAN(iface->nameseq);
    return iface;
}

wan_address_event *account_dynamicIPup(wan_address_event *event) {
    if (event) disconnectPPTPServerbyWAN(my_nameseq(module::bounded(event->iname).c_str()));
    return event;
}

// The account's line of the secrets file; none for values that would break it.
std::string secret_line(const record &r) {
    if (!module::holds_values(&r, kFields, {"user_name", "password", "fixed_ip"})) return {};
    return std::string(r.user_name) + " * \"" + r.password + "\" " +
           (module::same_text(r.fixed_ip, module::kUnset) ? "*" : r.fixed_ip) + "\n";
}

void *account_xmlParam(record_file *h, void *rec, const char *path) {
    if (!rec) return rec;
    auto &r = *static_cast<record *>(rec);
    if (!module::read_request_fields(path, r, kFields)) return nullptr;
    follow_id(r);
    r.line = 0;
    if (h)
        module::any_record<record, parse_account>(h, [&](const record &stored, uint32_t line) {
            if (!module::same_text(stored.id, r.id)) return false;
            r.line = static_cast<int32_t>(line);
            return true;
        });
    return rec;
}

void account_entry(module::xml_entry &e, const record &r) { module::export_fields(e, &r, kFields); }

extern const module_table kTable;

void account_xmlConf(const char *function) {
    module::export_xml<record, account_entry>(kTable, function, MODULE_TAG(kSource));
}

const module_table kTable = {
    .name = "vpn_pptp_server",
    .clear = module::clear<record>,
    .add = module::add<record, format_account>,
    .remove = module::remove,
    .modify = module::modify<record, format_account>,
    .isTheSame = account_isTheSame,
    .set_default = account_defaults,
    .open = module::open_wizard<kFile, kWizardFile>,
    .getline = module::getline<parse_account>,
    .getnum = module::getnum<parse_account>,
    .parse = parse_account,
    .close = module::close_file,
    .command = module::op(account_command),
    .discommand = module::op(account_discommand),
    .recommand = module::op(account_recommand),
    .restorebyinterface = module::op(account_restorebyinterface),
    .dynamicIPup = module::op(account_dynamicIPup),
    .language = texts::language,
    .print = texts::print,
    .initial_system_cmd = module::op(account_initial_system_cmd),
    .rewrite_secrets = module::op(vpn::Rewrite_ChapSecrets<record, kSecrets, kName, secret_line>),
    .xmlParam = account_xmlParam,
    .xmlConf = module::op(account_xmlConf),
};

}  // namespace

const module::description module::descriptions::vpn_pptp_server{kName, kFields};

extern "C" {

module_table *vpn_pptp_server_register(void) { return module::register_table(kTable); }
void vpn_pptp_server_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
