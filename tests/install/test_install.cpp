// The appliance's tree as cmake --install lays it out, and the upgrade CGI
// run from it with its library.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "support/sandbox.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Under the build, so that a cross build's programs run under its emulator.
struct Tree {
    std::string dir = BUILD_DIR "/install-test.XXXXXX";
    ~Tree() { fs::remove_all(dir); }
};

std::string output_of(const std::string &command) {
    std::string text;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char chunk[4096];
        for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
        pclose(pipe);
    }
    return text;
}

// Whether text holds name as a whole word.
bool names(const std::string &text, const std::string &name) {
    auto word = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1))
        if ((at == 0 || !word(text[at - 1])) && !word(text[at + name.size()])) return true;
    return false;
}

}  // namespace

TEST(Install, LaysOutTheTreeWhoseCgiRunsWithItsLibrary) {
    Tree tree;
    ASSERT_TRUE(mkdtemp(tree.dir.data()));
    const std::string &destdir = tree.dir;
    ASSERT_EQ(std::system(("DESTDIR=" + destdir + " " CMAKE_COMMAND_PATH " --install " BUILD_DIR
                           " --prefix /usr >/dev/null").c_str()), 0);
    std::set<std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(destdir))
        if (!entry.is_directory())
            files.insert(entry.path().lexically_relative(destdir).string() +
                         (entry.is_symlink() ? " -> " + fs::read_symlink(entry.path()).string() : ""));
    EXPECT_EQ(files, (std::set<std::string>{"usr/lib/libwebadmin.so -> libwebadmin.so.1", "usr/lib/libwebadmin.so.1",
                                            "usr/sbin/appliance-config", "usr/www/cgi-bin/config.cgi",
                                            "usr/www/cgi-bin/index.cgi", "usr/www/cgi-bin/upgrade.cgi"}));

    // Nothing installed needs the C++ runtime's shared objects (the
    // sanitizers' build links the library with them on purpose).
    for (const std::string &file : files) {
        if (!CXX_RUNTIME_LINKED_IN && file.rfind("usr/lib/", 0) == 0) continue;
        const std::string path = destdir + "/" + file.substr(0, file.find(' '));
        const std::string needed = output_of(READELF " -d " + path + " | grep NEEDED");
        EXPECT_EQ(needed.find("libstdc++"), std::string::npos) << file << ":\n" << needed;
        EXPECT_EQ(needed.find("libgcc_s"), std::string::npos) << file << ":\n" << needed;
    }
    // The library exports the names of its header, and no other (nor the
    // AddressSanitizer's marks of its variables, which carry their names).
    const std::string header = read_file(SOURCE_DIR "/include/webadmin.h");
    const std::string library = destdir + "/usr/lib/libwebadmin.so.1", odr_mark = "__odr_asan.";
    std::istringstream symbols(output_of(READELF " -W --dyn-syms " + library));
    int exported = 0;
    for (std::string line; std::getline(symbols, line);) {
        std::istringstream fields(line);
        std::string number, value, size, type, bind, visibility, section, name;
        if (!(fields >> number >> value >> size >> type >> bind >> visibility >> section >> name) ||
            section == "UND" || (type != "FUNC" && type != "OBJECT"))
            continue;
        ++exported;
        const size_t start = name.rfind(odr_mark, 0) == 0 ? odr_mark.size() : 0;
        EXPECT_TRUE(names(header, name.substr(start, name.find('@') - start))) << name;
    }
    EXPECT_GT(exported, 400);

    // The installed CGI finds its library beside it and answers as the built one does.
    Sandbox box;
    const std::map<std::string, std::string> form = {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "q=0"},
                                                     {"SCRIPT_NAME", "/cgi-bin/upgrade.cgi"},
                                                     {"REMOTE_ADDR", "127.0.0.1"}, {"REMOTE_USER", "admin"}};
    const std::string cgi = destdir + "/usr/www/cgi-bin/upgrade.cgi";
    Output installed = run(box, {cgi}, form);
    EXPECT_EQ(installed.status, 0) << installed.err;
    EXPECT_NE(installed.out.find("<form name=\"upgrade\""), std::string::npos);
    EXPECT_EQ(installed.out, run_cgi(box, form).out);
    // Without it, the loader refuses to start the program.
    fs::remove(library);
    installed = run(box, {cgi}, form);
    EXPECT_EQ(installed.status, 127);
    EXPECT_NE(installed.err.find("libwebadmin.so.1: cannot open shared object file"), std::string::npos) << installed.err;
}
