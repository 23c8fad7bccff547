// The dynamic DNS accounts.  The module keeps the accounts and starts the
// external updater; the updater talks to the providers and leaves one
// status character per account in a status file that the module reads.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "system/module_xml.h"

extern "C" const ddns_provider ddns_providers[16] = {
    {"DynDNS", "www.dyndns.example", "U.S.A.", "update.dyndns.example", 80, "1d"},
    {"DNS2GO", "www.dns2go.example", "U.S.A.", "update.dns2go.example", 83, "1d"},
    {"NO-IP", "www.no-ip.example", "U.S.A.", "update.no-ip.example", 80, "1d"},
    {"DTDNS", "www.dtdns.example", "U.S.A.", "update.dtdns.example", 80, "1d"},
    {"ChangeIP", "www.changeip.example", "U.S.A.", "update.changeip.example", 80, "1d"},
    {"TWNIC", "www.twnic.example", "Taiwan", "update.twnic.example", 1053, "1d"},
    {"3322", "www.3322.example", "China", "update.3322.example", 80, "1d"},
    {"3y3", "www.3y3.example", "China", "update.3y3.example", 80, "1d"},
    {"88IP", "www.88ip.example", "China", "update.88ip.example", 80, "1h"},
    {"DHS", "www.dhs.example", "Australia", "update.dhs.example", 80, "2h"},
    {"UBDdns", "www.ubddns.example", "Taiwan", "update.ubddns.example", 80, "1h"},
    {"PeanutHull", "www.peanuthull.example", "China", "update.peanuthull.example", 80, "1d"},
    {"OSTRAL", "www.ostral.example", "Taiwan", "update.ostral.example", 80, "1d"},
    {"OSTRAL Easy", "www.ostral-easy.example", "Taiwan", "update.ostral-easy.example", 80, "1d"},
    {"Tarvex", "www.tarvex.example", "Taiwan", "update.tarvex.example", 80, "1d"},
    {"", "", "", "", 0, ""},
};

