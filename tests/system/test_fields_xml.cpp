// Every field every module describes, through the module's own readers: a
// record filled with a value of each field's kind reads back the same from
// its line and from its XML, and a value the field cannot hold is refused
// by the form and by the configuration import, which then changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "support/hostile.h"
#include "support/module_harness.h"
#include "support/request.h"
#include "system/module.h"

using namespace testing_support;
using module::holds;
using S = std::string;

namespace {

using cgi_fn = void *(*)(void *rec);

// A value of the field's kind that it must take.
S sample(const module::field &f) {
    switch (f.what) {
        case holds::number: return std::to_string(f.ports ? RETURN_DEF_INT("SYSTEM_PORT_NUM") : f.high);
        case holds::choice: return f.is_number() ? std::to_string(f.names.size() - 1) : S(f.names.back());
        case holds::ipv4: return "192.0.2.7";
        case holds::mask: return "255.255.255.128";
        case holds::ipv6: return "2001:db8::7";
        case holds::address: return "192.0.2.8";
        case holds::addresses: return "192.0.2.9,192.0.2.10";
        case holds::prefix: return "64";
        case holds::mac: return "00:11:22:aa:bb:cc";
        case holds::ifname: return "WAN1";
        case holds::port: return "8080";
        case holds::port_range: return "1000:2000";
        case holds::mark: return "1f";
        case holds::identifier: return f.high ? S(f.high, '7') : "20261207000007";
        case holds::word: return "alpha.1";
        case holds::host: return "vpn.example.net";
        case holds::label: return "al_1.b@example";
        case holds::text: return "two words \"quoted\" ; $(x) & <y> \\ end";
        case holds::secret: return "pass word;$(x)&<y>";
        case holds::decimal: return "-25.033";
        case holds::chain: return S(f.names.back()) + "_20261207000007";
        case holds::mask_or_prefix: return "48";
        case holds::protocol: return "icmp";
        case holds::flags: return "0110";
        case holds::undeclared: break;
    }
    return "";
}

// Values of the field's kind that it must refuse: out of range, overlong, a
// blank, a quote, a backslash or a control character inside, a command
// after a separator or in a substitution.
std::vector<S> refused(const module::field &f) {
    const std::vector<S> words = {"a b", "a\"b", "a\\b", "a;reboot", "$(reboot)", "a\tb"};
    const auto with = [](std::vector<S> rows, const std::vector<S> &more) {
        rows.insert(rows.end(), more.begin(), more.end());
        return rows;
    };
    switch (f.what) {
        case holds::number: {
            const long long high = f.ports ? RETURN_DEF_INT("SYSTEM_PORT_NUM") : f.high;
            std::vector<S> rows = {"4294967296", "1 2", "1;reboot", "$(reboot)", "0x1f", "\"1\"", "1\n"};
            if (f.low > INT_MIN) rows.push_back(std::to_string(f.low - 1LL));
            if (high < INT_MAX) rows.push_back(std::to_string(high + 1));
            return rows;
        }
        case holds::choice:
            if (f.is_number()) return {"-1", std::to_string(f.names.size()), "99x", "1;reboot"};
            return {"none such", "x;reboot", S(f.names.back()) + " "};
        case holds::ipv4: return {"198.51.100.x", "1.2.3.4;reboot", "1.2.3.4 5", "256.1.1.1", "$(reboot)"};
        case holds::mask: return {"255.0.255.0", "255.255.255.0;reboot", "255.255.255.0 1", "1.2.3.4"};
        case holds::ipv6: return {"2001:db8::g", "::1;reboot", "::1 ::2", "$(reboot)"};
        case holds::address: return {"1.2.3.4;reboot", "::1 x", "host.example"};
        case holds::addresses: return {"10.0.0.1,x", "10.0.0.1;reboot", "10.0.0.1,", ",10.0.0.1", "10.0.0.1 10.0.0.2"};
        case holds::prefix: return {"129", "-1", "4294967296", "6 4", "64;reboot"};
        case holds::mac: return {"00:11:22:33:44", "00:11:22:33:44:5g", "00:11:22:33:44:55;reboot"};
        case holds::ifname: return with(words, {"WAN1 status=1", S(16, 'a'), "-rf"});
        case holds::port: return {"0", "65536", "80;reboot", "8 0"};
        case holds::port_range: return {"2000:1000", "1:65536", "80;reboot", "80: 90"};
        case holds::mark: return {S(f.high + 1, 'f'), "xyz", "1 +mark=0x1", "1f;reboot"};
        case holds::identifier:
            if (!f.high) return with(words, {"2026120700000", "202612070000007", "2026120700000a"});
            return with(words, {S(f.high + 1, '7')});
        case holds::word: return with(words, {"-rf", S(f.high ? f.high + 1 : f.size, 'w')});
        case holds::host: return with(words, {"a'b"});
        case holds::label:
            return with(words, {"#comment", ".hidden", "-rf", "a/b", "a:b", S(f.high ? f.high + 1 : f.size, 'l')});
        case holds::text: return {"a\x01z", "line\nbreak", "tab\there", "del\x7f"};
        case holds::secret: return {"abc\\", "a\"b", "a\x01z", "line\nbreak"};
        case holds::decimal: return {"north", "1.5;reboot", "1 2", "1e5", "0x1f", S(f.size, '1')};
        case holds::chain:
            return with(words, {"ACCEPT", S(f.names.back()) + "_2026120700000", "x_20261207000007",
                                S(f.names.back()) + "20261207000007"});
        case holds::mask_or_prefix: return {"129", "-1", "255.0.255.0", "48;reboot", "255.255.255.0 1"};
        case holds::protocol: return {"256", "-1", "gre", "tcp;reboot", "6 17", "TCP"};
        case holds::flags: return {S(f.high + 1, '1'), "0120", "01 0", "1;reboot"};
        case holds::undeclared: break;
    }
    return {};
}

// The values that stand in for samples, by key: a module's own and those
// that make fields which depend on another one apply.
using Case = std::map<S, S>;

// What a module needs besides its samples.
const std::map<S, Case> kRows = {
    // Line k is port k: port 1 is stored and read back first.
    {"interface", {{"port", "1"}}},
    // A subnet, not a VLAN: the export's entry goes back to the file it came from.
    {"multiple subnet", {{"vlan", "0"}}},
    // A custom service, whose protocols its line keeps.
    {"service", {{"kind", "1"}}},
};

// Modules kept in several files: the selector of the file a sample record
// goes to.
const std::map<S, intptr_t> kSelectors = {
    {"address", 5},                 // zone 2, a group: the DMZ groups
    {"service", SERVICE_CUSTOM},
};

// The name by which a test speaks of a field.
S name(const module::field &f) { return f.key ? f.key : f.form_name(); }
S value_in(const module::field &f, const Case &c) {
    const auto given = c.find(name(f));
    return given != c.end() ? given->second : sample(f);
}
// Whether f applies where the fields hold the case's values.
bool applies(const module::field &f, const Case &c, const module::description &d) {
    const module::field *deciding = f.when ? module::field_named(d.fields, f.when) : nullptr;
    return !deciding || f.applies_with(std::stoi(value_in(*deciding, c)));
}
// The module's row, and one case more for each value that makes a field
// apply that depends on another: each field applies in one of them.
std::vector<Case> cases_of(const module::description &d) {
    const auto row = kRows.find(d.module);
    std::vector<Case> cases = {row != kRows.end() ? row->second : Case{}};
    for (const module::field &f : d.fields) {
        if (!f.when) continue;
        Case c = cases.front();
        c[f.when] = std::to_string(std::countr_zero(f.when_values));
        if (std::find(cases.begin(), cases.end(), c) == cases.end()) cases.push_back(c);
    }
    return cases;
}
const Case &case_for(const module::field &f, const std::vector<Case> &cases, const module::description &d) {
    return *std::find_if(cases.begin(), cases.end(), [&](const Case &c) { return applies(f, c, d); });
}

// A field's value in a record, as text.
S value_of(const void *rec, const module::field &f) {
    if (f.is_number()) return std::to_string(module::number_in(rec, f));
    const char *text = module::text_in(rec, f);
    return S(text, strnlen(text, f.size));
}
// The fields that pick chooses and that apply in the case whose values
// differ in the two records, as "key: a -> b" lines.
template <typename Pick>
S differences(const module::description &d, const Case &c, const void *a, const void *b, Pick pick) {
    S out;
    for (const module::field &f : d.fields)
        if (pick(f) && applies(f, c, d) && value_of(a, f) != value_of(b, f))
            out += name(f) + ": " + value_of(a, f) + " -> " + value_of(b, f) + "\n";
    return out;
}

// A value as a field of that capacity keeps it.
S kept(const module::field &f, const S &value) { return f.is_number() ? value : value.substr(0, f.size - 1); }

// The form of a record whose every field that applies holds its value in
// the case, one of them replaced.
FormValues form(const module::description &d, const Case &c, const module::field *replaced = nullptr,
                const S &value = "") {
    FormValues fields;
    for (const module::field &f : d.fields)
        if (const char *name = f.form_name(); name && applies(f, c, d))
            fields.emplace_back(name, &f == replaced ? value : value_in(f, c));
    return fields;
}

// A document holding one entry for the module, each field that applies at
// its value in the case, one of them replaced; values are escaped as the
// export escapes them.
S document(const module::description &d, const Case &c, const module::field *replaced = nullptr,
           const S &value = "") {
    S entry;
    for (const module::field &f : d.fields) {
        if (!f.key || !applies(f, c, d)) continue;
        S v = &f == replaced ? value : value_in(f, c), escaped;
        for (char ch : v)
            escaped += ch == '"' ? S("\\&quot;") : ch == '\\' ? S("\\\\") : ch == '&' ? S("&amp;")
                     : ch == '<' ? S("&lt;") : static_cast<unsigned char>(ch) < 0x20 ? "&#" + std::to_string(ch) + ";"
                     : S(1, ch);
        entry += "<" + S(f.key) + " value=\"" + escaped + "\" />";
    }
    return "<configuration><_function value=\"" + S(d.module) + "\"><_entry>" + entry +
           "</_entry></_function></configuration>";
}

// The record a module's form fills where it is not the record of its lines:
// the AP list's form fills an AP, its lines are the AP groups.
std::size_t form_record_size(const module_entry &e) {
    return S(e.name) == "ap_host" ? sizeof(ap_host_record) : e.record_size;
}

// A module's table and a record its form fills, from its defaults.
struct Subject {
    const module_entry &entry;
    Module table{entry.register_fn, entry.unregister_fn};
    std::vector<unsigned char> record = std::vector<unsigned char>(form_record_size(entry));
    void *selector = kSelectors.count(entry.name) ? reinterpret_cast<void *>(kSelectors.at(entry.name)) : nullptr;

