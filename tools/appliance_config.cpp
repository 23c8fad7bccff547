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

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "webadmin.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: appliance-config list | show MODULE | export [MODULE...] [-o FILE] | import FILE | apply\n");
    return 2;
}

int refused(const std::string &cause) {
    std::fprintf(stderr, "appliance-config: %s\n", cause.c_str());
    return 1;
}

int list() {
    for (int i = 0; const module_entry *e = module_directory(i); ++i) std::printf("%s\t%u\n", e->name, config_records(e));
    return 0;
}

// The document goes to a file beside FILE first, so FILE is either the old
// one or the whole new one.
int export_to(const std::vector<const char *> &names, const char *out) {
    char why[256] = "";
    const std::string spool = out ? std::string(out) + ".part" : "";
    if (out) {
        std::fflush(stdout);
        if (!std::freopen(spool.c_str(), "w", stdout)) return refused(std::string("cannot write ") + spool);
    }
    const int result = config_export(names.empty() ? nullptr : names.data(), static_cast<int>(names.size()), why,
                                     sizeof why);
    if (!out) return result == 0 ? 0 : refused(why);
    const bool written = std::fflush(stdout) == 0 && !std::ferror(stdout);
    std::fclose(stdout);
    if (result != 0 || !written || std::rename(spool.c_str(), out) != 0) {
        std::remove(spool.c_str());
        return refused(result != 0 ? why : std::string("cannot write ") + out);
    }
    return 0;
}

int import_from(const char *file) {
    struct stat st;
    if (stat(file, &st) != 0 || !S_ISREG(st.st_mode)) return refused(std::string("cannot read ") + file);
    // Far more than a configuration can hold is refused unread.
    if (st.st_size > CONFIG_LARGEST_DOCUMENT)
        return refused(std::string(file) + " has " + std::to_string(st.st_size) + " bytes, more than " +
                       std::to_string(CONFIG_LARGEST_DOCUMENT));
    std::ifstream in(file, std::ios::binary);
    const std::string document((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    static char report[65536];
    if (config_import(document.data(), document.size(), report, sizeof report) != 0) return refused(report);
    std::fputs(report, stdout);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return usage();
    const std::string command = argv[1];
    if (command == "list" && argc == 2) return list();
    if (command == "show" && argc == 3) {
        if (!module_find(argv[2])) return refused(std::string("no module \"") + argv[2] + "\"");
        return config_show(argv[2]) == 0 ? 0 : refused(std::string("module \"") + argv[2] + "\" cannot show its records");
    }
    if (command == "export") {
        std::vector<const char *> names;
        const char *out = nullptr;
        for (int i = 2; i < argc; ++i) {
            if (std::strcmp(argv[i], "-o") == 0) {
                if (++i >= argc || out) return usage();
                out = argv[i];
            } else {
                names.push_back(argv[i]);
            }
        }
        return export_to(names, out);
    }
    if (command == "import" && argc == 3) return import_from(argv[2]);
    if (command == "apply" && argc == 2) {
        std::printf("%d records applied\n", config_apply());
        return 0;
    }
    return usage();
}
