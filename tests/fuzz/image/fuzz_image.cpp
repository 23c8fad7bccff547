// The upload's image check and the section walk that writes the flash.
// Input: one byte of flags, then the image (header, sections, trailer).
//   bit 0: the trailer is made right (the MD5 of what precedes it), so the
//          checks behind it are reached
//   bit 1: the identity card is present (any product passes)
//   bit 2: the section walk alone: the bytes after the flags are the body
//          handed to write_to_fs
// Whatever reaches the flash files must be made of the data of sections of
// that number, taken from inside the image right after their headers.
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "upgrade/upgrade.h"
#include "webadmin.h"

namespace {

constexpr std::string_view kBoundary = "----fuzzboundary7MA4YWxkTrZu0gW";
constexpr size_t kHeader = 60, kSectionHeader = 64, kDigest = 32;
constexpr size_t kRootfsSkip = 16;

std::string read_file(const std::string &appliance_path) {
    std::string content;
    if (FILE *f = std::fopen((fuzz::root() + appliance_path).c_str(), "rb")) {
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) content.append(chunk, n);
        std::fclose(f);
    }
    return content;
}

// The data of a section N whose header starts at offset at of body (less the
// first 16 bytes for section 2), or nothing when no such header is there. A
// header reads as "SIZE N.NAME" (a size scanf takes, such as "+900", counts).
std::optional<std::string_view> section_data(std::string_view body, size_t at, int number) {
    const size_t skip = number == 2 ? kRootfsSkip : 0;
    if (at + kSectionHeader > body.size()) return std::nullopt;
    char text[kSectionHeader + 1] = {};
    body.copy(text, kSectionHeader, at);
    unsigned long size = 0;
    char token[kSectionHeader] = "";
    if (std::sscanf(text, "%lu %63s", &size, token) != 2 || std::atoi(token) != number || size < skip ||
        size > body.size() - at - kSectionHeader)
        return std::nullopt;
    return body.substr(at + kSectionHeader + skip, size - skip);
}

// written is the content of /dev/mtdblockN: empty, the data of one section N
// of body, or, when several sections N were written one over the other from
// the device's start, the last one's data followed by the rest of the longest.
bool came_from_sections(std::string_view body, int number, std::string_view written) {
    if (written.empty()) return true;
    const size_t skip = number == 2 ? kRootfsSkip : 0;
    for (size_t at = body.find(written); at != std::string_view::npos; at = body.find(written, at + 1))
        if (at >= kSectionHeader + skip && section_data(body, at - skip - kSectionHeader, number) == written)
            return true;
    bool starts_with_one = false, as_long_as_one = false;
    for (size_t at = 0; at < body.size(); ++at) {
        const auto data = section_data(body, at, number);
        if (!data || data->size() > written.size()) continue;
        starts_with_one = starts_with_one || written.substr(0, data->size()) == *data;
        as_long_as_one = as_long_as_one || data->size() == written.size();
    }
    return starts_with_one && as_long_as_one;
}

// The post of the upgrade form with this image, decoded as the CGI decodes it.
void post(std::string_view image) {
    static std::string body;
    body = "--" + std::string(kBoundary) +
           "\r\nContent-Disposition: form-data; name=\"img\"; filename=\"fw.img\"\r\n"
           "Content-Type: application/octet-stream\r\n\r\n";
    body.append(image);
    body += "\r\n--" + std::string(kBoundary) + "\r\nContent-Disposition: form-data; name=\"q\"\r\n\r\n1\r\n--" +
            std::string(kBoundary) + "--\r\n";
    static std::string type = "CONTENT_TYPE=multipart/form-data; boundary=" + std::string(kBoundary);
    static std::string length;
    length = "CONTENT_LENGTH=" + std::to_string(body.size());
    putenv(const_cast<char *>("REQUEST_METHOD=POST"));
    putenv(type.data());
    putenv(length.data());
    fuzz::feed_stdin(body, {});
    qDecoder();
    fuzz::stop_stdin();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const unsigned flags = data[0];
    std::string image(reinterpret_cast<const char *>(data + 1), size - 1);
    if ((flags & 1) && image.size() > kDigest + 1) {
        const size_t digest_at = image.size() - kDigest - 1;
        std::memcpy(&image[digest_at], qMD5StrLen(image.data(), digest_at), kDigest);
    }
    fuzz::write_file("/dev/mtdblock1", "");
    fuzz::write_file("/dev/mtdblock2", "");
    if (flags & 2) fuzz::write_file("/var/tmp/UIIDCARD", "");
    else fuzz::remove_path("/var/tmp/UIIDCARD");

    std::string_view body = image;
    if (flags & 4) {
        write_to_fs(reinterpret_cast<const unsigned char *>(image.data()), static_cast<long>(image.size()));
    } else {
        body.remove_prefix(std::min(body.size(), kHeader));
        system_info_record running{};
        std::memcpy(running.major, "2", 1);
        std::memcpy(running.minor, "1", 1);
        std::memcpy(running.revision, "5", 1);
        std::memcpy(running.product_id, "101003", 6);
        func_privilege = 3;
        try {
            post(image);
            query_upgrade(&running);
        } catch (const fuzz::RequestEnded &) {
            // A request the decoder refuses ends before the handler.
        }
        qFreeAll();
    }
    const std::string kernel = read_file("/dev/mtdblock1"), rootfs = read_file("/dev/mtdblock2");
    fuzz::require(came_from_sections(body, 1, kernel), "mtdblock1 is not made of section 1's data");
    fuzz::require(came_from_sections(body, 2, rootfs), "mtdblock2 is not made of section 2's data");
    if (!(flags & 4) && !(flags & 1) && image.size() > kDigest + 1) {
        // Without a right trailer (the chance of one by accident aside) nothing is written.
        const size_t digest_at = image.size() - kDigest - 1;
        if (image.compare(digest_at, kDigest, qMD5StrLen(image.data(), digest_at)) != 0)
            fuzz::require(kernel.empty() && rootfs.empty(),
                          "an image with a wrong trailer was written");
    }
    for (const char *path : {"/commands.log", "/var/log/eventlog", "/etc/sysconfig/.firewall/eventlog",
                             "/etc/sysconfig/.firewall/upgrade_info.conf"})
        fuzz::remove_path(path);
    return 0;
}
