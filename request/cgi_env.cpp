// Accessors of the CGI environment and the reset of the layer's state.
#include <stdlib.h>
#include <string.h>

#include <string_view>

#include "webadmin.h"

namespace {

char script_name[256];

}  // namespace

extern "C" {

char *qGetenvDefault(const char *nullstr, const char *envname) {
    const char *value = envname ? getenv(envname) : nullptr;
    return const_cast<char *>(value ? value : nullstr);
}

char *qCGIname(void) {
    const char *env = getenv("SCRIPT_NAME");
    if (!env) return nullptr;
    // The base name is taken from the whole variable, so a long directory
    // part never hides it; a base name that does not fit is cut.
    std::string_view name(env);
    size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    size_t n = name.copy(script_name, sizeof script_name - 1);
    script_name[n] = '\0';
    return qRemoveSpace(script_name);
}

void qCGIEnvironment(q_cgi_env *env) {
    if (!env) return;
    env->auth_type = getenv("AUTH_TYPE");
    env->content_length = getenv("CONTENT_LENGTH");
    env->content_type = getenv("CONTENT_TYPE");
    env->document_root = getenv("DOCUMENT_ROOT");
    env->gateway_interface = getenv("GATEWAY_INTERFACE");
    env->http_accept = getenv("HTTP_ACCEPT");
    env->http_accept_encoding = getenv("HTTP_ACCEPT_ENCODING");
    env->http_accept_language = getenv("HTTP_ACCEPT_LANGUAGE");
    env->http_connection = getenv("HTTP_CONNECTION");
    env->http_cookie = getenv("HTTP_COOKIE");
    env->http_host = getenv("HTTP_HOST");
    env->http_referer = getenv("HTTP_REFERER");
    env->http_user_agent = getenv("HTTP_USER_AGENT");
    env->query_string = getenv("QUERY_STRING");
    env->remote_addr = getenv("REMOTE_ADDR");
    env->remote_host = getenv("REMOTE_HOST");
    if (!env->remote_host) env->remote_host = env->remote_addr;
    env->remote_port = getenv("REMOTE_PORT");
    env->remote_user = getenv("REMOTE_USER");
    env->request_method = getenv("REQUEST_METHOD");
    env->request_uri = getenv("REQUEST_URI");
    env->script_filename = getenv("SCRIPT_FILENAME");
    env->script_name = getenv("SCRIPT_NAME");
    env->server_admin = getenv("SERVER_ADMIN");
    env->server_name = getenv("SERVER_NAME");
    env->server_port = getenv("SERVER_PORT");
    env->server_protocol = getenv("SERVER_PROTOCOL");
    env->server_software = getenv("SERVER_SOFTWARE");
    env->server_signature = getenv("SERVER_SIGNATURE");
    env->unique_id = getenv("UNIQUE_ID");

    const struct tm *now = qGetTime();
    env->year = now->tm_year;
    env->mon = now->tm_mon;
    env->day = now->tm_mday;
    env->hour = now->tm_hour;
    env->min = now->tm_min;
    env->sec = now->tm_sec;
}

void qResetState(void) {
    qFreeAll();
    qErrorLog(nullptr);
    qErrorContact(nullptr);
    qResetContentFlag();
}

}
