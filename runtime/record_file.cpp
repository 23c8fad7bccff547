// Configuration record files: every setting of the appliance lives in a text
// file of one record per line, opened by its number in file_list and held in
// memory by a handle until it is closed.  Closing a writable handle replaces
// the file and mirrors it to the configuration flash partition.
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "runtime/shell_quote.h"
#include "runtime/string_parse.h"
#include "webadmin.h"

file_row file_list[FILE_LIST_ROWS] = {
    {0, ""},
    {1, ""},
    {2, ""},
    {3, ""},
    {4, ""},
    {5, ""},
    {6, ""},
    {7, ""},
    {8, ""},
    {9, ""},
    {10, "/etc/shadow"},
    {11, "/etc/cron.d/root"},
    {12, "/etc/sysconfig/.firewall/boot_mysql"},
    {13, "/etc/sysconfig/.firewall/admin.conf"},
    {14, "/etc/sysconfig/.firewall/permit_ip.conf"},
    {15, "/etc/sysconfig/.firewall/language_set.conf"},
    {16, "/etc/sysconfig/.firewall/setting.conf"},
    {17, "/etc/sysconfig/.firewall/update_time.conf"},
    {18, "/etc/sysconfig/.firewall/msubnet.conf"},
    {19, "/etc/sysconfig/.firewall/static_route.conf"},
    {20, "/etc/sysconfig/.firewall/dhcp.conf"},
    {21, "/etc/sysconfig/.firewall/dynamic_route.conf"},
    {22, "/etc/sysconfig/.firewall/ddns.conf"},
    {23, "/etc/sysconfig/.firewall/host_table.conf"},
    {24, "/etc/sysconfig/.firewall/snmp.conf"},
    {25, "/wizard.conf"},
    {26, "/etc/sysconfig/.firewall/interface_setting.conf"},
    {27, "/var/tmp/interface_setting_tmp.conf"},
    {28, "/etc/sysconfig/.firewall/interface.conf"},
    {29, "/var/tmp/interface_tmp.conf"},
    {30, "/etc/sysconfig/.firewall/lan_custom.conf"},
    {31, "/etc/sysconfig/.firewall/lan_group.conf"},
    {32, "/etc/sysconfig/.firewall/wan_custom.conf"},
    {33, "/etc/sysconfig/.firewall/wan_group.conf"},
    {34, "/etc/sysconfig/.firewall/dmz_custom.conf"},
    {35, "/etc/sysconfig/.firewall/dmz_group.conf"},
    {36, "/etc/sysconfig/.firewall/cnc_address"},
    {37, "/etc/sysconfig/.firewall/chinanet_address"},
    {38, "/etc/sysconfig/.firewall/service_custom.conf"},
    {39, "/etc/sysconfig/.firewall/service_group.conf"},
    {40, "/etc/sysconfig/.firewall/qos.conf"},
    {41, "/etc/sysconfig/.firewall/schedule.conf"},
    {42, "/etc/sysconfig/.firewall/auth_setting.conf"},
    {43, "/etc/sysconfig/.firewall/auth_user.conf"},
    {44, "/etc/sysconfig/.firewall/auth_group.conf"},
    {45, "/etc/sysconfig/.firewall/auth_radius.conf"},
    {46, "/etc/sysconfig/.firewall/auth_pop3.conf"},
    {47, "/etc/sysconfig/.firewall/auth_ldap.conf"},
    {48, "/etc/sysconfig/.firewall/url_block.conf"},
    {49, "/etc/sysconfig/.firewall/url_group.conf"},
    {50, "/etc/sysconfig/.firewall/script_block.conf"},
    {51, "/etc/sysconfig/.firewall/download_block.conf"},
    {52, "/etc/sysconfig/.firewall/upload_block.conf"},
    {53, "/etc/sysconfig/.firewall/ap_block.conf"},
    {54, "/etc/sysconfig/.firewall/mapped_ip.conf"},
    {55, "/etc/sysconfig/.firewall/virtual_ip.conf"},
    {56, "/etc/sysconfig/.firewall/virtual_ip_group.conf"},
    {57, "/etc/sysconfig/.firewall/vpn_ipsec_autokey.conf"},
    {58, "/etc/sysconfig/.firewall/vpn_trunk.conf"},
    {59, "/etc/sysconfig/.firewall/vpn_trunk_group.conf"},
    {60, "/etc/sysconfig/.firewall/vpn_pptp_server.conf"},
    {61, "/etc/sysconfig/.firewall/vpn_pptp_client.conf"},
    {62, "/etc/sysconfig/.firewall/vpn_pptp_modify.conf"},
    {63, "/etc/sysconfig/.firewall/vpn_ssl_ca.conf"},
    {64, "/etc/sysconfig/.firewall/vpn_ssl.conf"},
    {65, "/var/tmp/vpn_ipsec_autokey_w.conf"},
    {66, "/var/tmp/vpn_trunk_w.conf"},
    {67, "/var/tmp/vpn_pptp_server_w.conf"},
    {68, "/var/tmp/vpn_pptp_client_w.conf"},
    {69, "/etc/sysconfig/.firewall/outgoing.conf"},
    {70, "/etc/sysconfig/.firewall/incoming.conf"},
    {71, "/etc/sysconfig/.firewall/wantodmz.conf"},
    {72, "/etc/sysconfig/.firewall/lantodmz.conf"},
    {73, "/etc/sysconfig/.firewall/dmztowan.conf"},
    {74, "/etc/sysconfig/.firewall/dmztolan.conf"},
    {75, "/etc/sysconfig/.firewall/lantolan.conf"},
    {76, "/etc/sysconfig/.firewall/dmztodmz.conf"},
    {77, "/etc/sysconfig/.firewall/mail_conf.conf"},
    {78, "/etc/sysconfig/.firewall/mail_domain_smtp.conf"},
    {79, "/etc/sysconfig/.firewall/mail_relay.conf"},
    {80, "/etc/sysconfig/.firewall/mail_notice.conf"},
    {81, "/etc/sysconfig/.firewall/mail_signatures.conf"},
    {82, "/etc/sysconfig/.firewall/antispam_setting.conf"},
    {83, "/etc/sysconfig/.firewall/global_rule.conf"},
    {84, "/etc/sysconfig/.firewall/whitelist"},
    {85, "/etc/sysconfig/.firewall/blacklist"},
    {86, "/etc/sysconfig/.firewall/training.conf"},
    {87, "/etc/sysconfig/.firewall/antivirus_setting.conf"},
    {88, "/etc/sysconfig/.firewall/report_setting.conf"},
    {89, "/etc/sysconfig/.firewall/mail_backup_setting.conf"},
    {90, "/etc/sysconfig/.firewall/local_audit.conf"},
    {91, "/etc/sysconfig/.firewall/wf_setting.conf"},
    {92, "/etc/sysconfig/.firewall/wf_whitelist.conf"},
    {93, "/etc/sysconfig/.firewall/wf_blacklist.conf"},
    {94, "/etc/sysconfig/.firewall/wf_category.conf"},
    {95, "/etc/sysconfig/.firewall/wf_mime_script.conf"},
    {96, "/etc/sysconfig/.firewall/wf_extension.conf"},
    {97, "/etc/sysconfig/.firewall/wf_group.conf"},
    {98, "/etc/sysconfig/.firewall/wf_report_setting.conf"},
    {99, "/etc/sysconfig/.firewall/idp_setting.conf"},
    {100, "/etc/sysconfig/.firewall/idp_predefined.conf"},
    {101, "/etc/sysconfig/.firewall/idp_custom.conf"},
    {102, "/etc/sysconfig/.firewall/idp_anomaly.conf"},
    {103, "/etc/sysconfig/.firewall/idp_report.conf"},
    {104, "/etc/sysconfig/.firewall/webvpn_setting.conf"},
    {105, "/etc/sysconfig/.firewall/webvpn_auth.conf"},
    {106, "/etc/sysconfig/.firewall/webvpn_subnet.conf"},
    {107, "/etc/sysconfig/.firewall/webvpn_hwauth.conf"},
    {108, "/var/log/webvpn.log"},
    {109, "/etc/sysconfig/.firewall/account_report.conf"},
    {110, "/proc/net/dev"},
    {111, "/etc/sysconfig/.firewall/wakeonlan.conf"},
    {112, "/proc/net/arp"},
    {113, "/etc/sysconfig/.firewall/arp_table.conf"},
    {114, "/etc/sysconfig/.firewall/ip_conntrack_session"},
    {115, "/etc/sysconfig/.firewall/internal2"},
    {116, "/var/db/dhcp_client_leasev4"},
    {117, "/var/db/dhcp_client_leasev6"},
    {118, "/etc/sysconfig/.firewall/logset.conf"},
    {119, "/etc/sysconfig/.firewall/virus_set.conf"},
    {120, "/etc/sysconfig/.firewall/allow.conf"},
    {121, "/mailInfo/virus.log"},
    {122, "/var/log/virus.log"},
    {123, "/etc/sysconfig/.firewall/virus_alert_message.conf"},
    {124, "/etc/sysconfig/.firewall/options.conf"},
    {125, "/etc/sysconfig/.firewall/dns_setting.conf"},
    {126, "/etc/sysconfig/.firewall/core_switch.conf"},
    {127, "/etc/sysconfig/.firewall/edge_switch.conf"},
    {128, "/etc/sysconfig/.firewall/archive_report_setting.conf"},
    {129, "/proc/net/xt_auth/auth"},
    {130, "/etc/sysconfig/.firewall/ha.conf"},
    {131, "/etc/sysconfig/.firewall/zone.conf"},
    {132, "/proc/net/arp6"},
    {133, "/etc/sysconfig/.firewall/dhcp_range.conf"},
    {134, "/etc/sysconfig/.firewall/dhcp_static.conf"},
    {135, "/etc/sysconfig/.firewall/waf_setting.conf"},
    {136, "/etc/sysconfig/.firewall/waf_custom.conf"},
    {137, "/etc/sysconfig/.firewall/waf_report.conf"},
    {138, "/etc/sysconfig/.firewall/ca_local_root_ca.conf"},
    {139, "/etc/sysconfig/.firewall/ca_remote_root_ca.conf"},
    {140, "/etc/sysconfig/.firewall/ca_local_certificates.conf"},
    {141, "/proc/net/xt_userlimit"},
    {142, "/etc/sysconfig/.firewall/user_list.conf"},
    {143, "/etc/sysconfig/.firewall/webvpn_vnc.conf"},
    {144, "/etc/sysconfig/.firewall/bulletin_board_setting.conf"},
    {145, "/etc/sysconfig/.firewall/bulletin_board.conf"},
    {146, "/database/snif_setting.conf"},
    {147, "/etc/sysconfig/.firewall/im_report_setting.conf"},
    {148, "/etc/sysconfig/.firewall/manage_setting.conf"},
    {149, "/etc/sysconfig/.firewall/qq_manager.conf"},
    {150, "/etc/sysconfig/.firewall/sysinfo.conf"},
    {151, "/etc/sysconfig/.firewall/wan_optimization.conf"},
    {152, "/var/tmp/webvpn_subnet_wizard.conf"},
    {153, "/var/tmp/webvpn_auth_user_wizard.conf"},
    {154, "/var/tmp/webvpn_auth_group_wizard.conf"},
    {155, "/var/tmp/webvpn_vnc_wizard.conf"},
    {156, "/var/tmp/webvpn_auth_wizard.conf"},
    {157, "/etc/sysconfig/.firewall/smtp_redirect.conf"},
    {158, "/etc/sysconfig/.firewall/schedule_group.conf"},
    {159, "/etc/sysconfig/.firewall/virtual_link.conf"},
    {160, "/proc/net/WAN_INFO"},
    {161, "/etc/sysconfig/.firewall/ap_auth_list.conf"},
    {162, "/etc/sysconfig/.firewall/ap_auth_group.conf"},
    {163, "/etc/sysconfig/.firewall/ap_auth_profile.conf"},
    {164, "/etc/sysconfig/.firewall/plane_map.conf"},
    {165, "/etc/sysconfig/.firewall/ap_map.conf"},
    {166, "/etc/sysconfig/.firewall/ap_list.conf"},
    {167, "/etc/sysconfig/.firewall/vpn_l2tp_server.conf"},
    {168, "/etc/sysconfig/.firewall/vpn_l2tp_daemon.conf"},
    {169, "/etc/sysconfig/.firewall/admin.func_privilege.conf"},
    {170, "/etc/sysconfig/.firewall/auth_otp.conf"},
    {171, "/etc/sysconfig/.firewall/dnsinfo.conf"},
    {172, "/etc/sysconfig/.firewall/ap_setting.conf"},
    {173, "/etc/sysconfig/.firewall/user_list_setting.conf"},
    {174, "/etc/sysconfig/.firewall/ap_emap.conf"},
    {175, "/etc/sysconfig/.firewall/ap_profile_opt.conf"},
    {176, "/etc/sysconfig/.firewall/ap_group.conf"},
    {177, "/var/log/attack_events.log"},
    {178, "/etc/sysconfig/.firewall/billing_setting.conf"},
    {179, "/etc/sysconfig/.firewall/billing_report_setting.conf"},
    {180, "/etc/sysconfig/.firewall/ap_wired_opt.conf"},
    {181, "/etc/sysconfig/.firewall/ap_custom.conf"},
    {182, "/proc/uptime"},
    {183, "/etc/sysconfig/.firewall/upgrade_info.conf"},
    {184, "/var/log/c_pppoe"},
    {185, "/var/log/c_pptp_server"},
    {186, "/var/log/c_pptp_client"},
    {187, "/var/log/c_dhcp_client"},
    {188, "/var/log/c_dhcp"},
    {189, "/var/log/c_ipsec_vpn"},
    {190, "/var/log/eventlog"},
    {191, "/var/log/trafficlog"},
    {192, "/var/log/c_ap_controller"},
    {193, "/var/log/sessionlog"},
    {194, "/var/log/quotalog"},
    {195, "/var/log/applicationlog"},
    {196, "/var/log/anomalyflowlog"},
    {197, "/var/log/wf_URLFLog"},
    {198, "/var/log/wf_MIMESCRIPTLog"},
    {199, "/var/log/wf_UPLOADLog"},
    {200, "/var/log/wf_DOWNLOADLog"},
    {201, "/var/log/wf_URLF_total"},
    {202, "/var/log/wf_URLF_user"},
    {203, "/var/log/wf_URLF_website"},
    {204, "/var/log/wf_UPLOAD_total"},
    {205, "/var/log/wf_UPLOAD_user"},
    {206, "/var/log/wf_UPLOAD_website"},
    {207, "/var/log/wf_DOWNLOAD_total"},
    {208, "/var/log/wf_DOWNLOAD_user"},
    {209, "/var/log/wf_DOWNLOAD_website"},
    {210, "/etc/sysconfig/.firewall/auth_facebook.conf"},
    {211, "/var/log/billing_plans"},
    {212, "/var/log/billing_pregenerated_ticket"},
    {213, "/var/log/billing_thermal_printer"},
    {214, "/var/log/billing_ticket_custom"},
    {215, "/var/log/billing_freeuser"},
    {216, "/var/log/billing_passcode"},
    {217, "/var/log/billing_log"},
    {218, "/var/log/billing_statistics"},
    {219, "/etc/sysconfig/.firewall/kv_ap_profile_opt.conf"},
    {220, "/var/tmp/kv_ap.dat"},
    {221, "/etc/sysconfig/.firewall/gre_tunnel.conf"},
    {222, "/etc/sysconfig/.firewall/SIPProxy.conf"},
    {223, "/etc/sysconfig/.firewall/auth_weibo.conf"},
    {224, "/etc/sysconfig/.firewall/auth_advertisement.conf"},
    {225, "/etc/sysconfig/.firewall/auth_line.conf"},
    {226, "/etc/sysconfig/.firewall/mvlan.conf"},
    {227, "/backup_conf/reserve/ad_link_setting.conf"},
    {228, "/etc/sysconfig/.firewall/auth_wechat.conf"},
};

