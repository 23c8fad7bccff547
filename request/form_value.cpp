// Reading and editing the form value list.  Every read decodes the request
// first when the list is still empty, so a CGI may skip calling qDecoder.
#include <stdarg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "request/form_state.h"
#include "webadmin.h"

namespace {

using request::form;

q_entry *decoded_list() {
    if (!form.head) qDecoder();
    return form.head;
}

// The group an entry came from, by the position of the first entry with
// the name: cookies first, then the query string, the body, and additions.
char group_of(const char *name) {
    int position = _EntryNo(decoded_list(), name);
    if (position == 0) return '-';
    if (position <= form.cookie_count) return 'C';
    if (position <= form.cookie_count + form.get_count) return 'G';
    if (position <= form.cookie_count + form.get_count + form.post_count) return 'P';
    return 'N';
}

}  // namespace

extern "C" {

char *qValue(const char *format, ...) {
    char name[1024];
    va_list args;
    va_start(args, format);
    request::format_name(name, "qValue(): Message is too long or invalid.", format, args);
    va_end(args);
    return _EntryValue(decoded_list(), name);
}

int qiValue(const char *format, ...) {
    char name[1024];
    va_list args;
    va_start(args, format);
    request::format_name(name, "qiValue(): Message is too long or invalid.", format, args);
    va_end(args);
    return _EntryiValue(decoded_list(), name);
}

char *qValueDefault(const char *defstr, const char *format, ...) {
    char name[1024];
    va_list args;
    va_start(args, format);
    request::format_name(name, "qValueDefault(): Message is too long or invalid.", format, args);
    va_end(args);
    char *value = _EntryValue(decoded_list(), name);
    return value && *value ? value : const_cast<char *>(defstr);
}

char *qValueNotEmpty(const char *errmsg, const char *format, ...) {
    char name[1024];
    va_list args;
    va_start(args, format);
    request::format_name(name, "qValueNotEmpty(): Message is too long or invalid.", format, args);
    va_end(args);
    char *value = _EntryValue(decoded_list(), name);
    if (!value || !*value) qError("%s", errmsg ? errmsg : "");
    return value;
}

char *qValueFirst(const char *format, ...) {
    char name[1024];
    va_list args;
    va_start(args, format);
    request::format_name(name, "qValueFirst(): Message is too long or invalid.", format, args);
    va_end(args);
    std::strcpy(form.cursor_name, name);
    form.cursor = request::find_named(decoded_list(), form.cursor_name);
    return form.cursor ? form.cursor->value : nullptr;
}

char *qValueNext(void) {
    if (form.cursor) form.cursor = request::find_named(form.cursor->next, form.cursor_name);
    if (!form.cursor) {
        form.cursor_name[0] = '\0';
        return nullptr;
    }
    return form.cursor->value;
}

char *qValueAdd(const char *name, const char *format, ...) {
    if (!name || !*name) qError("qValueAdd(): can not add empty name.");
    char value[1024];
    va_list args;
    va_start(args, format);
    request::format_name(value, "qValueAdd(): Message is too long or invalid.", format, args);
    va_end(args);
    q_entry *head = decoded_list();
    if (!request::find_named(head, name)) ++form.new_count;
    form.held.clear();  // a replaced value is no longer the decoded one
    q_entry *entry = _EntryAdd(head, name, value);
    if (!form.head) form.head = entry;
    return entry ? entry->value : nullptr;
}

void qValueRemove(const char *format, ...) {
    char name[1024] = "";
    if (format) {
        va_list args;
        va_start(args, format);
        request::format_name(name, "qSessionRemove(): Message is too long or invalid.", format, args);
        va_end(args);
    }
    if (!name[0]) qError("qValueRemove(): can not remove empty name.");
    switch (group_of(name)) {
        case 'C': --form.cookie_count; break;
        case 'G': --form.get_count; break;
        case 'P': --form.post_count; break;
        case 'N': --form.new_count; break;
        default: break;
    }
    // An iteration over this name has nothing left to return.
    if (form.cursor && std::strcmp(form.cursor->name, name) == 0) form.cursor = nullptr;
    form.held.clear();
    form.head = _EntryRemove(form.head, name);
}

char *qValueReplace(const char *mode, const char *name, const char *tokstr, const char *word) {
    if (!mode || std::strlen(mode) != 2 || (mode[0] != 's' && mode[0] != 't') || (mode[1] != 'n' && mode[1] != 'r'))
        qError("qValueReplace(): Unknown mode \"%s\".", mode ? mode : "");
    const char new_string_mode[3] = {mode[0], 'n', '\0'};
    q_entry *head = decoded_list();
    if (!name) return nullptr;
    if (mode[1] == 'n') {
        q_entry *entry = request::find_named(head, name);
        return entry ? qStrReplace(new_string_mode, entry->value, tokstr, word) : nullptr;
    }
    char *first = nullptr;
    form.held.clear();
    for (q_entry *e = request::find_named(head, name); e; e = request::find_named(e->next, name)) {
        char *replaced = qStrReplace(new_string_mode, e->value, tokstr, word);
        if (!replaced) continue;
        std::free(e->value);
        e->value = replaced;
        if (!first) first = replaced;
    }
    return first;
}

char qValueType(const char *format, ...) {
    char name[1024];
    va_list args;
    va_start(args, format);
    request::format_name(name, "qValue(): Message is too long or invalid.", format, args);
    va_end(args);
    return group_of(name);
}

char *qCookieValue(const char *format, ...) {
    char name[1024];
    va_list args;
    va_start(args, format);
    request::format_name(name, "qValue(): Message is too long or invalid.", format, args);
    va_end(args);
    return group_of(name) == 'C' ? _EntryValue(form.head, name) : nullptr;
}

q_entry *qValueList(void) { return decoded_list(); }

int qValuePrint(void) {
    int count = _EntryPrint(decoded_list());
    std::printf("<hr>\n");
    std::printf("COOKIE = %d , GET = %d , POST = %d, NEW = %d\n", form.cookie_count, form.get_count,
                form.post_count, form.new_count);
    return count;
}

void qFree(void) {
    _EntryFree(form.head);
    form = request::FormState{};
}

void qFreeAll(void) {
    qFree();
    qSessionFree();
    qAwkClose();
}

long long qValueLength(const char *format, ...) {
    char name[1024];
    va_list args;
    va_start(args, format);
    request::format_name(name, "qValueLength(): Message is too long or invalid.", format, args);
    va_end(args);
    const q_entry *entry = request::find_named(decoded_list(), name);
    for (const request::FormState::Held &h : form.held)
        if (entry && h.entry == entry && h.value == entry->value) return static_cast<long long>(h.length);
    return -1;
}

}  // extern "C"
