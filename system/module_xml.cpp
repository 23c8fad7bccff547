#include "system/module_xml.h"

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "runtime/xml_library.h"

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

xml_entry &xml_entry::open(const char *key) {
    text_ += '<';
    text_ += key;
    text_ += '>';
    return *this;
}

xml_entry &xml_entry::close(const char *key) {
    text_ += "</";
    text_ += key;
    text_ += '>';
    return *this;
}

xml_entry &xml_entry::security(int32_t bits) {
    open("security");
    for (int i = 0; i < 5; ++i) number(kServices[i], (bits >> i) & 1);
    return close("security");
}

int32_t xml_values::security(int32_t fallback) const {
    if (!entry_) return fallback;
    xml_node *element = my_mxmlFindElement(entry_, entry_, "security", nullptr, nullptr, MY_XML_DESCEND);
    if (!element) return fallback;
    const xml_values services(element);
    int32_t bits = 0;
    for (int i = 0; i < 5; ++i)
        if (const char *value = services.raw(kServices[i]); value && std::strtoll(value, nullptr, 10) > 0)
            bits |= 1 << i;
    return bits;
}

void export_fields(xml_entry &e, const void *rec, field_list list) {
    for (const field &f : list) {
        if (!f.key || !f.exported || !applies(rec, f, list)) continue;
        if (f.is_number()) e.number(f.key, number_in(rec, f));
        else e.text(f.key, text_in(rec, f), f.unset_empty);
    }
}

const field *read_fields(const xml_values &v, void *rec, field_list list) {
    const field *refused = nullptr;
    for (const field &f : list) {
        if (!f.key || !applies(rec, f, list)) continue;
        const std::optional<std::string> value = v.value(f.key);
        if (value && !take(rec, f, value->c_str()) && !refused) refused = &f;
    }
    return refused;
}

std::string refusal(const description &d, xml_node *entry) {
    const xml_values values(entry);
    // A field that depends on another applies as the entry gives that one,
    // or as a record has it without a value (its default, else 0).
    const auto applies_to_entry = [&](const field &f) {
        const field *deciding = f.when ? field_named(d.fields, f.when) : nullptr;
        if (!deciding) return true;
        const std::optional<std::string> given = values.value(f.when);
        const char *value = given && !missing(given->c_str()) ? given->c_str() : deciding->def ? deciding->def : "0";
        return f.applies_with(number_of(*deciding, value));
    };
    for (xml_node *e = my_mxmlFindElement(entry, entry, nullptr, "value", nullptr, MY_XML_DESCEND); e;
         e = my_mxmlFindElement(e, entry, nullptr, "value", nullptr, MY_XML_DESCEND)) {
        const char *key = runtime::xml_element_name(e);
        if (!key) continue;
        const char *attribute = my_mxmlElementGetAttr(e, "value");
        const std::string value = xml_values::unescape(attribute ? attribute : "");
        for (const field &f : d.fields)
            if (f.key && same_text(f.key, key) && applies_to_entry(f) && !accepts(f, value.c_str()))
                return std::string(key) + " must be " + holding(f);
    }
    return {};
}

bool read_request(const char *path, const std::function<void(const xml_values &)> &fill) {
    if (!path) return false;
    xml_node *tree = nullptr;
    if (std::FILE *f = std::fopen(platform::path(path).c_str(), "r")) {
        tree = my_mxmlLoadFile(nullptr, f, nullptr);
        std::fclose(f);
    }
    if (tree) {
        fill(xml_values(tree));
        my_mxmlDelete(tree);
    }
    std::remove(platform::path(path).c_str());
    return tree != nullptr;
}

const char *xml_values::raw(const char *key) const {
    if (!entry_ || !key) return nullptr;
    xml_node *field = my_mxmlFindElement(entry_, entry_, key, "value", nullptr, MY_XML_DESCEND);
    return field ? my_mxmlElementGetAttr(field, "value") : nullptr;
}

std::vector<std::string> xml_values::values_in(const char *container, const char *key) const {
    std::vector<std::string> out;
    xml_node *c = entry_ && container ? my_mxmlFindElement(entry_, entry_, container, nullptr, nullptr, MY_XML_DESCEND)
                                      : nullptr;
    for (xml_node *e = c ? my_mxmlFindElement(c, c, key, "value", nullptr, MY_XML_DESCEND) : nullptr; e;
         e = my_mxmlFindElement(e, c, key, "value", nullptr, MY_XML_DESCEND))
        out.push_back(unescape(my_mxmlElementGetAttr(e, "value")));
    return out;
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
