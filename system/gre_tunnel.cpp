// The GRE tunnels from a WAN port to a peer.  The tunnel program runs a
// tunnel; the module keeps the records and the chains that mark the traffic
// entering over the tunnel's device.
#include <ctime>
#include <string>

#include "system/vpn_util.h"

namespace {

using module::arg;
using module::kind;
using record = gre_tunnel_record;

constexpr const char *kSource = "system/gre_tunnel.c";
constexpr const char *kChainPrefix = "GRETunnel";
constexpr int kFile = 221;
constexpr const char *kGroups[] = {"gre_tunnel"};
using texts = module::texts<kGroups>;

// Line order; the keys are the form's.
constexpr module::field kFields[] = {
    MODULE_FIELD(record, name, kind::name),
    MODULE_FIELD(record, id, kind::word),
    MODULE_FIELD(record, wan_num, kind::number),
    MODULE_FIELD(record, remote_host, kind::name),
    MODULE_FIELD(record, local_gre_interface, kind::name),
    MODULE_FIELD(record, local_gre_mask, kind::name),
    MODULE_FIELD(record, remote_gre_interface, kind::name),
    MODULE_FIELD(record, remote_gre_mask, kind::name),
    MODULE_FIELD(record, mark, kind::name),
    MODULE_FIELD(record, duration, kind::quoted_number),
    MODULE_FIELD(record, timeout, kind::quoted_number),
};

std::string format_tunnel(const record &r) { return module::format_fields(&r, kFields); }

void chain_follows_id(record &r) {
    module::set_chain(r.chain, kChainPrefix, r.id);
    if (!r.refs_fixed) r.refs = static_cast<int32_t>(module::nat_references(r.chain, {"CSRC", "CDST", "SSRC", "SDST"}));
}

void *parse_tunnel(char *line, void *rec) {
    module::parse_fields(line, rec, kFields);
    chain_follows_id(*static_cast<record *>(rec));
    return rec;
}

void *tunnel_defaults(void *rec, const char *) {
    if (!rec) return rec;
    auto &r = *static_cast<record *>(rec);
    r = record{};
    for (const module::field &f : kFields)
        if (!f.is_number()) module::set_text(module::text_in(&r, f), f.size, module::kUnset);
    module::set_text(r.id, my_chainID(0));
    module::set_chain(r.chain, kChainPrefix, r.id);
    r.wan_num = 1;
    std::snprintf(r.mark, sizeof r.mark, "%x", static_cast<unsigned>(std::time(nullptr)));
    r.timeout = 30;
    return rec;
}

int tunnel_isTheSame(record_file *h, void *name, int n) {
    if (!h || !name) return 0;
    const bool clash = module::any_record<record, parse_tunnel>(h, [&](const record &r, uint32_t line) {
        return line != static_cast<uint32_t>(n) && module::same_text(r.name, static_cast<const char *>(name));
    });
    return clash ? 1 : 0;
}

void gre_tunnel_addchain(const record &r) { MODULE_CHAINS(kSource, "-N", r.chain, vpn::kTunnelChains); }
void gre_tunnel_flushchain(const record &r) { MODULE_CHAINS(kSource, "-F", r.chain, vpn::kTunnelChains); }
void gre_tunnel_delchain(const record &r) { MODULE_CHAINS(kSource, "-X", r.chain, vpn::kTunnelChains); }

// The tunnel program raises the condition named after the chain while the
// tunnel is up.
void gre_tunnel_addcommand(const record &r) {
    const std::string c = arg(r.chain), mark = arg(r.mark);
    for (const char *table : {"mangle", "nat"}) {
        MODULE_RULE(4, kSource,
                    "/sbin/iptables -t %s -A %sSSRC -i WAN%d_T%s -m condition --condition %s -j UTMMARK --set-type "
                    "policy --or-mark 0x%x",
                    table, c.c_str(), r.wan_num, mark.c_str(), c.c_str(), vpn::kFromTunnel);
        MODULE_RULE(4, kSource,
                    "/sbin/iptables -t %s -A %sSDST -m condition --condition %s -j UTMMARK --set-type policy "
                    "--or-mark 0x%x",
                    table, c.c_str(), c.c_str(), vpn::kToTunnel);
    }
}

void *tunnel_command(record *r) {
    if (!r) return r;
    gre_tunnel_addchain(*r);
    gre_tunnel_addcommand(*r);
    return r;
}

void *tunnel_discommand(record *r) {
    if (!r) return r;
    gre_tunnel_flushchain(*r);
    disconnectGreTunnel(r);
    gre_tunnel_delchain(*r);
    return r;
}

void *tunnel_recommand(record *now, record *before) {
    if (!now || !before) return now;
    gre_tunnel_flushchain(*before);
    disconnectGreTunnel(before);
    gre_tunnel_addcommand(*now);
    return now;
}

void *tunnel_initial_system_cmd(record *r, int, int flag) { return flag ? tunnel_command(r) : r; }

// An identifier names the tunnel's process record: a word or unset.  The
// numbers are the form's, 0 when it has none.
void *tunnel_cgiParam(record *rec) {
    if (!rec) return rec;
    record r = *rec;
    module::form_fields(&r, kFields);
    for (const module::field &f : kFields)
        if (f.is_number()) module::number_in(&r, f) = module::form_integer(f.key, 0);
    if (!module::same_text(r.id, module::kUnset) && !module::is_file_name(r.id)) return nullptr;
    module::set_chain(r.chain, kChainPrefix, r.id);
    *rec = r;
    return rec;
}

const module_table kTable = {
    .name = "gre_tunnel",
    .clear = module::clear<record>,
    .add = module::add<record, format_tunnel>,
    .remove = module::remove,
    .modify = module::modify<record, format_tunnel>,
    .isTheSame = tunnel_isTheSame,
    .set_default = tunnel_defaults,
    .open = module::open<kFile>,
    .getline = module::getline<parse_tunnel>,
    .getnum = module::getnum<parse_tunnel>,
    .parse = parse_tunnel,
    .close = module::close_file,
    .command = module::op(tunnel_command),
    .discommand = module::op(tunnel_discommand),
    .recommand = module::op(tunnel_recommand),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(tunnel_cgiParam),
    .initial_system_cmd = module::op(tunnel_initial_system_cmd),
};

}  // namespace

extern "C" {

module_table *gre_tunnel_register(void) { return module::register_table(kTable); }
void gre_tunnel_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
