// The groups of VPN trunks: trunks that a policy names together, applied
// and taken off together through the trunk module's own operations.
#include <string>

#include "system/module_xml.h"

namespace {

using module::holds;
using module::kind;
using record = vpn_trunk_group_record;

constexpr const char *kSource = "system/vpn_trunk_group.c";
constexpr int kFile = 59;
constexpr const char *kGroups[] = {"vpn_trunk_group"};
using texts = module::texts<kGroups>;

// The line's fields in order; the identifier stays in the line.
constexpr auto kFields = module::describe(
    {
        MODULE_FIELD(record, name, kind::name).is(holds::text),
        MODULE_UNKEYED(record, id, kind::word).is(holds::identifier),
        MODULE_FIELD(record, mode, kind::number).is(holds::number, 0, 1),
    },
    // The members: names of trunks.
    module::elements<TRUNK_GROUP_MEMBERS>(MODULE_UNKEYED(record, members[0], kind::name).is(holds::text),
                                          module::kMemberKeys));

std::string format_group(const record &r) { return module::format_fields(&r, kFields); }

void *parse_group(char *line, void *rec) {
    module::parse_fields(line, rec, kFields);
    module::unset_empty(static_cast<record *>(rec)->members);
    return rec;
}

void *group_defaults(void *rec, const char *) {
    if (!rec) return rec;
    auto &r = *static_cast<record *>(rec);
    r = record{};
    module::set_text(r.name, module::kUnset);
    module::set_text(r.id, my_chainID(0));
    for (auto &member : r.members) module::set_text(member, module::kUnset);
    return rec;
}

// Calls the trunk module's slot on every stored trunk the group names.
void each_member(const record &g, module_op slot_of(const module_table &)) {
    module::registered trunks("vpn_trunk");
    record_file *h = trunks.open(MODULE_TAG(kSource), 0);
    if (!h) return;
    auto slot = reinterpret_cast<void *(*)(vpn_trunk_record *)>(slot_of(*trunks.operator->()));
    for (int k = 1;; ++k) {
        vpn_trunk_record t{};
        if (!trunks->getline(h, &t, nullptr, k)) return;
        for (const auto &member : g.members)
            if (module::is_set(member) && module::same_text(member, t.name)) slot(&t);
    }
}

void *group_command(record *g) {
    if (g) each_member(*g, [](const module_table &t) { return t.command; });
    return g;
}

void *group_discommand(record *g) {
    if (g) each_member(*g, [](const module_table &t) { return t.discommand; });
    return g;
}

void *group_recommand(record *now, record *before) {
    if (!now || !before) return now;
    group_discommand(before);
    return group_command(now);
}

void *group_initial_system_cmd(record *g, int, int flag) { return flag ? group_command(g) : g; }

void *group_cgiParam(record *g) {
    if (!g) return g;
    return module::form_fields(g, kFields) ? nullptr : g;
}

void *group_xmlParam(record_file *, void *rec, const char *path) {
    return module::request_fields<record>(path, rec, kFields);
}

void group_entry(module::xml_entry &e, const record &r) { module::export_fields(e, &r, kFields); }

extern const module_table kTable;

void group_xmlConf(const char *function) {
    module::export_xml<record, group_entry>(kTable, function, MODULE_TAG(kSource));
}

const module_table kTable = {
    .name = "vpn_trunk_group",
    .clear = module::clear<record>,
    .add = module::add<record, format_group>,
    .remove = module::remove,
    .modify = module::modify<record, format_group>,
    .isTheSame = module::isTheSame<record, parse_group, &record::name, &record::id>,
    .set_default = group_defaults,
    .open = module::open<kFile>,
    .getline = module::getline<parse_group>,
    .getnum = module::getnum<parse_group>,
    .parse = parse_group,
    .close = module::close_file,
    .command = module::op(group_command),
    .discommand = module::op(group_discommand),
    .recommand = module::op(group_recommand),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(group_cgiParam),
    .initial_system_cmd = module::op(group_initial_system_cmd),
    .xmlParam = group_xmlParam,
    .xmlConf = module::op(group_xmlConf),
};

}  // namespace

const module::description module::descriptions::vpn_trunk_group{"vpn_trunk_group", kFields};

extern "C" {

module_table *vpn_trunk_group_register(void) { return module::register_table(kTable); }
void vpn_trunk_group_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
