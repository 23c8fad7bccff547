// What the tests of the modules' XML export and import share: a parsed
// document, and a module's xmlConf and import_xmlConf slots driven through
// its table.
#pragma once

#include <string>

#include "webadmin.h"

namespace testing_support {

// A document parsed with the XML library, deleted at the end.
class Document {
public:
    explicit Document(const std::string &text);
    ~Document();
    Document(const Document &) = delete;
    Document &operator=(const Document &) = delete;
    // Its first "_function" element, or null.
    xml_node *function() const;

private:
    xml_node *top_;
};

// Elements written as "key=value|key=value|...": `<key value="value" />`
// each, the value as it is (escaped already); a part without "=" is taken
// as it is ("<security>").  Golden documents spelt compactly.
std::string elements(const std::string &pairs);

// What the table's xmlConf prints for the function value.
std::string export_of(const module_table &t, const char *function);
// The table's import_xmlConf on the "_function" element in text; -2 when
// the text holds none.
int import_into(const module_table &t, const std::string &function);

}  // namespace testing_support
