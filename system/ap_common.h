// What the access-point controller's modules share inside the library: the
// checks on values that reach command lines, file names and the APs'
// configuration files, the controller's interface, and the defaults of an
// AP record.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "system/module.h"
#include "webadmin.h"

namespace ap {

// Appends a formatted text; throws std::bad_alloc when memory runs out.
void append(std::string &out, const char *format, ...) __attribute__((format(printf, 2, 3)));

// A text that is set: not null, not empty, not "^o^".
inline bool is_set(const char *text) { return text && *text && !module::same_text(text, module::kUnset); }

// An interface or map name the controller accepts: letters, digits, '.',
// '_' and '-', not beginning with '-' or '.'.
bool plain_word(const char *text);
// Six pairs of hexadecimal digits joined by ':'.
bool valid_mac(const char *text);
// A decimal number with an optional sign and fraction.
bool decimal_number(const char *text);
// A character below 0x20 or 0x7f: one that would start a new key of a
// configuration file or a new line of a record.
bool has_control(const char *text);

// A text field from the form that a configuration file carries as a value:
// a value holding a control character is refused and def kept.
template <std::size_t Size>
void form_value(char (&field)[Size], const char *name, const char *def = module::kUnset) {
    const char *value = qValueDefault(def, "%s", name);
    module::set_text(field, has_control(value) ? def : value);
}

// The controller's interface: the settings' iname, else system information
// text 41; "^o^" when neither is set.
const char *controller_interface(const ap_setting_record *settings);

// The defaults of an AP record (the ap_host table's set_default).
void host_defaults(ap_host_record &ap);

// The configuration files of every AP whose slots (SSID profiles of either
// band, or wired ports) name the profile are written again.  0, -1 when the
// AP list cannot be read.
int sync_users(bool wired, int32_t id);

// ---- Profile records described field by field ---------------------------

// One field of a record kept as a line: its key (in the line's order, and
// the form value's name), whether it is a text, where it lies and its
// default (a text, or an integer written as one).
struct field {
    const char *key;
    bool text;
    std::size_t offset, size;
    const char *def;
};
#define AP_TEXT(Record, member, def) \
    ap::field { #member, true, offsetof(Record, member), sizeof(Record::member), def }
#define AP_NUMBER(Record, member, def) \
    ap::field { #member, false, offsetof(Record, member), sizeof(int32_t), #def }

// The fields' defaults (the rest of the record is left as it is).
void default_fields(void *rec, const field *fields, std::size_t n);
// The line: every field in order, a text bare when it is one word.
std::string format_fields(const void *rec, const field *fields, std::size_t n);
// The fields the line holds (the others are left as they are).
void parse_fields(char *line, void *rec, const field *fields, std::size_t n);
// Every field from the form value of its key, its default when absent; a
// text holding a control character is refused.
void form_fields(void *rec, const field *fields, std::size_t n);

// The SSID and wired profile modules: records with a number (id) and a
// name, kept in file File, whose changes reach the APs using them.
template <typename Record, const auto &Fields, int File, bool Wired>
struct profiles {
    static constexpr std::size_t kCount = std::size(Fields);

    static void *set_default(void *rec, const char *) {
        if (!rec) return rec;
        *static_cast<Record *>(rec) = Record{};
        default_fields(rec, Fields, kCount);
        return rec;
    }
    static std::string format(const Record &r) { return format_fields(&r, Fields, kCount); }
    static void *parse(char *line, void *rec) {
        set_default(rec, nullptr);
        parse_fields(line, rec, Fields, kCount);
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
    static int recommand(void *, void *new_rec) { return command(new_rec); }
    static int initial(void *rec, int, int flag) { return flag ? command(rec) : 0; }
    static void *cgi(void *rec) {
        if (rec) form_fields(rec, Fields, kCount);
        return rec;
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
