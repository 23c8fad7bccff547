// A demo appliance root for one test, and the CGI run as the web server runs it.
#pragma once

#include <stdlib.h>
#include <sys/types.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace testing_support {

inline std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A fresh temporary directory standing for the appliance's root.  Once entered, APPLIANCE_ROOT
// names it in this process too; the previous value comes back when it is left or ends.
class Root {
public:
    Root(const Root &) = delete;
    Root &operator=(const Root &) = delete;

    const std::string &root() const { return root_; }
    std::string file(const std::string &appliance_path) const { return root_ + appliance_path; }
    std::string read(const std::string &appliance_path) const { return read_file(file(appliance_path)); }
    bool exists(const std::string &appliance_path) const {
        std::error_code ignored;
        return std::filesystem::exists(std::filesystem::symlink_status(file(appliance_path), ignored));
    }
    // Directories are made as needed.
    void write(const std::string &appliance_path, const std::string &content) const {
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(file(appliance_path)).parent_path(), ignored);
        std::ofstream(file(appliance_path), std::ios::binary) << content;
    }
    void remove(const std::string &appliance_path) const {
        std::error_code ignored;
        std::filesystem::remove(file(appliance_path), ignored);
    }
    std::string commands() const { return read("/commands.log"); }

protected:
    Root() {
        const char *tmp = getenv("TMPDIR"), *previous = getenv("APPLIANCE_ROOT");
        root_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/appliance.XXXXXX";
        if (!mkdtemp(root_.data())) throw std::runtime_error("mkdtemp failed");
        if ((had_previous_ = previous != nullptr)) previous_root_ = previous;
    }
    ~Root() { leave(); }
    void enter() { entered_ = setenv("APPLIANCE_ROOT", root_.c_str(), 1) == 0; }
    void leave() {
        if (entered_ && had_previous_) setenv("APPLIANCE_ROOT", previous_root_.c_str(), 1);
        else if (entered_) unsetenv("APPLIANCE_ROOT");
        entered_ = false;
    }

private:
    std::string root_, previous_root_;
    bool had_previous_ = false, entered_ = false;
};

// A demo appliance made by tools/make-root (extra definitions "NAME=VALUE"), removed with its IPC objects.
class Sandbox : public Root {
public:
    explicit Sandbox(const std::vector<std::string> &definitions = {});
    ~Sandbox();
};

struct Output {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
};

// Runs a program with exactly the given environment (plus the sandbox's APPLIANCE_ROOT and
// APPLIANCE_SLEEP=0), body on its standard input.
Output run(const Sandbox &box, const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
           const std::string &body = {});

// Starts a program as run does, its standard streams on /dev/null; the caller ends and reaps it.
pid_t start(const Sandbox &box, const std::vector<std::string> &argv);

// Runs build/upgrade.cgi as the web server would.
inline Output run_cgi(const Sandbox &box, const std::map<std::string, std::string> &env, const std::string &body = {}) {
    return run(box, {BUILD_DIR "/upgrade.cgi"}, env, body);
}

// Whether a process costs many times a plain one (sanitizers, emulator): tests of many processes sample.
bool slow_processes();

// A multipart/form-data body byte for byte as a browser sends it.
struct Part {
    std::string name, value;
    std::string filename;      // non-empty: a file field
    std::string content_type;  // for file fields
};
inline std::string multipart(const std::string &boundary, const std::vector<Part> &parts) {
    std::string body;
    for (const auto &p : parts) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + p.name + "\"";
        if (!p.filename.empty() || !p.content_type.empty())
            body += "; filename=\"" + p.filename + "\"\r\nContent-Type: " +
                    (p.content_type.empty() ? "application/octet-stream" : p.content_type);
        body += "\r\n\r\n" + p.value + "\r\n";
    }
    return body + "--" + boundary + "--\r\n";
}

// The page of a request that stops with message, its header included.
inline std::string error_page(const std::string &message) {
    return "Content-Type: text/html\n\n<html>\n<head>\n<title>Error: " + message +
           "</title>\n<script language='JavaScript'>\n  alert(\"" + message + "\");\n  history.back();\n</script>\n"
           "</head>\n</html>\n";
}

}  // namespace testing_support
