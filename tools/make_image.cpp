// Writes a firmware image the appliance accepts:
//   make-image [--vendor V] [--model M] --version MAJOR.MINOR.REVISION
//              --product-id HEX [--section N.NAME=FILE ...] [--rootfs FILE] -o OUT
// --rootfs makes section 2.rootfs a root file system for the demo appliance:
// FILE's bytes and the image's own system information record, from which
// the demo boots the new version.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tools/demo_rootfs.h"
#include "upgrade/image_format.h"
#include "webadmin.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: make-image [--vendor V] [--model M] --version MAJOR.MINOR.REVISION --product-id HEX\n"
                 "                  [--section N.NAME=FILE ...] [--rootfs FILE] -o OUT\n");
    return 2;
}

template <size_t N>
bool put(char (&field)[N], const std::string &value, const char *what) {
    if (value.size() >= N) {
        std::fprintf(stderr, "make-image: %s \"%s\" is longer than %zu characters\n", what, value.c_str(), N - 1);
        return false;
    }
    std::memcpy(field, value.c_str(), value.size() + 1);
    return true;
}

std::optional<std::string> read(const std::string &file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "make-image: cannot read %s\n", file.c_str());
        return std::nullopt;
    }
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char **argv) {
    std::string vendor = "Demo", model = "WA1000", version, product_id, out;
    std::vector<std::pair<std::string, std::string>> sections;  // (token, file)
    std::string rootfs;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc) return usage();
        std::string value = argv[++i];
        if (arg == "--vendor") vendor = value;
        else if (arg == "--model") model = value;
        else if (arg == "--version") version = value;
        else if (arg == "--product-id") product_id = value;
        else if (arg == "-o") out = value;
        else if (arg == "--rootfs") rootfs = value;
        else if (arg == "--section") {
            size_t eq = value.find('=');
            if (eq == std::string::npos || value.find('.') > eq) return usage();
            sections.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        } else return usage();
    }
    unsigned major = 0, minor = 0, revision = 0;
    char extra;
    if (version.empty() || product_id.empty() || out.empty() ||
        std::sscanf(version.c_str(), "%u.%u.%u%c", &major, &minor, &revision, &extra) != 3)
        return usage();

    system_info_record header{};
    // The product id must end inside the 60-byte header.
    char product_field[image::kHeaderSize - image::kProductIdOffset] = {};
    if (!put(header.vendor, vendor, "vendor") || !put(header.model, model, "model") ||
        !put(header.major, std::to_string(major), "major") || !put(header.minor, std::to_string(minor), "minor") ||
        !put(header.revision, std::to_string(revision), "revision") ||
        !put(product_field, product_id, "product id"))
        return 1;
    std::memcpy(header.product_id, product_field, sizeof product_field);

    std::vector<std::pair<std::string, std::string>> contents;  // (token, data)
    for (const auto &[token, file] : sections) {
        std::optional<std::string> data = read(file);
        if (!data) return 1;
        contents.emplace_back(token, *data);
    }
    if (!rootfs.empty()) {
        std::optional<std::string> data = read(rootfs);
        if (!data) return 1;
        const std::string info(reinterpret_cast<const char *>(&header), sizeof header);
        contents.emplace_back("2.rootfs", demo_rootfs::section({{demo_rootfs::kSystemInfo, info}, {"rootfs.bin", *data}}));
    }

    std::string image(reinterpret_cast<const char *>(&header), image::kHeaderSize);
    for (const auto &[token, data] : contents) {
        char section_header[image::kSectionHeaderSize] = {};
        int n = std::snprintf(section_header, sizeof section_header, "%zu %s", data.size(), token.c_str());
        if (n < 0 || static_cast<size_t>(n) >= sizeof section_header) {
            std::fprintf(stderr, "make-image: section name %s is too long\n", token.c_str());
            return 1;
        }
        image.append(section_header, sizeof section_header);
        image += data;
    }
    image += qMD5StrLen(image.data(), image.size());
    image += '\n';

    std::ofstream o(out, std::ios::binary);
    o.write(image.data(), static_cast<std::streamsize>(image.size()));
    if (!o.flush()) {
        std::fprintf(stderr, "make-image: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
