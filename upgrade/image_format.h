// The firmware image as uploaded: a 60-byte header laid out like the first
// 60 bytes of the system information record, sections of a 64-byte text
// header ("SIZE N.NAME", NUL-padded) and their data, then 32 lower-case
// hexadecimal digits of the MD5 of everything before them and one last byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace image {

constexpr size_t kHeaderSize = 60;
constexpr size_t kSectionHeaderSize = 64;
constexpr size_t kDigestSize = 32;
constexpr size_t kTrailerSize = kDigestSize + 1;
constexpr size_t kMinimumLength = 1024;
constexpr size_t kProductIdOffset = 50;

// A decimal field of the header: at most its own bytes, whatever follows.
template <size_t N>
int field_number(const char (&field)[N]) {
    char text[N + 1];
    std::memcpy(text, field, N);
    text[N] = '\0';
    return std::atoi(text);
}

// "%d%02d%02d" read back as a number: version 2.1.5 is 20105.
inline int version_number(int major, int minor, int revision) {
    char text[48];
    std::snprintf(text, sizeof text, "%d%02d%02d", major, minor, revision);
    return std::atoi(text);
}

// The image's product identifier, hexadecimal, into id.  It must end inside
// the header: one that runs on into the body has no value (false), and so
// matches no product.
inline bool product_id(const unsigned char *image, unsigned long &id) {
    constexpr size_t width = kHeaderSize - kProductIdOffset;
    char text[width + 1];
    std::memcpy(text, image + kProductIdOffset, width);
    text[width] = '\0';
    char *end = nullptr;
    id = std::strtoul(text, &end, 16);
    return end < text + width;
}

// Called for each section reached: its number, its data and their size.
// A reference to the caller's callable, which outlives the walk; unlike
// std::function it needs nothing of the C++ runtime, which the CGI does
// without.
class SectionVisitor {
public:
    template <typename F, typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, SectionVisitor>>>
    SectionVisitor(F &&visit)
        : callable_(const_cast<void *>(static_cast<const void *>(&visit))),
          call_([](void *callable, int number, const unsigned char *data, uint32_t size) {
              (*static_cast<std::remove_reference_t<F> *>(callable))(number, data, size);
          }) {}
    void operator()(int number, const unsigned char *data, uint32_t size) const {
        call_(callable_, number, data, size);
    }

private:
    void *callable_;
    void (*call_)(void *callable, int number, const unsigned char *data, uint32_t size);
};

// Walks the sections of an image body (everything after the header, the
// trailer included) until a header that cannot be parsed, holds no dot in
// its token, names a negative section, claims more bytes than remain, or
// until fewer than a header's bytes remain after a section.  Returns the
// number of sections reached minus one (-1: none).
int walk_sections(const unsigned char *body, size_t length, const SectionVisitor &visit);

}  // namespace image
