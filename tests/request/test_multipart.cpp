// multipart/form-data bodies as browsers send them: fields and binary files
// in memory, in any chunking of the input, on disk (qUploadToDisk), and the
// file manager's spill file; and the stops of broken requests.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
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
namespace fs = std::filesystem;

const std::string kBoundary = "----WebKitFormBoundaryx7Zq3LmNa9";
const std::string kDelimiter = "--" + kBoundary;

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
                for (ssize_t n = 0; from < to && (n = write(out, body.data() + from, to - from)) > 0;)
                    from += static_cast<size_t>(n);
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
std::string tempting_value() {
    const std::string &d = kDelimiter;
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

// The bytes of a value, with the NUL that follows them.
std::string held(const char *name, size_t size) {
    const char *value = qValue("%s", name);
    return value ? std::string(value, size + 1) : "<none>";
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
    for (const auto &[name, value] : form_list()) out += name + "=" + value + "\n";
    return out;
}

TEST(Multipart, FieldsFilesExtraEntriesAndTheUpgradePart) {
    std::string file("ab\0de", 5);
    std::string body = multipart(kBoundary, {{"mode", "fast", "", ""},
                                             {"img", file, "C:\\Users\\me\\fw v2.bin", "application/octet-stream"},
                                             {"upgrade", "data", "fw.bin", "application/octet-stream"}});
    Env env = upload_env(body);
    env["HTTP_COOKIE"] = "sid=s1";
    env["QUERY_STRING"] = "q=1";
    Request r(env, body);

    EXPECT_EQ(qDecoder(), 5);  // one cookie, one query parameter, one per part
    EXPECT_EQ(form_list(), (Pairs{{"sid", "s1"}, {"q", "1"}, {"mode", "fast"}, {"img", "ab"}, {"img.length", "5"},
                                  {"img.filename", "fw v2.bin"}, {"img.contenttype", "application/octet-stream"},
                                  {"img.errno", "0"}, {"img.real_length", "5"}, {"upgrade", "data"}}));
    EXPECT_EQ(held("img", 5), std::string("ab\0de\0", 6));
    EXPECT_EQ(counts(), "COOKIE = 1 , GET = 1 , POST = 8, NEW = 0\n");
    // The upgrade part runs the script; its file name is ignored.
    EXPECT_EQ(read_file(r.root() + "/commands.log"), "/sbin/upgrade.sh > /dev/null 2>&1\n");
}

TEST(Multipart, BinaryValuesWhateverContentLengthSays) {
    std::string tempting = tempting_value();
    std::string big = binary(3 << 20, 11) + "\r\n" + kDelimiter.substr(0, 12);
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
        EXPECT_EQ(held("t", tempting.size()), tempting + '\0');
        EXPECT_EQ(qiValue("t.length"), static_cast<int>(tempting.size()));
        EXPECT_STREQ(qValue("note"), "a\r\nb");
        EXPECT_TRUE(held("big", big.size()) == big + '\0');
        EXPECT_EQ(qiValue("big.length"), static_cast<int>(big.size()));
        EXPECT_STREQ(qValue("big.contenttype"), "application/x-firmware");
    }
}

TEST(Multipart, AnyChunkingOfThePipeGivesTheSameValues) {
    std::string tempting = tempting_value();
    std::string image = binary(400000, 3);
    std::string body = multipart(kBoundary, {{"a", "1", "", ""},
                                             {"t", tempting, "t.bin", ""},
                                             {"img", image, "fw.bin", ""},
                                             {"z", "", "", ""}});
    // Every byte near each delimiter, and every 3001 bytes elsewhere.
    std::vector<bool> near(body.size() + 1, false);
    for (size_t at = body.find(kDelimiter); at != std::string::npos; at = body.find(kDelimiter, at + 1))
        for (size_t i = at >= 4 ? at - 4 : 0; i <= std::min(body.size(), at + kDelimiter.size() + 4); ++i)
            near[i] = true;
    std::vector<size_t> around_delimiters, every_byte;
    for (size_t i = 1; i < body.size(); ++i)
        if (near[i] || i % 3001 == 0) around_delimiters.push_back(i);
    for (size_t i = 1; i < 2000; ++i) every_byte.push_back(i);  // headers and the first values byte by byte
    for (size_t i = 2000; i < body.size(); i += 4093) every_byte.push_back(i);

    for (const std::vector<size_t> *cuts : {&around_delimiters, &every_byte}) {
        SCOPED_TRACE(cuts == &every_byte ? "byte by byte, then blocks" : "bytes near delimiters");
        Request r(upload_env(body));
        PipeFeeder feed(body, *cuts);
        EXPECT_EQ(qDecoder(), 4);
        EXPECT_STREQ(qValue("a"), "1");
        EXPECT_EQ(held("t", tempting.size()), tempting + '\0');
        EXPECT_TRUE(held("img", image.size()) == image + '\0');
        EXPECT_EQ(qiValue("img.length"), 400000);
        EXPECT_STREQ(qValue("z"), "");
    }
}

