// What the library's fuzz targets share.  Every target runs against one
// sandbox appliance root made for the whole run (APPLIANCE_ROOT, removed at
// exit with its System V objects), with standard output sent to /dev/null.
// The targets are linked with --wrap=qError and --wrap=read: qError unwinds
// to the target as a RequestEnded exception instead of ending the process,
// and reads of descriptor 0 are served from the input (feed_stdin).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// A request ended by qError, with the message it would have shown.
struct RequestEnded {
    std::string message;
};

const std::string &root();

// Writes content to an appliance path of the root, making its directories.
void write_file(std::string_view appliance_path, std::string_view content);
// Removes an appliance path of the root, a directory with what it holds.
void remove_path(std::string_view appliance_path);

// The pieces of text between separator lines ("\n" separator "\n").
std::vector<std::string_view> split(std::string_view text, std::string_view separator);

// Cuts the first line (without its line feed) off text.
std::string_view take_line(std::string_view &text);

// From now on read(0, ...) returns body in pieces of the sizes given,
// taken in turn (a 0 is one read interrupted by a signal), then end of
// input.  Without a size of at least 1, every read takes what it asks.
void feed_stdin(std::string_view body, std::vector<std::size_t> sizes);
void stop_stdin();

// Fails the run (the fuzzer reports a crash) when a property is broken.
void require(bool property, const char *what);

}  // namespace fuzz
