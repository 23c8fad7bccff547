#include "support/sandbox.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {
namespace {

std::string shell_quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

// The emulator that runs the build's own programs in a cross build, as
// blank-separated words; empty in a native build.
#ifdef APPLIANCE_EMULATOR
constexpr const char *kEmulator = APPLIANCE_EMULATOR;
#else
constexpr const char *kEmulator = "";
#endif

// tools/make-root with the build and the emulator to run its loader with.
std::string make_root_command() {
    return "APPLIANCE_EMULATOR=" + shell_quote(kEmulator) + " BUILD_DIR=" + shell_quote(BUILD_DIR) + " " +
           shell_quote(SOURCE_DIR "/tools/make-root");
}

// argv as run: a program of the build goes behind the emulator's words.
std::vector<std::string> emulated(const std::vector<std::string> &argv) {
    std::string build = BUILD_DIR "/";
    if (!*kEmulator || argv.empty() || argv[0].compare(0, build.size(), build) != 0) return argv;
    std::vector<std::string> words;
    std::istringstream in(kEmulator);
    for (std::string word; in >> word;) words.push_back(word);
    words.insert(words.end(), argv.begin(), argv.end());
    return words;
}

}  // namespace

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

Root::Root() {
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/appliance.XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    if (const char *previous = getenv("APPLIANCE_ROOT")) {
        had_previous_ = true;
        previous_root_ = previous;
    }
}

Root::~Root() { leave(); }

void Root::enter() {
    setenv("APPLIANCE_ROOT", root_.c_str(), 1);
    entered_ = true;
}

void Root::leave() {
    if (!entered_) return;
    if (had_previous_) setenv("APPLIANCE_ROOT", previous_root_.c_str(), 1);
    else unsetenv("APPLIANCE_ROOT");
    entered_ = false;
}

std::string Root::read(const std::string &appliance_path) const { return read_file(file(appliance_path)); }

bool Root::exists(const std::string &appliance_path) const {
    struct stat st;
    return lstat(file(appliance_path).c_str(), &st) == 0;
}

void Root::write(const std::string &appliance_path, const std::string &content) const {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(file(appliance_path)).parent_path(), ignored);
    std::ofstream(file(appliance_path), std::ios::binary) << content;
}

void Root::remove(const std::string &appliance_path) const {
    std::error_code ignored;
    std::filesystem::remove(file(appliance_path), ignored);
}

Sandbox::Sandbox(const std::vector<std::string> &definitions) {
    std::string cmd = make_root_command() + " " + shell_quote(root());
    for (const auto &d : definitions) cmd += " " + shell_quote(d);
    unsetenv("APPLIANCE_ROOT");
    if (std::system(cmd.c_str()) != 0) throw std::runtime_error("make-root failed: " + cmd);
    enter();
}

Sandbox::~Sandbox() {
    leave();
    if (std::system((make_root_command() + " --remove " + shell_quote(root())).c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", root().c_str());
}

Output run(const Sandbox &box, const std::vector<std::string> &argv,
           const std::map<std::string, std::string> &env, const std::string &body) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    std::vector<std::string> envs;
    for (const auto &[k, v] : env) envs.push_back(k + "=" + v);
    envs.push_back("APPLIANCE_ROOT=" + box.root());
    envs.push_back("APPLIANCE_SLEEP=0");
    std::vector<char *> envp, args;
    for (auto &e : envs) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_copy = emulated(argv);
    for (auto &a : argv_copy) args.push_back(a.data());
    args.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        // Move the pipe ends above the standard descriptors first: a test run
        // with a closed standard input gets a pipe end as descriptor 0.
        int child_in = fcntl(in[0], F_DUPFD_CLOEXEC, 10), child_out = fcntl(out[1], F_DUPFD_CLOEXEC, 10),
            child_err = fcntl(err[1], F_DUPFD_CLOEXEC, 10);
        dup2(child_in, 0);
        dup2(child_out, 1);
        dup2(child_err, 2);
        execve(args[0], args.data(), envp.data());
        _exit(126);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);

    Output result;
    size_t written = 0;
    if (body.empty()) {
        close(in[1]);
        in[1] = -1;
    }
    bool out_open = true, err_open = true;
    char chunk[65536];
    while (out_open || err_open) {
        pollfd fds[3];
        int n = 0;
        int out_i = -1, err_i = -1, in_i = -1;
        if (out_open) { out_i = n; fds[n++] = {out[0], POLLIN, 0}; }
        if (err_open) { err_i = n; fds[n++] = {err[0], POLLIN, 0}; }
        if (in[1] >= 0) { in_i = n; fds[n++] = {in[1], POLLOUT, 0}; }
        if (poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (in_i >= 0 && fds[in_i].revents) {
            ssize_t w = write(in[1], body.data() + written, std::min<size_t>(body.size() - written, 65536));
            if (w > 0) written += static_cast<size_t>(w);
            if (w < 0 || written == body.size()) {
                close(in[1]);
                in[1] = -1;
            }
        }
        auto drain = [&](int fd, int idx, bool &open, std::string &dst) {
            if (idx < 0 || !fds[idx].revents) return;
            ssize_t r = read(fd, chunk, sizeof chunk);
            if (r > 0) dst.append(chunk, static_cast<size_t>(r));
            else open = false;
        };
        drain(out[0], out_i, out_open, result.out);
        drain(err[0], err_i, err_open, result.err);
    }
    if (in[1] >= 0) close(in[1]);
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

Output run_cgi(const Sandbox &box, const std::map<std::string, std::string> &env, const std::string &body) {
    return run(box, {BUILD_DIR "/upgrade.cgi"}, env, body);
}

std::string multipart(const std::string &boundary, const std::vector<Part> &parts) {
    std::string body;
    for (const auto &p : parts) {
        body += "--" + boundary + "\r\n";
        body += "Content-Disposition: form-data; name=\"" + p.name + "\"";
        if (!p.filename.empty() || !p.content_type.empty()) {
            body += "; filename=\"" + p.filename + "\"\r\n";
            body += "Content-Type: " + (p.content_type.empty() ? "application/octet-stream" : p.content_type);
        }
        body += "\r\n\r\n" + p.value + "\r\n";
    }
    return body + "--" + boundary + "--\r\n";
}

bool slow_processes() {
#if defined(__SANITIZE_ADDRESS__) || defined(APPLIANCE_EMULATOR)
    return true;
#else
    return false;
#endif
}

std::string error_page(const std::string &message) {
    return "Content-Type: text/html\n\n<html>\n<head>\n<title>Error: " + message +
           "</title>\n<script language='JavaScript'>\n  alert(\"" + message +
           "\");\n  history.back();\n</script>\n</head>\n</html>\n";
}

}  // namespace testing_support
