// The XML library, bound at run time: the configuration modules and the XML
// record files use it through these wrappers only.
#include <cstring>
#include <iterator>

#include "runtime/library_binding.h"
#include "runtime/xml_library.h"
#include "webadmin.h"

namespace {

using load_cb = my_xml_load_cb;
using save_cb = my_xml_save_cb;

// The library's functions, bound all together or not at all.
struct Library {
    xml_node *(*new_xml)(const char *);
    xml_node *(*new_element)(xml_node *, const char *);
    void (*element_set_attr)(xml_node *, const char *, const char *);
    int (*save_file)(xml_node *, FILE *, save_cb);
    void (*remove_tree)(xml_node *);
    xml_node *(*load_file)(xml_node *, FILE *, load_cb);
    xml_node *(*find_element)(xml_node *, xml_node *, const char *, const char *, const char *, int);
    void (*add)(xml_node *, int, xml_node *, xml_node *);
    void (*detach)(xml_node *);
    xml_node *(*load_string)(xml_node *, const char *, load_cb);
    const char *(*element_get_attr)(xml_node *, const char *);
    void (*element_delete_attr)(xml_node *, const char *);
    // Newer builds of the library hide the node behind accessors; the
    // appliance's build has none and publishes the node's layout instead.
    // Which of the two is used is decided once, when the library is bound.
    const char *(*element_name)(xml_node *);
    const char *(*attr_by_index)(xml_node *, int, const char **);
    int (*attr_count)(xml_node *);
};

// An element node as the library without accessors lays it out: its type
// (0 for an element), the links to its neighbours, then the value, which for
// an element is its name and its attributes.
struct published_attr {
    char *name;
    char *value;
};
struct published_node {
    int type;
    published_node *next, *prev, *parent, *child, *last_child;
    union {
        struct {
            char *name;
            int num_attrs;
            published_attr *attrs;
        } element;
        double real;  // the value's widest member, which sets its alignment
    } value;
};
constexpr int kElement = 0;

const published_node *published(xml_node *node) { return reinterpret_cast<const published_node *>(node); }

// The path the appliance installs the library at, then its name for the
// dynamic loader (where the library lives elsewhere, as on a development
// machine).
const Library *library() {
    static Library bound;
    static void *handle = nullptr;
    if (handle) return &bound;
    static const char *const paths[] = {"/usr/lib/libmxml.so.1", "libmxml.so.1"};
    const runtime::LibrarySymbol symbols[] = {
        {"mxmlNewXML", &bound.new_xml},
        {"mxmlNewElement", &bound.new_element},
        {"mxmlElementSetAttr", &bound.element_set_attr},
        {"mxmlSaveFile", &bound.save_file},
        {"mxmlDelete", &bound.remove_tree},
        {"mxmlLoadFile", &bound.load_file},
        {"mxmlFindElement", &bound.find_element},
        {"mxmlAdd", &bound.add},
        {"mxmlRemove", &bound.detach},
        {"mxmlLoadString", &bound.load_string},
        {"mxmlElementGetAttr", &bound.element_get_attr},
        {"mxmlElementDeleteAttr", &bound.element_delete_attr},
    };
    if (!runtime::bind_library(handle, paths, std::size(paths), symbols, std::size(symbols))) return nullptr;
    const runtime::LibrarySymbol accessors[] = {
        {"mxmlGetElement", &bound.element_name},
        {"mxmlElementGetAttrByIndex", &bound.attr_by_index},
        {"mxmlElementGetAttrCount", &bound.attr_count},
    };
    runtime::bind_optional(handle, accessors, std::size(accessors));
    return &bound;
}

}  // namespace

namespace runtime {

const char *xml_element_name(xml_node *node) {
    const Library *l = library();
    if (!l || !node) return nullptr;
    if (l->element_name) return l->element_name(node);
    const published_node *n = published(node);
    return n->type == kElement ? n->value.element.name : nullptr;
}

const char *xml_first_attr_value(xml_node *node) {
    const Library *l = library();
    if (!l || !node) return nullptr;
    if (l->element_name) {
        if (l->attr_count(node) < 1) return nullptr;
        const char *name = nullptr;
        return l->attr_by_index(node, 0, &name);
    }
    const published_node *n = published(node);
    if (n->type != kElement || n->value.element.num_attrs < 1 || !n->value.element.attrs) return nullptr;
    return n->value.element.attrs[0].value;
}

}  // namespace runtime

extern "C" {

xml_node *my_mxmlNewXML(const char *version) {
    const Library *l = library();
    return l ? l->new_xml(version) : nullptr;
}

xml_node *my_mxmlNewElement(xml_node *parent, const char *name) {
    const Library *l = library();
    return l ? l->new_element(parent, name) : nullptr;
}

void my_mxmlElementSetAttr(xml_node *node, const char *name, const char *value) {
    if (const Library *l = library()) l->element_set_attr(node, name, value);
}

const char *my_mxmlElementGetAttr(xml_node *node, const char *name) {
    const Library *l = library();
    return l ? l->element_get_attr(node, name) : nullptr;
}

void my_mxmlElementDeleteAttr(xml_node *node, const char *name) {
    if (const Library *l = library()) l->element_delete_attr(node, name);
}

xml_node *my_mxmlFindElement(xml_node *node, xml_node *top, const char *name, const char *attr, const char *value,
                             int descend) {
    const Library *l = library();
    return l ? l->find_element(node, top, name, attr, value, descend) : nullptr;
}

void my_mxmlAdd(xml_node *parent, int where, xml_node *child, xml_node *node) {
    if (const Library *l = library()) l->add(parent, where, child, node);
}

void my_mxmlRemove(xml_node *node) {
    if (const Library *l = library()) l->detach(node);
}

void my_mxmlDelete(xml_node *node) {
    if (const Library *l = library()) l->remove_tree(node);
}

xml_node *my_mxmlLoadFile(xml_node *top, FILE *fp, my_xml_load_cb callback) {
    const Library *l = library();
    return l ? l->load_file(top, fp, callback) : nullptr;
}

xml_node *my_mxmlLoadString(xml_node *top, const char *text, my_xml_load_cb callback) {
    const Library *l = library();
    return l ? l->load_string(top, text, callback) : nullptr;
}

int my_mxmlSaveFile(xml_node *node, FILE *fp, my_xml_save_cb callback) {
    const Library *l = library();
    return l ? l->save_file(node, fp, callback) : 0;
}

const char *whitespace_cb(xml_node *node, int where) {
    const char *name = runtime::xml_element_name(node);
    if (!name) return nullptr;
    if (std::strcmp(name, "_item") == 0 || std::strcmp(name, "_program") == 0)
        return where == MY_XML_WS_BEFORE_OPEN || where == MY_XML_WS_BEFORE_CLOSE ? "\n" : nullptr;
    const char *first = runtime::xml_first_attr_value(node);
    return where == MY_XML_WS_BEFORE_OPEN && first ? "\n\t" : nullptr;
}

}  // extern "C"
