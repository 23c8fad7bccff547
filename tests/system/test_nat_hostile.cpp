// Hostile form values in every field of the translation, management access
// and service modules.  With SYSTEM_DEBUG_IPTABLES the rules run through
// the shell: each recorded line, run by /bin/sh with a stub in its
// program's place, must pass as many arguments as the line made from a
// plain value and run nothing else.  (Identifiers are refused as the
// permit_ip form test shows; here the form gives one.)  Addresses, marks,
// protocols, ports and members that are none are refused, so their lines
// stay those of the plain value; the other texts reach the rules quoted.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

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

TEST(NatHostile, FormValuesNeverLeaveTheirArgument) {
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
