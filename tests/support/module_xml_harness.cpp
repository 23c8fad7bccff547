#include "support/module_xml_harness.h"

#include <algorithm>
#include <cstdio>

#include "support/request.h"

namespace testing_support {

Document::Document(const std::string &text) : top_(my_mxmlLoadString(nullptr, text.c_str(), nullptr)) {}

Document::~Document() {
    if (top_) my_mxmlDelete(top_);
}

xml_node *Document::function() const {
    return top_ ? my_mxmlFindElement(top_, top_, "_function", nullptr, nullptr, MY_XML_DESCEND) : nullptr;
}

std::string elements(const std::string &pairs) {
    std::string out;
    for (std::size_t from = 0, end; from <= pairs.size(); from = end + 1) {
        end = std::min(pairs.find('|', from), pairs.size());
        const std::string part = pairs.substr(from, end - from), key = part.substr(0, part.find('='));
        out += key.size() == part.size() ? part : "<" + key + " value=\"" + part.substr(key.size() + 1) + "\" />";
    }
    return out;
}

std::string export_of(const module_table &t, const char *function) {
    return captured_stdout([&] {
        reinterpret_cast<void (*)(const char *)>(t.xmlConf)(function);
        std::fflush(stdout);
    });
}

int import_into(const module_table &t, const std::string &function) {
    Document d("<?xml version=\"1.0\"?>" + function);
    if (!d.function()) return -2;
    return reinterpret_cast<int (*)(xml_node *)>(t.import_xmlConf)(d.function());
}

}  // namespace testing_support
