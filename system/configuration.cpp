// The configuration as a whole: every module's records exported as one XML
// document, such a document checked and imported, and the boot-time
// application of every record, in the module directory's order.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "runtime/xml_library.h"
#include "system/module.h"
#include "system/module_xml.h"
#include "webadmin.h"

namespace {

constexpr const char *kSource = "system/configuration.c";
constexpr char kRoot[] = "configuration";
// Where an entry waits for a module that reads its records from a request file.
constexpr char kEntryFile[] = "/var/tmp/config_entry.xml";
// Identifiers given to imported records that have none count from here
// (2000-01-01), a thousand apart for each module of the directory, one
// after another through a module's entries: the same entries give the same
// identifiers, and so the same chains, every time, whatever else the
// document holds.
constexpr time_t kImportedIds = 946684800;
constexpr time_t kIdsPerModule = 1000;
// Imports take turns on this file's lock, so that two restores at once
// leave every module as one of the two documents has it, never a mixture,
// and never read each other's entries from the one request file above.
// It lives in memory, beside the other marks of the running system.
constexpr char kImportLock[] = "/var/tmp/config_import.lock";
// How long an import waits for the one before it (a whole configuration
// at capacity takes well under a second to store) before it gives up.
constexpr int kImportWaitMs = 10000;
constexpr int kImportPollMs = 10;

using xml_conf_fn = void (*)(const char *function_value);
using import_fn = int (*)(xml_node *function);

struct tree_free {
    void operator()(xml_node *tree) const { my_mxmlDelete(tree); }
};
using xml_tree = std::unique_ptr<xml_node, tree_free>;

// A zeroed record of the module's size.
std::unique_ptr<void, runtime::heap_free> record_of(const module_entry &e) {
    return std::unique_ptr<void, runtime::heap_free>(std::calloc(1, e.record_size ? e.record_size : 1));
}

std::string too_large(unsigned long long length) {
    return "the document has " + std::to_string(length) + " bytes, more than " +
           std::to_string(CONFIG_LARGEST_DOCUMENT);
}

void say(char *out, std::size_t size, const std::string &text) {
    if (out && size) std::snprintf(out, size, "%s", text.c_str());
}

// What a call writes to standard output (or standard error), taken instead
// of written.
template <typename Call>
std::string captured(Call call, std::FILE *stream = stdout) {
    std::fflush(stream);
    runtime::file_handle spool(std::tmpfile());
    const int fd = fileno(stream), saved = dup(fd);
    if (!spool || saved < 0 || dup2(fileno(spool.get()), fd) < 0) {
        if (saved >= 0) close(saved);
        return {};
    }
    call();
    std::fflush(stream);
    dup2(saved, fd);
    close(saved);
    std::string text;
    std::rewind(spool.get());
    char block[4096];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, spool.get())) > 0;) text.append(block, n);
    return text;
}

// The module's "_function" element as its xmlConf prints it.
std::string exported(const module_entry &e) {
    module::registered t(e.name);
    if (!t || !t->xmlConf) return {};
    return captured([&] { reinterpret_cast<xml_conf_fn>(t->xmlConf)(e.name); });
}

bool importable(const module_entry &e, const module_table &t) {
    return e.import || t.import_xmlConf || t.xmlParam;
}

std::string name_of(xml_node *node) {
    const char *name = runtime::xml_element_name(node);
    return name ? name : "";
}

// The element children of node, in document order; comments (which the
// library keeps as elements named "!--...") are none.
std::vector<xml_node *> children(xml_node *node) {
    std::vector<xml_node *> out;
    for (xml_node *c = my_mxmlFindElement(node, node, nullptr, nullptr, nullptr, MY_XML_DESCEND); c;
         c = my_mxmlFindElement(c, node, nullptr, nullptr, nullptr, MY_XML_NO_DESCEND))
        if (!name_of(c).starts_with("!")) out.push_back(c);
    return out;
}

// An entry holds elements only, each carrying its value or holding others.
bool well_formed_entry(xml_node *entry) {
    for (xml_node *field : children(entry)) {
        if (children(field).empty() ? !my_mxmlElementGetAttr(field, "value") : !well_formed_entry(field))
            return false;
    }
    return true;
}

