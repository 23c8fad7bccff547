// Template substitution: "${NAME}" arguments and include directives.
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <new>
#include <string_view>

#include "webadmin.h"

namespace {

constexpr std::string_view kIncludeStart = "<!--#include file=\"";
constexpr std::string_view kIncludeEnd = "\"-->";
constexpr size_t kNameSize = 1024;
constexpr size_t kValueSize = 65536;
// Includes nest no deeper than this, so a file that includes itself ends;
// and one text opens no more than so many, so that files including each
// other several times do not take exponential time to end.
constexpr int kMaxIncludeDepth = 16;
constexpr int kMaxIncludes = 64;

int include_depth = 0;
int includes_opened = 0;  // by the outermost qSedStr call running

void include_file(q_entry *args, std::string_view name, FILE *out) {
    if (name.size() >= kNameSize || include_depth >= kMaxIncludeDepth || includes_opened >= kMaxIncludes) {
        // A name that does not fit, or an include nested too deep or one too
        // many, is never opened.
        int shown = static_cast<int>(name.size() < kNameSize ? name.size() : kNameSize - 1);
        printf("[qSedStr: an error occurred while processing 'include' directive - file(%.*s) open fail]", shown,
               name.data());
        return;
    }
    char file[kNameSize];
    name.copy(file, name.size());
    file[name.size()] = '\0';
    if (!qCheckFile("%s", file)) {
        printf("[qSedStr: an error occurred while processing 'include' directive - file(%s) open fail]", file);
        return;
    }
    ++includes_opened;
    ++include_depth;
    qSedFile(args, file, out);
    --include_depth;
}

// The argument whose whole name stands at text, first in list order.
const q_entry *argument_at(const q_entry *args, std::string_view text) {
    for (const q_entry *e = args; e; e = e->next)
        if (e->name && *e->name && text.starts_with(e->name)) return e;
    return nullptr;
}

}  // namespace

extern "C" {

q_entry *qSedArgAdd(q_entry *first, const char *name, const char *format, ...) {
    if (!name || !*name) qError("qSedArgAdd(): can not add empty name.");
    std::unique_ptr<char[]> value(new (std::nothrow) char[kValueSize]);
    if (!value) qError("qSedArgAdd(): Message is too long or invalid.");
    va_list args;
    va_start(args, format);
    int n = format ? vsnprintf(value.get(), kValueSize, format, args) : -1;
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= kValueSize) {
        value.reset();
        qError("qSedArgAdd(): Message is too long or invalid.");
    }
    q_entry *entry = _EntryAdd(first, name, value.get());
    return first ? first : entry;
}

char *qSedStrValue(q_entry *first, const char *name) { return _EntryValue(first, name); }

void qSedArgFree(q_entry *first) { _EntryFree(first); }

int qSedArgPrint(q_entry *first) { return _EntryPrint(first); }

int qSedStr(q_entry *first, const char *srcstr, FILE *fpout) {
    if (!srcstr) return 0;
    if (!fpout) return 0;
    if (include_depth == 0) includes_opened = 0;
    std::string_view text(srcstr);
    while (!text.empty()) {
        size_t plain = text.find_first_of(first ? "<$" : "<");
        if (plain == std::string_view::npos) plain = text.size();
        fwrite(text.data(), 1, plain, fpout);
        text.remove_prefix(plain);
        if (text.empty()) break;

        if (text.front() == '$') {
            if (const q_entry *arg = argument_at(first, text)) {
                fputs(arg->value ? arg->value : "", fpout);
                text.remove_prefix(strlen(arg->name));
            } else {
                fputc('$', fpout);
                text.remove_prefix(1);
            }
        } else if (text.starts_with(kIncludeStart)) {
            size_t end = text.find(kIncludeEnd, kIncludeStart.size());
            if (end == std::string_view::npos) {
                printf("[qSedStr: an error occurred while processing 'include' directive - ending tag not found]");
                text.remove_prefix(1);
            } else {
                include_file(first, text.substr(kIncludeStart.size(), end - kIncludeStart.size()), fpout);
                text.remove_prefix(end + kIncludeEnd.size());
            }
        } else {
            fputc('<', fpout);
            text.remove_prefix(1);
        }
    }
    return 1;
}

int qSedFile(q_entry *first, const char *filename, FILE *fpout) {
    char *text = qReadFile(filename, nullptr);
    if (!text) return 0;
    int result = qSedStr(first, text, fpout);
    free(text);
    return result;
}

}
