// Measures the upload road against its peers and prints one line per
// figure, "NAME: VALUE".  Run through tools/bench, which builds it and
// provides the peers.
//   bench-driver SOURCE_DIR BUILD_DIR WORK_DIR
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "webadmin.h"

namespace {

constexpr size_t kMiB = 1 << 20;
constexpr int kRuns = 3;
const std::string kBoundary = "----WebKitFormBoundaryBench7Qx2mZ";

struct Run {
    double wall = 0;      // seconds
    double cpu = 0;       // user + system seconds
    long peak_kib = 0;    // maximum resident set
};

// Runs argv with the environment given (the caller's when empty), standard
// input from a file (or /dev/null) and standard output discarded.
Run run(const std::vector<std::string> &argv, const std::vector<std::string> &env, const std::string &input) {
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int in = open(input.empty() ? "/dev/null" : input.c_str(), O_RDONLY);
        int out = open("/dev/null", O_WRONLY);
        dup2(in, 0);
        dup2(out, 1);
        std::vector<char *> args, envs;
        for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        for (const auto &e : env) envs.push_back(const_cast<char *>(e.c_str()));
        envs.push_back(nullptr);
        if (env.empty()) execvp(args[0], args.data());
        else execve(args[0], args.data(), envs.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Run r;
    r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    r.peak_kib = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "bench: %s failed\n", argv[0].c_str());
        std::exit(1);
    }
    return r;
}

// The best of a few runs: the figure least disturbed by the machine.
Run best(const std::vector<std::string> &argv, const std::vector<std::string> &env, const std::string &input,
         int runs = kRuns) {
    Run b = run(argv, env, input);
    for (int i = 1; i < runs; ++i) {
        Run r = run(argv, env, input);
        b.wall = std::min(b.wall, r.wall);
        b.cpu = std::min(b.cpu, r.cpu);
        b.peak_kib = std::max(b.peak_kib, r.peak_kib);
    }
    return b;
}

std::string bytes(size_t n, unsigned seed) {
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = static_cast<char>(x);
    }
    return s;
}

