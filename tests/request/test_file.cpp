#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

#include "support/capture.h"
#include "support/sandbox.h"
#include "support/stops.h"
#include "webadmin.h"

namespace {

// True when another open file description can take the lock right now.
bool lock_is_free(const std::string &path) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    bool free_now = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free_now;
}

TEST(File, OpenLocksUntilCloseAndGetLineReadsLinesOfAnyLength) {
    testing_support::Sandbox box;
    const std::string long_line(5000, 'x');
    const std::string edge(1023, 'y');  // fills the first buffer exactly
    box.write("/etc/lines", "first\n\n" + edge + "\n" + long_line + "\nlast without feed");
    FILE *fp = qfopen("/etc/lines", "r");
    ASSERT_NE(fp, nullptr);
    EXPECT_FALSE(lock_is_free(box.file("/etc/lines")));
    for (const std::string &expected :
         {std::string("first\n"), std::string("\n"), edge + "\n", long_line + "\n", std::string("last without feed")}) {
        char *line = qfGetLine(fp);
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(std::string(line), expected);
        free(line);
    }
    EXPECT_EQ(qfGetLine(fp), nullptr);
    EXPECT_EQ(qfclose(fp), 0);
    EXPECT_TRUE(lock_is_free(box.file("/etc/lines")));

    EXPECT_EQ(qfGetLine(nullptr), nullptr);
    EXPECT_EQ(qfopen("/etc/no/such/file", "r"), nullptr);
    EXPECT_EQ(qfopen(nullptr, "r"), nullptr);
    EXPECT_EQ(qfclose(nullptr), EOF);
}

TEST(File, ReadFileReturnsEveryByteAndTheCount) {
    testing_support::Sandbox box;
    const std::string content("head\0tail\n", 10);
    box.write("/etc/data", content);
    box.write("/etc/empty", "");
    for (const std::string name : {"/etc/data", "/etc/empty"}) {
        const std::string expected = box.read(name);
        int size = -1;
        char *data = qReadFile(name.c_str(), &size);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(size, static_cast<int>(expected.size()));
        EXPECT_EQ(std::string(data, expected.size() + 1), expected + '\0');
        free(data);
    }
    int size = -1;
    EXPECT_EQ(qReadFile("/etc/missing", &size), nullptr);
    EXPECT_EQ(size, 0);
    size = -1;
    EXPECT_EQ(qReadFile("/etc", &size), nullptr);  // a directory is not a file to read
    EXPECT_EQ(size, 0);
    char *data = qReadFile("/etc/data", nullptr);
    EXPECT_NE(data, nullptr);
    free(data);
    // The lock is gone once the file has been read.
    EXPECT_TRUE(lock_is_free(box.file("/etc/data")));
}

TEST(File, SizeExistenceAndCopyToStandardOutput) {
    testing_support::Sandbox box;
    const std::string content = std::string(10000, 'c') + std::string("\0end", 4);
    box.write("/etc/page.html", content);
    EXPECT_EQ(qFileSize("/etc/page.html"), static_cast<int>(content.size()));
    EXPECT_EQ(qFileSize("/etc/none"), -1);
    EXPECT_EQ(qFileSize(nullptr), -1);
    EXPECT_EQ(qCheckFile("/etc/%s", "page.html"), 1);
    EXPECT_EQ(qCheckFile("/etc/%s", "none"), 0);
    EXPECT_EQ(qCheckFile("%s", "/etc"), 1);

    int n = 0;
    EXPECT_EQ(testing_support::captured_stdout([&] { n = qCatFile("/etc/%s.html", "page"); }), content);
    EXPECT_EQ(n, static_cast<int>(content.size()));
    EXPECT_EQ(testing_support::captured_stdout([&] { n = qCatFile("/etc/missing"); }), "");
    EXPECT_EQ(n, -1);

    std::string long_name = "/" + std::string(1023, 'n');
    EXPECT_EQ(qCheckFile("%s", long_name.substr(0, 1023).c_str()), 0);
    EXPECT_FATAL(qCheckFile("%s", long_name.c_str()),
                 "^Error: qCheckFile\\(\\): File name is too long or invalid\\.\n$");
    EXPECT_FATAL(qCatFile("%s", long_name.c_str()), "^Error: qCatFile\\(\\): File name is too long or invalid\\.\n$");
}

TEST(File, SaveDataWritesOrMovesTheSpillFile) {
    testing_support::Sandbox box;
    EXPECT_EQ(qSaveData("abc\0d", 5, "/tmp/saved", "wb"), 5);
    EXPECT_EQ(box.read("/tmp/saved"), std::string("abc\0d", 5));
    EXPECT_EQ(qSaveData("ef", 2, "/tmp/saved", "ab"), 2);
    EXPECT_EQ(box.read("/tmp/saved"), std::string("abc\0def", 7));
    EXPECT_EQ(qSaveData("zz", 0, "/tmp/saved", "wb"), 0);
    EXPECT_TRUE(box.exists("/tmp/saved"));
    EXPECT_EQ(box.read("/tmp/saved"), "");
    EXPECT_EQ(qSaveData("x", 1, "/no/such/dir/file", "wb"), -1);
    EXPECT_EQ(qSaveData(nullptr, 3, "/tmp/other", "wb"), -1);
    EXPECT_TRUE(box.commands().empty());

    // An upload already spilled to disk is moved, with the target quoted.
    box.write("/database/.qUploadFile", "spilled");
    box.write("/tmp/target", "1234");
    EXPECT_EQ(qSaveData("ignored", 7, "/tmp/target", "wb"), 4);
    EXPECT_EQ(box.read("/tmp/target"), "1234") << "the data itself is not written";
    EXPECT_EQ(qSaveData("", 0, "/tmp/a \"b\" $(reboot) `x` \\", "wb"), -1);
    EXPECT_EQ(box.commands(),
              "/bin/mv /database/.qUploadFile \"/tmp/target\"\n"
              "/bin/mv /database/.qUploadFile \"/tmp/a \\\"b\\\" \\$(reboot) \\`x\\` \\\\\"\n");
}

}  // namespace
