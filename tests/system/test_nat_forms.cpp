// The forms of the translation, management access and service modules:
// what each field makes of a record, and hostile values in every field.
// With SYSTEM_DEBUG_IPTABLES the rules run through
// the shell: each recorded line, run by /bin/sh with a stub in its
// program's place, must pass as many arguments as the line made from a
// plain value and run nothing else.  (Identifiers are refused as the
// permit_ip form test shows; here the form gives one.)  Addresses, marks,
// protocols, ports and members that are none are refused, so their lines
// stay those of the plain value; the other texts reach the rules quoted.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/request.h"
#include "support/hostile.h"
#include "support/module_harness.h"

using namespace testing_support;

namespace {

using Form = std::vector<std::pair<std::string, std::string>>;

struct Target {
    module_table *(*register_fn)();
    void (*unregister_fn)(module_table *);
    std::vector<std::string> fields;
    bool reaches_rules;  // some field is quoted into a rule rather than refused
};

// The shell commands recorded since the last take, a line feed inside a
// value kept in its command.
std::vector<std::string> recorded(ModuleBox &box) {
    std::vector<std::string> lines;
    const std::string log = box.take().commands;
    for (std::size_t start = 0, next; start < log.size(); start = next + 1) {
        next = log.find("\n/sbin/", start);
        if (next == std::string::npos) next = log.size() - 1;
        lines.push_back(log.substr(start, next - start));
    }
    return lines;
}

std::string program_of(const std::string &line) { return line.substr(0, line.find(' ')); }

}  // namespace

TEST(NatForms, FieldsMakeTheseLines) {
    ModuleBox box;
    std::strcpy(entry_num[69], "3");
    std::strcpy(entry_num[17], "2");
    box.write("/etc/sysconfig/.firewall/virtual_ip.conf", "\"a\" 20260102030401 \n\"b\" 20260102030402 \n");
    const std::string id = "20260102030405";
    const struct {
        module_table *(*register_fn)();
        void (*unregister_fn)(module_table *);
        intptr_t selector;
        Form form;
        std::string line;
    } rows[] = {
        {permit_ip_register, permit_ip_unregister, 0,
         {{"pname", "web"}, {"id", id}, {"ip", "10.0.0.0"}, {"nm", "255.0.0.0"}, {"phttp", "2"}, {"pssh", "16"}},
         "\"web\" " + id + " 0 10.0.0.0 255.0.0.0 18 "},
        {permit_ip_register, permit_ip_unregister, 0, {{"id", id}, {"ipv", "1"}, {"ip", "2001:db8::"}, {"nm", "48"}, {"pping", "1"}},
         "\"^o^\" " + id + " 1 2001:db8:: 48 1 "},
        {permit_ip_register, permit_ip_unregister, 0, {{"id", id}, {"ipv", "1"}, {"ip", "10.0.0.1"}, {"nm", "129"}},
         "\"^o^\" " + id + " 1 0.0.0.0 255.255.255.255 0 "},
        {mapped_ip_register, mapped_ip_unregister, 0,
         {{"name", "a \"b\""}, {"id", id}, {"mark", "ff"}, {"rip", "1.2.3.4"}, {"rname", "WAN1:1a"}, {"mip", "10.0.0.5"},
          {"mname", "LAN1"}, {"iswan", "0"}, {"n", "7"}},
         "\"a \\\"b\\\"\" " + id + " ff 1.2.3.4 WAN1:1a 10.0.0.5 LAN1 0 7 "},
        {mapped_ip_register, mapped_ip_unregister, 0,
         {{"id", id}, {"mark", "0x1; x"}, {"rip", "1.2.3.4/8"}, {"mip", "10.0.0.256"}, {"rname", "a b"}},
         "\"^o^\" " + id + " 695735A5 0.0.0.0 \"a b\" 0.0.0.0 ^o^ 1 0 "},
        {virtual_ip_register, virtual_ip_unregister, 0,
         {{"name", "web"}, {"id", id}, {"rip", "1.2.3.4; x"}, {"rp", "80 81"}, {"rname2", "WAN1"}, {"schain", "svc_1"},
          {"omode2", "2"}, {"vip1", "10.0.0.1"}, {"vip2", "10.0.0.2/24"}, {"vip3", "10.0.0.3"}, {"vname2", "LAN1"},
          {"health_check", "1"}},
         "\"web\" " + id + " 695735A5 0.0.0.0 \"80 81\" WAN1 svc_1 2 10.0.0.1 0.0.0.0 10.0.0.3 0.0.0.0 LAN1 1 "
                            "\"10.0.0.1,0.0.0.0,10.0.0.3\" 1 0 "},
        {virtual_ip_group_register, virtual_ip_group_unregister, 0,
         {{"name", "g"}, {"id", id}, {"select_members", "20260102030402"}, {"select_members", "2026"}, {"iname", "LAN1"}},
         "\"g\" " + id + " 695735A5 01 LAN1 "},
        {service_register, service_unregister, SERVICE_CUSTOM,
         {{"name", "mail"}, {"id", id}, {"protocol1", "tcp"}, {"first_port1", "25"}, {"protocol2", "udp; x"},
          {"protocol3", "17"}, {"first_port3", "53"}, {"last_port3", "54"}, {"protocol4", "tcp"}, {"first_port4", "1 2"},
          {"protocol5", "47"}},
         "\"mail\" " + id + " 1 tcp 25 25 17 53 54 47 0 0 "},
        {service_register, service_unregister, SERVICE_GROUP,
         {{"id", id}, {"kind", "2"}, {"select_members", "svc_20260101000001"}, {"select_members", "svc_1; x"},
          {"select_members", "svcgroup_20260101000001"}},
         "\"^o^\" " + id + " 2 svc_20260101000001 "},
    };
    for (const auto &row : rows) {
        Module t(row.register_fn, row.unregister_fn);
        submit_form(row.form);
        std::vector<char> rec(sizeof(virtual_ip_group_record));
        call<nat_cgiParam_fn>(t->cgiParam, rec.data());
        record_file *h = t.open(1, reinterpret_cast<void *>(row.selector));
        ASSERT_EQ(t->modify(h, rec.data(), 1), 0);
        EXPECT_EQ(my_GetNumData(h, 1), row.line);
    }
    // An identifier that is none gives way to a fresh one.
    submit_form({{"id", "2026; x"}});
    Module mapped(mapped_ip_register, mapped_ip_unregister);
    mapped_ip_record rec{};
    call<nat_cgiParam_fn>(mapped->cgiParam, &rec);
    EXPECT_TRUE(matches(rec.chain, "mip_[0-9]{14}")) << rec.chain;
    qFree();
}

