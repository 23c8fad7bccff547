// The parts that know the build: tools/make-root, and the emulator that runs
// the build's programs in a cross build.
#include "support/sandbox.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

namespace testing_support {
namespace {

#ifdef APPLIANCE_EMULATOR
constexpr const char *kEmulator = APPLIANCE_EMULATOR;  // blank-separated words
#else
constexpr const char *kEmulator = "";
#endif

std::string quoted(const std::string &s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The command when tools/make-root failed, else "".
std::string make_root(const std::string &args) {
    const std::string cmd = "APPLIANCE_EMULATOR=" + quoted(kEmulator) + " BUILD_DIR=" + quoted(BUILD_DIR) + " " +
                            quoted(SOURCE_DIR "/tools/make-root") + " " + args;
    return std::system(cmd.c_str()) == 0 ? "" : cmd;
}

// The whole of a temporary file, which is then closed.
std::string contents(FILE *file) {
    std::string text;
    char chunk[65536];
    rewind(file);
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
    fclose(file);
    return text;
}

// The strings as an argument or environment vector.
std::vector<char *> pointers(std::vector<std::string> &strings) {
    std::vector<char *> out;
    for (auto &s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

Sandbox::Sandbox(const std::vector<std::string> &definitions) {
    std::string args = quoted(root());
    for (const auto &d : definitions) args += " " + quoted(d);
    unsetenv("APPLIANCE_ROOT");
    if (std::string failed = make_root(args); !failed.empty()) throw std::runtime_error("make-root failed: " + failed);
    enter();
}

Sandbox::~Sandbox() {
    leave();
    if (!make_root("--remove " + quoted(root())).empty()) std::fprintf(stderr, "could not remove %s\n", root().c_str());
}

namespace {

// Starts argv (under the emulator when it is a program of the build) with exactly env plus the
// sandbox's variables, its standard input, output and error on these descriptors.
pid_t spawn(const Sandbox &box, const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
            const int (&standard)[3]) {
    std::vector<std::string> envs, words;
    for (const auto &[k, v] : env) envs.push_back(k + "=" + v);
    envs.insert(envs.end(), {"APPLIANCE_ROOT=" + box.root(), "APPLIANCE_SLEEP=0"});
    std::istringstream emulator(!argv.empty() && argv[0].rfind(BUILD_DIR "/", 0) == 0 ? kEmulator : "");
    for (std::string word; emulator >> word;) words.push_back(word);
    words.insert(words.end(), argv.begin(), argv.end());
    std::vector<char *> envp = pointers(envs), args = pointers(words);
    pid_t pid = fork();
    if (pid == 0) {
        int fds[3];  // above the standard descriptors first: one of them may be closed
        for (int i = 0; i < 3; ++i) fds[i] = fcntl(standard[i], F_DUPFD_CLOEXEC, 10);
        for (int i = 0; i < 3; ++i) dup2(fds[i], i);
        lseek(0, 0, SEEK_SET);
        execve(args[0], args.data(), envp.data());
        _exit(126);
    }
    return pid;
}

}  // namespace

// Standard input, output and error are temporary files, so no pipe fills up.
Output run(const Sandbox &box, const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
           const std::string &body) {
    FILE *files[3] = {tmpfile(), tmpfile(), tmpfile()};
    if (!files[0] || !files[1] || !files[2]) throw std::runtime_error("tmpfile failed");
    fwrite(body.data(), 1, body.size(), files[0]);
    fflush(files[0]);
    int status = 0;
    waitpid(spawn(box, argv, env, {fileno(files[0]), fileno(files[1]), fileno(files[2])}), &status, 0);
    fclose(files[0]);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), contents(files[1]), contents(files[2])};
}

pid_t start(const Sandbox &box, const std::vector<std::string> &argv) {
    const int null = open("/dev/null", O_RDWR);
    const pid_t pid = spawn(box, argv, {}, {null, null, null});
    close(null);
    return pid;
}

bool slow_processes() {
#if defined(__SANITIZE_ADDRESS__) || defined(APPLIANCE_EMULATOR)
    return true;
#else
    return false;
#endif
}

}  // namespace testing_support
