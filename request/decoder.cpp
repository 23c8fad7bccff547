// qDecoder: turns the request's cookies, query string and body into the
// form value list, and the raw sources and line helpers it is built on.
#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "request/form_state.h"
#include "request/multipart.h"
#include "webadmin.h"

namespace request {
namespace {

// The URL-encoded body of a POST request: atoi(CONTENT_LENGTH) bytes, or
// what arrived of them.  The buffer grows with the data, so a length that
// promises more than the body holds costs no memory.
char *read_post_body() {
    const char *method = std::getenv("REQUEST_METHOD");
    if (!method || std::strcmp(method, "POST") != 0) return nullptr;
    const char *length_text = std::getenv("CONTENT_LENGTH");
    if (!length_text) qError("_get_query(): Your browser sent a non-HTTP compliant message.");
    long length = std::strtol(length_text, nullptr, 10);
    if (length < 1) return strdup("");
    size_t want = static_cast<size_t>(std::min<long>(length, INT_MAX));

    size_t capacity = std::min<size_t>(want, 65536) + 1;
    HeapText body(static_cast<char *>(std::malloc(capacity)));
    if (!body) qError("_get_query(): Memory allocation fail.");
    size_t got = 0;
    while (got < want) {
        if (got + 1 == capacity) {
            size_t larger = std::min(want, (capacity - 1) * 2) + 1;
            char *grown = static_cast<char *>(std::realloc(body.get(), larger));
            if (!grown) qError("_get_query(): Memory allocation fail.");
            (void)body.release();
            body.reset(grown);
            capacity = larger;
        }
        size_t n = read_stdin(body.get() + got, std::min(capacity - 1 - got, want - got));
        if (n == 0) break;  // the body is shorter than announced: keep what came
        got += n;
    }
    body.get()[got] = '\0';
    return body.release();
}

}  // namespace

std::size_t read_stdin(char *dst, std::size_t n) {
    for (;;) {
        ssize_t got = ::read(0, dst, n);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // A non-blocking descriptor from the web server: wait for data.
            pollfd ready{0, POLLIN, 0};
            if (poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
        }
        return 0;
    }
}

int decode_query_source(const char *method, char separator, EntryAppender &out) {
    HeapText source(_get_query(method));
    if (!source) return 0;
    std::string_view rest(source.get());
    int count = 0;
    while (!rest.empty()) {
        size_t cut = rest.find(separator);
        std::string_view token = rest.substr(0, cut);
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);

        size_t equals = token.find('=');
        char *name = EntryAppender::copy(token.substr(0, equals));
        char *value = EntryAppender::copy(equals == std::string_view::npos ? std::string_view()
                                                                           : token.substr(equals + 1));
        if (name) qURLdecode(qRemoveSpace(name));
        qURLdecode(value);
        if (!out.adopt(name, value)) qError("qDecoder(): Memory allocation fail.");
        ++count;
    }
    return count;
}

}  // namespace request

extern "C" {

char *_makeword(char *line, char stop) {
    if (!line) return nullptr;
    char *end = std::strchr(line, stop);  // a NUL stop finds the end
    size_t length = end ? static_cast<size_t>(end - line) : std::strlen(line);
    char *word = request::EntryAppender::copy(std::string_view(line, length));
    if (end && *end)
        std::memmove(line, end + 1, std::strlen(end + 1) + 1);
    else
        line[0] = '\0';
    return word;
}

char *_fgets(char *buf, int size, FILE *stream) {
    if (!buf || size < 1 || !stream) return nullptr;
    int count = 0;
    flockfile(stream);
    while (count < size - 1) {
        int c = getc_unlocked(stream);
        if (c == EOF) break;
        buf[count++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    funlockfile(stream);
    buf[count] = '\0';
    return count ? buf : nullptr;
}

char *_get_query(const char *method) {
    if (!method) return nullptr;
    if (std::strcmp(method, "GET") == 0) {
        const char *query = std::getenv("QUERY_STRING");
        if (!query) return nullptr;
        const char *uri = std::getenv("REQUEST_URI");
        if (!*query && uri) {
            const char *mark = std::strchr(uri, '?');
            return strdup(mark ? mark + 1 : "");
        }
        return strdup(query);
    }
    if (std::strcmp(method, "POST") == 0) return request::read_post_body();
    if (std::strcmp(method, "COOKIE") == 0) {
        const char *cookie = std::getenv("HTTP_COOKIE");
        return cookie ? strdup(cookie) : nullptr;
    }
    return nullptr;
}

int qDecoder(void) {
    using request::form;
    if (form.head) return -1;
    const char *type = std::getenv("CONTENT_TYPE");
    if (type && std::strncmp(type, "multipart/form-data", 19) == 0) {
        const char *cgi = qCGIname();
        return request::parse_multipart(cgi && std::strcmp(cgi, "directory.cgi") == 0);
    }
    request::EntryAppender out(form.head);
    form.cookie_count = request::decode_query_source("COOKIE", ';', out);
    form.get_count = request::decode_query_source("GET", '&', out);
    form.post_count = request::decode_query_source("POST", '&', out);
    return form.cookie_count + form.get_count + form.post_count;
}

void qUploadToDisk(const char *dir, int maxsize) {
    using request::upload;
    if (!dir || std::strlen(dir) >= sizeof upload.dir) return;
    std::strcpy(upload.dir, dir);
    upload.maxsize = maxsize;
    upload.enabled = true;
}

}  // extern "C"
