// The PPPoE link of a WAN port: the dialler's option and secrets files, its
// start, and its stop.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "system/interface.h"
#include "system/module.h"

namespace {

using interface::kSource;
using module::arg;

constexpr char kPlugin[] = "/usr/pppd/2.4.4/rp-pppoe.so";
constexpr char kStateTable[] = "/var/run/pppd2.tab";
constexpr int kWaitSeconds = 3;

// A user name or password goes into the files between double quotes; one
// its field cannot hold (a hand-edited file) would end the quotes or the
// line, and is left out.
bool clean(const char *key, const char *text) {
    const module::field *f = module::field_named(module::descriptions::interface.fields, key);
    return f && module::accepts(*f, text);
}

std::string options(const interface_pppoe &p) {
    std::string text = "lock\nlocal\nnocrtscts\nnoauth\nmru 1492\nmtu 1492\nnoaccomp\nsync\n";
    if (p.pppoe_demand) text += "demand\n";
    if (p.pppoe_idle > 0) text += "idle " + std::to_string(60LL * p.pppoe_idle) + "\n";
    else text += "lcp-echo-interval 30\nlcp-echo-failure 4\n";
    if (p.pppoe_service && module::has_ipv4(p.pppoe_via_ipaddr)) {
        if (module::has_ipv4(p.pppoe_via_defgw))
            text +=
                std::string(p.pppoe_via_ipaddr) + ":" + p.pppoe_via_defgw + "\nipcp-accept-local\nipcp-accept-remote\n";
        else text += std::string(p.pppoe_via_ipaddr) + "\nipcp-accept-local\n";
        if (module::has_ipv4(p.pppoe_via_netmask)) text += "netmask " + std::string(p.pppoe_via_netmask) + "\n";
    }
    const char *user = clean("pppoe_username", p.pppoe_username) ? p.pppoe_username : module::kUnset;
    return text + "name \"" + user + "\"\nplugin " + kPlugin + "\n";
}

void write_file(const std::string &path, const std::string &content) {
    runtime::file_handle file(std::fopen(platform::path(path).c_str(), "w+"));
    if (file) std::fputs(content.c_str(), file.get());
}

// Whether a process of that name is still running (a zombie has ended).
bool running(const char *name) {
    bool found = false;
    for (my_proc *p = my_proc_list(name), *next; p; p = next) {
        next = p->next;
        found = found || p->state != 'Z';
        std::free(p);
    }
    return found;
}

bool ended_within(const char *name, int seconds) {
    for (int i = 0; i < seconds && running(name); ++i) platform::sleep_seconds(1);
    return !running(name);
}

}  // namespace

namespace interface {

// The files are named after the port; a name that is not an interface's
// (a hand-edited file) could name a path elsewhere, and is left alone.
void write_pppoe_config(int enable, const interface_record &r) {
    if (!module::is_ifname(r.iname)) return;
    const std::string name = module::bounded(r.iname);
    const std::string files[] = {"/etc/ppp/options." + name, "/etc/ppp/pap-secrets." + name,
                                 "/etc/ppp/chap-secrets." + name};
    if (!enable) {
        my_debug(kSource, __LINE__, "Disable PPPoE, so delete config: %s, %s, %s", files[0].c_str(), files[1].c_str(),
                 files[2].c_str());
        for (const std::string &file : files) std::remove(platform::path(file).c_str());
        return;
    }
    const interface_pppoe &p = r.connection.pppoe;
    write_file(files[0], options(p));
    std::string secret;
    if (!module::same_text(p.pppoe_username, module::kUnset) && !module::same_text(p.pppoe_password, module::kUnset) &&
        clean("pppoe_username", p.pppoe_username) && clean("pppoe_password", p.pppoe_password))
        secret = "\"" + std::string(p.pppoe_username) + "\"\t*\t\"" + p.pppoe_password + "\"\t*";
    write_file(files[1], secret);
    write_file(files[2], secret);
}

void pppoe_connect(const interface_record &r) {
    const std::string name = module::bounded(r.iname);
    const int vlan = r.connection.pppoe.pppoe_vlan;
    const std::string device = vlan > 0 ? name + "." + std::to_string(vlan) : name;
    my_system("/usr/sbin/pppd.WAN %s linkname %s newname %s_ppp wanunit %d > /dev/null 2>&1",
              arg(device.c_str()).c_str(), arg(name.c_str()).c_str(), arg(name.c_str()).c_str(), r.nameseq);
}

// The dialler names itself "pppd.WAN" and the port's name.  It is asked to
// end through its pid file, then by that name; one that is still there
// after the wait is killed.
void pppoe_disconnect(const char *iname) {
    if (!iname) return;
    const std::string pid_file = std::string("/var/run/ppp-") + iname + ".pid";
    my_system("/bin/kill `/bin/cat %s`", arg(pid_file.c_str()).c_str());
    const std::string process = std::string("pppd.WAN ") + iname;
    for (int signal : {SIGTERM, SIGKILL}) {
        if (ended_within(process.c_str(), kWaitSeconds)) return;
        my_debug(kSource, __LINE__, "%s still running, signal %d", process.c_str(), signal);
        my_killproc(process.c_str(), signal);
    }
}

void flush_pppoe(const interface_record &r) {
    write_pppoe_config(0, r);
    std::remove(platform::path(kStateTable).c_str());
}

}  // namespace interface