static_assert(sizeof(file_row) == 204 && sizeof(file_list) == 46716, "file_list is 229 rows of 204 bytes");

namespace {

constexpr std::string_view kConfigDir = "/etc/sysconfig/.firewall/";
constexpr std::string_view kBackupDir = "/backup_conf";
constexpr const char *kNoMirrorMark = "/var/boot";  // while it exists, nothing is mirrored to flash
constexpr int kConfigPartition = 3;
constexpr int kBackupPartition = 4;
constexpr int kFlashMounted = 104;  // system information integer: 1 while /mnt holds a partition
constexpr int kScratchRows = 10;
constexpr size_t kLineBuffer = RECORD_LINE_MAX + 1;
constexpr size_t kWriteChunk = 65536;

using heap_buffer = runtime::heap_text;
using runtime::unique_fd;

// The appliance path of a row, or null for a number outside the table or
// a scratch row that holds no path.
const char *row_path(int number) {
    if (number < 0 || number >= FILE_LIST_ROWS || file_list[number].path[0] == '\0') return nullptr;
    return file_list[number].path;
}

record_line *new_line(uint32_t number, const char *text) {
    auto *line = static_cast<record_line *>(malloc(sizeof(record_line)));
    if (!line) return nullptr;
    line->text = strdup(text);
    if (!line->text) {
        free(line);
        return nullptr;
    }
    line->number = number;
    line->next = nullptr;
    return line;
}

void free_line(record_line *line) {
    free(line->text);
    free(line);
}

void free_handle(record_file *h) {
    if (h->document) my_mxmlDelete(static_cast<xml_node *>(h->document));
    for (record_line *line = h->lines; line;) {
        record_line *next = line->next;
        free_line(line);
        line = next;
    }
    free(h);
}

record_line *last_line(const record_file *h) {
    record_line *line = h->lines;
    while (line && line->next) line = line->next;
    return line;
}

bool write_all(int fd, const char *data, size_t size) {
    while (size > 0) {
        ssize_t put = write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

// Every line and its newline, in line-number order (the list keeps it).
bool write_lines(int fd, const record_line *lines) {
    std::string chunk;
    chunk.reserve(kWriteChunk);
    for (const record_line *line = lines; line; line = line->next) {
        chunk += line->text;
        chunk += '\n';
        if (chunk.size() >= kWriteChunk) {
            if (!write_all(fd, chunk.data(), chunk.size())) return false;
            chunk.clear();
        }
    }
    return write_all(fd, chunk.data(), chunk.size());
}

// What fopen(path, "w+") and a plain rewrite do: for the files that cannot
// be replaced by another (devices, kernel files, pipes) and for writers
// that could not put a file beside them with the old file's owner.
void write_in_place(const std::string &path, const record_line *lines) {
    unique_fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() >= 0) write_lines(fd.get(), lines);
}

void sync_directory(const std::string &path) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    unique_fd fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) fsync(fd.get());
}

