// The maps on which the managed APs are placed: a name and an image under
// /etc/sysconfig/.firewall/emap named after the map's id.
#include "system/ap_common.h"

namespace {

constexpr const char *kSource = "system/ap_emap.c";
constexpr int kEmapFile = 174;  // /etc/sysconfig/.firewall/ap_emap.conf
constexpr const char *kImageDir = "/etc/sysconfig/.firewall/emap";
constexpr const char *kGroupTexts[] = {"ap_emap"};
using texts = module::texts<kGroupTexts>;

// A map's id and extension name its image files: the id is my_chainID's,
// the extension letters and digits.
using E = ap_emap_record;
constexpr auto kFields = module::describe({
    AP_TEXT(E, id, "^o^", module::holds::identifier),
    AP_TEXT(E, name, "^o^", module::holds::text),
    AP_TEXT(E, ext, "^o^", module::holds::identifier, 7),
});

void *set_default(void *rec, const char *) {
    if (!rec) return rec;
    *static_cast<E *>(rec) = E{};
    module::default_fields(rec, kFields);
    return rec;
}

std::string format(const E &r) { return module::format_fields(&r, kFields); }

void *parse(char *line, void *rec) {
    set_default(rec, nullptr);
    module::parse_fields(line, rec, kFields);
    return rec;
}

// The map's images go with it, and the APs on it are taken off.
int remove(record_file *h, int n) {
    E map;
    if (!module::getnum<parse>(h, set_default(&map, nullptr), n)) return -1;
    if (module::is_identifier(map.id)) {
        my_system("/bin/rm -rf %s/%s.*", kImageDir, module::arg(map.id).c_str());
        AH_clearMap(map.id);
    }
    return module::remove(h, n);
}

// A new map (the form gives no id) gets one.  Null when the form holds a
// value a field cannot.
E *cgi_param(E *rec) {
    if (!rec || module::form_fields(rec, kFields)) return nullptr;
    if (!module::is_set(rec->id)) module::set_text(rec->id, my_chainID(0));
    return rec;
}

const module_table kTable = {
    .name = "ap_emap",
    .clear = module::clear<E>,
    .add = module::add<E, format>,
    .remove = remove,
    .modify = module::modify<E, format>,
    .isTheSame = module::isTheSame<E, parse, &E::name, &E::id>,
    .set_default = set_default,
    .open = module::open<kEmapFile>,
    .getline = module::getline<parse>,
    .getnum = module::getnum<parse>,
    .close = module::close_file,
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(cgi_param),
};

}  // namespace

const module::description module::descriptions::ap_emap{"ap_emap", kFields};

extern "C" {

module_table *ap_emap_register(void) { return module::register_table(kTable); }
void ap_emap_unregister(module_table *table) { module::unregister_table(table); }

const char *ap_emap_get_id(const char *name) {
    if (!name) return nullptr;
    record_file *h = module::open_file(kEmapFile, MODULE_TAG(kSource), 0);
    if (!h) return nullptr;
    const char *id = nullptr;
    module::any_record<E, parse>(h, [&](const E &map, uint32_t) {
        if (module::same_text(map.name, name)) id = M("%s", map.id);
        return id != nullptr;
    });
    module::close_file(&h);
    return id;
}

}  // extern "C"