    void *fresh() {
        std::fill(record.begin(), record.end(), 0);
        table->clear(record.data());
        if (table->set_default) table->set_default(record.data(), nullptr);
        return record.data();
    }
    void *from_form(const FormValues &values) {
        submit_form(values);
        return reinterpret_cast<cgi_fn>(table->cgiParam)(fresh());
    }
    // Stores the record as line 1 (modify appends it when there is none);
    // false for a module whose records are no lines of a file.
    bool store() {
        if (!table->modify || !table->getline) return false;
        record_file *h = table.open(1, selector);
        const int stored = table->modify(h, record.data(), 1);
        table.close();
        EXPECT_EQ(stored, 0) << entry.name;
        return stored == 0;
    }
    // The first record stored, read back through the module's getline.
    std::vector<unsigned char> stored() {
        std::vector<unsigned char> back(entry.record_size);
        record_file *h = table.open(0, selector);
        EXPECT_TRUE(h && table->getline(h, back.data(), nullptr, 1)) << entry.name;
        table.close();
        return back;
    }
    // Whether the configuration import takes the module's entries.
    bool imports() const { return entry.import || table->import_xmlConf || table->xmlParam; }
    S files(const Sandbox &box) const {
        S all;
        for (const int *n = entry.files; *n >= 0; ++n) all += box.read(file_list[*n].path) + "\n";
        return all;
    }
};

}  // namespace

