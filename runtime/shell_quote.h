// Request values placed into shell command texts.
#pragma once

#include <string>
#include <string_view>

namespace runtime {

// The value itself when it is a plain word (letters, digits and . : _ - /,
// not beginning with '-'), so the usual command texts stay as they are;
// otherwise the value in single quotes with each quote written '\'' , so the
// shell sees one word of data whatever it holds.
std::string shell_word(std::string_view value);

}  // namespace runtime
