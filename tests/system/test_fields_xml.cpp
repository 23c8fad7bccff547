// Every field every module describes, through the module's own readers: a
// record filled with a value of each field's kind reads back the same from
// its line and from its XML, and a value the field cannot hold is refused
// by the form and by the configuration import, which then changes nothing.
#include <gtest/gtest.h>

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
        case holds::text: return "two words \"quoted\" ; $(x) & <y> \\ end";
        case holds::secret: return "pass word;$(x)&<y>";
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
        case holds::text: return {"a\x01z", "line\nbreak", "tab\there", "del\x7f"};
        case holds::secret: return {"abc\\", "a\"b", "a\x01z", "line\nbreak"};
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

// A field's value in a record, as text.
S value_of(const void *rec, const module::field &f) {
    if (f.is_number()) return std::to_string(module::number_in(rec, f));
    const char *text = module::text_in(rec, f);
    return S(text, strnlen(text, f.size));
}
// The fields that pick chooses whose values differ in the two records, as
// "key: a -> b" lines.
template <typename Pick>
S differences(const module::description &d, const void *a, const void *b, Pick pick) {
    S out;
    for (const module::field &f : d.fields)
        if (pick(f) && value_of(a, f) != value_of(b, f))
            out += S(f.key ? f.key : "?") + ": " + value_of(a, f) + " -> " + value_of(b, f) + "\n";
    return out;
}

// Modules kept in several files: the selector of the file a sample record
// goes to, and a value that chooses that file where the kind's own sample
// chooses another.
struct filed {
    intptr_t selector;
    std::map<S, S> values;
};
const std::map<S, filed> kFiled = {
    {"address", {5, {}}},                              // zone 2, a group: the DMZ groups
    {"service", {SERVICE_CUSTOM, {{"kind", "1"}}}},  // a custom service, whose protocols its line keeps
};
S sample(const module::description &d, const module::field &f) {
    const auto module = kFiled.find(d.module);
    if (module != kFiled.end() && f.key && module->second.values.count(f.key)) return module->second.values.at(f.key);
    return sample(f);
}

// A value as a field of that capacity keeps it.
S kept(const module::field &f, const S &value) { return f.is_number() ? value : value.substr(0, f.size - 1); }

// The form of a record whose every field holds its sample, one of them
// replaced.
FormValues form(const module::description &d, const module::field *replaced = nullptr, const S &value = "") {
    FormValues fields;
    for (const module::field &f : d.fields)
        if (const char *name = f.form_name()) fields.emplace_back(name, &f == replaced ? value : sample(d, f));
    return fields;
}

// A document holding one entry for the module, each field at its sample,
// one of them replaced.
S document(const module::description &d, const module::field *replaced = nullptr, const S &value = "") {
    S entry;
    for (const module::field &f : d.fields) {
        if (!f.key) continue;
        S v = &f == replaced ? value : sample(d, f), escaped;
        for (char c : v)  // as a line escapes it, then for XML
            escaped += c == '"' ? S("\\&quot;") : c == '\\' ? S("\\\\") : c == '&' ? S("&amp;") : c == '<' ? S("&lt;")
                     : static_cast<unsigned char>(c) < 0x20 ? "&#" + std::to_string(c) + ";" : S(1, c);
        entry += "<" + S(f.key) + " value=\"" + escaped + "\" />";
    }
    return "<configuration><_function value=\"" + S(d.module) + "\"><_entry>" + entry +
           "</_entry></_function></configuration>";
}

// A module's table and a record of its size, from its defaults.
struct Subject {
    const module_entry &entry;
    Module table{entry.register_fn, entry.unregister_fn};
    std::vector<unsigned char> record = std::vector<unsigned char>(entry.record_size);
    void *selector = kFiled.count(entry.name) ? reinterpret_cast<void *>(kFiled.at(entry.name).selector) : nullptr;

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

        // The form with every field at its sample fills the record with them;
        // its line and its XML read back the same.
        if (m.table->cgiParam) {
            ASSERT_NE(m.from_form(form(*d)), nullptr);
            S taken;
            for (const module::field &f : d->fields)
                if (f.form_name() && value_of(m.record.data(), f) != kept(f, sample(*d, f))) taken += S(f.key) + " ";
            EXPECT_EQ(taken, "");
        } else {
            m.fresh();
        }
        const std::vector<unsigned char> filled = m.record;
        if (!m.store()) continue;
        std::vector<unsigned char> back = m.stored();
        EXPECT_EQ(differences(*d, filled.data(), back.data(), [](auto &f) { return f.how != module::kind::none; }), "");
        if (m.table->xmlConf) {
            const char *names[] = {e->name};
            const S exported = captured_stdout([&] { config_export(names, 1, nullptr, 0); });
            char report[512];
            ASSERT_EQ(config_import(exported.data(), exported.size(), report, sizeof report), 0) << report;
            back = m.stored();
            EXPECT_EQ(differences(*d, filled.data(), back.data(), [](auto &f) { return f.key && f.exported; }), "");
        }

        // Every value a field must refuse: the form gives no record, the
        // import is refused with the field named and the files stay.
        const S files = m.files(box);
        for (const module::field &f : d->fields) {
            for (const S &v : refused(f)) {
                if (m.table->cgiParam && f.form_name()) {
                    EXPECT_EQ(m.from_form(form(*d, &f, v)), nullptr) << f.key << " " << v;
                }
                if (!f.key) continue;
                const S doc = document(*d, &f, v);
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
            for (const S &v : hostile_values(box.file("/sentinel"))) {
                if (!m.from_form(form(*d, &f, v))) continue;
                EXPECT_EQ(value_of(m.record.data(), f), kept(f, v)) << f.key;
                if (m.store()) {
                    EXPECT_EQ(value_of(m.stored().data(), f), kept(f, v)) << f.key;
                }
            }
        }
    }
    EXPECT_GT(described, 0);
}
