// What the address translation modules share: the mapped addresses
// ("mapped_ip"), the virtual servers ("virtual_ip") and their groups
// ("virtual_ip_group").  Each record owns chains named after its
// identifier and carries a mark made from it; a mapped address and a
// virtual server translate a public address on a WAN port (or on a virtual
// link of it, "port:mark"), make the appliance answer ARP for it, and
// follow the port when it comes back or changes its dynamic address.
#pragma once

#include <cstdint>
#include <string>

#include "system/module.h"
#include "system/module_xml.h"
#include "webadmin.h"

namespace translation {

// ---- Chains and rules ---------------------------------------------------------

// A record that translates a public address owns four chains named after
// its chain C: C, "nat" C and "post" C in the nat table and "pre" C in the
// mangle table, hooked from the shared chains preNat_HOOK (packets whose
// vserver mark is the record's), postNat_HOOK and preMangle_HOOK.  The
// rules name source and function in their diagnostic prefix.
struct chains {
    const char *source;  // e.g. "system/mapped_ip.c"
    const char *hook;    // e.g. "mapip"
    // "-N" of the four chains and their three hooks.
    void create(const char *function, const char *chain, const char *mark) const;
    // "-F" of the four chains.
    void flush(const char *function, const char *chain) const;
    // The hooks removed and the four chains deleted ("-X").
    void remove(const char *function, const char *chain, const char *mark) const;
};

// A WAN port as translation records name it: the port's interface name,
// optionally followed by a colon and the hexadecimal route mark of a
// virtual link.
struct routed_device {
    std::string dev, route_mark;
};
routed_device split_device(const char *name);

// Whether the source translation rules of a module name the internal
// address before the outgoing port (the mapped addresses) or after it (the
// virtual servers); each keeps the rule texts it has always written.
enum class order { address_first, port_first };

// The source translation of one internal address to the public address in
// the "post" chain of c: with the route mark of the virtual link that port
// names, two rules for the port; without one, two for the port and two for
// its PPPoE device "_ppp"; then the loop-back translation between internal
// segments.  c, address and real are quoted already.  The rules name source
// and function.
void translate_sources(const char *source, const char *function, order o, const std::string &c,
                       const routed_device &port, const std::string &address, const std::string &real);

// The appliance's ARP answers for a public address: the arptables rule
// inserted (action "-I") or deleted ("-D") for the port dev and, when dev
// is a WAN port with a static address, for every LAN or DMZ port in a
// transparent mode (bridged to it).
void public_arp(const char *action, const char *dev, const char *address);

// ---- Identifier, chain and mark ---------------------------------------------

// A new record's identity: unnamed, a fresh identifier, its chain named
// with prefix, and the mark (null: the one id2mark makes).
template <typename Record>
void fresh_identity(Record &r, const char *prefix, const char *mark) {
    module::set_text(r.name, module::kUnset);
    module::set_text(r.id, my_chainID(0));
    module::set_chain(r.chain, prefix, r.id);
    module::set_text(r.mark, mark ? mark : id2mark(r.id));
    r.refs = 0;
}

// The identity of a record a form or a request filled: one without an
// identifier gets a fresh one; the chain (and its reference count) follows
// the identifier, and so does the mark when follow_mark is set or the
// record has none.
template <typename Record>
void identify(Record &r, const char *prefix, bool follow_mark) {
    if (!module::is_identifier(r.id)) module::set_text(r.id, my_chainID(0));
    module::follow_identifier(r, prefix);
    if (follow_mark || !module::is_mark(r.mark)) module::set_text(r.mark, id2mark(r.id));
}

// ---- Readers -----------------------------------------------------------------

// The cgiParam slot: read(record) fills the record from the form (false
// when it refuses a value), then its identity follows, the mark unless the
// form gave one (always with follow_mark).  rec, or null when a value was
// refused.
template <typename Record, typename Read>
void *form(void *rec, const char *prefix, bool follow_mark, Read read) {
    if (!rec) return nullptr;
    auto &r = *static_cast<Record *>(rec);
    const bool whole = read(r);
    identify(r, prefix, follow_mark);
    return whole ? rec : nullptr;
}

// The xmlParam slot: read(values, record) fills the record from the
// request file at path (false when it refuses a value), which is removed
// afterwards; the chain and mark follow an identifier the request names.
// rec, or null when a value was refused.
template <typename Record, typename Read>
void *request(void *rec, const char *path, const char *prefix, Read read) {
    if (!rec) return nullptr;
    auto &r = *static_cast<Record *>(rec);
    bool whole = true;
    module::read_request(path, [&](const module::xml_values &v) {
        whole = read(v, r);
        if (v.raw("id")) identify(r, prefix, true);
    });
    return whole ? rec : nullptr;
}

// ---- Walks ---------------------------------------------------------------------

// The restorebyinterface slot: each record of the module's file (its
// number) that on(record, iname) places on the interface gives up its
// public address's system entry and is applied again onto itself by
// reapply(record, previous).  Returns x.
template <typename Record, module::parse_fn Parse, typename On, typename Reapply>
void *restore(void *x, const interface_record *iface, int file, const char *tag, On on, Reapply reapply) {
    if (!iface) return x;
    const std::string iname = module::bounded(iface->iname);
    record_file *h = module::open_file(file, tag, 0);
    for (int k = 1;; ++k) {
        Record r{};  // a short line takes nothing from the one before
        module::spare_references(r);
        if (!module::read_next(h, &r, nullptr, k, Parse)) break;
        if (!on(r, iname)) continue;
        // The system address is the WAN port's, also for a record on one of its virtual links.
        my_del_bcast_system_ip(return_contrast_port_num(split_device(r.real_device_name).dev.c_str()), r.real_ip);
        reapply(r, r);
    }
    module::close_file(&h);
    return x;
}

// The dynamicIPup slot: the records that follow the event's port with its
// dynamic address (iswan) take the new address, kept in the module's file
// through a copy of its table, and the old address's system entry and rules
// make way for the new ones: reapply(record, previous).  Returns event.
template <typename Record, typename Reapply>
wan_address_event *follow_address(const module_table &table, const char *tag, wan_address_event *event,
                                  Reapply reapply) {
    if (!event) return event;
    const std::string address = module::bounded(event->ipaddr), iname = module::bounded(event->iname);
    if (!module::is_address(address.c_str(), 4)) return event;
    module_table *t = module::register_table(table);
    if (!t) return event;
    record_file *h = t->open(nullptr, tag, 1);
    uint32_t line = 0;
    for (int k = 1;; ++k) {
        Record r{};
        module::spare_references(r);
        t->set_default(&r, nullptr);  // a short line is written back with the defaults it lacks
        if (!t->getline(h, &r, &line, k)) break;
        if (!r.iswan || r.real_device_name != iname) continue;
        const Record previous = r;
        my_del_bcast_system_ip(return_contrast_port_num(iname.c_str()), previous.real_ip);
        module::set_text(r.real_ip, address.c_str());
        t->modify(h, &r, static_cast<int>(line));
        reapply(r, previous);
    }
    t->close(&h);
    module::unregister_table(t);
    return event;
}

// Whether a record of the translation module named name (records of type
// Other) has address as its public address.
template <typename Other>
bool public_address_in(const char *name, const char *tag, const char *address) {
    return module::each_record<Other>(name, tag,
                                      [&](const Other &o, uint32_t) { return module::same_text(o.real_ip, address); });
}

}  // namespace translation
