// Which XML library was bound, and how its element nodes are read: through
// the accessors of a newer build, through the published node layout of the
// appliance's older build (twelve calls only), or not at all when one of the
// twelve is missing.  The build runs this file against each of the three.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "webadmin.h"

namespace {

// The build points the loader at the older builds' folders.
std::string expected_library() {
    const char *path = std::getenv("LD_LIBRARY_PATH");
    const std::string folders = path ? path : "";
    if (folders.find("xml-eleven-calls") != std::string::npos) return "eleven";
    if (folders.find("xml-twelve-calls") != std::string::npos) return "twelve";
    return "accessors";
}

}  // namespace

TEST(XmlBinding, NamesAndFirstAttributesWhateverTheLibrary) {
    const std::string expected = expected_library();
    xml_node *tree = my_mxmlLoadString(nullptr, "<a><_item no='1'><b value='x' other='y'/><c/></_item></a>", nullptr);
    if (expected == "eleven") {
        // All or nothing: every wrapper gives its failure value.
        EXPECT_EQ(tree, nullptr);
        EXPECT_EQ(my_mxmlNewXML("1.0"), nullptr);
        EXPECT_EQ(my_mxmlNewElement(nullptr, "x"), nullptr);
        EXPECT_EQ(my_mxmlLoadFile(nullptr, stdin, nullptr), nullptr);
        EXPECT_EQ(my_mxmlFindElement(nullptr, nullptr, "x", nullptr, nullptr, MY_XML_DESCEND), nullptr);
        EXPECT_EQ(my_mxmlElementGetAttr(nullptr, "x"), nullptr);
        EXPECT_EQ(my_mxmlSaveFile(nullptr, stdout, nullptr), 0);
        EXPECT_EQ(whitespace_cb(nullptr, MY_XML_WS_BEFORE_OPEN), nullptr);
        EXPECT_EQ(my_XMLFindTagFirstValue(nullptr, "b"), nullptr);
        return;
    }
    ASSERT_NE(tree, nullptr);
    // The library the loader gave this process is the one the build meant.
    void *loaded = dlopen("libmxml.so.1", RTLD_LAZY | RTLD_NOLOAD);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(dlsym(loaded, "mxmlGetElement") != nullptr, expected == "accessors");
    dlclose(loaded);

    xml_node *item = my_mxmlFindElement(tree, tree, "_item", nullptr, nullptr, MY_XML_DESCEND);
    xml_node *b = my_mxmlFindElement(tree, tree, "b", nullptr, nullptr, MY_XML_DESCEND);
    xml_node *c = my_mxmlFindElement(tree, tree, "c", nullptr, nullptr, MY_XML_DESCEND);
    EXPECT_STREQ(whitespace_cb(item, MY_XML_WS_BEFORE_OPEN), "\n");
    EXPECT_STREQ(whitespace_cb(item, MY_XML_WS_BEFORE_CLOSE), "\n");
    EXPECT_STREQ(whitespace_cb(b, MY_XML_WS_BEFORE_OPEN), "\n\t");
    EXPECT_EQ(whitespace_cb(b, MY_XML_WS_BEFORE_CLOSE), nullptr);
    EXPECT_EQ(whitespace_cb(c, MY_XML_WS_BEFORE_OPEN), nullptr);
    EXPECT_STREQ(my_XMLFindTagFirstValue(tree, "b"), "x");
    EXPECT_EQ(my_XMLFindTagFirstValue(tree, "c"), nullptr);
    EXPECT_EQ(my_XMLFindTagFirstValue(tree, "missing"), nullptr);
    // The document node itself is no element: no name, no whitespace.
    EXPECT_EQ(whitespace_cb(tree, MY_XML_WS_BEFORE_OPEN), nullptr);
    my_mxmlDelete(tree);
}
