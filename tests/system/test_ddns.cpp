// Dynamic DNS accounts: published names, duplicates, the updater's status
// characters, the form and the updater's start.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "support/module_harness.h"

using namespace testing_support;
using record = ddns_record;

namespace {

constexpr const char *kFile = "/etc/sysconfig/.firewall/ddns.conf";
constexpr const char *kStatus = "/var/tmp/ddns_status";

record account(int provider, const char *user, const char *host, const char *domain) {
    record r{provider, "", "^o^", "", "", 1, "WAN1", '0'};
    std::strcpy(r.username, user);
    std::strcpy(r.host, host);
    std::strcpy(r.domain, domain);
    return r;
}

// The accounts of the file as "status:user".
std::string walk(Module &m) {
    std::string out;
    record r{};
    auto *h = m.open(0);
    for (int k = 1; m->getline(h, &r, nullptr, k); ++k) out += std::string(1, r.status) + ":" + r.username + " ";
    return out;
}

}  // namespace

TEST(Ddns, PublishedNamesAndDuplicates) {
    ModuleBox box;
    const std::pair<record, const char *> names[] = {
        {account(0, "bob", "home", "example.net"), "home.example.net"},
        {account(0, "bob", "full.example.org", "<custom>"), "full.example.org"},
        {account(0, "bob", "^o^", "<custom>"), "---"},
        {account(2, "bob", "home", "^o^"), "bob"},
        {account(2, "^o^", "home", "^o^"), "---"},
        {account(8, "carol", "home", "^o^"), "---"},
    };
    for (const auto &[r, name] : names) EXPECT_STREQ(ddns_compose_host_domain(&r), name);

    // Provider 8 tells accounts apart by user name, the others by name.
    box.write(kFile, "0 bob pw home example.net 1 WAN1 \n8 carol pw ^o^ ^o^ 1 WAN1 \n");
    Module m(ddns_register, ddns_unregister);
    auto *h = m.open(0);
    record same_name = account(3, "dave", "home", "example.net"), other = account(0, "carol", "x", "example.net"),
           user8 = account(8, "carol", "y", "example.org");
    EXPECT_EQ(m->isTheSame(h, &same_name, 0), 1);
    EXPECT_EQ(m->isTheSame(h, &same_name, 1), 0);
    EXPECT_EQ(m->isTheSame(h, &other, 0), 0);
    EXPECT_EQ(m->isTheSame(h, &user8, 0), 1);

    // In use: 0; not in use: -1, the reverse of the other modules.
    using check = int(record_file *, const interface_record *);
    const interface_record wan1 = interface_port(2, "WAN1", 2), wan2 = interface_port(3, "WAN2", 2);
    EXPECT_EQ(call<check>(m->interface_check, h, &wan1), 0);
    EXPECT_EQ(call<check>(m->interface_check, h, &wan2), -1);
}

TEST(Ddns, StatusCharacters) {
    ModuleBox box;
    for (const char *user : {"a", "b", "c", "d", "e"})
        box.write(kFile, box.read(kFile) + "0 " + user + " pw h" + user + " example.net 1 WAN1 \n");
    Module m(ddns_register, ddns_unregister);
    EXPECT_EQ(walk(m), "0:a 0:b 0:c 0:d 0:e ") << "no status file";
    box.write(kStatus, "12x\n");
    EXPECT_EQ(walk(m), "1:a 2:b 0:c 0:d 0:e ") << "a short file, a character that is no digit";
    box.write(kStatus, "12345\n");
    record r{};
    m->getnum(static_cast<record_file *>(m->handle), &r, 3);
    EXPECT_EQ(r.status, '0') << "read once while the file is open";
    EXPECT_EQ(walk(m), "1:a 2:b 3:c 4:d 5:e ");

    // A removed account takes its character out of the status file.
    EXPECT_EQ(m->remove(m.open(1), 3), 0);
    EXPECT_EQ(box.read(kStatus), "1245");
    m->getnum(static_cast<record_file *>(m->handle), &r, 4);
    EXPECT_EQ(std::string(1, r.status) + r.username, "4d");
    EXPECT_EQ(walk(m), "1:a 2:b 4:d 5:e ");
    std::filesystem::remove(box.file(kStatus));
    EXPECT_EQ(m->remove(m.open(1), 1), 0);
    EXPECT_EQ(walk(m), "0:b 0:d 0:e ");
    EXPECT_FALSE(box.exists(kStatus));
}

TEST(Ddns, FormLineAndUpdater) {
    ModuleBox box;
    Module m(ddns_register, ddns_unregister);
    const std::pair<FormValues, const char *> rows[] = {
        {{{"provider", "2"},
          {"username", "bob"},
          {"password", "p w"},
          {"host", "home"},
          {"domain", "example.net"},
          {"auto_wan", "0"},
          {"wan_ip", "198.51.100.9"}},
         "2 bob \"p w\" home example.net 0 198.51.100.9 "},
        {{{"provider", "8"}, {"username", "carol"}, {"auto_wan", "0"}, {"select_port", "WAN2"}},
         "8 carol ^o^ ^o^ ^o^ 1 WAN2 "},
    };
    for (const auto &[form, line] : rows) {
        submit_form(form);
        record r{};
        ASSERT_EQ(call<void *(record *)>(m->cgiParam, &r), &r);
        m->add(m.open(0), &r);
        EXPECT_STREQ(my_GetNumData(static_cast<record_file *>(m->handle), 1), line);
    }
    submit_form({});

    int marker = 0;
    std::string started;
    for (module_op slot : {m->command, m->restorebyinterface, m->dynamicIPup}) {
        EXPECT_EQ(call<void *(void *)>(slot, &marker), &marker);
        started += "/sbin/update_ddns -a >/dev/null 2>&1&\n";
    }
    EXPECT_EQ(box.take(), (Effects{started, "", ""}));
}