enum class beside { written, failed, impossible };

// Writes the lines to a new file beside target, with the old file's owner
// and mode, and renames it over target: a reader, or the appliance after a
// crash, finds the old content or the new one, never a part.
beside write_beside(const std::string &target, const struct stat *old, const record_line *lines) {
    std::string temp = target + ".tmp" + std::to_string(getpid());
    unlink(temp.c_str());
    unique_fd fd(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.get() < 0) return beside::impossible;
    if (old) {
        struct stat made;
        bool owner_kept = fstat(fd.get(), &made) == 0 &&
                          ((made.st_uid == old->st_uid && made.st_gid == old->st_gid) ||
                           fchown(fd.get(), old->st_uid, old->st_gid) == 0);
        if (!owner_kept) {
            unlink(temp.c_str());
            return beside::impossible;
        }
        fchmod(fd.get(), old->st_mode & 07777);
    }
    bool done = write_lines(fd.get(), lines) && fsync(fd.get()) == 0 && fd.close_checked() &&
                rename(temp.c_str(), target.c_str()) == 0;
    if (!done) {
        unlink(temp.c_str());
        return beside::failed;
    }
    sync_directory(target);
    return beside::written;
}

void replace_file(const std::string &path, const record_line *lines) {
    std::string target = path;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // A link stays a link: the file it names is the one replaced.
        heap_buffer real(realpath(path.c_str(), nullptr));
        if (!real) {
            write_in_place(path, lines);
            return;
        }
        target = real.get();
    }
    bool present = stat(target.c_str(), &st) == 0;
    if (present && !S_ISREG(st.st_mode)) {
        write_in_place(target, lines);
        return;
    }
    if (write_beside(target, present ? &st : nullptr, lines) == beside::impossible) write_in_place(target, lines);
}

