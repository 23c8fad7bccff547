// Awk-style reading of separator-split text files, one line at a time.
#include <stdlib.h>
#include <string.h>

#include "webadmin.h"

namespace {

FILE *awk_file = nullptr;
char awk_separator = ' ';

// Copies text into one field slot, cut at the slot's capacity.
void set_field(char *slot, const char *text, size_t len) {
    if (len > Q_AWK_FIELD_SIZE - 1) len = Q_AWK_FIELD_SIZE - 1;
    memcpy(slot, text, len);
    slot[len] = '\0';
}

}  // namespace

extern "C" {

int qAwkOpen(const char *filename, char separator) {
    if (awk_file) qError("qAwkOpen(): There is already opened handle.");
    awk_file = qfopen(filename, "r");
    if (!awk_file) return 0;
    awk_separator = separator;
    return 1;
}

int qAwkNext(char array[][Q_AWK_FIELD_SIZE]) {
    if (!awk_file) qError("qAwkNext(): There is no opened handle.");
    char *line = qfGetLine(awk_file);
    if (!line) return -1;
    int fields = qAwkStr(array, qRemoveSpace(line), awk_separator);
    free(line);
    return fields;
}

int qAwkClose(void) {
    if (!awk_file) return 0;
    qfclose(awk_file);
    awk_file = nullptr;
    awk_separator = ' ';
    return 1;
}

int qAwkStr(char array[][Q_AWK_FIELD_SIZE], char *str, char delim) {
    if (!str) {
        array[0][0] = '\0';
        return 1;
    }
    int count = 0;
    char *field = str;
    for (;;) {
        // The last slot keeps the rest of the line, separators and all.
        char *end = (delim && count < Q_AWK_MAX_FIELDS - 1) ? strchr(field, delim) : nullptr;
        if (!end) {
            set_field(array[count++], field, strlen(field));
            return count;
        }
        *end = '\0';
        set_field(array[count++], field, static_cast<size_t>(end - field));
        field = end + 1;
    }
}

}
