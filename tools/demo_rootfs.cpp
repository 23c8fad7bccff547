#include "tools/demo_rootfs.h"

#include <cstdio>
#include <cstring>

namespace demo_rootfs {
namespace {

constexpr std::size_t kBlock = 512;
constexpr std::size_t kNameSize = 100, kSizeOffset = 124, kSumOffset = 148, kTypeOffset = 156, kMagicOffset = 257;

std::size_t padded(std::size_t size) { return (size + kBlock - 1) / kBlock * kBlock; }

unsigned checksum(const std::string &header) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < kBlock; ++i)
        sum += i >= kSumOffset && i < kSumOffset + 8 ? ' ' : static_cast<unsigned char>(header[i]);
    return sum;
}

std::string header(const std::string &name, std::size_t size) {
    std::string h(kBlock, '\0');
    std::memcpy(&h[0], name.data(), std::min(name.size(), kNameSize - 1));
    std::snprintf(&h[100], 8, "%07o", 0644u);
    std::snprintf(&h[108], 8, "%07o", 0u);
    std::snprintf(&h[116], 8, "%07o", 0u);
    std::snprintf(&h[kSizeOffset], 12, "%011zo", size);
    std::snprintf(&h[136], 12, "%011o", 0u);
    h[kTypeOffset] = '0';
    std::memcpy(&h[kMagicOffset], "ustar\0" "00", 8);
    char sum[8];
    std::snprintf(sum, sizeof sum, "%06o", checksum(h));
    std::memcpy(&h[kSumOffset], sum, 7);
    h[kSumOffset + 7] = ' ';
    return h;
}

}  // namespace

std::string section(const std::vector<std::pair<std::string, std::string>> &members) {
    std::string out(kPreamble, '\0');
    for (const auto &[name, data] : members) {
        out += header(name, data.size());
        out += data;
        out.append(padded(data.size()) - data.size(), '\0');
    }
    out.append(2 * kBlock, '\0');
    return out;
}

std::optional<std::string> member(const std::string &archive, const std::string &name) {
    for (std::size_t at = 0; at + kBlock <= archive.size();) {
        const std::string h = archive.substr(at, kBlock);
        if (h.compare(kMagicOffset, 5, "ustar") != 0) return std::nullopt;
        unsigned stored = 0;
        if (std::sscanf(h.c_str() + kSumOffset, "%o", &stored) != 1 || stored != checksum(h)) return std::nullopt;
        unsigned long size = 0;
        if (std::sscanf(h.c_str() + kSizeOffset, "%lo", &size) != 1) return std::nullopt;
        const std::string member_name(h.c_str(), strnlen(h.c_str(), kNameSize));
        at += kBlock;
        if (size > archive.size() - at) return std::nullopt;
        if (member_name == name) return archive.substr(at, size);
        at += padded(size);
    }
    return std::nullopt;
}

}  // namespace demo_rootfs
