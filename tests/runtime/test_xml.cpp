// XML documents through the run-time bound library, and the XML record files.  The build runs these tests
// with the machine's library (its node accessors) and with one as old as the appliance's (twelve calls only,
// the nodes read by their published layout); XmlBinding also with one that lacks one of the twelve.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "support/request.h"
#include "webadmin.h"

namespace {

std::string saved(xml_node *node, my_xml_save_cb callback = whitespace_cb) {
    FILE *f = tmpfile();
    my_mxmlSaveFile(node, f, callback);
    std::string text(static_cast<size_t>(ftell(f)), '\0');
    rewind(f);
    text.resize(fread(text.data(), 1, text.size(), f));
    fclose(f);
    return text;
}

constexpr const char *kHeader = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// Element names and first attributes as each library gives them, or every wrapper's failure value when the
// library lacks a call.
TEST(XmlBinding, NamesAndFirstAttributesWhateverTheLibrary) {
    const std::string folders = getenv("LD_LIBRARY_PATH") ? getenv("LD_LIBRARY_PATH") : "";
    xml_node *tree = my_mxmlLoadString(nullptr, "<a><_item no='1'><b value='x' other='y'/><c/></_item></a>", 0);
    if (folders.find("xml-eleven-calls") != std::string::npos) {
        EXPECT_TRUE(!tree && !my_mxmlNewXML("1.0") && !my_mxmlNewElement(nullptr, "x") &&
                    !my_mxmlLoadFile(nullptr, stdin, nullptr) && !my_mxmlElementGetAttr(nullptr, "x") &&
                    !my_mxmlFindElement(nullptr, nullptr, "x", nullptr, nullptr, MY_XML_DESCEND) &&
                    !my_mxmlSaveFile(nullptr, stdout, nullptr) && !whitespace_cb(nullptr, MY_XML_WS_BEFORE_OPEN) &&
                    !my_XMLFindTagFirstValue(nullptr, "b"));
        my_mxmlElementSetAttr(nullptr, "x", "y"), my_mxmlElementDeleteAttr(nullptr, "x"), my_mxmlDelete(nullptr);
        my_mxmlAdd(nullptr, MY_XML_ADD_BEFORE, nullptr, nullptr), my_mxmlRemove(nullptr);  // nothing to call
        return;
    }
    ASSERT_NE(tree, nullptr);
    // The library the loader gave this process is the one the build meant.
    void *loaded = dlopen("libmxml.so.1", RTLD_LAZY | RTLD_NOLOAD);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(dlsym(loaded, "mxmlGetElement") == nullptr, folders.find("xml-twelve-calls") != std::string::npos);
    dlclose(loaded);
    auto node = [&](const char *name) { return my_mxmlFindElement(tree, tree, name, 0, 0, MY_XML_DESCEND); };
    auto shown = [](const char *text) { return text ? "[" + std::string(text) + "]" : std::string("-"); };
    std::string spaces;  // before the opening tag (0), after it (1), before the closing tag (2)
    for (const char *name : {"_item", "b", "c"})
        for (int where : {0, 1, 2}) spaces += shown(whitespace_cb(node(name), where));
    EXPECT_EQ(spaces, "[\n]-[\n][\n\t]-----");
    EXPECT_EQ(shown(my_XMLFindTagFirstValue(tree, "b")) + shown(my_XMLFindTagFirstValue(tree, "c")) +
                  shown(my_XMLFindTagFirstValue(tree, "missing")) + shown(my_XMLFindTagFirstValue(node("b"), "b")) +
                  shown(my_XMLFindTagFirstValue(nullptr, "b")),
              "[x]--[x]-");  // c has no attribute; b finds itself
    // The document node itself is no element: no name, no whitespace.
    EXPECT_EQ(whitespace_cb(tree, MY_XML_WS_BEFORE_OPEN), nullptr);
    my_mxmlDelete(tree);
}

// The wrappers build, find, move and lay out a document: items and programs on lines of their own, valued
// elements indented.
TEST(Xml, WrappersBuildFindAndLayOutADocument) {
    xml_node *document = my_mxmlNewXML("1.0");
    ASSERT_NE(document, nullptr) << "the XML library could not be bound";
    xml_node *config = my_mxmlNewElement(document, "config");
    xml_node *item = my_mxmlNewElement(config, "_item");
    xml_node *name = my_mxmlNewElement(item, "name");
    my_mxmlElementSetAttr(name, "value", "a & \"b\" <c>");
    my_mxmlNewElement(item, "flag");
    xml_node *program = my_mxmlNewElement(config, "_program");
    my_mxmlElementSetAttr(my_mxmlNewElement(program, "x"), "value", "1");
    EXPECT_EQ(saved(document), std::string(kHeader) +
                                   "<config>\n<_item>\n\t<name value=\"a &amp; &quot;b&quot; &lt;c&gt;\" /><flag />\n"
                                   "</_item>\n<_program>\n\t<x value=\"1\" />\n</_program></config>\n");
    EXPECT_STREQ(my_mxmlElementGetAttr(name, "value"), "a & \"b\" <c>");
    EXPECT_EQ(my_mxmlElementGetAttr(name, "missing"), nullptr);
    EXPECT_NE(my_mxmlFindElement(document, document, "x", "value", "1", MY_XML_DESCEND), nullptr);
    EXPECT_EQ(my_mxmlFindElement(document, document, "x", "value", "2", MY_XML_DESCEND), nullptr);
    // Moved before the item, then taken out and deleted.
    my_mxmlElementSetAttr(name, "value", "v");
    my_mxmlRemove(program);
    my_mxmlAdd(config, MY_XML_ADD_BEFORE, item, program);
    EXPECT_EQ(saved(config, nullptr),
              "<config><_program><x value=\"1\" /></_program><_item><name value=\"v\" /><flag /></_item></config>\n");
    my_mxmlElementDeleteAttr(name, "value");
    my_mxmlRemove(program);
    my_mxmlDelete(program);
    EXPECT_EQ(saved(config), "<config>\n<_item><name /><flag />\n</_item></config>\n");  // no value left: not indented
    EXPECT_EQ(my_mxmlLoadString(nullptr, "<a><b></a>", nullptr), nullptr);
    my_mxmlDelete(document);
}

// Record file items are numbered while open and written without numbers, mirrored to flash; a file the library
// cannot read is never written over.
TEST(XmlRecordFile, ItemsAreNumberedWhileOpenAndWrittenWithoutNumbers) {
    const char *path = "/etc/sysconfig/.firewall/items.xml";
    testing_support::TempRoot root{{"/etc/sysconfig/.firewall", "/var/tmp"}};
    strcpy(file_list[7].path, path);  // a scratch row
    record_file *h = my_XMLReadFile(7, 1, "test");
    ASSERT_NE(h->document, nullptr);  // a missing file: an empty document
    EXPECT_EQ(h->count, 0u);
    xml_node *list = my_mxmlNewElement(static_cast<xml_node *>(h->document), "list");
    for (const char *value : {"first", "second"})
        my_mxmlElementSetAttr(my_mxmlNewElement(my_mxmlNewElement(list, "_item"), "name"), "value", value);
    xml_node *group = my_mxmlNewElement(list, "group");
    my_mxmlElementSetAttr(my_mxmlNewElement(my_mxmlNewElement(group, "_item"), "name"), "value", "nested");
    my_CloseFile(h);
    const std::string written = root.read(path);
    EXPECT_EQ(written, std::string(kHeader) +
                           "<list>\n<_item>\n\t<name value=\"first\" />\n</_item>\n<_item>\n\t<name value=\"second\" "
                           "/>\n</_item><group>\n<_item>\n\t<name value=\"nested\" />\n</_item></group></list>\n");
    EXPECT_NE(root.commands().find("/bin/cp /etc/sysconfig/.firewall/items.xml /mnt"), std::string::npos);

    h = my_XMLReadFile(7, 0, "test");
    EXPECT_EQ(h->count, 3u);
    auto *document = static_cast<xml_node *>(h->document);
    std::string items;
    for (xml_node *item = document; (item = my_mxmlFindElement(item, document, "_item", 0, 0, MY_XML_DESCEND));)
        items += std::string(my_mxmlElementGetAttr(item, "no")) + " " + my_XMLFindTagFirstValue(item, "name") + ",";
    EXPECT_EQ(items, "1 first,2 second,3 nested,");
    my_CloseFile(h);  // read only: nothing written
    EXPECT_EQ(root.read(path), written);
    my_CloseFile(my_XMLReadFile(7, 1, "test"));  // opened and written back unchanged: byte for byte
    EXPECT_EQ(root.read(path), written);

    root.write(path, "<list><_item></list> not XML");
    h = my_XMLReadFile(7, 1, "test");
    EXPECT_EQ(std::tuple(h->document, h->count, h->mode), std::tuple(nullptr, 0u, 0));
    my_XMLWriteFile(h);
    my_CloseFile(h);
    EXPECT_EQ(root.read(path), "<list><_item></list> not XML");
    h = my_XMLReadFile(-1, 1, "test");  // no such row: an empty handle
    EXPECT_EQ(h->document, nullptr);
    my_CloseFile(h);
    file_list[7].path[0] = '\0';
}

}  // namespace
