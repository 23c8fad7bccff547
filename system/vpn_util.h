// What the tunnel modules share besides their connection operations.
#pragma once

#include <cstdio>
#include <string>

#include "runtime/owners.h"
#include "system/module.h"

namespace vpn {

// The eight marking chains of a tunnel (the GRE, PPTP client and IPsec
// modules), in the order they are created, flushed and deleted.
inline constexpr module::chain_part kTunnelChains[] = {
    {"mangle", "CSRC"}, {"mangle", "CDST"}, {"nat", "CSRC"}, {"nat", "CDST"},
    {"mangle", "SSRC"}, {"mangle", "SDST"}, {"nat", "SSRC"}, {"nat", "SDST"},
};

// The marks a tunnel's chains give its traffic: arriving over the tunnel
// (SSRC), and leaving for it (SDST).
inline constexpr int kFromTunnel = 0x20, kToTunnel = 0x40;

// The WAN interface record of a port; null when the port has none.
inline const interface_record *wan_of(int port) {
    const interface_record *r = interface_read_shm(port);
    return r && r->itype == 2 ? r : nullptr;
}

// The XAUTH role of a tunnel's side: the server when it has no user name of
// its own ("^o^"), a client when it logs in with one.
inline bool xauth_server(const vpn_ipsec_autokey_record &t) {
    return t.xauth_enable && module::same_text(t.xauth_username, module::kUnset);
}
inline bool xauth_client(const vpn_ipsec_autokey_record &t) {
    return t.xauth_enable && t.xauth_username[0] && !module::same_text(t.xauth_username, module::kUnset);
}

// Whether the tunnel's IKE connection names the networks it carries: not
// with GRE bridging, GRE end points or L2TP, which bring their own.
inline bool carries_networks(const vpn_ipsec_autokey_record &t) {
    return !t.greInterface && !module::is_set(t.local_ip) && !module::is_set(t.remote_ip) && t.en_l2tp_over_ipsec != 1;
}

// A secrets file opened for writing with mode ("w", "w+"), readable by its
// owner only; null when it cannot be created.
runtime::file_handle secrets_file(const char *path, const char *mode = "w");

// The rewrite_secrets slot of a PPTP module: its CHAP secrets file at Path
// rewritten whole from every record of the module named Module, each as
// Line makes it (empty for a record whose values would break the file).
// 0, or -1 when the file cannot be written.
template <typename Record, const char *Path, const char *Module, std::string (*Line)(const Record &)>
int Rewrite_ChapSecrets() {
    runtime::file_handle f = secrets_file(Path);
    if (!f) return -1;
    module::each_record<Record>(Module, MODULE_TAG("system/vpn_util.c"), [&](const Record &r, uint32_t) {
        std::fputs(Line(r).c_str(), f.get());
        return false;
    });
    return 0;
}

}  // namespace vpn
