// The shared interface memory and the kernel's chain reference query.
#include <gtest/gtest.h>

#include "support/module_harness.h"

using namespace testing_support;

TEST(InterfaceShm, RecordsByPortAndByName) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    ASSERT_EQ(interface_init_shm(), 0);
    install_interfaces({interface_port(1, "LAN1", 1), interface_port(3, "WAN1", 2, 1, 2)});
    for (int port : {0, 4, -1}) EXPECT_EQ(interface_read_shm(port), nullptr) << port;
    ASSERT_NE(interface_read_shm(3), nullptr);
    EXPECT_STREQ(interface_read_shm(3)->iname, "WAN1");
    EXPECT_EQ(interface_read_shm(3)->cmode, 2);
    EXPECT_EQ(interface_read_shm(2)->port, 0);  // never written: zero-filled
    EXPECT_EQ(return_contrast_port_num("WAN1"), 3);
    EXPECT_EQ(return_contrast_port_num("LAN1"), 1);
    EXPECT_EQ(return_contrast_port_num("DMZ1"), 0);
    EXPECT_EQ(return_contrast_port_num(nullptr), 0);
}

TEST(ChainReferences, AKernelWithoutTheQueryCountsNothing) {
    EXPECT_EQ(chain_references("nat", "mip_20240101000000"), 0u);
    uint64_t first = 7, second = 7;
    EXPECT_EQ(chain_counters("nat", "mip_20240101000000", &first, &second), 0);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(second, 0u);
}
