// The dynamic DNS accounts.  The module keeps the accounts and starts the
// external updater; the updater talks to the providers and leaves one
// status character per account in a status file that the module reads.
#include <cstring>
#include <iterator>
#include <string>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "system/module_xml.h"

namespace {

// The providers' display names, by index: what a record's provider is one of.
constexpr const char *kProviderNames[] = {"DynDNS", "DNS2GO", "NO-IP",  "DTDNS",  "ChangeIP",    "TWNIC",
                                          "3322",   "3y3",    "88IP",   "DHS",    "UBDdns",      "PeanutHull",
                                          "OSTRAL", "OSTRAL Easy", "Tarvex"};

}  // namespace

extern "C" const ddns_provider ddns_providers[16] = {
    {kProviderNames[0], "www.dyndns.example", "U.S.A.", "update.dyndns.example", 80, "1d"},
    {kProviderNames[1], "www.dns2go.example", "U.S.A.", "update.dns2go.example", 83, "1d"},
    {kProviderNames[2], "www.no-ip.example", "U.S.A.", "update.no-ip.example", 80, "1d"},
    {kProviderNames[3], "www.dtdns.example", "U.S.A.", "update.dtdns.example", 80, "1d"},
    {kProviderNames[4], "www.changeip.example", "U.S.A.", "update.changeip.example", 80, "1d"},
    {kProviderNames[5], "www.twnic.example", "Taiwan", "update.twnic.example", 1053, "1d"},
    {kProviderNames[6], "www.3322.example", "China", "update.3322.example", 80, "1d"},
    {kProviderNames[7], "www.3y3.example", "China", "update.3y3.example", 80, "1d"},
    {kProviderNames[8], "www.88ip.example", "China", "update.88ip.example", 80, "1h"},
    {kProviderNames[9], "www.dhs.example", "Australia", "update.dhs.example", 80, "2h"},
    {kProviderNames[10], "www.ubddns.example", "Taiwan", "update.ubddns.example", 80, "1h"},
    {kProviderNames[11], "www.peanuthull.example", "China", "update.peanuthull.example", 80, "1d"},
    {kProviderNames[12], "www.ostral.example", "Taiwan", "update.ostral.example", 80, "1d"},
    {kProviderNames[13], "www.ostral-easy.example", "Taiwan", "update.ostral-easy.example", 80, "1d"},
    {kProviderNames[14], "www.tarvex.example", "Taiwan", "update.tarvex.example", 80, "1d"},
    {"", "", "", "", 0, ""},
};

namespace {

using module::holds;
using module::kind;
using module::kUnset;
using module::same_text;
using record = ddns_record;

constexpr const char *kSource = "system/ddns.c";
constexpr int kFile = 22;
constexpr int kProviders = std::size(kProviderNames);
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

// The domain "<custom>" says that host holds the whole name.  The form
// names the published port by select_port, a fixed address by wan_ip.
constexpr const char *kCustomDomain[] = {"<custom>"};
constexpr auto kFields = module::describe({
    MODULE_FIELD(record, provider, kind::number).one_of(kProviderNames),
    MODULE_FIELD(record, username, kind::word).is(holds::label),
    MODULE_FIELD(record, password, kind::word).is(holds::secret),
    MODULE_FIELD(record, host, kind::word).is(holds::host),
    MODULE_FIELD(record, domain, kind::word).is(holds::host).or_one_of(kCustomDomain),
    MODULE_FIELD(record, auto_wan, kind::number).is(holds::number, 0, 1),
    MODULE_FIELD(record, wan_info, kind::word).is(holds::ifname).in_form("select_port"),
});
constexpr module::field kFixedAddress = MODULE_KEYED(record, wan_info, "wan_ip", kind::word).is(holds::ipv4);

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

// Without a fixed address the form's port is published.
void *account_cgiParam(record *rec) {
    if (!rec) return rec;
    record r = *rec;
    if (module::form_fields(&r, kFields)) return nullptr;
    if (r.auto_wan == 0) {
        record fixed = r;
        if (!module::take(&fixed, kFixedAddress, qValue("%s", kFixedAddress.key))) return nullptr;
        if (same_text(fixed.wan_info, kUnset)) r.auto_wan = 1;
        else r = fixed;
    }
    r.status = '0';
    *rec = r;
    return rec;
}

void account_entry(module::xml_entry &e, const record &r) {
    const int p = r.provider >= 0 && r.provider < kProviders ? r.provider : 0;
    e.text("provider", kProviderNames[p]);
    module::export_fields(e, &r, module::field_list(kFields).subspan(1));
}

extern const module_table kTable;

void account_xmlConf(const char *function) {
    module::export_xml<record, account_entry>(kTable, function, MODULE_TAG(kSource));
}

// The export names the provider, an older document numbers it: both read
// back.  The status is that of the line the record will take.
void *account_xmlEntry(xml_node *node, void *rec) {
    if (!node || !rec) return rec;
    auto &r = *static_cast<record *>(rec);
    const module::field *refused = module::read_fields(module::xml_values(node), &r, kFields);
    record_file *h = module::open_file(kFile, MODULE_TAG(kSource), 0);
    r.status = status_of(h ? static_cast<int>(h->count) + 1 : 1);
    my_CloseFile(h);
    return refused ? nullptr : rec;
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

const module::description module::descriptions::ddns{"ddns", kFields};

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