TEST(NatForms, HostileValuesNeverLeaveTheirArgument) {
    ModuleBox box({"SYSTEM_DEBUG_IPTABLES=y"});
    std::strcpy(entry_num[69], "2");
    ASSERT_EQ(interface_init_shm(), 0);
    install_interfaces({interface_port(1, "WAN1", 2), interface_port(2, "LAN1", 1, 2)});
    const std::string sentinel = box.file("/SENTINEL");
    service_protocol tcp{"tcp", "80", "80", nullptr};
    const Target targets[] = {
        {permit_ip_register, permit_ip_unregister, {"pname", "ip", "nm"}, false},
        {mapped_ip_register, mapped_ip_unregister, {"name", "mark", "rip", "rname", "mip", "mname"}, true},
        {virtual_ip_register, virtual_ip_unregister,
         {"name", "mark", "rip", "rp", "rname2", "schain", "vip1", "vname2"}, true},
        {service_register, service_unregister, {"name", "protocol1", "first_port1", "select_members"}, false},
    };
    std::vector<std::string> values = hostile_values(sentinel);
    if (slow_processes()) values = {values[0], values[6], values[10], values[14], values.back()};
    for (const Target &target : targets) {
        Module t(target.register_fn, target.unregister_fn);
        SCOPED_TRACE(t->name);
        const auto apply = [&](const std::string &value) {
            Form form{{"id", "20260102030405"}};
            for (const std::string &field : target.fields) form.emplace_back(field, value);
            submit_form(form);
            std::vector<char> rec(sizeof(virtual_ip_record));
            call<nat_cgiParam_fn>(t->cgiParam, rec.data());
            if (target.register_fn == virtual_ip_register)
                reinterpret_cast<virtual_ip_record *>(rec.data())->service_info = &tcp;
            call<nat_command_fn>(t->command, rec.data());
            return recorded(box);
        };
        const std::vector<std::string> plain = apply("plain");
        std::map<std::size_t, std::size_t> plain_args;
        for (const std::string &value : values) {
            SCOPED_TRACE(value.substr(0, 40));
            const std::vector<std::string> lines = apply(value);
            ASSERT_EQ(lines.size(), plain.size());
            int quoted = 0;
            for (std::size_t i = 0; i < lines.size(); ++i) {
                if (lines[i] == plain[i]) continue;
                ++quoted;
                if (!plain_args.count(i)) plain_args[i] = run_with_stub(box, plain[i], program_of(plain[i])).size();
                EXPECT_EQ(run_with_stub(box, lines[i], program_of(lines[i])).size(), plain_args[i]) << lines[i];
                ASSERT_FALSE(box.exists("/SENTINEL")) << lines[i];
            }
            EXPECT_EQ(quoted > 0, target.reaches_rules);
        }
    }
    qFree();
}
