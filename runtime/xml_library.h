// What the library's own code reads of an XML node beyond the wrappers.
#pragma once

#include "webadmin.h"

namespace runtime {

const char *xml_element_name(xml_node *node);      // null for a non-element or without the library
const char *xml_first_attr_value(xml_node *node);  // null when it has no attribute
}  // namespace runtime
