// The GRE tunnels from a WAN port to a peer.  The tunnel program runs a
// tunnel; the module keeps the records and the chains that mark the traffic
// entering over the tunnel's device.
#include <cstdint>
#include <ctime>
#include <string>

#include "system/vpn_util.h"

namespace {

using module::arg;
using module::holds;
using module::kind;
using record = gre_tunnel_record;

constexpr const char *kSource = "system/gre_tunnel.c";
constexpr const char *kChainPrefix = "GRETunnel";
constexpr int kFile = 221;
constexpr const char *kGroups[] = {"gre_tunnel"};
using texts = module::texts<kGroups>;

// Line order; the keys are the form's.  The chains "GRETunnel_ID" + 4
// characters stay within 28 with an identifier of 14 digits; the device
// "WAN<port>_T<mark>" stays within 15 with a two-digit port and a mark of
// 8 hexadecimal digits (the default: the time).  The form's numbers are 0
// when it has none.
#define ADDRESS(member, what) MODULE_FIELD(record, member, kind::name).is(what)
#define COUNT(member) MODULE_FIELD_OR(record, member, kind::quoted_number, "0").is(holds::number, 0, INT32_MAX)
constexpr auto kFields = module::describe({
    MODULE_FIELD(record, name, kind::name).is(holds::text),
    MODULE_FIELD(record, id, kind::word).is(holds::identifier),
    MODULE_FIELD_OR(record, wan_num, kind::number, "0").port_number(),
    MODULE_FIELD(record, remote_host, kind::name).is(holds::host),
    ADDRESS(local_gre_interface, holds::ipv4),
    ADDRESS(local_gre_mask, holds::mask),
    ADDRESS(remote_gre_interface, holds::ipv4),
    ADDRESS(remote_gre_mask, holds::mask),
    MODULE_FIELD(record, mark, kind::name).is(holds::mark, 8),
    COUNT(duration),
    COUNT(timeout),
});
#undef ADDRESS
#undef COUNT

std::string format_tunnel(const record &r) { return module::format_fields(&r, kFields); }

void follow_id(record &r) { module::follow_identifier(r, kChainPrefix, {"CSRC", "CDST", "SSRC", "SDST"}); }

void *parse_tunnel(char *line, void *rec) {
    module::parse_fields(line, rec, kFields);
    follow_id(*static_cast<record *>(rec));
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

void *tunnel_cgiParam(record *rec) {
    if (!rec) return rec;
    record r = *rec;
    if (module::form_fields(&r, kFields)) return nullptr;
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

const module::description module::descriptions::gre_tunnel{"gre_tunnel", kFields};

extern "C" {

module_table *gre_tunnel_register(void) { return module::register_table(kTable); }
void gre_tunnel_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
