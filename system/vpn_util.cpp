// The connection operations of the tunnels: the IKE daemon's control
// program, the GRE tunnel program and the PPP daemon are started by their
// command lines, and stopped by the process ids they record.
#include "system/vpn_util.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/owners.h"

namespace {

using module::arg;
using module::bounded;
using module::is_set;
using vpn::xauth_client;

constexpr const char *kSource = "system/vpn_util.c";
constexpr const char *kWhack = "/usr/libexec/ipsec/whack";
constexpr const char *kIpsecLogs = "/var/log/ipsec";
constexpr const char *kGreLogs = "/var/log/gretunnel";
constexpr const char *kRun = "/var/run";

// The first number of the first line of an appliance file: 0 when the file
// is missing, cannot be read or begins with no number.
int first_number(const std::string &path) {
    runtime::file_handle f(std::fopen(platform::path(path).c_str(), "r"));
    char line[64];
    if (!f || !std::fgets(line, sizeof line, f.get())) return 0;
    return module::clamped(std::strtoll(line, nullptr, 10));
}

void kill_process(int pid) {
    if (pid >= 1) my_system("kill %d", pid);
}

// The names under /var/run in sorted order.
std::vector<std::string> run_entries() {
    std::vector<std::string> names;
    runtime::dir_handle dir(opendir(platform::path(kRun).c_str()));
    if (!dir) return names;
    while (const dirent *e = readdir(dir.get()))
        if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    std::sort(names.begin(), names.end());
    return names;
}

bool starts_with(const std::string &text, const std::string &prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string option(const char *text_before, const char *value, const char *text_after = "") {
    return is_set(value) ? text_before + arg(value) + text_after : std::string();
}

}  // namespace

runtime::file_handle vpn::secrets_file(const char *path, const char *mode) {
    runtime::file_handle f(std::fopen(platform::path(path).c_str(), mode));
    if (f) fchmod(fileno(f.get()), 0600);
    return f;
}

extern "C" {

int getSrcIP(int port, char *out) {
    if (!out) return -1;
    std::snprintf(out, 16, "0.0.0.0");
    const interface_record *r = interface_read_shm(port);
    if (!r) return -1;
    if (const std::string address = bounded(r->ipaddr); is_set(address.c_str())) {
        std::snprintf(out, 16, "%s", address.c_str());
        return 0;
    }
    // A dynamic address lives only on the device; PPPoE has its own.
    const std::string device = bounded(r->iname) + (r->cmode == 1 ? "_ppp" : "");
    if (my_get_ifaddr(device.c_str(), out) == 0) return 0;
    std::snprintf(out, 16, "0.0.0.0");
    return -1;
}

void recommandIPSecAutokey(const vpn_ipsec_autokey_record *rec, const ipsec_subnets *subnets) {
    if (!rec || !subnets) return;
    const interface_record *wan = vpn::wan_of(rec->wan_num);
    if (!wan) return;
    const vpn_ipsec_autokey_record &t = *rec;
    const std::string name = arg(t.name);
    my_system("%s --terminate --name %s > /dev/null 2>&1", kWhack, name.c_str());
    my_system("%s --delete --name %s > /dev/null 2>&1", kWhack, name.c_str());
    // The up-down words stand inside double quotes, where only plain words
    // keep their meaning.
    if (!module::plain_word(t.id) || !module::plain_word(subnets->updown)) return;

    char source[16];
    getSrcIP(t.wan_num, source);
    const std::string gateway = arg(bounded(wan->gateway).c_str());
    const bool l2tp = t.en_l2tp_over_ipsec == 1;
    const bool networks = vpn::carries_networks(t);
    auto network = [&](const char *ip, const char *mask) {
        return networks ? " --client " + arg(ip) + "/" + arg(mask) : std::string();
    };
    const char *local_role = xauth_client(t) ? " --xauthclient" : vpn::xauth_server(t) ? " --xauthserver" : "";
    const char *remote_role = xauth_client(t) ? " --xauthserver" : vpn::xauth_server(t) ? " --xauthclient" : "";
    std::string peer = arg(t.remote);
    if (t.fixed_or_dynamic) {
        peer = "0.0.0.0";
        if (subnets->whole_network && !l2tp)
            peer += " --client vhost:%no,%v4:192.168.0.0/16,%v4:172.16.0.0/12,%v4:10.0.0.0/8";
    }
    const std::string esp = t.esp_or_ah ? std::string("--authenticate --esp MD5!")
                                        : "--encrypt --esp " + arg(t.enc_alg_II) + "-" + arg(t.hash_alg_II) + "!";
    const std::string pfs = t.pfs ? " --pfs --pfsgroup modp" + std::to_string(t.pfs) : std::string();
    const std::string dpd = t.dpd_delay ? " --dpddelay " + std::to_string(t.dpd_delay) + " --dpdtimeout " +
                                              std::to_string(t.dpd_timeout) + " --dpdaction hold"
                                        : std::string();
    my_system(
        "%s --name %s %s --keyingtries 1 --updown \"%s %s\" --mark 0x10%x --host %s%s%s --nexthop %s%s%s%s --to "
        "--host %s%s%s%s%s%s --ike %s-%s-modp%d! --ikelifetime %d %s --ipseclifetime %d%s%s%s > /dev/null 2>&1",
        kWhack, name.c_str(), t.auth_method ? "--rsasig" : "--psk --tunnel", t.id, subnets->updown,
        static_cast<unsigned>(wan->nameseq), arg(source).c_str(),
        network(subnets->local_ip, subnets->local_mask).c_str(), option(" --id ", t.my_id).c_str(),
        gateway.c_str(), option(" --cert ", t.inside_pem_name, ".crt --sendcert always").c_str(), local_role,
        l2tp ? " --clientprotoport udp/1701" : "", peer.c_str(),
        network(subnets->remote_ip, subnets->remote_mask).c_str(), option(" --id ", t.peer_id).c_str(),
        option(" --cert ", t.outside_pem_name, ".crt --sendcert always").c_str(), remote_role,
        l2tp ? " --clientprotoport udp/%any" : "", arg(t.enc_alg_I).c_str(), arg(t.hash_alg_I).c_str(), t.group,
        t.lifetime_I, esp.c_str(), t.lifetime_II, pfs.c_str(), t.mode[0] == 'A' ? " --aggrmode" : "", dpd.c_str());
    my_system("%s --listen > /dev/null 2>&1", kWhack);
}

void connectIPSecAutokey(const vpn_ipsec_autokey_record *rec) {
    if (!rec) return;
    const std::string login =
        xauth_client(*rec) ? " --xauthuser " + arg(rec->xauth_username) + " --xauthpass " + arg(rec->xauth_password)
                           : std::string();
    my_system("%s --initiate --name %s%s > /dev/null 2>&1 &", kWhack, arg(rec->name).c_str(), login.c_str());
}

void disconnectIPSecAutokey(const vpn_ipsec_autokey_record *rec) {
    if (!rec) return;
    const std::string name = arg(rec->name);
    my_system("%s --terminate --name %s > /dev/null 2>&1", kWhack, name.c_str());
    my_system("%s --delete --name %s > /dev/null 2>&1", kWhack, name.c_str());
    if (module::is_file_name(rec->id)) std::remove(platform::path(std::string(kIpsecLogs) + "/" + rec->id).c_str());
}

int del_neighborhood_iptables(const char *chain) {
    if (!chain || !*chain || !module::plain_word(chain)) return -1;
    MODULE_CHAINS(kSource, "-F", chain, vpn::kTunnelChains);
    return 0;
}

void connectGreTunnel(const gre_tunnel_record *rec) {
    if (rec) my_system("/usr/sbin/gretunnel %s", arg(rec->mark).c_str());
}

void disconnectGreTunnel(const gre_tunnel_record *rec) {
    if (rec && module::is_file_name(rec->id)) kill_process(first_number(std::string(kGreLogs) + "/" + rec->id));
}

void connectPPTPClient(const vpn_pptp_client_record *rec) {
    if (!rec) return;
    const std::string server = arg(rec->server);
    runtime::heap_text command(my_string(
        nullptr,
        "%s plugin /usr/lib/pppd/2.4.4/pptp.so pptp_server %s pptp_wan_port %d user %s remotename %s linkname "
        "Client %s newname WAN%d_C%s wanunit %d ipparam %s&",
        "/usr/sbin/pppd.Client", server.c_str(), rec->wan_num, arg(rec->user_name).c_str(), server.c_str(),
        rec->encrypt ? "+mppe-40 +mppe-128 mppe-stateful" : "nodeflate nobsdcomp", rec->wan_num,
        arg(rec->interface_id).c_str(), rec->wan_num, server.c_str()));
    if (command) platform::libc_system(command.get());
}

void disconnectPPTPClient(const vpn_pptp_client_record *rec) {
    if (rec) killPPTP_pidfile(M("WAN%d_C%s.pid", rec->wan_num, rec->interface_id));
}

int getPPTPPID(const char *name) {
    if (!module::is_file_name(name)) return 0;
    return first_number(std::string(kRun) + "/" + name);
}

void killPPTP_pidfile(const char *name) { kill_process(getPPTPPID(name)); }

void disconnectPPTPServerbyWAN(int wan) {
    const std::string prefix = "WAN" + std::to_string(wan) + "_S";
    for (const std::string &name : run_entries())
        if (starts_with(name, prefix)) kill_process(getPPTPPID(name.c_str()));
}

void disconnectPPTPServer(const vpn_pptp_server_record *rec) {
    if (!rec) return;
    const std::string session = std::string("_S") + rec->interface_id + "_";
    for (const std::string &name : run_entries())
        if (starts_with(name, "WAN") && name.find(session) != std::string::npos) killPPTP_pidfile(name.c_str());
}

}  // extern "C"
