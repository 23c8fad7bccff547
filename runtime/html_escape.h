// Texts from requests and files placed into a page.
#pragma once

#include <string>
#include <string_view>

namespace runtime {

// The text with &, <, >, " and ' written as entities: safe as element
// content and inside a double- or single-quoted attribute.
std::string html_escape(std::string_view text);

}  // namespace runtime
