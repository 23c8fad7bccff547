#include "support/request_env.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

#include "support/capture.h"

namespace testing_support {

namespace {

const char *const kRequestVariables[] = {"REQUEST_METHOD", "QUERY_STRING", "REQUEST_URI", "CONTENT_TYPE",
                                         "CONTENT_LENGTH", "HTTP_COOKIE",  "REMOTE_ADDR", "REMOTE_HOST",
                                         "SCRIPT_NAME"};

}  // namespace

void clear_request_env() {
    for (const char *name : kRequestVariables) unsetenv(name);
}

void feed_stdin(const std::string &body) {
    FILE *file = tmpfile();
    if (!file) return;
    fwrite(body.data(), 1, body.size(), file);
    rewind(file);
    dup2(fileno(file), 0);
    fclose(file);
    clearerr(stdin);
}

Request::Request(const Env &env, const std::string &body) : root_({"/database"}) {
    clear_request_env();
    for (const auto &[name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    feed_stdin(body);
}

Request::~Request() {
    qFree();
    clear_request_env();
}

Pairs pairs(const q_entry *list) {
    Pairs out;
    for (; list; list = list->next) out.emplace_back(list->name, list->value);
    return out;
}

Pairs form_list() { return pairs(qValueList()); }

std::string counts() {
    std::string out = captured_stdout([] { qValuePrint(); });
    size_t at = out.find("COOKIE = ");
    return at == std::string::npos ? out : out.substr(at);
}

}  // namespace testing_support