bool present(const char *appliance_path) {
    struct stat st;
    return stat(platform::path(appliance_path).c_str(), &st) == 0;
}

// While a flash partition is mounted on /mnt, integer 104 of the system
// information block says so to the other programs of the appliance.
void mount_partition(int partition) {
    WI(kFlashMounted, 1);
    my_system("/bin/mount /dev/mtdblock%d /mnt > /dev/null 2>&1", partition);
}

void unmount_partition() {
    my_system("/bin/umount /mnt > /dev/null 2>&1");
    WI(kFlashMounted, 0);
}

// Keeps the flash partitions in step with a file just written, and marks
// that the configuration changed.
void mirror(const char *path) {
    if (present(kNoMirrorMark)) return;
    std::string_view view(path);
    if (view.starts_with(kConfigDir)) {
        my_writeToConfigPart(path);
    } else if (view.starts_with(kBackupDir)) {
        std::string word = runtime::shell_word(view);
        mount_partition(kBackupPartition);
        my_system("/bin/cp %s /mnt/reserve > /dev/null 2>&1", word.c_str());
        unmount_partition();
    }
    my_system("> /var/tmp/last.config");
}

}  // namespace

// The tag names the opener for diagnostics; reading needs nothing from it.
extern "C" record_file *my_ReadFile(int number, int mode, const char *) {
    auto *h = static_cast<record_file *>(calloc(1, sizeof(record_file)));
    if (!h) return nullptr;
    h->number = number;
    h->mode = mode;
    const char *path = row_path(number);
    if (!path) return h;
    try {
        runtime::file_handle file(fopen(platform::path(path).c_str(), "re"));
        if (!file) return h;
        heap_buffer buffer(static_cast<char *>(malloc(kLineBuffer)));
        if (!buffer) throw std::bad_alloc();
        record_line *tail = nullptr;
        // A longer line is cut at RECORD_LINE_MAX characters and the rest of
        // it skipped, so it never reads as a line of its own.
        while (runtime::read_line(file.get(), buffer.get(), kLineBuffer)) {
            size_t length = strlen(buffer.get());
            if (length && buffer.get()[length - 1] == '\n') buffer.get()[length - 1] = '\0';
            record_line *line = new_line(h->count + 1, buffer.get());
            if (!line) throw std::bad_alloc();
            (tail ? tail->next : h->lines) = line;
            tail = line;
            ++h->count;
        }
        return h;
    } catch (const std::bad_alloc &) {
        free_handle(h);
        return nullptr;
    }
}