TEST(Fields, EveryDescribedFieldReadsBackAndRefusesWhatItCannotHold) {
    int described = 0;
    for (int i = 0; const module_entry *e = module_directory(i); ++i) {
        const module::description *d = module::described(e->name);
        if (!d) continue;
        ++described;
        ModuleBox box;
        Subject m{*e};
        SCOPED_TRACE(e->name);
        const std::vector<Case> cases = cases_of(*d);

        // The form with every field that applies at its value fills the
        // record with them; its line and its XML read back the same.
        for (const Case &c : cases) {
            if (m.table->cgiParam) {
                ASSERT_NE(m.from_form(form(*d, c)), nullptr);
                S taken;
                for (const module::field &f : d->fields)
                    if (f.form_name() && applies(f, c, *d) && value_of(m.record.data(), f) != kept(f, value_in(f, c)))
                        taken += name(f) + " ";
                EXPECT_EQ(taken, "");
            } else {
                m.fresh();
            }
            const std::vector<unsigned char> filled = m.record;
            if (!m.store()) continue;
            std::vector<unsigned char> back = m.stored();
            const auto in_line = [](const module::field &f) { return f.how != module::kind::none; };
            EXPECT_EQ(differences(*d, c, filled.data(), back.data(), in_line), "");
            if (m.table->xmlConf && m.imports()) {
                const char *names[] = {e->name};
                const S exported = captured_stdout([&] { config_export(names, 1, nullptr, 0); });
                char report[512];
                ASSERT_EQ(config_import(exported.data(), exported.size(), report, sizeof report), 0) << report;
                back = m.stored();
                // A value only the form and the XML carry: no line keeps it.
                const auto exported_key = [&](const module::field &f) {
                    return f.key && f.exported && !(S(e->name) == "virtual_link" && S(f.key) == "subnet");
                };
                EXPECT_EQ(differences(*d, c, filled.data(), back.data(), exported_key), "");
            }
        }

        // Every value a field must refuse: the form gives no record, the
        // import is refused with the field named and the files stay.
        const S files = m.files(box);
        for (const module::field &f : d->fields) {
            const Case &c = case_for(f, cases, *d);
            for (const S &v : refused(f)) {
                if (m.table->cgiParam && f.form_name()) {
                    EXPECT_EQ(m.from_form(form(*d, c, &f, v)), nullptr) << name(f) << " " << v;
                }
                if (!f.key || !m.imports()) continue;
                const S doc = document(*d, c, &f, v);
                char report[512] = "";
                EXPECT_EQ(config_import(doc.data(), doc.size(), report, sizeof report), -1) << f.key << " " << v;
                EXPECT_NE(S(report).find(f.key), S::npos) << report;  // XML itself takes no control character
            }
        }
        EXPECT_EQ(m.files(box), files);

        // A value that would break out of a command line is refused, or
        // taken whole (cut at the capacity) and read back from the line.
        for (const module::field &f : d->fields) {
            if (!m.table->cgiParam || !f.form_name()) continue;
            const Case &c = case_for(f, cases, *d);
            for (const S &v : hostile_values(box.file("/sentinel"))) {
                if (!m.from_form(form(*d, c, &f, v))) continue;
                EXPECT_EQ(value_of(m.record.data(), f), kept(f, v)) << name(f);
                if (m.store()) {
                    EXPECT_EQ(value_of(m.stored().data(), f), kept(f, v)) << name(f);
                }
            }
        }
    }
    EXPECT_GT(described, 0);
}
