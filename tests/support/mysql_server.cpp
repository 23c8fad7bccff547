#include "support/mysql_server.h"

#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <thread>

#include "support/sandbox.h"

namespace testing_support {

bool MysqlServer::install() {
    char dir[] = "/tmp/wa-mysql-XXXXXX";
    if (!mkdtemp(dir)) return false;
    dir_ = dir;
    const passwd *me = getpwuid(geteuid());
    user_ = me ? me->pw_name : "root";
    return std::system(("/usr/bin/mariadb-install-db --no-defaults --datadir=" + dir_ +
                        "/data --auth-root-authentication-method=normal --skip-test-db --user=" + user_ +
                        " --innodb-log-file-size=4M > " + dir_ + "/install.log 2>&1")
                           .c_str()) == 0;
}

bool MysqlServer::start() {
    pid_ = fork();
    if (pid_ == 0) {
        const std::string args[] = {"--no-defaults", "--datadir=" + dir_ + "/data", "--socket=" + socket(),
                                    "--skip-networking", "--user=" + user_, "--pid-file=" + dir_ + "/pid",
                                    "--log-error=" + dir_ + "/error.log", "--general-log=1",
                                    "--general-log-file=" + dir_ + "/general.log", "--innodb-buffer-pool-size=8M",
                                    "--innodb-log-file-size=4M"};
        const char *argv[std::size(args) + 2] = {"/usr/sbin/mariadbd"};
        for (size_t i = 0; i < std::size(args); ++i) argv[i + 1] = args[i].c_str();
        execv(argv[0], const_cast<char *const *>(argv));
        _exit(127);
    }
    for (int tries = 0; tries < 1200; ++tries) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) return false;
        if (sql("SELECT 1") == "1\n") return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void MysqlServer::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void MysqlServer::remove() {
    stop();
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

std::string MysqlServer::sql(const std::string &statements, bool *ok) const {
    std::string out;
    int status = -1;
    if (FILE *p = popen(("/usr/bin/mariadb --no-defaults -N -B -uroot -S " + socket() + " -e \"" + statements +
                         "\" 2>>" + dir_ + "/client.log").c_str(), "r")) {
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, p)) > 0;) out.append(chunk, n);
        status = pclose(p);
    }
    if (ok) *ok = status == 0;
    return out;
}

std::string MysqlServer::general_log() const { return read_file(dir_ + "/general.log"); }

std::string MysqlServer::error_log() const { return read_file(dir_ + "/error.log") + read_file(dir_ + "/client.log"); }

size_t occurrences(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace testing_support