void write_file(const std::string &path, const std::string &content) {
    std::ofstream(path, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The upgrade form as the browser posts it, the image first.
std::string body_for(const std::string &image) {
    std::string body = "--" + kBoundary +
                       "\r\nContent-Disposition: form-data; name=\"img\"; filename=\"Demo_WA1000_020106.img\"\r\n"
                       "Content-Type: application/octet-stream\r\n\r\n";
    body += image;
    for (const char *field : {"q\"\r\n\r\n1", "menu\"\r\n\r\n", "MULTI_LANG\"\r\n\r\neng"})
        body += "\r\n--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + field;
    return body + "\r\n--" + kBoundary + "--\r\n";
}

// The environment of an upload of length bytes, or of the form (length 0).
std::vector<std::string> cgi_env(const std::string &root, size_t length) {
    std::vector<std::string> env = {"SCRIPT_NAME=/cgi-bin/upgrade.cgi", "REMOTE_ADDR=127.0.0.1",
                                    "REMOTE_USER=admin",                "APPLIANCE_ROOT=" + root,
                                    "APPLIANCE_SLEEP=0",                "PATH=/usr/bin:/bin"};
    if (length == 0) {
        env.insert(env.end(), {"REQUEST_METHOD=GET", "QUERY_STRING=q=0"});
    } else {
        env.insert(env.end(), {"REQUEST_METHOD=POST", "QUERY_STRING=",
                               "CONTENT_TYPE=multipart/form-data; boundary=" + kBoundary,
                               "CONTENT_LENGTH=" + std::to_string(length)});
    }
    return env;
}

void print(const char *name, double value) { std::printf("%s: %.3f\n", name, value); }

// The sample configuration with every list module's records repeated up to
// count, each copy named apart ("-2", "-3" ...): what a product at its
// capacity holds.  The interfaces and the controller's settings keep their
// positions.
std::string at_capacity(const std::string &document, int count) {
    std::string out;
    std::size_t at = 0;
    for (std::size_t open; (open = document.find("<_function value=\"", at)) != std::string::npos;) {
        const std::size_t close = document.find("</_function>", open);
        const std::string element = document.substr(open, close - open);
        out += document.substr(at, open - at) + element;
        const std::size_t first = element.find("<_entry>"), end = element.find("</_entry>");
        const bool positional = element.find("value=\"interface\"") != std::string::npos ||
                                element.find("value=\"ap_setting\"") != std::string::npos;
        if (first != std::string::npos && !positional) {
            int existing = 0;
            for (std::size_t e = first; e != std::string::npos; e = element.find("<_entry>", e + 1)) ++existing;
            const std::string entry = element.substr(first, end + 9 - first);
            const std::size_t name = entry.find("name value=\"");
            for (int copy = existing + 1; copy <= count; ++copy)
                out += name == std::string::npos
                           ? entry
                           : entry.substr(0, name + 12) + std::to_string(copy) + "-" + entry.substr(name + 12);
        }
        at = close;
    }
    return out + document.substr(at);
}

// The firewall daemon's stand-in, draining the root's queues while it runs.
pid_t start_daemon(const std::string &build, const std::string &root) {
    pid_t pid = fork();
    if (pid == 0) {
        execl((build + "/firewall-daemon").c_str(), "firewall-daemon", root.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    return pid;
}

void stop_daemon(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

int lines_of(const std::string &path) {
    const std::string text = read_file(path);
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// appliance-config apply on the sample at capacity, against sending as many
// prepared commands to the firewall queue, the daemon's stand-in draining
// both: how far the modules' work stands above the queue's own cost.
void apply_bench(const std::string &source, const std::string &build, const std::string &work) {
    const std::string root = work + "/config-root", config = build + "/appliance-config";
    if (std::system(("BUILD_DIR=" + build + " " + source + "/tools/make-root " + root + " --sample-config").c_str()))
        std::exit(1);
    setenv("APPLIANCE_ROOT", root.c_str(), 1);
    system_info_record info{};
    my_systemInfo(reinterpret_cast<char *>(&info));
    const int capacity = std::atoi(entry_num[17]);
    const std::vector<std::string> env = {"APPLIANCE_ROOT=" + root, "APPLIANCE_SLEEP=0", "PATH=/usr/bin:/bin"};
    run({config, "export", "-o", work + "/sample.xml"}, env, "");
    write_file(work + "/capacity.xml", at_capacity(read_file(work + "/sample.xml"), capacity));
    run({config, "import", work + "/capacity.xml"}, env, "");

    pid_t daemon = start_daemon(build, root);
    Run apply = best({config, "apply"}, env, "");
    stop_daemon(daemon);
    const int commands = lines_of(root + "/firewall.log") / kRuns;

    // The floor: the same number of prepared commands queued.
    std::remove((root + "/firewall.log").c_str());
    daemon = start_daemon(build, root);
    static char prepared[1100];
    std::snprintf(prepared, sizeof prepared, "[bench]floor(),L:1=> /sbin/iptables -t nat -A %s -j ACCEPT",
                  std::string(900, 'x').c_str());
    double floor = 1e9;
    for (int r = 0; r < kRuns; ++r) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < commands; ++i) my_iptables(4, "%s", prepared);
        floor = std::min(floor, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    stop_daemon(daemon);
    unsetenv("APPLIANCE_ROOT");
    print("apply_vs_queue_floor", apply.wall / floor);
    std::printf("apply_records_per_module: %d\napply_firewall_commands: %d\napply_seconds: %.3f\n"
                "queue_floor_seconds: %.3f\n",
                capacity, commands, apply.wall, floor);
    if (std::system((source + "/tools/make-root --remove " + root).c_str()) != 0) std::exit(1);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench-driver SOURCE_DIR BUILD_DIR WORK_DIR\n");
        return 2;
    }
    const std::string source = argv[1], build = argv[2], work = argv[3];
    const std::string root = work + "/root", cgi = build + "/upgrade.cgi";
    if (std::system(("BUILD_DIR=" + build + " " + source + "/tools/make-root " + root + " HAVE_HARDDISK=y").c_str()))
        return 1;

    // A 64 MiB image: a 48 MiB kernel and a 16 MiB root file system.
    write_file(work + "/kernel", bytes(48 * kMiB - 64 * 2 - 60 - 33, 1));
    write_file(work + "/rootfs", bytes(16 * kMiB, 2));
    for (const char *product : {"101003", "202003"}) {
        std::string out = work + "/image-" + product;
        run({build + "/make-image", "--version", "2.1.6", "--product-id", product, "--section",
             "1.kernel=" + work + "/kernel", "--section", "2.rootfs=" + work + "/rootfs", "-o", out},
            {}, "");
        write_file(out + ".body", body_for(read_file(out)));
    }
    const std::string image = work + "/image-101003", refused = work + "/image-202003";
    const size_t image_size = read_file(image).size();
    const size_t body_size = read_file(image + ".body").size();

    Run md5sum = best({"md5sum", image}, {}, "");
    Run upload = best({cgi}, cgi_env(root, body_size), image + ".body");
    Run check = best({cgi}, cgi_env(root, body_size), refused + ".body");
    print("upload_vs_md5sum", upload.wall / md5sum.wall);
    print("check_vs_md5sum", check.wall / md5sum.wall);

    std::vector<std::string> node_env = {"CONTENT_TYPE=multipart/form-data; boundary=" + kBoundary,
                                         "PATH=" + std::string(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin")};
    Run busboy = best({"/usr/bin/env", "node", source + "/tools/bench-node/peer.mjs"}, node_env, refused + ".body");
    print("upload_vs_busboy", check.wall / busboy.wall);
    print("upload_peak_rss_ratio", upload.peak_kib * 1024.0 / static_cast<double>(image_size));

    // MD5 throughput over 256 MiB, in this process and in openssl.
    std::string data = bytes(256 * kMiB, 3);
    write_file(work + "/256m", data);
    double ours = 1e9;
    for (int i = 0; i < kRuns; ++i) {
        auto start = std::chrono::steady_clock::now();
        qMD5StrLen(data.data(), data.size());
        ours = std::min(ours, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    Run openssl = best({"openssl", "dgst", "-md5", work + "/256m"}, {}, "");
    print("md5_vs_openssl", openssl.wall / ours);

    // A q=0 request against the smallest CGI that answers with a header and a line.
    write_file(work + "/hello.c",
               "#include <stdio.h>\nint main(void) { printf(\"Content-Type: text/html\\n\\n<html>hello</html>\\n\"); "
               "return 0; }\n");
    run({"cc", "-O2", "-o", work + "/hello", work + "/hello.c"}, {}, "");
    double form_cpu = 0, hello_cpu = 0;
    for (int i = 0; i < 50; ++i) {
        form_cpu += run({cgi}, cgi_env(root, 0), "").cpu;
        hello_cpu += run({work + "/hello"}, cgi_env(root, 0), "").cpu;
    }
    double form_wall = best({cgi}, cgi_env(root, 0), "", 20).wall;
    double hello_wall = best({work + "/hello"}, cgi_env(root, 0), "", 20).wall;
    print("form_vs_hello", hello_cpu > 0 ? form_cpu / hello_cpu : form_wall / hello_wall);

    apply_bench(source, build, work);

    std::printf("image_bytes: %zu\nupload_seconds: %.3f\ncheck_seconds: %.3f\nmd5sum_seconds: %.3f\n"
                "busboy_seconds: %.3f\nupload_peak_rss_kib: %ld\nmd5_mib_per_second: %.0f\n",
                image_size, upload.wall, check.wall, md5sum.wall, busboy.wall, upload.peak_kib, 256 / ours);
    return std::system((source + "/tools/make-root --remove " + root).c_str()) == 0 ? 0 : 1;
}
