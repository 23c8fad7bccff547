// XML documents through the run-time bound library, and the XML record files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "support/request.h"
#include "webadmin.h"

namespace {

using testing_support::TempRoot;

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

    // Items and programs on lines of their own, valued elements indented.
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
              "<config><_program><x value=\"1\" /></_program><_item><name value=\"v\" /><flag /></_item>"
              "</config>\n");
    my_mxmlElementDeleteAttr(name, "value");
    my_mxmlRemove(program);
    my_mxmlDelete(program);
    EXPECT_EQ(saved(config, nullptr), "<config><_item><name /><flag /></_item></config>\n");

    xml_node *parsed = my_mxmlLoadString(nullptr, "<a><b value='1' other='2'/><c/></a>", nullptr);
    ASSERT_NE(parsed, nullptr);
    EXPECT_STREQ(my_XMLFindTagFirstValue(parsed, "b"), "1");
    EXPECT_EQ(my_XMLFindTagFirstValue(parsed, "c"), nullptr);  // no attribute
    EXPECT_EQ(my_XMLFindTagFirstValue(parsed, "d"), nullptr);
    xml_node *b = my_mxmlFindElement(parsed, parsed, "b", nullptr, nullptr, MY_XML_DESCEND);
    EXPECT_STREQ(my_XMLFindTagFirstValue(b, "b"), "1");  // the node itself
    EXPECT_EQ(my_XMLFindTagFirstValue(nullptr, "b"), nullptr);
    EXPECT_EQ(my_mxmlLoadString(nullptr, "<a><b></a>", nullptr), nullptr);
    my_mxmlDelete(parsed);
    my_mxmlDelete(document);
}

class XmlRecordFile : public testing::Test {
protected:
    static constexpr int kRow = 7;  // a scratch row
    static constexpr const char *kPath = "/etc/sysconfig/.firewall/items.xml";
    TempRoot root_{{"/etc/sysconfig/.firewall", "/var/tmp"}};

    void SetUp() override { std::strcpy(file_list[kRow].path, kPath); }
    void TearDown() override { file_list[kRow].path[0] = '\0'; }
};

TEST_F(XmlRecordFile, ItemsAreNumberedWhileOpenAndWrittenWithoutNumbers) {
    record_file *h = my_XMLReadFile(kRow, 1, "test");
    ASSERT_NE(h, nullptr);
    ASSERT_NE(h->document, nullptr);  // a missing file: an empty document
    EXPECT_EQ(h->count, 0u);
    auto *document = static_cast<xml_node *>(h->document);
    xml_node *list = my_mxmlNewElement(document, "list");
    for (const char *value : {"first", "second"}) {
        xml_node *item = my_mxmlNewElement(list, "_item");
        my_mxmlElementSetAttr(my_mxmlNewElement(item, "name"), "value", value);
    }
    xml_node *group = my_mxmlNewElement(list, "group");
    my_mxmlElementSetAttr(my_mxmlNewElement(my_mxmlNewElement(group, "_item"), "name"), "value", "nested");
    my_CloseFile(h);

    const std::string written = root_.read(kPath);
    EXPECT_EQ(written, std::string(kHeader) +
                           "<list>\n<_item>\n\t<name value=\"first\" />\n</_item>\n<_item>\n\t<name value=\"second\" "
                           "/>\n</_item><group>\n<_item>\n\t<name value=\"nested\" />\n</_item></group></list>\n");
    // Mirrored to flash, as every configuration file.
    EXPECT_NE(root_.read("/commands.log").find("/bin/cp /etc/sysconfig/.firewall/items.xml /mnt"),
              std::string::npos);

    h = my_XMLReadFile(kRow, 0, "test");
    EXPECT_EQ(h->count, 3u);
    document = static_cast<xml_node *>(h->document);
    const char *expected[][2] = {{"1", "first"}, {"2", "second"}, {"3", "nested"}};
    xml_node *item = document;
    for (const auto &[no, value] : expected) {
        item = my_mxmlFindElement(item, document, "_item", nullptr, nullptr, MY_XML_DESCEND);
        ASSERT_NE(item, nullptr);
        EXPECT_STREQ(my_mxmlElementGetAttr(item, "no"), no);
        EXPECT_STREQ(my_XMLFindTagFirstValue(item, "name"), value);
    }
    my_CloseFile(h);  // read only: nothing written
    EXPECT_EQ(root_.read(kPath), written);

    // Opened and written back unchanged, the file stays byte for byte.
    h = my_XMLReadFile(kRow, 1, "test");
    my_CloseFile(h);
    EXPECT_EQ(root_.read(kPath), written);
}

TEST_F(XmlRecordFile, UnreadableFileIsNeverWrittenOver) {
    root_.write(kPath, "<list><_item></list> not XML");
    record_file *h = my_XMLReadFile(kRow, 1, "test");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->document, nullptr);
    EXPECT_EQ(h->count, 0u);
    EXPECT_EQ(h->mode, 0);
    my_XMLWriteFile(h);
    my_CloseFile(h);
    EXPECT_EQ(root_.read(kPath), "<list><_item></list> not XML");

    h = my_XMLReadFile(-1, 1, "test");  // no such row: an empty handle
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->document, nullptr);
    my_CloseFile(h);
}

}  // namespace
