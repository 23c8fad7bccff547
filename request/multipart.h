// Pieces shared by the two ways qDecoder reads a request: URL-encoded
// sources and multipart/form-data bodies.
#pragma once

#include <cstddef>

#include "request/form_state.h"

namespace request {

// Reads up to n bytes of the request body from standard input (descriptor
// 0, no stdio buffering), waiting only while nothing is available; retries
// interrupted reads.  Returns 0 at the end of input or on a read error.
std::size_t read_stdin(char *dst, std::size_t n);

// Decodes the raw source "COOKIE", "GET" or "POST" (from _get_query) into
// entries appended to out; returns the number of entries made.
int decode_query_source(const char *method, char separator, EntryAppender &out);

// Multipart mode (file_manager false) or file-manager multipart mode: fills
// the form value list and returns the number of entries decoded.
int parse_multipart(bool file_manager);

}  // namespace request
