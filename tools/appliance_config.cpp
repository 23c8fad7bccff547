// The appliance's configuration as a whole, from the command line: on the
// appliance at boot and before an upgrade, in a sandbox with APPLIANCE_ROOT.
//   appliance-config list                    every module and its number of records
//   appliance-config show MODULE             its records as name=value pairs
//   appliance-config export [MODULE...] [-o FILE]
//                                            one XML document of the modules' records
//   appliance-config import FILE             the document's records, checked first
//   appliance-config apply                   every record applied as at boot
// Exit status 0, 2 for bad usage, 1 for refused input, with one line naming
// the cause on standard error.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "webadmin.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: appliance-config list | show MODULE | export [MODULE...] [-o FILE] | import FILE | apply\n");
    return 2;
}

__attribute__((format(printf, 1, 2))) int refused(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::fputs("appliance-config: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    return 1;
}

int list() {
    for (int i = 0; const module_entry *e = module_directory(i); ++i) std::printf("%s\t%u\n", e->name, config_records(e));
    return 0;
}

// The document goes to a file beside FILE first, so FILE is either the old
// one or the whole new one.
int export_to(const char *const *names, int count, const char *out) {
    char why[256] = "";
    char *spool = out ? my_string(nullptr, "%s.part", out) : nullptr;
    if (out) {
        std::fflush(stdout);
        if (!spool || !std::freopen(spool, "w", stdout)) return refused("cannot write %s.part", out);
    }
    const int result = config_export(count ? names : nullptr, count, why, sizeof why);
    if (!out) return result == 0 ? 0 : refused("%s", why);
    const bool written = std::fflush(stdout) == 0 && !std::ferror(stdout);
    std::fclose(stdout);
    const bool renamed = result == 0 && written && std::rename(spool, out) == 0;
    if (!renamed) std::remove(spool);
    std::free(spool);
    if (result != 0) return refused("%s", why);
    return renamed ? 0 : refused("cannot write %s", out);
}

int import_from(const char *file) {
    struct stat st;
    if (stat(file, &st) != 0 || !S_ISREG(st.st_mode)) return refused("cannot read %s", file);
    // Far more than a configuration can hold is refused unread.
    if (st.st_size > CONFIG_LARGEST_DOCUMENT)
        return refused("%s has %lld bytes, more than %d", file, static_cast<long long>(st.st_size),
                       CONFIG_LARGEST_DOCUMENT);
    FILE *in = std::fopen(file, "rbe");
    if (!in) return refused("cannot read %s", file);
    // One byte more than the largest document: a file that grew since is
    // still refused as too large.
    static char document[CONFIG_LARGEST_DOCUMENT + 1];
    const size_t length = std::fread(document, 1, sizeof document, in);
    const bool failed = std::ferror(in);
    std::fclose(in);
    if (failed) return refused("cannot read %s", file);
    static char report[65536];
    if (config_import(document, length, report, sizeof report) != 0) return refused("%s", report);
    std::fputs(report, stdout);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return usage();
    const char *command = argv[1];
    if (std::strcmp(command, "list") == 0 && argc == 2) return list();
    if (std::strcmp(command, "show") == 0 && argc == 3) {
        if (!module_find(argv[2])) return refused("no module \"%s\"", argv[2]);
        return config_show(argv[2]) == 0 ? 0 : refused("module \"%s\" cannot show its records", argv[2]);
    }
    if (std::strcmp(command, "export") == 0) {
        // The module names are gathered at the front of argv's own slots.
        int count = 0;
        const char *out = nullptr;
        for (int i = 2; i < argc; ++i) {
            if (std::strcmp(argv[i], "-o") == 0) {
                if (++i >= argc || out) return usage();
                out = argv[i];
            } else {
                argv[2 + count++] = argv[i];
            }
        }
        return export_to(argv + 2, count, out);
    }
    if (std::strcmp(command, "import") == 0 && argc == 3) return import_from(argv[2]);
    if (std::strcmp(command, "apply") == 0 && argc == 2) {
        std::printf("%d records applied\n", config_apply());
        return 0;
    }
    return usage();
}
