// Locked file access, whole-file reads and stores on appliance paths.
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <string>

#include "platform/platform.h"
#include "webadmin.h"

namespace {

// Where the file manager's upload decoder spills large uploads.
constexpr const char *kSpillFile = "/database/.qUploadFile";

bool stat_path(const char *path, struct stat *st) {
    return path && stat(platform::path(path).c_str(), st) == 0;
}

// Formats a path name into a 1024-byte buffer, or stops the request.
void format_path(char (&buf)[1024], const char *caller, const char *format, va_list args)
    __attribute__((format(printf, 3, 0)));
void format_path(char (&buf)[1024], const char *caller, const char *format, va_list args) {
    int n = format ? vsnprintf(buf, sizeof buf, format, args) : -1;
    if (n < 0 || static_cast<size_t>(n) >= sizeof buf) qError("%s(): File name is too long or invalid.", caller);
}

// The text between double quotes of a shell command: the characters that
// keep a meaning there are escaped.
std::string double_quoted(const char *text) {
    std::string out;
    for (const char *p = text; *p; ++p) {
        if (strchr("\"$`\\", *p)) out += '\\';
        out += *p;
    }
    return out;
}

}  // namespace

extern "C" {

int _flockopen(FILE *fp) { return fp ? flock(fileno(fp), LOCK_EX) : -1; }

int _flockclose(FILE *fp) { return fp ? flock(fileno(fp), LOCK_UN) : -1; }

FILE *qfopen(const char *path, const char *mode) {
    if (!path || !mode) return nullptr;
    FILE *fp = fopen(platform::path(path).c_str(), mode);
    if (fp) _flockopen(fp);
    return fp;
}

int qfclose(FILE *stream) {
    if (!stream) return EOF;
    // What is still buffered goes out while the lock is held: written after
    // the unlock, a reader in another process could find the file empty.
    const int flushed = fflush(stream);
    _flockclose(stream);
    const int closed = fclose(stream);
    return flushed == 0 ? closed : EOF;
}

char *qfGetLine(FILE *fp) {
    if (!fp) return nullptr;
    size_t size = 1024;
    char *buf = static_cast<char *>(malloc(size));
    if (!buf) qError("qfGetLine(): Memory allocation fail.");
    size_t len = 0;
    int c;
    while ((c = getc(fp)) != EOF) {
        if (len == size - 1) {
            char *bigger = static_cast<char *>(malloc(size * 2 + 1));
            if (!bigger) {
                free(buf);
                qError("qfGetLine(): Memory allocation fail.");
            }
            memcpy(bigger, buf, len);
            free(buf);
            buf = bigger;
            size *= 2;
        }
        buf[len++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    if (len == 0) {
        free(buf);
        return nullptr;
    }
    buf[len] = '\0';
    return buf;
}

char *qReadFile(const char *filename, int *size) {
    if (size) *size = 0;
    FILE *fp = qfopen(filename, "rb");
    if (!fp) return nullptr;
    // The size is taken under the lock, so a writer cannot change it between.
    struct stat st;
    if (fstat(fileno(fp), &st) != 0 || S_ISDIR(st.st_mode) || st.st_size < 0 ||
        static_cast<unsigned long long>(st.st_size) >= SIZE_MAX) {
        qfclose(fp);
        return nullptr;
    }
    size_t expected = static_cast<size_t>(st.st_size);
    char *buf = static_cast<char *>(malloc(expected + 1));
    if (!buf) {
        qfclose(fp);
        return nullptr;
    }
    size_t got = 0;
    while (got < expected) {
        size_t n = fread(buf + got, 1, expected - got, fp);
        if (n == 0) break;
        got += n;
    }
    buf[got] = '\0';
    qfclose(fp);
    if (got != expected) {
        free(buf);
        qError("qReadFile: Size(File:%d, Readed:%d) mismatch.", static_cast<int>(expected), static_cast<int>(got));
    }
    if (size) *size = static_cast<int>(got);
    return buf;
}

long qFileSize(const char *filename) {
    struct stat st;
    return stat_path(filename, &st) ? static_cast<long>(st.st_size) : -1;
}

int qCheckFile(const char *format, ...) {
    char path[1024];
    va_list args;
    va_start(args, format);
    format_path(path, "qCheckFile", format, args);
    va_end(args);
    struct stat st;
    return stat_path(path, &st) ? 1 : 0;
}

int qCatFile(const char *format, ...) {
    char path[1024];
    va_list args;
    va_start(args, format);
    format_path(path, "qCatFile", format, args);
    va_end(args);
    FILE *fp = qfopen(path, "r");
    if (!fp) return -1;
    char chunk[4096];
    size_t total = 0;
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, fp)) > 0) {
        fwrite(chunk, 1, n, stdout);
        total += n;
    }
    qfclose(fp);
    return total > INT_MAX ? INT_MAX : static_cast<int>(total);
}

int qSaveData(const void *data, int size, const char *filename, const char *mode) {
    if (!filename) return -1;
    struct stat st;
    if (stat_path(kSpillFile, &st)) {
        // The upload already sits in the spill file: move it into place.
        std::string command = std::string("/bin/mv ") + kSpillFile + " \"" + double_quoted(filename) + "\"";
        platform::shell(command.c_str());
        return static_cast<int>(qFileSize(filename));
    }
    if (size > 0 && !data) return -1;
    FILE *fp = qfopen(filename, mode);
    if (!fp) return -1;
    size_t written = size > 0 ? fwrite(data, 1, static_cast<size_t>(size), fp) : 0;
    if (qfclose(fp) != 0) return -1;
    return static_cast<int>(written);
}

}
