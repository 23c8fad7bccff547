// The process-wide form value list and what the request layer keeps beside
// it: the qValueFirst/qValueNext position, the group counts and the
// upload-to-disk settings.  Shared by the decoder and the qValue family.
#pragma once

#include <stdarg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "webadmin.h"

namespace request {

struct FormState {
    q_entry *head = nullptr;
    q_entry *cursor = nullptr;    // entry last returned by qValueFirst/qValueNext
    char cursor_name[1024] = "";  // the name qValueFirst remembered
    int cookie_count = 0;
    int get_count = 0;
    int post_count = 0;
    int new_count = 0;            // names added by qValueAdd
    // The byte counts of the body parts held in memory.  A value may hold
    // NUL bytes, and its "%s.length" entry is only a form value that a
    // request can forge, so callers that index into a value ask this.
    struct Held {
        const q_entry *entry;
        const char *value;
        size_t length;
    };
    std::vector<Held> held;
};

struct UploadSettings {
    char dir[1024] = "";
    long long maxsize = 0;  // bytes; 0 or less means no limit
    bool enabled = false;
    int code = 0;           // last upload error code, shown as "%s.errno"
    int counter = 0;        // files named in this process
};

struct FreeDeleter {
    void operator()(void *block) const { std::free(block); }
};
using HeapText = std::unique_ptr<char, FreeDeleter>;  // a malloc'ed text

inline FormState form;
inline UploadSettings upload;

// Builds a list in input order in constant time per entry, starting at the
// current end of the list whose head it is given.
class EntryAppender {
public:
    explicit EntryAppender(q_entry *&head) : link_(&head) {
        while (*link_) link_ = &(*link_)->next;
    }

    // Takes the heap blocks name and value and returns the new last entry;
    // null (both freed) when either is null or the entry cannot be allocated.
    q_entry *adopt(char *name, char *value) {
        q_entry *entry = name && value ? static_cast<q_entry *>(std::malloc(sizeof(q_entry))) : nullptr;
        if (!entry) {
            std::free(name);
            std::free(value);
            return nullptr;
        }
        *entry = q_entry{name, value, nullptr};
        *link_ = entry;
        link_ = &entry->next;
        return entry;
    }

    q_entry *add(std::string_view name, std::string_view value) { return adopt(copy(name), copy(value)); }

    static char *copy(std::string_view text) {
        char *block = static_cast<char *>(std::malloc(text.size() + 1));
        if (block) {
            if (!text.empty()) std::memcpy(block, text.data(), text.size());
            block[text.size()] = '\0';
        }
        return block;
    }

private:
    q_entry **link_;
};

// The first entry named name at or after from, or null.
inline q_entry *find_named(q_entry *from, const char *name) {
    for (q_entry *e = from; e; e = e->next)
        if (e->name && std::strcmp(e->name, name) == 0) return e;
    return nullptr;
}

// Formats a looked-up name into buf; a name that does not fit (or a
// missing format) ends the request with the caller's message.
__attribute__((format(printf, 3, 0))) inline void format_name(char (&buf)[1024], const char *error,
                                                             const char *format, va_list args) {
    int n = format ? std::vsnprintf(buf, sizeof buf, format, args) : -1;
    if (n < 0 || static_cast<size_t>(n) >= sizeof buf) qError("%s", error);
}

}  // namespace request