namespace {

using module::kUnset;
using module::same_text;
using record = ddns_record;

constexpr const char *kSource = "system/ddns.c";
constexpr int kFile = 22;
constexpr int kProviders = 15;
constexpr int kUserNameProvider = 8;  // accounts of this provider are told apart by user name
constexpr const char *kStatusFile = "/var/tmp/ddns_status";
constexpr std::size_t kStatusMax = 1024;
constexpr const char *kGroups[] = {"ddns"};
using texts = module::texts<kGroups>;

// The status characters of the accounts, read when first needed and
// released by close: the updater may rewrite the file at any time.
struct status_text {
    bool loaded = false;
    char text[kStatusMax + 1];
};
status_text &status_buffer() {
    static status_text s;
    return s;
}

// The first line of the status file, at most 1024 characters; false when
// the file cannot be read.
bool read_status_line(char (&line)[kStatusMax + 1]) {
    runtime::file_handle f(std::fopen(platform::path(kStatusFile).c_str(), "r"));
    if (!f) return false;
    if (!std::fgets(line, sizeof line, f.get())) line[0] = '\0';
    line[std::strcspn(line, "\r\n")] = '\0';
    return true;
}

// The buffer, read when first needed: a file that cannot be read gives
// every account '0'.
status_text &loaded_status() {
    status_text &s = status_buffer();
    if (!s.loaded) {
        if (!read_status_line(s.text)) {
            std::memset(s.text, '0', kStatusMax);
            s.text[kStatusMax] = '\0';
        }
        s.loaded = true;
    }
    return s;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The status of the account at position n (1 for the first line).
char status_of(int n) {
    const status_text &s = loaded_status();
    if (n < 1 || static_cast<std::size_t>(n) > std::strlen(s.text)) return '0';
    return is_digit(s.text[n - 1]) ? s.text[n - 1] : '0';
}

// The status of the account at position n set in the buffer, which is
// padded with '0' up to n characters when shorter; a character that is no
// digit is stored as '0'.
void set_status(int n, char status) {
    if (n < 1 || static_cast<std::size_t>(n) > kStatusMax) return;
    status_text &s = loaded_status();
    const std::size_t length = std::strlen(s.text);
    if (length < static_cast<std::size_t>(n)) {
        std::memset(s.text + length, '0', n - length);
        s.text[n] = '\0';
    }
    s.text[n - 1] = is_digit(status) ? status : '0';
}

constexpr module::field kFields[] = {
    MODULE_FIELD(record, provider, module::kind::number), MODULE_FIELD(record, username, module::kind::word),
    MODULE_FIELD(record, password, module::kind::word),   MODULE_FIELD(record, host, module::kind::word),
    MODULE_FIELD(record, domain, module::kind::word),     MODULE_FIELD(record, auto_wan, module::kind::number),
    MODULE_FIELD(record, wan_info, module::kind::word),
};

std::string format_account(const record &r) { return module::format_fields(&r, kFields); }

// A line alone names no account's place: its status is '0' until the
// line's position is known.
void *parse_account(char *line, void *rec) {
    module::parse_fields(line, rec, kFields);
    static_cast<record *>(rec)->status = '0';
    return rec;
}

void *account_clear(void *rec) { return module::clear<record>(rec); }

void *account_defaults(void *rec, const char *) {
    if (!rec) return rec;
    auto &r = *static_cast<record *>(rec);
    r.provider = 0;
    module::set_text(r.username, kUnset);
    module::set_text(r.password, kUnset);
    module::set_text(r.host, kUnset);
    module::set_text(r.domain, kUnset);
    module::set_text(r.wan_info, kUnset);
    r.auto_wan = 0;
    return rec;
}

// Line n's place among the lines held, 0 when there is no line n: after a
// removal the numbers keep their gaps until the file is written, the
// status file has none.
int position_of(const record_file *h, int n) {
    int position = 1;
    for (const record_line *l = h ? h->lines : nullptr; l; l = l->next, ++position)
        if (l->number == static_cast<uint32_t>(n)) return position;
    return 0;
}

// Reading a line gives the account the status of its place.
int account_getline(record_file *h, void *rec, uint32_t *line, int k) {
    uint32_t number = 0;
    if (!module::read_next(h, rec, &number, k, parse_account)) return 0;
    static_cast<record *>(rec)->status = status_of(position_of(h, static_cast<int>(number)));
    if (line) *line = number;
    return 1;
}

void *account_getnum(record_file *h, void *rec, int n) {
    if (!module::read_number(h, rec, n, parse_account)) return nullptr;
    static_cast<record *>(rec)->status = status_of(position_of(h, n));
    return rec;
}

// A stored account's status is the record's until the buffer is read again.
int account_add(record_file *h, void *rec) {
    const int added = module::add<record, format_account>(h, rec);
    if (added == 0) set_status(static_cast<int>(h->count), static_cast<const record *>(rec)->status);
    return added;
}

int account_modify(record_file *h, void *rec, int n) {
    const int at = position_of(h, n);
    const int stored = module::modify<record, format_account>(h, rec, n);
    if (stored == 0) set_status(at ? at : static_cast<int>(h->count), static_cast<const record *>(rec)->status);
    return stored;
}

// The account's character leaves the status file with it, so that the
// characters stay in line order; the buffer is read again when next needed.
int account_remove(record_file *h, int n) {
    if (!h) return -1;
    char line[kStatusMax + 1];
    if (const int at = position_of(h, n); at && read_status_line(line)) {
        const std::size_t length = std::strlen(line);
        if (static_cast<std::size_t>(at) <= length) std::memmove(line + at - 1, line + at, length - at + 1);
        if (runtime::file_handle f{std::fopen(platform::path(kStatusFile).c_str(), "w+")}) std::fputs(line, f.get());
        status_buffer().loaded = false;
    }
    return module::remove(h, n);
}

int account_change(void *old_rec, void *new_rec) {
    if (!old_rec || !new_rec) return 0;
    const auto &a = *static_cast<const record *>(old_rec);
    const auto &b = *static_cast<const record *>(new_rec);
    return a.provider != b.provider || a.auto_wan != b.auto_wan || !same_text(a.username, b.username) ||
           !same_text(a.password, b.password) || !same_text(a.host, b.host) || !same_text(a.domain, b.domain) ||
           !same_text(a.wan_info, b.wan_info);
}

// The interface module stores no change while an account publishes the
// interface: this check answers 0 then, and -1 when none does.
int account_interface_check(record_file *h, const interface_record *iface) {
    if (!h || !iface) return -1;
    const bool used = module::any_record<record, parse_account>(
        h, [iname = module::bounded(iface->iname)](const record &r, uint32_t) { return r.wan_info == iname; });
    return used ? 0 : -1;
}

// Provider 8 names the account by its user, every other by its name.
std::string identity(const record &r) {
    return r.provider == kUserNameProvider ? std::string(r.username) : std::string(ddns_compose_host_domain(&r));
}

int account_isTheSame(record_file *h, void *rec, int n) {
    if (!h || !rec) return 0;
    const std::string wanted = identity(*static_cast<const record *>(rec));
    const bool clash = module::any_record<record, parse_account>(
        h, [&](const record &r, uint32_t line) { return line != static_cast<uint32_t>(n) && identity(r) == wanted; });
    return clash ? 1 : 0;
}

record_file *account_open(void *, const char *tag, int mode) { return module::open_file(kFile, tag, mode); }

void account_close(record_file **h) {
    module::close_file(h);
    status_buffer().loaded = false;
}

// The updater takes every account from the file; it is started in the
// background whatever changed.
void *start_updater(void *any) {
    my_system("%s -a >/dev/null 2>&1&", "/sbin/update_ddns");
    return any;
}

void *account_cgiParam(record *r) {
    if (!r) return r;
    r->provider = qiValue("provider");
    module::form_text(r->username, "username");
    module::form_text(r->password, "password");
    module::form_text(r->host, "host");
    module::form_text(r->domain, "domain");
    r->auto_wan = qiValue("auto_wan");
    if (r->auto_wan == 0) {
        module::form_text(r->wan_info, "wan_ip");
        if (same_text(r->wan_info, kUnset)) {
            r->auto_wan = 1;
            module::form_text(r->wan_info, "select_port");
        }
    } else {
        module::form_text(r->wan_info, "select_port");
    }
    r->status = '0';
    return r;
}

void account_entry(module::xml_entry &e, const record &r) {
    const int p = r.provider >= 0 && r.provider < kProviders ? r.provider : 0;
    e.text("provider", ddns_providers[p].name);
    module::export_fields(e, &r, module::field_list(kFields).subspan(1));
}

extern const module_table kTable;

void account_xmlConf(const char *function) {
    module::export_xml<record, account_entry>(kTable, function, MODULE_TAG(kSource));
}

// The export names the provider, an older document numbers it: both read
// back; anything else leaves the provider as it was.
int32_t provider_of(const char *value, int32_t fallback) {
    if (!value) return fallback;
    char *end = nullptr;
    const long number = std::strtol(value, &end, 10);
    if (end != value && !*end) return number >= 0 && number < kProviders ? static_cast<int32_t>(number) : fallback;
    for (int p = 0; p < kProviders; ++p)
        if (strcasecmp(value, ddns_providers[p].name) == 0) return p;
    return fallback;
}

void *account_xmlEntry(xml_node *node, void *rec) {
    if (!node || !rec) return rec;
    auto &r = *static_cast<record *>(rec);
    const module::xml_values v(node);
    r.provider = provider_of(v.raw("provider"), r.provider);
    module::read_fields(v, &r, module::field_list(kFields).subspan(1));
    record_file *h = module::open_file(kFile, MODULE_TAG(kSource), 0);
    r.status = status_of(h ? static_cast<int>(h->count) + 1 : 1);
    my_CloseFile(h);
    return rec;
}

int account_import_xmlConf(xml_node *tree) {
    if (!tree) return -1;
    my_RemoveFile(kFile);
    record_file *h = module::open_file(kFile, MODULE_TAG(kSource), 1);
    if (!h) return -1;
    for (xml_node *e = my_mxmlFindElement(tree, tree, "_entry", nullptr, nullptr, MY_XML_DESCEND); e;
         e = my_mxmlFindElement(e, tree, "_entry", nullptr, nullptr, MY_XML_DESCEND)) {
        record r;
        account_clear(&r);
        account_defaults(&r, nullptr);
        account_xmlEntry(e, &r);
        account_add(h, &r);
    }
    account_close(&h);
    return 0;
}

const module_table kTable = {
    .name = "ddns",
    .clear = account_clear,
    .add = account_add,
    .remove = account_remove,
    .modify = account_modify,
    .change = account_change,
    .interface_check = module::op(account_interface_check),
    .isTheSame = account_isTheSame,
    .set_default = account_defaults,
    .open = account_open,
    .getline = account_getline,
    .getnum = account_getnum,
    .parse = parse_account,
    .close = account_close,
    .command = module::op(start_updater),
    .restorebyinterface = module::op(start_updater),
    .dynamicIPup = module::op(start_updater),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(account_cgiParam),
    .initial_system_cmd = module::op(start_updater),
    .xmlConf = module::op(account_xmlConf),
    .xmlEntry = module::op(account_xmlEntry),
    .import_xmlConf = module::op(account_import_xmlConf),
};

}  // namespace

extern "C" {

module_table *ddns_register(void) { return module::register_table(kTable); }
void ddns_unregister(module_table *table) { module::unregister_table(table); }

char *ddns_compose_host_domain(const ddns_record *r) {
    static char name[1024];
    if (!r) return nullptr;
    if (!same_text(r->domain, kUnset) && !same_text(r->domain, "<custom>"))
        std::snprintf(name, sizeof name, "%s.%s", r->host, r->domain);
    else if (same_text(r->domain, "<custom>"))
        std::snprintf(name, sizeof name, "%s", same_text(r->host, kUnset) ? "---" : r->host);
    else if (r->provider == kUserNameProvider || same_text(r->username, kUnset))
        std::snprintf(name, sizeof name, "---");
    else
        std::snprintf(name, sizeof name, "%s", r->username);
    return name;
}

}  // extern "C"
