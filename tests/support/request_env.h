// One CGI request for a test: its variables, its body and its root.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_root.h"
#include "webadmin.h"

namespace testing_support {

using Env = std::map<std::string, std::string>;
using Pairs = std::vector<std::pair<std::string, std::string>>;

// Unsets every CGI variable the request layer reads.
void clear_request_env();

// Makes body the whole of standard input (through a temporary file).
void feed_stdin(const std::string &body);

// Exactly the CGI variables given, the body on standard input and a private
// appliance root with a /database directory; the form value list and the
// variables are cleared at the end.
class Request {
public:
    explicit Request(const Env &env, const std::string &body = {});
    ~Request();
    Request(const Request &) = delete;
    Request &operator=(const Request &) = delete;

    const std::string &root() const { return root_.root(); }

private:
    TempRoot root_;
};

// The name/value pairs of a list, in order.
Pairs pairs(const q_entry *list);

// The decoded form value list.
Pairs form_list();

// qValuePrint()'s lines from the cookie count on.
std::string counts();

}  // namespace testing_support
