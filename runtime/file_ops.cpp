// Copy, move, remove and make-directory on appliance paths: done in-process
// where possible, with the shell as the last resort (it also expands the
// '*' patterns some callers pass).  Nothing here reports failure.
#include <ctype.h>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "webadmin.h"

namespace {

constexpr std::string_view kFlashMirrored = "/etc/sysconfig/.firewall/";
constexpr int kConfigPartition = 3;
constexpr int kFlashMounted = 104;  // system information integer: 1 while /mnt holds the partition
constexpr size_t kCopyBlock = 4096;

using runtime::dir_handle;
using runtime::heap_text;
using runtime::unique_fd;

// A path inside double quotes: only these four keep a meaning there.
std::string in_quotes(std::string_view path) {
    std::string out;
    for (char c : path) {
        if (c == '"' || c == '\\' || c == '$' || c == '`') out += '\\';
        out += c;
    }
    return out;
}

// A path left unquoted so that the shell expands its '*': every other
// character that means something to the shell is made literal.
std::string as_pattern(std::string_view path) {
    std::string out;
    for (char c : path) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "'\n'";
            continue;
        }
        if (u < 0x80 && !isalnum(u) && !strchr("*/._-+,:=@%", c)) out += '\\';
        out += c;
    }
    return out;
}

// One shell argument of the fallbacks: bare when it holds a pattern.
std::string shell_argument(std::string_view path) {
    if (path.find('*') != std::string_view::npos) return as_pattern(path);
    return "\"" + in_quotes(path) + "\"";
}

bool remove_tree(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) return unlink(path.c_str()) == 0;
    {
        dir_handle dir(opendir(path.c_str()));
        if (!dir) return false;
        while (const dirent *entry = readdir(dir.get())) {
            if (!strcmp(entry->d_name, ".") || !strcmp(entry->d_name, "..")) continue;
            remove_tree(path + "/" + entry->d_name);
        }
    }
    return rmdir(path.c_str()) == 0;
}

// Times, then owner and group, then mode: changing the owner may clear the
// set-id bits, so the mode comes last.
bool copy_attributes(const std::string &to, const struct stat &from) {
    const struct timespec times[2] = {from.st_atim, from.st_mtim};
    return utimensat(AT_FDCWD, to.c_str(), times, 0) == 0 && chown(to.c_str(), from.st_uid, from.st_gid) == 0 &&
           chmod(to.c_str(), from.st_mode & 07777) == 0;
}