TEST(Multipart, EmptyValuesPreambleAndClosingRightAfterHeaders) {
    const std::string &d = kDelimiter;
    std::string body = "\r\n" + d + "\r\n" +
                       "Content-Disposition: form-data; name=\"crlf\"\r\n\r\n\r\n" + d + "\r\n" +
                       "Content-Disposition: form-data; name=\"direct\"\r\n\r\n" + d + "\r\n" +
                       "Content-Disposition: form-data; name=\"file\"; filename=\"empty.txt\"\r\n"
                       "Content-Type: text/plain\r\n\r\n\r\n" + d + "\r\n" +
                       "Content-Disposition: form-data; name=\"last\"\r\n\r\n" + d + "--\r\n";
    Request r(upload_env(body), body);
    EXPECT_EQ(qDecoder(), 4);
    EXPECT_EQ(form_list(), (Pairs{{"crlf", ""}, {"direct", ""}, {"file", ""}, {"file.length", "0"},
                                  {"file.filename", "empty.txt"}, {"file.contenttype", "text/plain"},
                                  {"file.errno", "0"}, {"file.real_length", "0"}, {"last", ""}}));
    EXPECT_EQ(counts(), "COOKIE = 0 , GET = 0 , POST = 9, NEW = 0\n");
}

TEST(Multipart, HeaderLinesNamesAndFileNames) {
    const std::string &d = kDelimiter;
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
    std::string boundary(249, 'b');
    std::string body = multipart(boundary, {{"f", "x\r\n--" + boundary.substr(1), "f.bin", ""}});
    {
        Request r(upload_env(body, boundary), body);
        EXPECT_EQ(qDecoder(), 1);
        EXPECT_EQ(qValue("f"), "x\r\n--" + boundary.substr(1));
    }
    // Trailing blanks of CONTENT_TYPE are not part of the delimiter.
    body = multipart("abc", {{"k", "v", "", ""}});
    Request r(upload_env(body, "abc  "), body);
    EXPECT_EQ(qDecoder(), 1);
    EXPECT_STREQ(qValue("k"), "v");
}

