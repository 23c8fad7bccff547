// The firmware-upgrade CGI: dispatch table, handlers and pages.
#pragma once

#include "webadmin.h"

extern "C" {

// One row of the dispatch table: request number q and its handler, which
// takes the running system's information record; its result is not read.
typedef struct query_row {
    int32_t q;
    int (*handler)(system_info_record *record);
} query_row;

// Row q serves request q; the dispatcher indexes it directly.
extern const query_row query[4];

// Bit 0: may view the upgrade page; bit 1: may upload firmware.  Set once
// per request before the handler runs.
extern unsigned int func_privilege;

int query_webui(system_info_record *record);    // q=0: the form, or the alert page
int query_upgrade(system_info_record *record);  // q=1: the upload
int query_comment(system_info_record *record);  // q=2: the help window
int query_prepare(system_info_record *record);  // q=3: lock-down before the upload

// The upgrade form; only bit 1 of privilege is examined.  Returns the count
// of the last write.
int webui(system_info_record *record, unsigned int privilege);
// The privilege alert page: an alert, then back one page.
void privilege_alert(void);
// A page of two lines; a non-zero flag colours both with theme entry 96.
int message(const char *first, const char *second, int flag);
void upgrade_css(void);
// Fragments for the reboot page (one line each, line breaks written as "\n"):
// heap texts the caller frees, or null when memory runs out.
char *ui_para_valid(void);
char *ui_para_ver_down_warn(void);
char *ui_invalid(void);

void upgrade_comment_ui(const char *language, int flag);  // the help page
}

extern "C" {
// Writes sections 1 and 2 of an image body (the image after its header,
// trailer included) to /dev/mtdblock1 and /dev/mtdblock2, passes over the
// others, then flushes.  Returns the number of sections reached minus one.
int write_to_fs(const unsigned char *body, long length);
}
