// Prints what the appliance checks in a firmware image:
//   inspect-image FILE
// Exit status 0 when the appliance would take the image's trailer and
// sections, 1 otherwise.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "upgrade/image_format.h"
#include "webadmin.h"

namespace {

std::string field(const char *text, size_t size) { return std::string(text, strnlen(text, size)); }

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: inspect-image FILE\n");
        return 2;
    }
    int size = 0;
    char *read = qReadFile(argv[1], &size);
    if (!read) {
        std::fprintf(stderr, "inspect-image: cannot read %s\n", argv[1]);
        return 2;
    }
    const std::string bytes(read, static_cast<size_t>(size));
    std::free(read);
    std::printf("length: %zu\n", bytes.size());
    if (bytes.size() < image::kMinimumLength) {
        std::printf("refused: shorter than %zu bytes\n", image::kMinimumLength);
        return 1;
    }
    system_info_record header{};
    std::memcpy(&header, bytes.data(), image::kHeaderSize);
    const int major = image::field_number(header.major), minor = image::field_number(header.minor),
              revision = image::field_number(header.revision);
    const std::string product = field(header.product_id, image::kHeaderSize - image::kProductIdOffset);
    unsigned long id = 0;
    char id_text[48] = "no value: it runs on into the body";
    if (image::product_id(reinterpret_cast<const unsigned char *>(bytes.data()), id))
        std::snprintf(id_text, sizeof id_text, "0x%lx", id);
    std::printf("vendor: %s\nmodel: %s\nversion: %d.%02d.%02d (number %d)\nproduct id: %s (%s)\n",
                field(header.vendor, sizeof header.vendor).c_str(), field(header.model, sizeof header.model).c_str(),
                major, minor, revision, image::version_number(major, minor, revision), product.c_str(), id_text);

    const size_t length = bytes.size();
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    int reached = image::walk_sections(data + image::kHeaderSize, length - image::kHeaderSize,
                                       [&](int n, const unsigned char *section, uint32_t size) {
                                           size_t offset = static_cast<size_t>(section - data);
                                           if (n == 1)
                                               std::printf("section %d at %zu: %u bytes -> /dev/mtdblock1\n", n,
                                                           offset, size);
                                           else if (n == 2)
                                               std::printf("section %d at %zu: %u bytes -> /dev/mtdblock2 "
                                                           "(%ld bytes from data byte 16)\n",
                                                           n, offset, size, size > 16 ? static_cast<long>(size) - 16 : 0L);
                                           else
                                               std::printf("section %d at %zu: %u bytes, passed over\n", n, offset,
                                                           size);
                                       });
    std::printf("sections reached: %d\n", reached + 1);

    std::string trailer = bytes.substr(length - image::kTrailerSize, image::kDigestSize);
    std::string digest = qMD5StrLen(data, length - image::kTrailerSize);
    bool valid = trailer == digest;
    std::printf("trailer: %s (%s)\n", valid ? "valid" : "INVALID", valid ? digest.c_str() : ("expected " + digest).c_str());
    return valid && reached >= 0 ? 0 : 1;
}
