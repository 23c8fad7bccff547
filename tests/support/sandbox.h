// A demo appliance root for one test, and the CGI run as the web server runs it.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace testing_support {

// A fresh temporary directory that stands for the appliance's root while it
// lives: once entered, APPLIANCE_ROOT names it in this process too, so
// library calls made by the test use it; the previous APPLIANCE_ROOT comes
// back at its end.
class Root {
public:
    Root(const Root &) = delete;
    Root &operator=(const Root &) = delete;

    const std::string &root() const { return root_; }
    std::string file(const std::string &appliance_path) const { return root_ + appliance_path; }
    std::string read(const std::string &appliance_path) const;   // "" when absent
    bool exists(const std::string &appliance_path) const;
    void write(const std::string &appliance_path, const std::string &content) const;  // directories made
    void remove(const std::string &appliance_path) const;
    std::string commands() const { return read("/commands.log"); }

protected:
    Root();
    ~Root();
    void enter();  // APPLIANCE_ROOT names this root
    void leave();  // the previous APPLIANCE_ROOT back

private:
    std::string root_;
    std::string previous_root_;
    bool had_previous_ = false, entered_ = false;
};

// A fresh demo appliance built with tools/make-root (extra product
// definitions given as "NAME=VALUE"), removed with its IPC objects at the end.
class Sandbox : public Root {
public:
    explicit Sandbox(const std::vector<std::string> &definitions = {});
    ~Sandbox();
};

struct Output {
    int status = -1;   // exit status, or 128 + signal
    std::string out;   // standard output
    std::string err;   // standard error
};

// Runs a program with exactly the given environment (plus APPLIANCE_ROOT of
// the sandbox and APPLIANCE_SLEEP=0), feeding body on standard input.
Output run(const Sandbox &box, const std::vector<std::string> &argv,
           const std::map<std::string, std::string> &env, const std::string &body = {});

// Whether each program run costs many times a plain one: under the
// sanitizers or an emulator.  Tests that start many processes sample then.
bool slow_processes();

// Runs build/upgrade.cgi as the web server would.
Output run_cgi(const Sandbox &box, const std::map<std::string, std::string> &env,
               const std::string &body = {});

// A multipart/form-data body built byte for byte as a browser sends it.
struct Part {
    std::string name;
    std::string value;
    std::string filename;      // non-empty: a file field
    std::string content_type;  // for file fields
};
std::string multipart(const std::string &boundary, const std::vector<Part> &parts);

std::string read_file(const std::string &path);

// The page a request that stops with message answers, its header included.
std::string error_page(const std::string &message);

}  // namespace testing_support
