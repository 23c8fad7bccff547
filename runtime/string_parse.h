// Reading the lines of the appliance's text formats.
#pragma once

#include <cstddef>
#include <cstdio>

namespace runtime {

// Reads one line into buf (its line feed kept when it fits), cut at size - 1
// characters; the rest of a longer line is skipped, so it never reads as a
// line of its own.  False at end of file when nothing was read.
bool read_line(std::FILE *stream, char *buf, std::size_t size);

}  // namespace runtime
