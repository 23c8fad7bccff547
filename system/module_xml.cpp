#include "system/module_xml.h"

#include <cstdlib>

namespace {

// XML's own escapes inside a double-quoted attribute, and '$', so that the
// print slot's placeholder replacement never sees a "${" in a value.
void append_attribute(std::string &out, const char *text) {
    for (const char *p = text; *p; ++p) {
        switch (*p) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '$': out += "&#36;"; break;
            default: out += *p;
        }
    }
}

void append_element(std::string &out, const char *key, const char *value) {
    out += '<';
    out += key;
    out += " value=\"";
    append_attribute(out, value);
    out += "\" />";
}

}  // namespace

namespace module {

xml_entry &xml_entry::text(const char *key, const char *value, bool unset_as_empty) {
    if (!value) value = kUnset;
    if (unset_as_empty && same_text(value, kUnset)) value = "";
    append_element(text_, key, escaped_name(value).c_str());
    return *this;
}

xml_entry &xml_entry::number(const char *key, int32_t value) {
    append_element(text_, key, std::to_string(value).c_str());
    return *this;
}

const char *xml_values::raw(const char *key) const {
    if (!entry_ || !key) return nullptr;
    xml_node *field = my_mxmlFindElement(entry_, entry_, key, "value", nullptr, MY_XML_DESCEND);
    return field ? my_mxmlElementGetAttr(field, "value") : nullptr;
}

int32_t xml_values::integer(const char *key, int32_t fallback) const {
    const char *value = raw(key);
    if (!value) return fallback;
    char *end = nullptr;
    const long long number = std::strtoll(value, &end, 10);
    return end == value ? fallback : clamped(number);
}

// A backslash keeps the character after it, as in a quoted line field.
std::string xml_values::unescape(const char *value) {
    std::string out;
    for (const char *p = value; *p; ++p) {
        if (*p == '\\' && p[1]) ++p;
        out += *p;
    }
    return out;
}

std::string function_open(const char *function_value) {
    std::string out = "<_function value=\"";
    append_attribute(out, function_value ? function_value : "");
    out += "\" method=\"add\">";
    return out;
}

xml_node *next_entry(xml_node *function, xml_node *previous) {
    if (!function) return nullptr;
    if (!previous) return my_mxmlFindElement(function, function, "_entry", nullptr, nullptr, MY_XML_DESCEND);
    return my_mxmlFindElement(previous, function, "_entry", nullptr, nullptr, MY_XML_NO_DESCEND);
}

}  // namespace module