// Imports one module's entries through its xmlParam, each entry written to
// the request file it reads; the module's file is replaced.  -1 when the
// module refused an entry or could not store it.  An entry
// without an identifier (exports leave it out) gets the module's next
// imported one.
int import_by_request(const module_entry &e, module_table &t, xml_node *function) {
    time_t next_id = kImportedIds;
    for (int i = 0; module_directory(i) && module_directory(i) != &e; ++i) next_id += kIdsPerModule;
    if (e.files[0] >= 0) my_RemoveFile(e.files[0]);
    record_file *h = t.open(nullptr, MODULE_TAG(kSource), 1);
    if (!h) return -1;
    int result = 0;
    for (xml_node *entry = module::next_entry(function, nullptr); entry; entry = module::next_entry(function, entry)) {
        if (!my_mxmlFindElement(entry, entry, "id", "value", nullptr, MY_XML_DESCEND))
            my_mxmlElementSetAttr(my_mxmlNewElement(entry, "id"), "value", my_chainID(++next_id));
        auto rec = record_of(e);
        std::FILE *f = std::fopen(platform::path(kEntryFile).c_str(), "w");
        if (!rec || !f) {
            if (f) std::fclose(f);
            result = -1;
            break;
        }
        my_mxmlSaveFile(entry, f, nullptr);
        std::fclose(f);
        t.clear(rec.get());
        t.set_default(rec.get(), nullptr);
        // An entry the module refuses is left out, not stored as a blank record.
        if (!t.xmlParam(h, rec.get(), kEntryFile) || t.add(h, rec.get()) != 0) result = -1;
    }
    t.close(&h);
    return result;
}

// The descriptor that holds the import lock until it is closed; -1 with
// errno EWOULDBLOCK when another import holds it past the wait, or the
// error of opening the lock file.  The wait polls with real sleeps: the
// platform's sleeps may be switched off, and a blocking lock could not
// give up.
int import_turn() {
    const int fd = open(platform::path(kImportLock).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    for (int waited = 0; flock(fd, LOCK_EX | LOCK_NB) != 0; waited += kImportPollMs) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= kImportWaitMs) {
            const int error = errno;
            close(fd);
            errno = error;
            return -1;
        }
        const timespec pause{0, kImportPollMs * 1000000L};
        nanosleep(&pause, nullptr);
    }
    return fd;
}

// Prints the "name=value" pairs of every entry of an exported element.
void print_pairs(const std::string &element) {
    xml_tree tree(my_mxmlLoadString(nullptr, element.c_str(), nullptr));
    if (!tree) return;
    // The element alone is the whole tree.
    xml_node *function = tree.get();
    for (xml_node *entry = module::next_entry(function, nullptr); entry; entry = module::next_entry(function, entry)) {
        std::string line;
        for (xml_node *f = my_mxmlFindElement(entry, entry, nullptr, nullptr, nullptr, MY_XML_DESCEND); f;
             f = my_mxmlFindElement(f, entry, nullptr, nullptr, nullptr, MY_XML_DESCEND)) {
            const char *value = my_mxmlElementGetAttr(f, "value");
            if (!value) continue;
            if (!line.empty()) line += ' ';
            line += name_of(f) + "=" + module::arg(value);
        }
        std::printf("%s\n", line.c_str());
    }
}

}  // namespace