// A path that does not fit a row is not cut (that would name another file):
// it gives an empty handle that writes nothing.
extern "C" record_file *my_open_path(const char *path, int mode, const char *tag) {
    static unsigned next_row;
    if (!path || strlen(path) >= FILE_PATH_SIZE) return my_ReadFile(-1, mode, tag);
    int row = static_cast<int>(next_row++ % kScratchRows);
    strcpy(file_list[row].path, path);
    return my_ReadFile(row, mode, tag);
}

extern "C" char *my_GetLine(record_file *h, uint32_t *number_out, int restart) {
    if (!h) return nullptr;
    if (restart == 1) h->cursor = 0;
    record_line *line = h->lines;
    for (uint32_t i = 0; line && i < h->cursor; ++i) line = line->next;
    if (!line) return nullptr;
    ++h->cursor;
    if (number_out) *number_out = line->number;
    return line->text;
}

extern "C" char *my_GetNumData(record_file *h, uint32_t n) {
    if (!h) return nullptr;
    for (record_line *line = h->lines; line && line->number <= n; line = line->next)
        if (line->number == n) return line->text;
    return nullptr;
}

// After a deletion count + 1 may already be taken; the new line then takes
// the number after the highest, so it stays last and no two lines share one.
extern "C" int my_AddLine(record_file *h, const char *text) {
    if (!h || !text) return -1;
    record_line *last = last_line(h);
    uint32_t number = h->count + 1;
    if (last) {
        if (last->number == UINT32_MAX) return -1;
        number = std::max(number, last->number + 1);
    }
    record_line *line = new_line(number, text);
    if (!line) return -1;
    (last ? last->next : h->lines) = line;
    ++h->count;
    return 0;
}