TEST(MultipartDeath, BrokenRequestsStop) {
    const std::string &d = kDelimiter;
    const std::string head = d + "\r\nContent-Disposition: form-data; name=\"img\"\r\n\r\n";
    const std::string type = "multipart/form-data; boundary=" + kBoundary;
    const std::string non_http = "Your browser sent a non-HTTP compliant message.", invalid = "String format invalid.",
                      broken = "Broken stream.";
    struct Case {
        std::string body, content_type, message;
    };
    for (const Case &c : {
             Case{"", type, non_http},
             Case{"garbage\r\n" + head + "x\r\n" + d + "--\r\n", type, invalid},
             Case{"\r\n\r\n" + head + "x\r\n" + d + "--\r\n", type, invalid},
             Case{"\r\n", type, invalid},
             Case{head + "unclosed value", type, broken},
             Case{head + "x\r\n" + d.substr(0, d.size() - 1), type, broken},
             Case{d + "\r\nContent-Disposition: form-data; name=\"h\"\r\n", type, broken},
             Case{d + "--\r\n", type, broken},
             Case{head + "x\r\n" + d + "--\r\n", "multipart/form-data", non_http},
             Case{head, "multipart/form-data; boundary=" + std::string(250, 'b'),
                  "The boundary string is too long. Stopping process."},
         }) {
        SCOPED_TRACE(c.message);
        Request r({{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", c.content_type}}, c.body);
        EXPECT_STOPS(qDecoder(), "_parse_multipart_data(): " + c.message);
    }
}

TEST(MultipartDisk, FilesAreWrittenUnderTheDirectory) {
    std::string image = binary(200000, 5) + "\r\n" + kDelimiter + "Z";
    std::string body = multipart(kBoundary, {{"q", "1", "", ""},
                                             {"img", image, "fw.bin", "application/octet-stream"},
                                             {"empty", "", "none.bin", ""},
                                             {"small", "tiny", "t.txt", "text/plain"}});
    Env env = upload_env(body);
    env["REMOTE_ADDR"] = "192.168.1.10";
    Request r(env, body);
    fs::create_directory(r.root() + "/up");
    std::string report = report_of_child([] {
        qUploadToDisk("/up", 0);
        return describe(qDecoder());
    });

    // DIR ADDRESS "." hexadecimal time "." COUNTER "-" process id, the
    // address as inet_addr gives it, printed as an unsigned number.
    char address[16];
    snprintf(address, sizeof address, "%x", static_cast<unsigned>(inet_addr("192.168.1.10")));
    std::vector<std::string> path;
    for (const std::string name : {"img", "empty", "small"}) {
        size_t at = report.find("\n" + name + "=");
        ASSERT_NE(at, std::string::npos) << report;
        at += name.size() + 2;
        path.push_back(report.substr(at, report.find('\n', at) - at));
        EXPECT_TRUE(matches(path.back(), "/up/" + std::string(address) + "\\.[0-9a-f]+\\." +
                                             std::to_string(path.size()) + "-[0-9]+"))
            << path.back();
    }
    const std::string n = std::to_string(image.size());
    EXPECT_EQ(report, "result=4\nq=1\n"
                      "img=" + path[0] + "\nimg.length=" + n + "\nimg.filename=fw.bin\n"
                      "img.contenttype=application/octet-stream\nimg.errno=0\nimg.real_length=" + n + "\n"
                      "empty=" + path[1] + "\nempty.length=0\nempty.filename=none.bin\n"
                      "empty.contenttype=application/octet-stream\nempty.errno=0\nempty.real_length=0\n"
                      "small=" + path[2] + "\nsmall.length=4\nsmall.filename=t.txt\n"
                      "small.contenttype=text/plain\nsmall.errno=0\nsmall.real_length=4\n");
    EXPECT_TRUE(read_file(r.root() + path[0]) == image);
    EXPECT_FALSE(fs::exists(r.root() + path[1]));  // nothing received: removed
    EXPECT_EQ(read_file(r.root() + path[2]), "tiny");
}

TEST(MultipartDisk, MaximumSizeStopsWritingPerPart) {
    const size_t max = 100000;
    std::string body = multipart(kBoundary, {{"a", binary(max, 1), "a.bin", ""},
                                             {"b", binary(max + 1, 2), "b.bin", ""},
                                             {"c", "ok", "c.bin", ""}});
    Request r(upload_env(body), body);
    fs::create_directory(r.root() + "/up");
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
    for (const auto &entry : fs::directory_iterator(r.root() + "/up")) left.push_back(read_file(entry.path()));
    std::sort(left.begin(), left.end());
    std::vector<std::string> expected{binary(max, 1), "ok"};
    std::sort(expected.begin(), expected.end());
    EXPECT_TRUE(left == expected);
}

TEST(MultipartDisk, FailedWriteRemovesTheFile) {
    std::string body = multipart(kBoundary, {{"big", binary(300000, 9), "big.bin", ""}, {"after", "1", "", ""}});
    Request r(upload_env(body), body);
    fs::create_directory(r.root() + "/up");
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
    EXPECT_TRUE(fs::is_empty(r.root() + "/up"));
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
        EXPECT_FATAL((qUploadToDisk("/missing", 0), qDecoder()),
                     "Error: _parse_multipart_value_into_disk\\(\\): Can not open file "
                     "/missing/[0-9a-f]+\\.[0-9a-f]+\\.1-[0-9]+");
    }
    std::string cut = body.substr(0, body.size() - 20);
    Request r(upload_env(cut), cut);
    fs::create_directory(r.root() + "/up");
    EXPECT_STOPS((qUploadToDisk("/up", 0), qDecoder()), "_parse_multipart_data(): Broken stream.");
    EXPECT_TRUE(fs::is_empty(r.root() + "/up"));
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
    EXPECT_EQ(form_list(), (Pairs{{"dir", "/home"}, {"f", "x"}, {"f.length", "3"}, {"f.filename", "f.txt"},
                                  {"f.contenttype", "text/plain"}, {"upgrade", "u"}, {"upgrade.length", "1"},
                                  {"upgrade.filename", "u.bin"}, {"upgrade.contenttype", "application/octet-stream"}}));
    EXPECT_EQ(counts(), "COOKIE = 0 , GET = 0 , POST = 9, NEW = 0\n");
    EXPECT_FALSE(fs::exists(r.root() + "/database/.qUploadFile"));
    EXPECT_EQ(read_file(r.root() + "/commands.log"), "");  // no upgrade script here
}

TEST(MultipartFileManager, LargeFileGoesToTheSpillFile) {
    std::string large = binary(9 << 20, 21) + "\r\n" + kDelimiter.substr(0, 7);
    std::string body = multipart(kBoundary, {{"f", large, "big.iso", ""}, {"g", "second", "g.txt", ""}});
    Request r(file_manager_env(body), body);
    EXPECT_EQ(qDecoder(), 2);
    EXPECT_STREQ(qValue("f"), "");
    EXPECT_EQ(qValue("f.length"), std::to_string(large.size()));
    EXPECT_STREQ(qValue("g"), "second");
    EXPECT_STREQ(qValue("g.length"), "6");
    std::string spill = r.root() + "/database/.qUploadFile";
    EXPECT_TRUE(read_file(spill) == large);
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
        EXPECT_FALSE(fs::exists(r.root() + "/database/.qUploadFile"));
    }
    {
        Request r(file_manager_env("garbage"), "garbage");
        EXPECT_STOPS(qDecoder(), "_parse_multipart_upload(): String format invalid.");
    }
    Request r(file_manager_env(body), body);
    fs::remove(r.root() + "/database");
    EXPECT_STOPS(qDecoder(), "_parse_multipart_upload(): Can't open upload tmp file!");
}

}  // namespace
