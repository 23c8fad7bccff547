// What the access-point controller's modules share inside the library: the
// controller's interface, the automatic restart the settings and the AP
// form both fill, the defaults of an AP record, and the SSID and wired
// profile modules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "system/module.h"
#include "webadmin.h"

namespace ap {

// The controller's rules are written for IPv4, then IPv6: the families and
// their firewall programs.
inline constexpr int kFamilies[] = {4, 6};
inline constexpr const char *kPrograms[] = {"/sbin/iptables", "/sbin/ip6tables"};

// Appends a formatted text; throws std::bad_alloc when memory runs out.
void append(std::string &out, const char *format, ...) __attribute__((format(printf, 2, 3)));

// The controller's interface: the settings' iname, else system information
// text 41; "^o^" when neither is set.
const char *controller_interface(const ap_setting_record *settings);

// The automatic restart of the APs as the AP daemons read it, "%s %s %s %d
// %d %d" of the three times, the week day, the month day and the mode.
// Throws std::bad_alloc when memory runs out.
std::string restart_summary(const ap_setting_record &settings);
// The settings' fields of the automatic restart, which the AP form fills
// too ("day_time", "week_time", "month_time", "week", "month",
// "en_Autorestart").
module::field_list restart_fields();

// The defaults of an AP record (the ap_host table's set_default).
void host_defaults(ap_host_record &ap);

// The configuration files of every AP whose slots (SSID profiles of either
// band, or wired ports) name the profile are written again.  0, -1 when the
// AP list cannot be read.
int sync_users(bool wired, int32_t id);

// ---- The SSID and wired profile modules ------------------------------------

// A profile's fields: a number or a flag, a word or another text, each
// with its default.
#define AP_NUMBER(Record, member, def, low, high) \
    MODULE_FIELD_OR(Record, member, module::kind::number, #def).is(module::holds::number, low, high)
#define AP_FLAG(Record, member, def) AP_NUMBER(Record, member, def, 0, 1)
#define AP_TEXT(Record, member, def, ...) MODULE_FIELD_OR(Record, member, module::kind::word, def).is(__VA_ARGS__)
// A profile's number, by which the APs' slots name it (0: none, for add to
// give), and its name.
#define AP_PROFILE_NAMED(Record) \
    AP_NUMBER(Record, id, 0, 0, INT32_MAX), AP_TEXT(Record, name, "^o^", module::holds::text)

// The SSID and wired profile modules: records with a number (id) and a
// name, kept in file File, whose changes reach the APs using them; the
// language files are the groups of Groups.
template <typename Record, const auto &Fields, int File, bool Wired, const auto &Groups>
struct profiles {
    using texts = module::texts<Groups>;

    static void *set_default(void *rec, const char *) {
        if (!rec) return rec;
        *static_cast<Record *>(rec) = Record{};
        module::default_fields(rec, Fields);
        return rec;
    }
    static std::string format(const Record &r) { return module::format_fields(&r, Fields); }
    static void *parse(char *line, void *rec) {
        set_default(rec, nullptr);
        module::parse_fields(line, rec, Fields);
        return rec;
    }
    // A profile without a number gets the next one after the highest.
    static int add(record_file *h, void *rec) {
        if (!h || !rec) return -1;
        auto &r = *static_cast<Record *>(rec);
        if (r.id <= 0) {
            int32_t highest = 0;
            module::any_record<Record, parse>(h, [&](const Record &other, uint32_t) {
                if (other.id > highest) highest = other.id;
                return false;
            });
            r.id = highest + 1;
        }
        return module::add<Record, format>(h, rec);
    }
    static int command(void *rec) { return rec ? sync_users(Wired, static_cast<Record *>(rec)->id) : -1; }
    // An SSID profile's change reaches the APs as the new profile; a wired
    // profile's comes as a discommand of the old and a command of the new
    // one, so its recommand has nothing to do.
    static int recommand(void *, void *new_rec) { return command(new_rec); }
    static void *unchanged(void *rec) { return rec; }
    static int initial(void *rec, int, int flag) { return flag ? command(rec) : 0; }
    // Null when the form holds a value a field cannot.
    static void *cgi(void *rec) {
        if (!rec) return rec;
        return module::form_fields(rec, Fields) ? nullptr : rec;
    }
    // The module's table, named name.
    static module_table table(const char *name) {
        module_table t = {
            .clear = module::clear<Record>,
            .add = add,
            .modify = module::modify<Record, format>,
            .isTheSame = module::isTheSame<Record, parse, &Record::name, nullptr>,
            .set_default = set_default,
            .open = module::open<File>,
            .getline = module::getline<parse>,
            .parse = parse,
            .close = module::close_file,
            .command = module::op(command),
            .discommand = module::op(command),
            .recommand = Wired ? module::op(unchanged) : module::op(recommand),
            .language = texts::language,
            .print = texts::print,
            .cgiParam = module::op(cgi),
            .initial_system_cmd = module::op(initial),
        };
        std::snprintf(t.name, sizeof t.name, "%s", name);
        return t;
    }
    // Every profile as a heap record in file order.
    static ll_list *list(const char *tag) {
        ll_list *all = ll_init();
        record_file *h = all ? module::open_file(File, tag, 0) : nullptr;
        if (!h) return all;
        Record r;
        for (int k = 1; module::getline<parse>(h, set_default(&r, nullptr), nullptr, k); ++k) {
            auto *copy = static_cast<Record *>(std::malloc(sizeof(Record)));
            if (copy) *copy = r;
            if (copy && !ll_append(all, copy)) std::free(copy);
        }
        module::close_file(&h);
        return all;
    }
    static void close(ll_list **list) {
        if (!list || !*list) return;
        while (void *r = ll_delete_head(*list)) std::free(r);
        ll_free(*list);
        *list = nullptr;
    }
};

}  // namespace ap
