// Text lists: "name = value" lines of a text or file (comments with '#'),
// read back with the qs functions.
#include <stdarg.h>

#include <cstdlib>
#include <cstring>

#include "request/form_state.h"
#include "webadmin.h"

namespace {

// The qsValueFirst/qsValueNext position, apart from the form value list's.
struct TextListCursor {
    q_entry *entry = nullptr;
    char name[1024] = "";
};
TextListCursor text_cursor;

}  // namespace

extern "C" {

q_entry *qsDecoder(const char *str) {
    if (!str) return nullptr;
    request::HeapText text(strdup(str));
    if (!text) qError("qsDecoder(): Memory allocation fail.");
    q_entry *head = nullptr;
    request::EntryAppender out(head);
    for (char *line = text.get(); line;) {
        char *next = std::strchr(line, '\n');
        if (next) *next++ = '\0';
        qRemoveSpace(line);
        if (*line && *line != '#') {
            char *value = std::strchr(line, '=');
            if (value)
                *value++ = '\0';
            else
                value = line + std::strlen(line);
            if (!out.add(qRemoveSpace(line), qRemoveSpace(value))) qError("qsDecoder(): Memory allocation fail.");
        }
        line = next;
    }
    return head;
}

q_entry *qfDecoder(const char *file) {
    request::HeapText text(qReadFile(file, nullptr));
    return text ? qsDecoder(text.get()) : nullptr;
}

char *qsValue(q_entry *first, const char *format, ...) {
    char name[1024];
    va_list args;
    va_start(args, format);
    request::format_name(name, "qsValue(): Message is too long or invalid.", format, args);
    va_end(args);
    return _EntryValue(first, name);
}

int qsiValue(q_entry *first, const char *format, ...) {
    char name[1024];
    va_list args;
    va_start(args, format);
    request::format_name(name, "qsiValue(): Message is too long or invalid.", format, args);
    va_end(args);
    return _EntryiValue(first, name);
}

char *qsValueFirst(q_entry *first, const char *format, ...) {
    if (!first) return nullptr;
    char name[1024];
    va_list args;
    va_start(args, format);
    request::format_name(name, "qfValueFirst(): Message is too long or invalid.", format, args);
    va_end(args);
    std::strcpy(text_cursor.name, name);
    text_cursor.entry = request::find_named(first, text_cursor.name);
    return text_cursor.entry ? text_cursor.entry->value : nullptr;
}

char *qsValueNext(void) {
    if (text_cursor.entry) text_cursor.entry = request::find_named(text_cursor.entry->next, text_cursor.name);
    if (!text_cursor.entry) {
        text_cursor.name[0] = '\0';
        return nullptr;
    }
    return text_cursor.entry->value;
}

void qsFree(q_entry *first) {
    // An iteration over the list being freed ends with it.
    for (q_entry *e = first; e && text_cursor.entry; e = e->next)
        if (e == text_cursor.entry) text_cursor = TextListCursor{};
    _EntryFree(first);
}

int qsPrint(q_entry *first) { return _EntryPrint(first); }

}  // extern "C"
