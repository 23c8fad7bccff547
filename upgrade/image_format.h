// The firmware image as uploaded: a 60-byte header laid out like the first
// 60 bytes of the system information record, sections of a 64-byte text
// header ("SIZE N.NAME", NUL-padded) and their data, then 32 lower-case
// hexadecimal digits of the MD5 of everything before them and one last byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace image {

constexpr size_t kHeaderSize = 60;
constexpr size_t kSectionHeaderSize = 64;
constexpr size_t kDigestSize = 32;
constexpr size_t kTrailerSize = kDigestSize + 1;
constexpr size_t kMinimumLength = 1024;
constexpr size_t kProductIdOffset = 50;

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
