// Entry lists: the singly linked name/value lists under the form value
// list, text lists, sessions and template arguments.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "request/form_state.h"
#include "webadmin.h"

namespace {

void free_entry(q_entry *entry) {
    std::free(entry->name);
    std::free(entry->value);
    std::free(entry);
}

}  // namespace

extern "C" {

q_entry *_EntryAdd(q_entry *first, const char *name, const char *value) {
    if (!name || !*name) return nullptr;
    if (!value) value = "";
    if (q_entry *found = request::find_named(first, name)) {
        char *copy = request::EntryAppender::copy(value);
        if (!copy) return nullptr;
        std::free(found->value);
        found->value = copy;
        return found;
    }
    q_entry *head = first;
    return request::EntryAppender(head).add(name, value);
}

char *_EntryValue(q_entry *first, const char *name) {
    if (!name) return nullptr;
    q_entry *found = request::find_named(first, name);
    return found ? found->value : nullptr;
}

int _EntryiValue(q_entry *first, const char *name) {
    const char *value = _EntryValue(first, name);
    return value ? std::atoi(value) : 0;
}

int _EntryNo(q_entry *first, const char *name) {
    if (!name) return 0;
    int position = 1;
    for (q_entry *e = first; e; e = e->next, ++position)
        if (e->name && std::strcmp(e->name, name) == 0) return position;
    return 0;
}

q_entry *_EntryRemove(q_entry *first, const char *name) {
    if (!name || !*name) return first;
    q_entry **link = &first;
    while (*link) {
        q_entry *entry = *link;
        if (entry->name && std::strcmp(entry->name, name) == 0) {
            *link = entry->next;
            free_entry(entry);
        } else {
            link = &entry->next;
        }
    }
    return first;
}

void _EntryFree(q_entry *first) {
    while (first) {
        q_entry *next = first->next;
        free_entry(first);
        first = next;
    }
}

int _EntryPrint(q_entry *first) {
    qContentType("text/html");
    int count = 0;
    for (q_entry *e = first; e; e = e->next, ++count)
        std::printf("'%s' = '%s'<br>\n", e->name ? e->name : "", e->value ? e->value : "");
    return count;
}

}  // extern "C"