extern "C" int my_ReplaceLine(record_file *h, uint32_t n, const char *text) {
    if (!h || !text) return -1;
    for (record_line *line = h->lines; line && line->number <= n; line = line->next) {
        if (line->number != n) continue;
        char *copy = strdup(text);
        if (!copy) return -1;
        free(line->text);
        line->text = copy;
        return 0;
    }
    return my_AddLine(h, text);
}

// The cursor follows the lines it has passed, so a walk with my_GetLine that
// deletes the line just read goes on with the next one.
extern "C" int my_DelLine(record_file *h, uint32_t n) {
    if (!h) return -1;
    record_line **link = &h->lines;
    for (uint32_t position = 0; *link; link = &(*link)->next, ++position) {
        if ((*link)->number != n) continue;
        record_line *line = *link;
        *link = line->next;
        free_line(line);
        --h->count;
        if (position < h->cursor) --h->cursor;
        return 0;
    }
    return -1;
}

// Line numbers start at 1: a move from or to 0 is refused.
extern "C" int my_ShiftLine(record_file *h, uint32_t from, uint32_t to) {
    if (!h || from == 0 || to == 0) return -1;
    if (from == to) return 0;
    try {
        std::vector<record_line *> lines;
        lines.reserve(h->count);
        for (record_line *line = h->lines; line; line = line->next) lines.push_back(line);
        for (record_line *line : lines) {
            if (line->number == from) line->number = to;
            else if (from < to && line->number > from && line->number <= to) --line->number;
            else if (from > to && line->number >= to && line->number < from) ++line->number;
        }
        std::stable_sort(lines.begin(), lines.end(),
                         [](const record_line *a, const record_line *b) { return a->number < b->number; });
        record_line **link = &h->lines;
        for (record_line *line : lines) {
            *link = line;
            link = &line->next;
        }
        *link = nullptr;
        return 0;
    } catch (const std::bad_alloc &) {
        return -1;
    }
}

extern "C" void my_WriteFile(record_file *h) {
    if (!h) return;
    const char *path = row_path(h->number);
    if (!path) return;
    try {
        replace_file(platform::path(path), h->lines);
    } catch (const std::bad_alloc &) {
    }
}

extern "C" void my_CloseFile(record_file *h) {
    if (!h) return;
    if (h->mode) {
        if (h->document) my_XMLWriteFile(h);
        else my_WriteFile(h);
        if (const char *path = row_path(h->number)) {
            try {
                mirror(path);
            } catch (const std::bad_alloc &) {
            }
        }
    }
    free_handle(h);
}

extern "C" void my_writeToConfigPart(const char *path) {
    if (!path) return;
    try {
        std::string word = runtime::shell_word(path);
        mount_partition(kConfigPartition);
        my_system("/bin/cp %s /mnt > /dev/null 2>&1", word.c_str());
        unmount_partition();
    } catch (const std::bad_alloc &) {
    }
}

extern "C" const char *my_FileName(int number) {
    if (number < 0 || number >= FILE_LIST_ROWS) return nullptr;
    return file_list[number].path;
}

extern "C" void my_RemoveFile(int number) {
    if (const char *path = row_path(number)) my_rm("%s", path);
}