extern "C" {

unsigned int config_records(const module_entry *module) {
    if (!module) return 0;
    unsigned int count = 0;
    for (const int *file = module->files; *file >= 0; ++file) {
        record_file *h = my_ReadFile(*file, 0, MODULE_TAG(kSource));
        if (!h) continue;
        count += h->count;
        my_CloseFile(h);
    }
    return count;
}

int config_export(const char *const *names, int count, char *why, size_t why_size) {
    auto refuse = [&](const std::string &cause) {
        say(why, why_size, cause);
        return -1;
    };
    std::vector<const module_entry *> modules;
    if (!names) {
        for (int i = 0; const module_entry *e = module_directory(i); ++i) {
            module::registered t(e->name);
            if (t && t->xmlConf && importable(*e, *t.get())) modules.push_back(e);
        }
    } else {
        for (int i = 0; i < count; ++i) {
            const module_entry *e = module_find(names[i]);
            if (!e) return refuse(std::string("no module \"") + (names[i] ? names[i] : "") + "\"");
            module::registered t(e->name);
            if (!t || !t->xmlConf) return refuse(std::string("module \"") + e->name + "\" has no export");
            modules.push_back(e);
        }
    }
    std::printf("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<%s>\n", kRoot);
    for (const module_entry *e : modules) {
        const std::string element = exported(*e);
        if (!element.empty()) std::printf("%s\n", element.c_str());
    }
    std::printf("</%s>\n", kRoot);
    std::fflush(stdout);
    return 0;
}

int config_show(const char *name) {
    const module_entry *e = module_find(name);
    if (!e) return -1;
    if (!e->describe) {
        module::registered t(e->name);
        if (!t || !t->xmlConf) return -1;
        print_pairs(exported(*e));
        return 0;
    }
    module::registered t(e->name);
    record_file *h = t.open(MODULE_TAG(kSource), 0);
    auto rec = record_of(*e);
    if (!h || !rec) return -1;
    for (int k = 1; t->getline(h, rec.get(), nullptr, k); ++k) {
        runtime::heap_text pairs(e->describe(rec.get()));
        std::printf("%s\n", pairs ? pairs.get() : "");
    }
    return 0;
}

int config_import(const char *document, size_t length, char *report, size_t report_size) {
    auto refuse = [&](const std::string &cause) {
        say(report, report_size, cause);
        return -1;
    };
    if (!document) return refuse("no document");
    if (length > CONFIG_LARGEST_DOCUMENT) return refuse(too_large(length));
    const std::string text(document, length);
    if (text.find('\0') != std::string::npos) return refuse("the document holds a NUL byte");
    // The document is read into an element of ours: when a document breaks
    // off inside its first element, the library frees what it made only
    // where that hangs below a parent.  What is wrong it says on standard
    // error: that becomes the cause's second half.
    xml_tree tree(my_mxmlNewElement(nullptr, "document"));
    xml_node *loaded = nullptr;
    const std::string complaint =
        captured([&] { loaded = tree ? my_mxmlLoadString(tree.get(), text.c_str(), nullptr) : nullptr; }, stderr);
    if (!loaded) {
        std::string detail = complaint.substr(0, complaint.find('\n'));
        if (detail.starts_with("mxml: ")) detail.erase(0, 6);
        return refuse("the document is not well-formed XML" + (detail.empty() ? "" : ": " + detail));
    }
    // The root is the one element beside the declaration and comments.
    std::vector<xml_node *> top;
    for (xml_node *node : children(tree.get()))
        if (!name_of(node).starts_with("?")) top.push_back(node);
    xml_node *root = top.size() == 1 ? top.front() : nullptr;
    if (!root || name_of(root) != kRoot) return refuse(std::string("the document is not a <") + kRoot + ">");

    // Every module and every entry is checked before anything is stored.
    struct step {
        const module_entry *entry;
        xml_node *function;
        int entries;
    };
    std::vector<step> steps;
    for (xml_node *function : children(root)) {
        if (name_of(function) != "_function") return refuse("<" + name_of(function) + "> is not a module's element");
        const char *value = my_mxmlElementGetAttr(function, "value");
        const module_entry *e = module_find(value);
        if (!e) return refuse(std::string("no module \"") + (value ? value : "") + "\"");
        for (const step &s : steps)
            if (s.entry == e) return refuse(std::string("module \"") + e->name + "\" appears twice");
        module::registered t(e->name);
        if (!t || !importable(*e, *t.get())) return refuse(std::string("module \"") + e->name + "\" cannot import");
        const module::description *described = module::described(e->name);
        int entries = 0;
        for (xml_node *entry : children(function)) {
            ++entries;
            const std::string where = std::string("module \"") + e->name + "\": ";
            if (name_of(entry) != "_entry" || !well_formed_entry(entry))
                return refuse(where + "element " + std::to_string(entries) + " is not an entry");
            if (const std::string why = described ? module::refusal(*described, entry) : ""; !why.empty())
                return refuse(where + "entry " + std::to_string(entries) + ": " + why);
        }
        steps.push_back({e, function, entries});
    }

    const runtime::unique_fd turn(import_turn());
    if (turn.get() < 0)
        return refuse(errno == EWOULDBLOCK ? std::string("another configuration import is still running")
                                           : std::string(kImportLock) + ": " + std::strerror(errno));
    std::string done;
    int result = 0;
    for (const step &s : steps) {
        module::registered t(s.entry->name);
        int stored;
        if (s.entry->import) stored = s.entry->import(t.get(), s.function);
        else if (t->import_xmlConf) stored = reinterpret_cast<import_fn>(t->import_xmlConf)(s.function);
        else stored = import_by_request(*s.entry, *t.get(), s.function);
        if (stored != 0) result = -1;
        done += std::string(s.entry->name) + ": " + std::to_string(s.entries) + (s.entries == 1 ? " entry" : " entries") +
                (stored != 0 ? " (not all stored)" : "") + "\n";
    }
    say(report, report_size, done);
    return result;
}

int config_apply(void) {
    int applied = 0;
    for (int i = 0; const module_entry *e = module_directory(i); ++i) {
        module::registered t(e->name);
        if (t) applied += e->boot ? e->boot(t.get()) : module::boot_records(t.get(), MODULE_TAG(kSource));
    }
    return applied;
}

}  // extern "C"
