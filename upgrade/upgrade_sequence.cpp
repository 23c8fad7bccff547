// The upload (q=1): the image is checked, the appliance is prepared, the
// flash is written behind the reboot page, and the appliance restarts.
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "upgrade/image_format.h"
#include "upgrade/upgrade.h"

namespace {

const char *T(const char *key) { return Name2Str(nullptr, key); }

// The sys_reboot table drives the page; a fragment that could not be built
// (no memory) is skipped.
class RebootPage {
public:
    RebootPage() : table_(sys_reboot_register()) {
        if (!table_) return;
        table_->language(now_language(RS(13)), nullptr);
        table_->set_default(nullptr, nullptr);
    }
    ~RebootPage() { sys_reboot_unregister(table_); }
    RebootPage(const RebootPage &) = delete;
    RebootPage &operator=(const RebootPage &) = delete;

    void show(char *fragment) {
        if (fragment && table_) table_->print(fragment);
        std::free(fragment);
    }
    void count_down(const char *command) {
        if (table_) reinterpret_cast<sys_reboot_command_fn>(table_->command)(nullptr, command);
    }

private:
    module_table *table_;
};

void refuse() {
    message(T("${UPGRADE_INVALID_UPDATE}"), T("${UPGRADE_ENTER_CORRECT_STR}"), 0);
    my_system("/usr/bin/killall -CONT vavazUzo > /dev/null 2>&1");
    my_CGI_log("upgrade", 11, "${EVENTLOG_FAILURE_STR}", nullptr, nullptr);
}

// From here on the appliance only runs what was copied into RAM.
void prepare_ram_tools() {
    my_system("/bin/cp /bin/busybox /tmp > /dev/null 2>&1");
    for (const char *tool : {"reboot", "sync", "killall", "echo", "ln", "sleep"})
        my_system("/bin/ln -s /tmp/busybox /tmp/%s > /dev/null 2>&1", tool);
    for (const char *lib : {"/lib/ld*", "/lib/libcrypt-*", "/lib/libcrypt.*", "/lib/libdl*", "/lib/libgcc*",
                            "/lib/libm*", "/lib/libresolv*", "/lib/libuClibc-*", "/lib/libutil*"})
        my_system("/bin/cp %s /var/lib > /dev/null 2>&1", lib);
    my_system("/bin/rm /var/log -rf > /dev/null 2>&1");
}

void stop_daemons() {
    for (const char *daemon : {"pptp", "whack", "telnetd", "dropbear", "syslogd", "ZERodevido", "VODUd", "CMS_tunnel"})
        my_system("/tmp/killall %s > /dev/null 2>&1", daemon);
}

// The restart after the page's count-down; should the kernel not restart,
// the caller goes on.
void restart_after(RebootPage &page, const char *command) {
    page.count_down(command);
    my_sleep(10);
    my_libc_system("/tmp/echo 1 > /proc/watchdog_reboot");
    my_sleep(10);
    my_reboot();
}

}  // namespace

extern "C" int query_upgrade(system_info_record *record) {
    upgrade_info_record timing{};
    if (!(func_privilege & 2)) return query_webui(record);

    RebootPage page;
    const auto *img = reinterpret_cast<const unsigned char *>(qValue("img"));
    const int length = qiValue("img.length");
    // The length entry is only a form value: it must be the upload's own.
    if (!img || length < static_cast<int>(image::kMinimumLength) || qValueLength("img") != length) {
        refuse();
        return 0;
    }
    const size_t digest_end = static_cast<size_t>(length) - image::kTrailerSize;
    char trailer[image::kDigestSize + 1];
    std::memcpy(trailer, img + digest_end, image::kDigestSize);
    trailer[image::kDigestSize] = '\0';
    if (std::strcmp(trailer, qMD5StrLen(img, digest_end)) != 0) {
        refuse();
        return 0;
    }
    system_info_record header{};
    std::memcpy(&header, img, image::kHeaderSize);

    unsigned long image_id = 0;
    bool readable = image::product_id(img, image_id);
    unsigned long running_id = std::strtoul(record->product_id, nullptr, 16);
    if (access(my_path("/var/tmp/UIIDCARD"), R_OK) != 0 && (!readable || image_id != running_id)) {
        my_syslog(LOG_ERR, "check_product failed!!");
        refuse();
        return 0;
    }

    const int old_major = image::field_number(record->major), old_minor = image::field_number(record->minor),
              old_revision = image::field_number(record->revision);
    const int new_major = image::field_number(header.major), new_minor = image::field_number(header.minor),
              new_revision = image::field_number(header.revision);
    const auto running = static_cast<unsigned>(image::version_number(old_major, old_minor, old_revision));
    const auto offered = static_cast<unsigned>(image::version_number(new_major, new_minor, new_revision));

    page.show(ui_para_valid());
    if (offered < running) page.show(ui_para_ver_down_warn());  // a downgrade warns; it goes on

    prepare_ram_tools();
    my_sleep(1);
    char line[128];
    std::snprintf(line, sizeof line, "${EVENTLOG_SUCCESS_STR} (v%d.%02d.%d ==> v%d.%02d.%d)", old_major, old_minor,
                  old_revision, new_major, new_minor, new_revision);
    my_CGI_bootlog("upgrade", 11, line, nullptr, nullptr);
    my_sleep(8);
    stop_daemons();
    my_system("/tmp/echo 3 > /proc/watchdog_reboot");
    my_sleep(2);

    page.show(ui_para_upgrading(&timing));
    if (write_to_fs(img + image::kHeaderSize, length - static_cast<long>(image::kHeaderSize)) >= 0) {
        page.show(ui_para_write_done(&timing));
        my_sleep(5);
        restart_after(page, "/tmp/sync;/tmp/sleep 30;/tmp/reboot");
        return 0;
    }
    // Nothing was found to write: the appliance restarts on its old firmware.
    page.show(ui_invalid());
    restart_after(page, "/tmp/reboot");
    refuse();
    return 0;
}
