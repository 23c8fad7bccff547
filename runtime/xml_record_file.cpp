// XML record files: documents whose records are their "_item" elements,
// opened, numbered and written back through a record file handle.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "runtime/xml_library.h"
#include "webadmin.h"

namespace {

constexpr const char *kItem = "_item";

xml_node *next_item(xml_node *from, xml_node *top) {
    return my_mxmlFindElement(from, top, kItem, nullptr, nullptr, MY_XML_DESCEND);
}

// The library's "ignore" type for the content of every element: the text
// between the elements of a record file is layout, not data, and read back
// it would be written out again next to the layout the file gets anew.
int elements_only(xml_node *) { return -1; }

const char *path_of(const record_file *h) {
    const char *path = my_FileName(h->number);
    return path && *path ? path : nullptr;
}

}  // namespace

extern "C" {

record_file *my_XMLReadFile(int number, int mode, const char *) {
    auto *h = static_cast<record_file *>(std::calloc(1, sizeof(record_file)));
    if (!h) return nullptr;
    h->number = number;
    h->mode = mode;
    const char *path = path_of(h);
    xml_node *document = nullptr;
    if (path) {
        if (FILE *fp = std::fopen(platform::path(path).c_str(), "re")) {
            document = my_mxmlLoadFile(nullptr, fp, elements_only);
            std::fclose(fp);
            // A file the library cannot read is never written over: its
            // handle is empty and read only.
            if (!document) h->mode = 0;
        } else {
            document = my_mxmlNewXML("1.0");
        }
    }
    if (!document) {
        if (path) h->mode = 0;
        return h;
    }
    h->document = document;
    char no[16];
    for (xml_node *item = next_item(document, document); item; item = next_item(item, document)) {
        std::snprintf(no, sizeof no, "%u", ++h->count);
        my_mxmlElementSetAttr(item, "no", no);
    }
    return h;
}

void my_XMLWriteFile(record_file *h) {
    if (!h || !h->document) return;
    auto *document = static_cast<xml_node *>(h->document);
    for (xml_node *item = next_item(document, document); item; item = next_item(item, document))
        my_mxmlElementDeleteAttr(item, "no");
    const char *path = path_of(h);
    if (!path) return;
    if (FILE *fp = std::fopen(platform::path(path).c_str(), "w+e")) {
        my_mxmlSaveFile(document, fp, whitespace_cb);
        std::fclose(fp);
    }
}

const char *my_XMLFindTagFirstValue(xml_node *node, const char *tag) {
    if (!node || !tag) return nullptr;
    const char *name = runtime::xml_element_name(node);
    xml_node *found = name && std::strcmp(name, tag) == 0
                          ? node
                          : my_mxmlFindElement(node, node, tag, nullptr, nullptr, MY_XML_DESCEND);
    return found ? runtime::xml_first_attr_value(found) : nullptr;
}

}  // extern "C"
