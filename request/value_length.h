// The true size of a decoded value.
#pragma once

namespace request {

// The byte count of the first form value of this name when it is a body
// part the decoder holds in memory (an uploaded file), or -1.  Unlike the
// "%s.length" form value, a request cannot forge it.
long long value_length(const char *name);

}  // namespace request
