// What the interface module's files share: the record's queries, the apply
// sequence the table calls, and the PPPoE link.
#pragma once

#include <string>

#include "webadmin.h"

namespace interface {

// The source name in opener tags, rule prefixes and debug output.
inline constexpr char kSource[] = "system/interface.c";

int port_count();
bool in_use(const interface_record &r);
// The port names a bond master (its own port for the master itself).
bool bonded(const interface_record &r);
bool bond_master(const interface_record &r);
// A member whose master is another port: a restart of every port applies
// it with its master.
bool bond_member(const interface_record &r);
// Which ports a lookup in the shared memory walks: those in use, or every
// port (the device of a static route is chosen over every port).
enum class ports { in_use, all };
// The record of the port named iname in the shared memory; null when no
// such port has that name.
interface_record *find_port(const char *iname, ports which = ports::in_use);
// The device that carries r's addresses and routes, the other ports counted
// from the shared memory (interface_route_device walks every port).
std::string carrier(const interface_record &r, ports which = ports::in_use);
// The port summary, the other ports read from h (from the shared memory
// without one); stored in rec and returned.
int summary(record_file *h, interface_record *rec);

// The apply sequence and its reverse (interface_apply.cpp).
int initial_system_cmd(interface_record *rec, int n, int boot);
int command(interface_record *rec, int n);
int discommand(interface_record *rec, int n);
int recommand(module_table *table, int port);
wan_address_event *dynamic_ip_up(wan_address_event *event);

// The PPPoE link of a WAN port (interface_pppoe.cpp).  The configuration
// files for pppd.WAN, written (enable 1) or deleted (0).
void write_pppoe_config(int enable, const interface_record &r);
// Starts the dialler on the port (its VLAN device when it has one).
void pppoe_connect(const interface_record &r);
// Stops the port's dialler: its pid file first, then every process named
// "pppd.WAN" and the port's name, with signal 9 for one that outlives the
// wait.
void pppoe_disconnect(const char *iname);
// Removes the port's PPPoE files and the dialler's state table.
void flush_pppoe(const interface_record &r);

}  // namespace interface
