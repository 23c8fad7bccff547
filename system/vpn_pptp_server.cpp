// The dial-in accounts of the PPTP server: the server's CHAP secrets, the
// chains that mark traffic arriving over an account's tunnels, and the end
// of its sessions.
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "system/module_xml.h"
#include "system/vpn_util.h"

namespace {

using module::arg;
using module::kind;
using record = vpn_pptp_server_record;

constexpr const char *kSource = "system/vpn_pptp_server.c";
constexpr const char *kChainPrefix = "vpnServer";
constexpr int kFile = 60, kWizardFile = 67;
constexpr const char *kSecrets = "/etc/ppp/chap-secrets.Server";
constexpr const char *kGroups[] = {"vpn_pptp_server"};
using texts = module::texts<kGroups>;

// The account's chains, in the order they are created, flushed and deleted.
constexpr module::chain_part kChains[] = {
    {"mangle", "SSRC"}, {"mangle", "SDST"}, {"mangle", "CSRC"}, {"mangle", "CDST"},
    {"nat", "SSRC"},    {"nat", "SDST"},    {"nat", "CSRC"},    {"nat", "CDST"},
};

// Line order; xmlParam reads every key.
constexpr module::field kFields[] = {
    MODULE_FIELD(record, user_name, kind::name),    MODULE_FIELD(record, id, kind::word),
    MODULE_FIELD(record, password, kind::name),     MODULE_FIELD(record, ip_mode, kind::number),
    MODULE_FIELD(record, fixed_ip, kind::word),     MODULE_FIELD(record, manual, kind::number),
    MODULE_FIELD(record, interface_id, kind::word), MODULE_FIELD(record, type, kind::number),
};
// What the export writes, in its order.
constexpr module::field kExport[] = {
    MODULE_FIELD(record, user_name, kind::name), MODULE_FIELD(record, password, kind::name),
    MODULE_FIELD(record, ip_mode, kind::number), MODULE_FIELD(record, fixed_ip, kind::word),
    MODULE_FIELD(record, manual, kind::number),  MODULE_FIELD(record, type, kind::number),
};

std::string format_account(const record &r) { return module::format_fields(&r, kFields); }

void chain_follows_id(record &r) {
    module::set_chain(r.chain, kChainPrefix, r.id);
    if (!r.refs_fixed) r.refs = static_cast<int32_t>(module::nat_references(r.chain, {"SSRC", "SDST", "CSRC", "CDST"}));
}

void *parse_account(char *line, void *rec) {
    module::parse_fields(line, rec, kFields);
    chain_follows_id(*static_cast<record *>(rec));
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

// Values that would break the account's line of the secrets file.
bool secret_ok(const record &r) {
    return module::one_word(r.user_name) && !std::strchr(r.password, '"') &&
           module::one_word(r.fixed_ip);
}

// And those that would not name its chains and session files.
bool acceptable(const record &r) {
    return secret_ok(r) && module::is_file_name(r.id) &&
           (module::same_text(r.interface_id, module::kUnset) || module::is_file_name(r.interface_id));
}

extern const module_table kTable;

int Rewrite_ChapSecrets() {
    runtime::file_handle f(std::fopen(platform::path(kSecrets).c_str(), "w"));
    if (!f) return -1;
    fchmod(fileno(f.get()), 0600);
    module::each_record<record>(kTable.name, MODULE_TAG(kSource), [&](const record &r, uint32_t) {
        if (secret_ok(r))
            std::fprintf(f.get(), "%s * \"%s\" %s\n", r.user_name, r.password,
                         module::same_text(r.fixed_ip, module::kUnset) ? "*" : r.fixed_ip);
        return false;
    });
    return 0;
}

void *account_xmlParam(record_file *h, void *rec, const char *path) {
    if (!rec) return rec;
    record r = *static_cast<record *>(rec);
    module::read_request(path, [&](const module::xml_values &v) { module::read_fields(v, &r, kFields); });
    if (!acceptable(r)) return nullptr;
    chain_follows_id(r);
    r.line = 0;
    if (h)
        module::any_record<record, parse_account>(h, [&](const record &stored, uint32_t line) {
            if (!module::same_text(stored.id, r.id)) return false;
            r.line = static_cast<int32_t>(line);
            return true;
        });
    *static_cast<record *>(rec) = r;
    return rec;
}

void account_entry(module::xml_entry &e, const record &r) { module::export_fields(e, &r, kExport); }

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
    .rewrite_secrets = module::op(Rewrite_ChapSecrets),
    .xmlParam = account_xmlParam,
    .xmlConf = module::op(account_xmlConf),
};

}  // namespace

extern "C" {

module_table *vpn_pptp_server_register(void) { return module::register_table(kTable); }
void vpn_pptp_server_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