bool copy_data(int in, int out) {
    char block[kCopyBlock];
    for (;;) {
        ssize_t got = read(in, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        size_t done = 0;
        while (done < static_cast<size_t>(got)) {
            ssize_t put = write(out, block + done, static_cast<size_t>(got) - done);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            done += static_cast<size_t>(put);
        }
    }
}

bool copy_file(const std::string &from, const std::string &to, const struct stat &st) {
    unique_fd in(open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return false;
    unlink(to.c_str());
    unique_fd out(open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, st.st_mode & 07777));
    if (out.get() < 0) return false;
    if (!copy_data(in.get(), out.get()) || !out.close_checked()) return false;
    return copy_attributes(to, st);
}

bool copy_tree(const std::string &from, const std::string &to) {
    struct stat st, existing;
    if (lstat(from.c_str(), &st) != 0) return false;
    bool exists = lstat(to.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT) return false;
    if (S_ISREG(st.st_mode)) return copy_file(from, to, st);
    if (!S_ISDIR(st.st_mode)) return false;  // links, devices and pipes are the shell's
    if (exists && !S_ISDIR(existing.st_mode)) return false;
    if (!exists) {
        mode_t mask = umask(0);
        int made = mkdir(to.c_str(), (st.st_mode & 07777 & ~mask) | S_IRWXU);
        umask(mask);
        if (made != 0) return false;
    }
    {
        dir_handle dir(opendir(from.c_str()));
        if (!dir) return false;
        while (const dirent *entry = readdir(dir.get())) {
            if (!strcmp(entry->d_name, ".") || !strcmp(entry->d_name, "..")) continue;
            if (!copy_tree(from + "/" + entry->d_name, to + "/" + entry->d_name)) return false;
        }
    }
    return copy_attributes(to, st);
}

// Removes the file of the same name from the configuration partition's copy.
void remove_flash_copy(std::string_view path) {
    WI(kFlashMounted, 1);
    my_system("/bin/mount /dev/mtdblock%d /mnt > /dev/null 2>&1", kConfigPartition);
    if (path.back() != '/') {
        std::string name = in_quotes(path.substr(path.rfind('/') + 1));
        my_system("/bin/rm -rf \"/mnt/%s\" > /dev/null 2>&1", name.c_str());
    }
    my_system("/bin/umount /mnt > /dev/null 2>&1");
    WI(kFlashMounted, 0);
}

int file_type(const char *path) {
    if (!path) return 0;
    try {
        struct stat st;
        return lstat(platform::path(path).c_str(), &st) == 0 ? static_cast<int>(st.st_mode & S_IFMT) : 0;
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

}  // namespace

extern "C" void my_rm(const char *format, ...) {
    va_list args;
    va_start(args, format);
    heap_text path(xasprintf(format, args));
    va_end(args);
    if (!path) return;
    try {
        std::string_view text(path.get());
        if (!remove_tree(platform::path(text)))
            my_system("/bin/rm -rf %s", shell_argument(text).c_str());
        if (text.starts_with(kFlashMirrored)) remove_flash_copy(text);
    } catch (const std::bad_alloc &) {
    }
}

extern "C" void my_mv(const char *from, const char *to) {
    if (!from || !to) return;
    try {
        if (rename(platform::path(from).c_str(), platform::path(to).c_str()) != 0)
            my_system("/bin/mv -f %s %s", shell_argument(from).c_str(), shell_argument(to).c_str());
    } catch (const std::bad_alloc &) {
    }
}

extern "C" void my_mkdir(const char *format, ...) {
    va_list args;
    va_start(args, format);
    heap_text path(xasprintf(format, args));
    va_end(args);
    if (!path) return;
    try {
        if (mkdir(platform::path(path.get()).c_str(), 0777) != 0)
            my_system("mkdir -m 777 -p \"%s\"", in_quotes(path.get()).c_str());
    } catch (const std::bad_alloc &) {
    }
}

extern "C" void my_cp(const char *from, const char *to) {
    if (!from || !to) return;
    try {
        std::string source = platform::path(from), target = platform::path(to);
        // A tree copied into itself would grow without end; the shell refuses it.
        bool into_itself = target.starts_with(source + "/");
        if (into_itself || !copy_tree(source, target))
            my_system("/bin/cp -af %s %s", shell_argument(from).c_str(), shell_argument(to).c_str());
    } catch (const std::bad_alloc &) {
    }
}

extern "C" char *concat_path_file(const char *path, const char *filename) {
    if (!path || !filename) return nullptr;
    while (*filename == '/') ++filename;
    size_t length = strlen(path);
    const char *slash = (length && path[length - 1] == '/') ? "" : "/";
    char *joined = nullptr;
    if (asprintf(&joined, "%s%s%s", path, slash, filename) < 0) return nullptr;
    return joined;
}

extern "C" int isDirectory(const char *path) { return file_type(path) == S_IFDIR; }

extern "C" int isRegularFile(const char *path) { return file_type(path) == S_IFREG; }

extern "C" int isSymbloicLink(const char *path) { return file_type(path) == S_IFLNK; }

extern "C" long long my_file_size(const char *path) {
    if (!path) return 0;
    try {
        struct stat st;
        return stat(platform::path(path).c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
    } catch (const std::bad_alloc &) {
        return 0;
    }
}
