// The demo appliance's root file system section: 16 bytes the flash device
// does not take, then a ustar archive of the files the appliance boots
// from.  A new image carries the new system information record as
// etc/system.info there, as a real root file system does.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace demo_rootfs {

inline constexpr std::size_t kPreamble = 16;
inline constexpr char kSystemInfo[] = "etc/system.info";

// The section: the preamble and an archive of the (name, data) members.
std::string section(const std::vector<std::pair<std::string, std::string>> &members);

// The data of the named member of an archive as the flash device holds it
// (the section without its preamble); none when the bytes are no archive or
// hold no such member.
std::optional<std::string> member(const std::string &archive, const std::string &name);

}  // namespace demo_rootfs
