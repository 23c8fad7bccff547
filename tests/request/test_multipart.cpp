// multipart/form-data bodies as browsers send them: fields and binary files
// in memory, in any chunking of the input, on disk (qUploadToDisk), and the
// file manager's spill file; and the stops of broken requests.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/capture.h"
#include "support/request_env.h"
#include "support/sandbox.h"
#include "support/stops.h"
#include "webadmin.h"

namespace {

using namespace testing_support;

const std::string kBoundary = "----WebKitFormBoundaryx7Zq3LmNa9";

// The variables of a multipart POST of body.
Env upload_env(const std::string &body, const std::string &boundary = kBoundary) {
    return {{"REQUEST_METHOD", "POST"},
            {"CONTENT_TYPE", "multipart/form-data; boundary=" + boundary},
            {"CONTENT_LENGTH", std::to_string(body.size())}};
}

// Feeds a body to standard input through a pipe in pieces ending at the
// given offsets: a piece is written only once the one before has been read,
// so no read of the decoder returns bytes of two pieces.
class PipeFeeder {
public:
    PipeFeeder(std::string body, std::vector<size_t> cuts) {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        dup2(fds[0], 0);
        watch_ = fds[0];
        int out = fds[1];
        cuts.push_back(body.size());
        writer_ = std::thread([this, out, body = std::move(body), cuts = std::move(cuts)] {
            size_t from = 0;
            for (size_t to : cuts) {
                if (to <= from) continue;
                int queued = 1;
                while (!stop_ && ioctl(watch_, FIONREAD, &queued) == 0 && queued > 0) sched_yield();
                if (stop_) break;
                for (size_t done = from; done < to;) {
                    ssize_t n = write(out, body.data() + done, to - done);
                    if (n <= 0) break;
                    done += static_cast<size_t>(n);
                }
                from = to;
            }
            close(out);
        });
    }
    ~PipeFeeder() {
        stop_ = true;
        writer_.join();
        close(watch_);
    }

private:
    int watch_;
    std::atomic<bool> stop_{false};
    std::thread writer_;
};

// Deterministic bytes of every value, NULs and CR LFs included.
std::string binary(size_t n, uint32_t seed) {
    std::string bytes(n, '\0');
    for (char &c : bytes) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return bytes;
}

// A file value built to tempt the delimiter search: the delimiter's text
// at the start without a line end, cut short, followed by other bytes,
// followed by a lone CR or a single '-'.
std::string tempting_value(const std::string &boundary) {
    std::string d = "--" + boundary;
    std::string v = d + "xy\r\n";
    v += std::string("\0\0\r\n\r\n", 6);
    v += "\r\n" + d.substr(0, d.size() - 1) + "\r\n";
    v += "\r\n" + d + "X\r\n";
    v += "\r\n" + d + "\r-";
    v += "\r\n" + d + "-\n";
    v += "\r\n-" + d + "--";
    v += binary(5000, 7);
    v += "\r\n" + d.substr(0, d.size() - 2);
    return v;
}

// What fn reports, run in a child process: upload-to-disk stays on for the
// rest of a process once switched on.
std::string report_of_child(const std::function<std::string()> &fn) {
    Ended e = in_child([&] {
        std::string report = fn();
        fwrite(report.data(), 1, report.size(), stdout);
    });
    EXPECT_EQ(e.status, 0) << e.out;
    return e.out;
}

// "name=value" lines of the form value list, after the decoder's result.
std::string describe(int result) {
    std::string out = "result=" + std::to_string(result) + "\n";
    for (q_entry *e = qValueList(); e; e = e->next) out += std::string(e->name) + "=" + e->value + "\n";
    return out;
}

TEST(Multipart, FieldsFileAndExtraEntries) {
    std::string file("ab\0de", 5);
    std::string body = multipart(kBoundary, {{"mode", "fast", "", ""},
                                             {"img", file, "C:\\Users\\me\\fw v2.bin", "application/octet-stream"}});
    Env env = upload_env(body);
    env["HTTP_COOKIE"] = "sid=s1";
    env["QUERY_STRING"] = "q=1";
    Request r(env, body);

    EXPECT_EQ(qDecoder(), 4);  // one cookie, one query parameter, one per part
    EXPECT_EQ(form_list(), (Pairs{{"sid", "s1"},
                                  {"q", "1"},
                                  {"mode", "fast"},
                                  {"img", "ab"},
                                  {"img.length", "5"},
                                  {"img.filename", "fw v2.bin"},
                                  {"img.contenttype", "application/octet-stream"},
                                  {"img.errno", "0"},
                                  {"img.real_length", "5"}}));
    const char *img = qValue("img");
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(std::string(img, 6), std::string("ab\0de\0", 6));
    EXPECT_EQ(qiValue("img.length"), 5);
    EXPECT_EQ(qValueType("sid"), 'C');
    EXPECT_EQ(qValueType("q"), 'G');
    EXPECT_EQ(qValueType("img.real_length"), 'P');
    EXPECT_EQ(counts(), "COOKIE = 1 , GET = 1 , POST = 7, NEW = 0\n");
}

TEST(Multipart, BinaryValuesWhateverContentLengthSays) {
    std::string tempting = tempting_value(kBoundary);
    std::string big = binary(3 << 20, 11) + "\r\n--" + kBoundary.substr(0, 10);
    std::string body = multipart(kBoundary, {{"t", tempting, "t.bin", ""},
                                             {"note", "a\r\nb", "", ""},
                                             {"big", big, "big.bin", "application/x-firmware"}});
    std::string exact = std::to_string(body.size());
    for (const std::string &length : {exact, std::string(""), std::string("10"), std::to_string(body.size() * 10),
                                     std::string("99999999999"), std::string("-5"), std::string("junk")}) {
        SCOPED_TRACE("CONTENT_LENGTH=" + length);
        Env env = upload_env(body);
        if (length.empty())
            env.erase("CONTENT_LENGTH");
        else
            env["CONTENT_LENGTH"] = length;
        Request r(env, body);
        EXPECT_EQ(qDecoder(), 3);
        ASSERT_NE(qValue("t"), nullptr);
        EXPECT_EQ(std::string(qValue("t"), tempting.size() + 1), tempting + '\0');
        EXPECT_EQ(qiValue("t.length"), static_cast<int>(tempting.size()));
        EXPECT_STREQ(qValue("note"), "a\r\nb");
        ASSERT_NE(qValue("big"), nullptr);
        EXPECT_TRUE(std::string(qValue("big"), big.size() + 1) == big + '\0');
        EXPECT_EQ(qiValue("big.length"), static_cast<int>(big.size()));
        EXPECT_STREQ(qValue("big.contenttype"), "application/x-firmware");
    }
}

// Offsets that cut the body at every byte near each delimiter and every
// step bytes elsewhere.
std::vector<size_t> cuts_around_delimiters(const std::string &body, const std::string &boundary, size_t step) {
    std::vector<size_t> cuts;
    std::string marker = "--" + boundary;
    std::vector<bool> near(body.size() + 1, false);
    for (size_t at = body.find(marker); at != std::string::npos; at = body.find(marker, at + 1))
        for (size_t i = at >= 4 ? at - 4 : 0; i <= std::min(body.size(), at + marker.size() + 4); ++i) near[i] = true;
    for (size_t i = 1; i < body.size(); ++i)
        if (near[i] || i % step == 0) cuts.push_back(i);
    return cuts;
}

TEST(Multipart, AnyChunkingOfThePipeGivesTheSameValues) {
    std::string tempting = tempting_value(kBoundary);
    std::string image = binary(400000, 3);
    std::string body = multipart(kBoundary, {{"a", "1", "", ""},
                                             {"t", tempting, "t.bin", ""},
                                             {"img", image, "fw.bin", ""},
                                             {"z", "", "", ""}});
    struct Plan {
        const char *what;
        std::vector<size_t> cuts;
    };
    std::vector<size_t> every_byte;
    for (size_t i = 1; i < 2000; ++i) every_byte.push_back(i);  // headers and the first values byte by byte
    for (size_t i = 2000; i < body.size(); i += 4093) every_byte.push_back(i);
    for (const Plan &plan : {Plan{"bytes near delimiters", cuts_around_delimiters(body, kBoundary, 3001)},
                             Plan{"byte by byte, then blocks", every_byte}}) {
        SCOPED_TRACE(plan.what);
        Request r(upload_env(body));
        PipeFeeder feed(body, plan.cuts);
        EXPECT_EQ(qDecoder(), 4);
        EXPECT_STREQ(qValue("a"), "1");
        ASSERT_NE(qValue("t"), nullptr);
        EXPECT_EQ(std::string(qValue("t"), tempting.size() + 1), tempting + '\0');
        ASSERT_NE(qValue("img"), nullptr);
        EXPECT_TRUE(std::string(qValue("img"), image.size()) == image);
        EXPECT_EQ(qiValue("img.length"), 400000);
        EXPECT_STREQ(qValue("z"), "");
    }
}

TEST(Multipart, EmptyValuesPreambleAndClosingRightAfterHeaders) {
    const std::string d = "--" + kBoundary;
    std::string body = "\r\n" + d + "\r\n" +
                       "Content-Disposition: form-data; name=\"crlf\"\r\n\r\n\r\n" + d + "\r\n" +
                       "Content-Disposition: form-data; name=\"direct\"\r\n\r\n" + d + "\r\n" +
                       "Content-Disposition: form-data; name=\"file\"; filename=\"empty.txt\"\r\n"
                       "Content-Type: text/plain\r\n\r\n\r\n" + d + "\r\n" +
                       "Content-Disposition: form-data; name=\"last\"\r\n\r\n" + d + "--\r\n";
    Request r(upload_env(body), body);
    EXPECT_EQ(qDecoder(), 4);
    EXPECT_EQ(form_list(), (Pairs{{"crlf", ""},
                                  {"direct", ""},
                                  {"file", ""},
                                  {"file.length", "0"},
                                  {"file.filename", "empty.txt"},
                                  {"file.contenttype", "text/plain"},
                                  {"file.errno", "0"},
                                  {"file.real_length", "0"},
                                  {"last", ""}}));
    EXPECT_EQ(counts(), "COOKIE = 0 , GET = 0 , POST = 9, NEW = 0\n");
}

TEST(Multipart, HeaderLinesNamesAndFileNames) {
    const std::string d = "--" + kBoundary;
    std::string long_name(1000, 'n');
    auto part = [&](const std::string &headers, const std::string &value) {
        return headers + "\r\n" + value + "\r\n" + d;
    };
    std::string body = d + "\r\n" +
        part("Content-Disposition: x\r\n", "short line") + "\r\n" +
        part("content-disposition: form-data; name=\"lower\"\r\nX-Junk: " + std::string(3000, 'j') + "\r\n", "lc") + "\r\n" +
        part("Content-Disposition: form-data; name=\"unclosed\r\n", "u") + "\r\n" +
        part("Content-Disposition: form-data; name=\"" + long_name + "\"; filename=\"ignored.bin\"\r\n", "long") + "\r\n" +
        part("Content-Disposition: form-data; name=\"unix\"; filename=\"/home/u/fw.bin\"\r\n"
             "CONTENT-TYPE:  text/plain  \r\n", "U") + "\r\n" +
        part("Content-Disposition: form-data; name=\"win\"; filename=\"D:\\a b\\c\\  my fw.bin \"\r\n", "W") + "\r\n" +
        part("Content-Disposition: form-data; name=\"dironly\"; filename=\"C:\\dir\\\"\r\n", "D") + "--\r\n";
    Request r(upload_env(body), body);
    EXPECT_EQ(qDecoder(), 7);
    EXPECT_STREQ(qValue("%s", ""), "short line");  // shorter than 38 characters: no name
    EXPECT_STREQ(qValue("lower"), "lc");
    EXPECT_STREQ(qValue("unclosed"), "u");
    // The 1023-byte line buffer cuts the name; the rest of the line is ignored.
    EXPECT_STREQ(qValue("%s", long_name.substr(0, 1023 - 38).c_str()), "long");
    EXPECT_EQ(qValue("%s.filename", long_name.substr(0, 1023 - 38).c_str()), nullptr);
    EXPECT_STREQ(qValue("unix.filename"), "/home/u/fw.bin");
    EXPECT_STREQ(qValue("unix.contenttype"), "text/plain");
    EXPECT_STREQ(qValue("win.filename"), "my fw.bin");
    EXPECT_STREQ(qValue("win.contenttype"), "");
    // Nothing after the last backslash: no file name, so no file entries.
    EXPECT_STREQ(qValue("dironly"), "D");
    EXPECT_EQ(qValue("dironly.length"), nullptr);
}

TEST(Multipart, BoundaryOf249CharactersAndTrimmedDelimiter) {
    {
        std::string boundary(249, 'b');
        std::string body = multipart(boundary, {{"f", "x\r\n--" + boundary.substr(1), "f.bin", ""}});
        Request r(upload_env(body, boundary), body);
        EXPECT_EQ(qDecoder(), 1);
        EXPECT_EQ(qValue("f"), "x\r\n--" + boundary.substr(1));
    }
    {
        // Trailing blanks of CONTENT_TYPE are not part of the delimiter.
        std::string body = multipart("abc", {{"k", "v", "", ""}});
        Request r(upload_env(body, "abc  "), body);
        EXPECT_EQ(qDecoder(), 1);
        EXPECT_STREQ(qValue("k"), "v");
    }
}

TEST(Multipart, UpgradePartRunsTheScriptAndStaysAnEntry) {
    std::string body = multipart(kBoundary, {{"q", "1", "", ""}, {"upgrade", "data", "fw.bin", "application/octet-stream"}});
    Request r(upload_env(body), body);
    EXPECT_EQ(qDecoder(), 2);
    EXPECT_EQ(form_list(), (Pairs{{"q", "1"}, {"upgrade", "data"}}));
    EXPECT_EQ(testing_support::read_file(r.root() + "/commands.log"), "/sbin/upgrade.sh > /dev/null 2>&1\n");
    EXPECT_EQ(counts(), "COOKIE = 0 , GET = 0 , POST = 2, NEW = 0\n");
}

TEST(MultipartDeath, BrokenRequestsStop) {
    const std::string d = "--" + kBoundary;
    const std::string head = d + "\r\nContent-Disposition: form-data; name=\"img\"\r\n\r\n";
    struct Case {
        std::string body, content_type, message;
    };
    const std::string type = "multipart/form-data; boundary=" + kBoundary;
    for (const Case &c : {
             Case{"", type, "_parse_multipart_data(): Your browser sent a non-HTTP compliant message."},
             Case{"garbage\r\n" + head + "x\r\n" + d + "--\r\n", type, "_parse_multipart_data(): String format invalid."},
             Case{"\r\n\r\n" + head + "x\r\n" + d + "--\r\n", type, "_parse_multipart_data(): String format invalid."},
             Case{"\r\n", type, "_parse_multipart_data(): String format invalid."},
             Case{head + "unclosed value", type, "_parse_multipart_data(): Broken stream."},
             Case{head + "x\r\n" + d.substr(0, d.size() - 1), type, "_parse_multipart_data(): Broken stream."},
             Case{d + "\r\nContent-Disposition: form-data; name=\"h\"\r\n", type,
                  "_parse_multipart_data(): Broken stream."},
             Case{d + "--\r\n", type, "_parse_multipart_data(): Broken stream."},
             Case{head + "x\r\n" + d + "--\r\n", "multipart/form-data",
                  "_parse_multipart_data(): Your browser sent a non-HTTP compliant message."},
             Case{head, "multipart/form-data; boundary=" + std::string(250, 'b'),
                  "_parse_multipart_data(): The boundary string is too long. Stopping process."},
         }) {
        SCOPED_TRACE(c.message);
        Request r({{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", c.content_type}}, c.body);
        EXPECT_STOPS(qDecoder(), c.message);
    }
}

// The value of the line "name=..." of a report.
std::string line_value(const std::string &report, const std::string &name) {
    size_t at = report.find("\n" + name + "=");
    if (at == std::string::npos) return {};
    at += name.size() + 2;
    return report.substr(at, report.find('\n', at) - at);
}

// DIR ADDRESS "." hexadecimal time "." COUNTER "-" process id.
bool is_disk_name(const std::string &path, const std::string &dir, const std::string &address, int counter) {
    std::string head = dir + address + ".";
    if (path.compare(0, head.size(), head) != 0) return false;
    size_t dot = path.find('.', head.size());
    if (dot == head.size() || dot == std::string::npos ||
        path.find_first_not_of("0123456789abcdef", head.size()) != dot)
        return false;
    std::string tail = "." + std::to_string(counter) + "-";
    if (path.compare(dot, tail.size(), tail) != 0) return false;
    std::string pid = path.substr(dot + tail.size());
    return !pid.empty() && pid.find_first_not_of("0123456789") == std::string::npos;
}

TEST(MultipartDisk, FilesAreWrittenUnderTheDirectory) {
    std::string image = binary(200000, 5) + "\r\n--" + kBoundary + "Z";
    std::string body = multipart(kBoundary, {{"q", "1", "", ""},
                                             {"img", image, "fw.bin", "application/octet-stream"},
                                             {"empty", "", "none.bin", ""},
                                             {"small", "tiny", "t.txt", "text/plain"}});
    Env env = upload_env(body);
    env["REMOTE_ADDR"] = "192.168.1.10";
    Request r(env, body);
    std::filesystem::create_directory(r.root() + "/up");
    std::string report = report_of_child([] {
        qUploadToDisk("/up", 0);
        return describe(qDecoder());
    });

    // The address as inet_addr gives it, printed as an unsigned number.
    char address[16];
    snprintf(address, sizeof address, "%x", static_cast<unsigned>(inet_addr("192.168.1.10")));
    std::string img = line_value(report, "img"), empty = line_value(report, "empty"),
                small = line_value(report, "small");
    EXPECT_TRUE(is_disk_name(img, "/up/", address, 1)) << img;
    EXPECT_TRUE(is_disk_name(empty, "/up/", address, 2)) << empty;
    EXPECT_TRUE(is_disk_name(small, "/up/", address, 3)) << small;
    EXPECT_EQ(report, "result=4\n"
                      "q=1\n"
                      "img=" + img + "\n"
                      "img.length=" + std::to_string(image.size()) + "\n"
                      "img.filename=fw.bin\n"
                      "img.contenttype=application/octet-stream\n"
                      "img.errno=0\n"
                      "img.real_length=" + std::to_string(image.size()) + "\n"
                      "empty=" + empty + "\n"
                      "empty.length=0\n"
                      "empty.filename=none.bin\n"
                      "empty.contenttype=application/octet-stream\n"
                      "empty.errno=0\n"
                      "empty.real_length=0\n"
                      "small=" + small + "\n"
                      "small.length=4\n"
                      "small.filename=t.txt\n"
                      "small.contenttype=text/plain\n"
                      "small.errno=0\n"
                      "small.real_length=4\n");
    EXPECT_TRUE(testing_support::read_file(r.root() + img) == image);
    EXPECT_FALSE(std::filesystem::exists(r.root() + empty));  // nothing received: removed
    EXPECT_EQ(testing_support::read_file(r.root() + small), "tiny");
}

TEST(MultipartDisk, MaximumSizeStopsWritingPerPart) {
    const size_t max = 100000;
    std::string body = multipart(kBoundary, {{"a", binary(max, 1), "a.bin", ""},
                                             {"b", binary(max + 1, 2), "b.bin", ""},
                                             {"c", "ok", "c.bin", ""}});
    Request r(upload_env(body), body);
    std::filesystem::create_directory(r.root() + "/up");
    std::string report = report_of_child([] {
        qUploadToDisk("/up/", static_cast<int>(max));
        std::string out;
        for (const char *name : {"a", "b", "c"})
            out += std::string(name) + ":" + qValue("%s.length", name) + "," + qValue("%s.errno", name) + "," +
                   qValue("%s.real_length", name) + "\n";
        return out;
    });
    EXPECT_EQ(report, "a:100000,0,100000\nb:100001,3,0\nc:2,0,2\n");
    std::vector<std::string> left;
    for (const auto &entry : std::filesystem::directory_iterator(r.root() + "/up"))
        left.push_back(testing_support::read_file(entry.path()));
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left.size(), 2u);
    EXPECT_TRUE(std::find(left.begin(), left.end(), binary(max, 1)) != left.end());
    EXPECT_TRUE(std::find(left.begin(), left.end(), "ok") != left.end());
}

TEST(MultipartDisk, FailedWriteRemovesTheFile) {
    std::string body = multipart(kBoundary, {{"big", binary(300000, 9), "big.bin", ""}, {"after", "1", "", ""}});
    Request r(upload_env(body), body);
    std::filesystem::create_directory(r.root() + "/up");
    std::string report = report_of_child([] {
        // Writes beyond 100000 bytes fail with EFBIG.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100000, 100000};
        setrlimit(RLIMIT_FSIZE, &limit);
        qUploadToDisk("/up", 0);
        qDecoder();
        return std::string(qValue("big.errno")) + "," + qValue("big.length") + "," + qValue("big.real_length") +
               "," + qValue("after");
    });
    EXPECT_EQ(report, "5,300000,0,1");
    EXPECT_TRUE(std::filesystem::is_empty(r.root() + "/up"));
}

TEST(MultipartDisk, RefusedDirectoryKeepsFilesInMemory) {
    std::string body = multipart(kBoundary, {{"f", "content", "f.bin", ""}});
    Request r(upload_env(body), body);
    std::string report = report_of_child([] {
        qUploadToDisk(std::string(1024, 'd').c_str(), 0);
        return describe(qDecoder());
    });
    EXPECT_EQ(report,
              "result=1\nf=content\nf.length=7\nf.filename=f.bin\nf.contenttype=application/octet-stream\n"
              "f.errno=0\nf.real_length=7\n");
}

TEST(MultipartDiskDeath, StopsRemoveTheirFile) {
    std::string body = multipart(kBoundary, {{"f", "content", "f.bin", ""}});
    {
        Request r(upload_env(body), body);
        EXPECT_EXIT((dup2(2, 1), qUploadToDisk("/missing", 0), qDecoder()), testing::ExitedWithCode(1),
                    "Error: _parse_multipart_value_into_disk\\(\\): Can not open file /missing/[0-9a-f]+\\.[0-9a-f]+\\.1-[0-9]+");
    }
    {
        std::string cut = body.substr(0, body.size() - 20);
        Request r(upload_env(cut), cut);
        std::filesystem::create_directory(r.root() + "/up");
        EXPECT_EXIT((dup2(2, 1), qUploadToDisk("/up", 0), qDecoder()), testing::ExitedWithCode(1),
                    stop_message("_parse_multipart_data(): Broken stream."));
        EXPECT_TRUE(std::filesystem::is_empty(r.root() + "/up"));
    }
}

Env file_manager_env(const std::string &body) {
    Env env = upload_env(body);
    env["SCRIPT_NAME"] = "/cgi-bin/directory.cgi";
    return env;
}

TEST(MultipartFileManager, ThreeFileEntriesAndNoSpillForSmallFiles) {
    std::string body = multipart(kBoundary, {{"dir", "/home", "", ""},
                                             {"f", std::string("x\0y", 3), "C:\\f.txt", "text/plain"},
                                             {"upgrade", "u", "u.bin", ""}});
    Request r(file_manager_env(body), body);
    EXPECT_EQ(qDecoder(), 3);
    EXPECT_EQ(form_list(), (Pairs{{"dir", "/home"},
                                  {"f", "x"},
                                  {"f.length", "3"},
                                  {"f.filename", "f.txt"},
                                  {"f.contenttype", "text/plain"},
                                  {"upgrade", "u"},
                                  {"upgrade.length", "1"},
                                  {"upgrade.filename", "u.bin"},
                                  {"upgrade.contenttype", "application/octet-stream"}}));
    EXPECT_EQ(counts(), "COOKIE = 0 , GET = 0 , POST = 9, NEW = 0\n");
    EXPECT_FALSE(std::filesystem::exists(r.root() + "/database/.qUploadFile"));
    EXPECT_EQ(testing_support::read_file(r.root() + "/commands.log"), "");  // no upgrade script here
}

TEST(MultipartFileManager, LargeFileGoesToTheSpillFile) {
    std::string large = binary(9 << 20, 21) + "\r\n--" + kBoundary.substr(0, 5);
    std::string body = multipart(kBoundary, {{"f", large, "big.iso", ""}, {"g", "second", "g.txt", ""}});
    Request r(file_manager_env(body), body);
    EXPECT_EQ(qDecoder(), 2);
    EXPECT_STREQ(qValue("f"), "");
    EXPECT_EQ(qValue("f.length"), std::to_string(large.size()));
    EXPECT_STREQ(qValue("g"), "second");
    EXPECT_STREQ(qValue("g.length"), "6");
    std::string spill = r.root() + "/database/.qUploadFile";
    EXPECT_TRUE(testing_support::read_file(spill) == large);
    struct stat st {};
    ASSERT_EQ(stat(spill.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(MultipartFileManagerDeath, StopsCarryTheirOwnPrefix) {
    std::string body = multipart(kBoundary, {{"f", "data", "f.txt", ""}});
    {
        std::string cut = body.substr(0, body.size() - 10);
        Request r(file_manager_env(cut), cut);
        EXPECT_STOPS(qDecoder(), "_parse_multipart_upload(): Broken stream at end of 'f'.");
        EXPECT_FALSE(std::filesystem::exists(r.root() + "/database/.qUploadFile"));
    }
    {
        Request r(file_manager_env("garbage"), "garbage");
        EXPECT_STOPS(qDecoder(), "_parse_multipart_upload(): String format invalid.");
    }
    {
        Request r(file_manager_env(body), body);
        std::filesystem::remove(r.root() + "/database");
        EXPECT_STOPS(qDecoder(), "_parse_multipart_upload(): Can't open upload tmp file!");
    }
}

}  // namespace
