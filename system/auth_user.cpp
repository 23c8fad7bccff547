// The authenticated users and their groups.  What the IPsec tunnels take
// from them is the members of a group, for the XAUTH server's user file:
// applying a user or group rewrites the IPsec secrets.
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

#include "system/module_xml.h"

namespace {

using module::holds;
using module::kind;
using module::kUnset;
using module::same_text;
using record = auth_user_record;

constexpr const char *kSource = "system/auth_user.c";
constexpr int kUsers = 43, kGroups = 44;
constexpr const char *kTexts[] = {"auth_user"}, *kWirelessTexts[] = {"auth_user.apc"};
using texts = module::texts<kTexts>;
using wireless_texts = module::texts<kWirelessTexts>;

// Names stand bare in the XAUTH user file, "user:hash:connection", and the
// password is kept as its hash: the form's typed password is hashed by
// cgiParam, a document brings the hash.
constexpr auto kFields = module::describe({
    MODULE_FIELD(record, name, kind::name).is(holds::label),
    MODULE_UNKEYED(record, id, kind::word).is(holds::identifier),
    MODULE_FIELD(record, password, kind::name).is(holds::secret).in_form(""),
    MODULE_FIELD(record, group, kind::name).is(holds::label),
});

std::string format_user(const record &r) { return module::format_fields(&r, kFields); }

void *parse_user(char *line, void *rec) {
    module::parse_fields(line, rec, kFields);
    return rec;
}

void *user_defaults(void *rec, const char *) {
    if (!rec) return rec;
    auto &r = *static_cast<record *>(rec);
    module::set_text(r.name, kUnset);
    module::set_text(r.id, my_chainID(0));
    module::set_text(r.password, kUnset);
    module::set_text(r.group, kUnset);
    return rec;
}

// Selector 0 the users, 1 the groups.
record_file *user_open(void *selector, const char *tag, int mode) {
    const auto which = reinterpret_cast<std::intptr_t>(selector);
    if (which != 0 && which != 1) return nullptr;
    return module::open_file(which ? kGroups : kUsers, tag, mode);
}

// A group leaves its users without one.
int user_remove(record_file *h, int n) {
    if (!h) return -1;
    record group{};
    if (h->number == kGroups && module::read_number(h, &group, n, parse_user)) {
        record_file *users = module::open_file(kUsers, MODULE_TAG(kSource), 1);
        for (const record_line *l = users ? users->lines : nullptr; l; l = l->next) {
            record u{};
            if (!module::parse_copy(l->text, &u, parse_user) || !same_text(u.group, group.name)) continue;
            module::set_text(u.group, kUnset);
            module::modify<record, format_user>(users, &u, static_cast<int>(l->number));
        }
        my_CloseFile(users);
    }
    return module::remove(h, n);
}

void *rewrite_secrets(record *r) {
    if (r) Rewrite_IpsecSecrets();
    return r;
}

void *user_initial_system_cmd(record *r, int, int flag) { return flag ? rewrite_secrets(r) : r; }

// A typed password is kept as its DES hash with a fresh salt.
void *user_cgiParam(record *rec) {
    if (!rec) return rec;
    static const char kSaltCharacters[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    record r = *rec;
    if (module::form_fields(&r, kFields)) return nullptr;
    if (const char *typed = qValue("password")) {
        const int n = my_rand_num(0);
        const char salt[] = {kSaltCharacters[n % 64], kSaltCharacters[n / 64 % 64], '\0'};
        const char *hash = my_pwencrypt(typed, salt);
        if (!hash) return nullptr;
        module::set_text(r.password, hash);
    }
    *rec = r;
    return rec;
}

void *user_xmlParam(record_file *, void *rec, const char *path) {
    return module::request_fields<record>(path, rec, kFields);
}

// Wireless products have texts of their own.
q_entry *user_language(const char *code, q_entry **table) {
    return IF_DEFINE("HAVE_WIRELESS") ? wireless_texts::language(code, table) : texts::language(code, table);
}
int user_print(const char *text) {
    return IF_DEFINE("HAVE_WIRELESS") ? wireless_texts::print(text) : texts::print(text);
}

void user_entry(module::xml_entry &e, const record &r) { module::export_fields(e, &r, kFields); }

extern const module_table kTable;

void user_xmlConf(const char *function) {
    module::export_xml<record, user_entry>(kTable, function, MODULE_TAG(kSource));
}

void *user_xmlEntry(xml_node *node, void *rec) {
    if (!node || !rec) return rec;
    return module::read_fields(module::xml_values(node), rec, kFields) ? nullptr : rec;
}

// The export holds the users; their groups are made again from the names
// they carry.
int user_import_xmlConf(xml_node *function) {
    const int stored = module::import_list<record, &record::id>(kTable, function, kUsers, MODULE_TAG(kSource));
    if (stored != 0) return stored;
    my_RemoveFile(kGroups);
    record_file *groups = module::open_file(kGroups, MODULE_TAG(kSource), 1);
    if (!groups) return -1;
    const time_t now = time(nullptr);
    module::each_record<record>(kTable.name, MODULE_TAG(kSource), [&](const record &u, uint32_t line) {
        record g{};
        module::set_text(g.name, u.group);
        if (!module::is_set(u.group) || module::isTheSame<record, parse_user, &record::name, nullptr>(groups, &g, 0))
            return false;
        module::set_text(g.id, my_chainID(now + line));
        module::set_text(g.password, kUnset);
        module::set_text(g.group, kUnset);
        module::add<record, format_user>(groups, &g);
        return false;
    });
    my_CloseFile(groups);
    return 0;
}

const module_table kTable = {
    .name = "auth_user",
    .clear = module::clear<record>,
    .add = module::add<record, format_user>,
    .remove = user_remove,
    .modify = module::modify<record, format_user>,
    .isTheSame = module::isTheSame<record, parse_user, &record::name, &record::id>,
    .set_default = user_defaults,
    .open = user_open,
    .getline = module::getline<parse_user>,
    .getnum = module::getnum<parse_user>,
    .parse = parse_user,
    .close = module::close_file,
    .command = module::op(rewrite_secrets),
    .discommand = module::op(rewrite_secrets),
    .recommand = module::op(rewrite_secrets),
    .language = user_language,
    .print = user_print,
    .cgiParam = module::op(user_cgiParam),
    .initial_system_cmd = module::op(user_initial_system_cmd),
    .xmlParam = user_xmlParam,
    .xmlConf = module::op(user_xmlConf),
    .xmlEntry = module::op(user_xmlEntry),
    .import_xmlConf = module::op(user_import_xmlConf),
};

}  // namespace

const module::description module::descriptions::auth_user{"auth_user", kFields};

extern "C" {

module_table *auth_user_register(void) { return module::register_table(kTable); }
void auth_user_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
