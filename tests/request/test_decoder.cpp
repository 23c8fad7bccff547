// Decoding a request: the raw sources, URL-encoded and multipart bodies (in
// memory, on disk, the file manager's spill file), and the qValue family
// over the decoded list.
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
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/request.h"
#include "support/sandbox.h"
#include "webadmin.h"

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

const std::string kBoundary = "----WebKitFormBoundaryx7Zq3LmNa9", kDelimiter = "--" + kBoundary;

Env upload_env(const std::string &body, const std::string &boundary = kBoundary) {
    return {{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", "multipart/form-data; boundary=" + boundary},
            {"CONTENT_LENGTH", std::to_string(body.size())}};
}

// Deterministic bytes of every value, NULs and CR LFs included.
std::string binary(size_t n, uint32_t seed) {
    std::string bytes(n, '\0');
    for (char &c : bytes) c = static_cast<char>((seed = seed * 1664525u + 1013904223u) >> 24);
    return bytes;
}

// A value that tempts the delimiter search: the delimiter's text without a
// line end, cut short, followed by other bytes, by a lone CR or a '-'.
std::string tempting_value() {
    const std::string &d = kDelimiter;
    return d + "xy\r\n" + std::string("\0\0\r\n\r\n", 6) + "\r\n" + d.substr(0, d.size() - 1) + "\r\n\r\n" + d + "X\r\n\r\n" + d +
           "\r-\r\n" + d + "-\n\r\n-" + d + "--" + binary(5000, 7) + "\r\n" + d.substr(0, d.size() - 2);
}

// The bytes of a value with the NUL after them.
std::string held(const char *name, size_t size) {
    const char *value = qValue("%s", name);
    return value ? std::string(value, size + 1) : "<none>";
}

// The decoder's result and the list as "name=value" lines.
std::string describe(int result) {
    std::string out = "result=" + std::to_string(result) + "\n";
    for (const auto &[name, value] : form_list()) out += name + "=" + value + "\n";
    return out;
}

// What fn reports, run in a child: upload-to-disk stays on once switched on.
std::string in_child_report(const std::function<std::string()> &fn) {
    Ended e = in_child([&] {
        std::string report = fn();
        fwrite(report.data(), 1, report.size(), stdout);
    });
    EXPECT_EQ(e.status, 0) << e.out;
    return e.out;
}

TEST(GetQuery, SourcesFromTheEnvironmentAndBody) {
    const std::string large = "k=" + std::string(300000, 'v');
    const Env post{{"REQUEST_METHOD", "POST"}};
    auto with = [](Env env, const std::string &length) { return env["CONTENT_LENGTH"] = length, env; };
    const struct {
        Env env;
        std::string body;
        const char *method, *expected;
    } rows[] = {
        {{}, "", "GET", nullptr},
        {{}, "", "COOKIE", nullptr},
        {{{"QUERY_STRING", ""}, {"REQUEST_URI", "/cgi-bin/upgrade.cgi?q=2&x=%41"}}, "", "GET", "q=2&x=%41"},
        {{{"QUERY_STRING", ""}, {"REQUEST_URI", "/cgi-bin/upgrade.cgi"}}, "", "GET", ""},
        {{{"QUERY_STRING", "q=1"}, {"REQUEST_URI", "/x?q=2"}}, "", "GET", "q=1"},
        {{{"HTTP_COOKIE", "a=1"}}, "", "COOKIE", "a=1"},
        {with(post, "5"), "a=123456", "POST", "a=123"},
        {with(post, std::to_string(large.size())), large + "&extra=1", "POST", large.c_str()},
        {with(post, "100000"), "short=1", "POST", "short=1"},
        {with(post, "0"), "ignored", "POST", ""},
        {{{"REQUEST_METHOD", "GET"}, {"CONTENT_LENGTH", "3"}}, "a=1", "POST", nullptr},
        {{}, "", "PUT", nullptr},
    };
    for (const auto &r : rows) {
        Request request(r.env, r.body);
        char *got = _get_query(r.method);
        EXPECT_EQ(got ? std::string(got) : "<null>", r.expected ? r.expected : "<null>") << r.method << " " << r.body.substr(0, 20);
        free(got);
    }
    Request request(post, "a=1");
    EXPECT_STOPS(qDecoder(), "_get_query(): Your browser sent a non-HTTP compliant message.");
}

TEST(Decoder, UrlEncodedSourcesInOrder) {
    const struct {
        Env env;
        std::string body;
        Pairs expected;
    } rows[] = {
        {{{"HTTP_COOKIE", "q=5; sid=abc"}, {"QUERY_STRING", "q=1&page=%2Fhome"}, {"REQUEST_METHOD", "POST"},
          {"CONTENT_TYPE", "application/x-www-form-urlencoded"}, {"CONTENT_LENGTH", "13"}},
         "q=9&body=a+b",
         {{"q", "5"}, {"sid", "abc"}, {"q", "1"}, {"page", "/home"}, {"q", "9"}, {"body", "a b"}}},
        {{{"QUERY_STRING", "a=1&&b=%41+c&flag&=v&x=1=2&"}}, "", {{"a", "1"}, {"", ""}, {"b", "A c"}, {"flag", ""}, {"", "v"}, {"x", "1=2"}}},
        {{{"HTTP_COOKIE", "x=1; y=2 ;%20z = 3"}}, "", {{"x", "1"}, {"y", "2 "}, {" z", " 3"}}},
        {{{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", "text/plain"}, {"CONTENT_LENGTH", "6"}}, "m=%7e%", {{"m", "~%"}}},
        {{}, "", {}},
    };
    for (const auto &r : rows) {
        Request request(r.env, r.body);
        EXPECT_EQ(qDecoder(), static_cast<int>(r.expected.size()));
        EXPECT_EQ(form_list(), r.expected);
        EXPECT_EQ(qDecoder(), r.expected.empty() ? 0 : -1);  // a filled list is not decoded again
    }
    Request request(rows[0].env, rows[0].body);
    qDecoder();
    EXPECT_EQ(std::string{qValueType("q")} + qValueType("page") + qValueType("body") + qValueType("none"), "CGP-");
}

TEST(Multipart, BodiesAndTheirValueLists) {
    const std::string &d = kDelimiter;
    auto part = [&](const std::string &headers, const std::string &value) { return headers + "\r\n" + value + "\r\n" + d; };
    const std::string long_name(1000, 'n'), cut_name = long_name.substr(0, 1023 - 38);
    const struct {
        std::string body;
        Pairs expected;
    } rows[] = {
        {multipart(kBoundary, {{"mode", "fast", "", ""}, {"img", std::string("ab\0de", 5), "C:\\Users\\me\\fw v2.bin", "application/octet-stream"}}),
         {{"mode", "fast"}, {"img", "ab"}, {"img.length", "5"}, {"img.filename", "fw v2.bin"}, {"img.contenttype", "application/octet-stream"},
          {"img.errno", "0"}, {"img.real_length", "5"}}},
        {"\r\n" + d + "\r\n" + part("Content-Disposition: form-data; name=\"crlf\"\r\n", "") + "\r\n" +
             "Content-Disposition: form-data; name=\"direct\"\r\n\r\n" + d + "\r\n" +
             part("Content-Disposition: form-data; name=\"file\"; filename=\"empty.txt\"\r\nContent-Type: text/plain\r\n", "") + "--\r\n",
         {{"crlf", ""}, {"direct", ""}, {"file", ""}, {"file.length", "0"}, {"file.filename", "empty.txt"}, {"file.contenttype", "text/plain"},
          {"file.errno", "0"}, {"file.real_length", "0"}}},
        {d + "\r\n" + part("Content-Disposition: x\r\n", "short line") + "\r\n" +
             part("content-disposition: form-data; name=\"lower\"\r\nX-Junk: " + std::string(3000, 'j') + "\r\n", "lc") + "\r\n" +
             part("Content-Disposition: form-data; name=\"unclosed\r\n", "u") + "\r\n" +
             part("Content-Disposition: form-data; name=\"" + long_name + "\"; filename=\"ignored.bin\"\r\n", "long") + "\r\n" +
             part("Content-Disposition: form-data; name=\"unix\"; filename=\"/home/u/fw.bin\"\r\nCONTENT-TYPE:  text/plain  \r\n", "U") + "\r\n" +
             part("Content-Disposition: form-data; name=\"win\"; filename=\"D:\\a b\\c\\  my fw.bin \"\r\n", "W") + "\r\n" +
             part("Content-Disposition: form-data; name=\"dir\"; filename=\"C:\\dir\\\"\r\n", "D") + "--\r\n",
         {{"", "short line"}, {"lower", "lc"}, {"unclosed", "u"}, {cut_name, "long"}, {"unix", "U"}, {"unix.length", "1"},
          {"unix.filename", "/home/u/fw.bin"}, {"unix.contenttype", "text/plain"}, {"unix.errno", "0"}, {"unix.real_length", "1"}, {"win", "W"},
          {"win.length", "1"}, {"win.filename", "my fw.bin"}, {"win.contenttype", ""}, {"win.errno", "0"}, {"win.real_length", "1"}, {"dir", "D"}}},
        {multipart(std::string(249, 'b'), {{"f", "x\r\n--" + std::string(248, 'b'), "", ""}}), {{"f", "x\r\n--" + std::string(248, 'b')}}},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const std::string boundary = i == 3 ? std::string(249, 'b') : kBoundary + "  ";  // trailing blanks are not the delimiter's
        Request r(upload_env(rows[i].body, boundary), rows[i].body);
        qDecoder();
        EXPECT_EQ(form_list(), rows[i].expected) << "row " << i;
    }
    // Cookies and the query come first; the upgrade part runs the script.
    const std::string body = multipart(kBoundary, {{"q", "2", "", ""}, {"upgrade", "data", "fw.bin", ""}});
    Env env = upload_env(body);
    env["HTTP_COOKIE"] = "sid=s1";
    env["QUERY_STRING"] = "q=1";
    Request r(env, body);
    EXPECT_EQ(qDecoder(), 4);
    EXPECT_EQ(counts(), "COOKIE = 1 , GET = 1 , POST = 2, NEW = 0\n");
    EXPECT_STREQ(qValueFirst("q"), "1");
    EXPECT_STREQ(qValueNext(), "2");
    EXPECT_EQ(read_file(r.root() + "/commands.log"), "/sbin/upgrade.sh > /dev/null 2>&1\n");
}

TEST(Multipart, BinaryValuesWhateverContentLengthSays) {
    const std::string tempting = tempting_value(), big = binary(3 << 20, 11) + "\r\n" + kDelimiter.substr(0, 12);
    const std::string body = multipart(kBoundary, {{"t", tempting, "t.bin", ""}, {"note", "a\r\nb", "", ""}, {"big", big, "big.bin", ""}});
    for (const std::string &length : std::vector<std::string>{std::to_string(body.size()), "", "10", "99999999999", "-5", "junk"}) {
        Env env = upload_env(body);
        length.empty() ? (void)env.erase("CONTENT_LENGTH") : (void)(env["CONTENT_LENGTH"] = length);
        Request r(env, body);
        EXPECT_EQ(qDecoder(), 3) << length;
        EXPECT_EQ(held("t", tempting.size()), tempting + '\0');
        EXPECT_STREQ(qValue("note"), "a\r\nb");
        EXPECT_TRUE(held("big", big.size()) == big + '\0');
        EXPECT_EQ(qValue("big.length"), std::to_string(big.size()));
    }
}

// Feeds a body through a pipe in pieces ending at the given offsets, each
// written once the one before has been read, so no read spans two pieces.
class PipeFeeder {
public:
    PipeFeeder(std::string body, std::vector<size_t> cuts) {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        dup2(fds[0], 0);
        watch_ = fds[0];
        cuts.push_back(body.size());
        writer_ = std::thread([this, out = fds[1], body = std::move(body), cuts = std::move(cuts)] {
            size_t from = 0;
            for (size_t to : cuts) {
                int queued = 1;
                while (!stop_ && ioctl(watch_, FIONREAD, &queued) == 0 && queued > 0) sched_yield();
                for (ssize_t n = 0; !stop_ && from < to && (n = write(out, body.data() + from, to - from)) > 0;) from += n;
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

TEST(Multipart, AnyChunkingOfThePipeGivesTheSameValues) {
    const std::string tempting = tempting_value(), image = binary(400000, 3);
    const std::string body = multipart(kBoundary, {{"a", "1", "", ""}, {"t", tempting, "t.bin", ""}, {"img", image, "fw.bin", ""}, {"z", "", "", ""}});
    std::vector<bool> cut(body.size(), false);  // the headers byte by byte, every byte near a delimiter, blocks elsewhere
    for (size_t at = body.find(kDelimiter); at != std::string::npos; at = body.find(kDelimiter, at + 1))
        std::fill(cut.begin() + (at >= 4 ? at - 4 : 0), cut.begin() + std::min(body.size(), at + kDelimiter.size() + 5), true);
    std::vector<size_t> cuts;
    for (size_t i = 1; i < body.size(); ++i) if (i < 600 || cut[i] || i % 3001 == 0) cuts.push_back(i);
    Request r(upload_env(body));
    PipeFeeder feed(body, cuts);
    EXPECT_EQ(qDecoder(), 4);
    EXPECT_STREQ(qValue("a"), "1");
    EXPECT_EQ(held("t", tempting.size()), tempting + '\0');
    EXPECT_TRUE(held("img", image.size()) == image + '\0');
    EXPECT_STREQ(qValue("z"), "");
}

TEST(Multipart, BrokenRequestsStop) {
    const std::string &d = kDelimiter, head = d + "\r\nContent-Disposition: form-data; name=\"img\"\r\n\r\n";
    const std::string type = "multipart/form-data; boundary=" + kBoundary, non_http = "Your browser sent a non-HTTP compliant message.",
                      invalid = "String format invalid.", broken = "Broken stream.";
    for (auto [body, content_type, message] : {
             std::tuple{std::string(), type, non_http}, {"garbage\r\n" + head + "x\r\n" + d + "--\r\n", type, invalid},
             {"\r\n\r\n" + head + "x\r\n" + d + "--\r\n", type, invalid}, {"\r\n", type, invalid}, {head + "unclosed value", type, broken},
             {head + "x\r\n" + d.substr(0, d.size() - 1), type, broken}, {d + "\r\nContent-Disposition: form-data; name=\"h\"\r\n", type, broken},
             {d + "--\r\n", type, broken}, {head + "x\r\n" + d + "--\r\n", std::string("multipart/form-data"), non_http},
             {head, "multipart/form-data; boundary=" + std::string(250, 'b'), std::string("The boundary string is too long. Stopping process.")}}) {
        Request r({{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", content_type}}, body);
        EXPECT_STOPS(qDecoder(), "_parse_multipart_data(): " + message);
    }
}

TEST(Multipart, FilesToDisk) {
    const std::string image = binary(200000, 5) + "\r\n" + kDelimiter + "Z";
    std::string body = multipart(kBoundary, {{"q", "1", "", ""}, {"img", image, "fw.bin", "application/octet-stream"},
                                             {"empty", "", "none.bin", ""}, {"small", "tiny", "t.txt", "text/plain"}});
    Env env = upload_env(body);
    env["REMOTE_ADDR"] = "192.168.1.10";
    {
        Request r(env, body);
        fs::create_directory(r.root() + "/up");
        const std::string report = in_child_report([] { return qUploadToDisk("/up", 0), describe(qDecoder()); });
        // DIR ADDRESS "." hexadecimal time "." COUNTER "-" process id.
        char address[16];
        snprintf(address, sizeof address, "%x", static_cast<unsigned>(inet_addr("192.168.1.10")));
        std::vector<std::string> path;
        for (const std::string name : {"img", "empty", "small"}) {
            size_t at = report.find("\n" + name + "=") + name.size() + 2;
            path.push_back(report.substr(at, report.find('\n', at) - at));
            EXPECT_TRUE(matches(path.back(), "/up/" + std::string(address) + "\\.[0-9a-f]+\\." + std::to_string(path.size()) + "-[0-9]+"));
        }
        const std::string n = std::to_string(image.size());
        EXPECT_EQ(report, "result=4\nq=1\nimg=" + path[0] + "\nimg.length=" + n + "\nimg.filename=fw.bin\n"
                          "img.contenttype=application/octet-stream\nimg.errno=0\nimg.real_length=" + n + "\n"
                          "empty=" + path[1] + "\nempty.length=0\nempty.filename=none.bin\nempty.contenttype=application/octet-stream\n"
                          "empty.errno=0\nempty.real_length=0\nsmall=" + path[2] + "\nsmall.length=4\nsmall.filename=t.txt\n"
                          "small.contenttype=text/plain\nsmall.errno=0\nsmall.real_length=4\n");
        EXPECT_TRUE(read_file(r.root() + path[0]) == image);
        EXPECT_FALSE(fs::exists(r.root() + path[1]));
    }
    // Per part: over the maximum size (errno 3), or a write that fails (errno 5): no file left.
    body = multipart(kBoundary, {{"a", binary(100000, 1), "a.bin", ""}, {"b", binary(100001, 2), "b.bin", ""}, {"c", "ok", "c.bin", ""}});
    auto sizes = [] {
        std::string out;
        for (const char *name : {"a", "b", "c"})
            out += std::string(qValue("%s.length", name)) + "," + qValue("%s.errno", name) + "," + qValue("%s.real_length", name) + ";";
        return out;
    };
    for (auto [limit, fsize, expected, left] : {std::tuple<int, rlim_t, const char *, int>{100000, RLIM_INFINITY, "100000,0,100000;100001,3,0;2,0,2;", 2},
                                                {0, 100000, "100000,0,100000;100001,5,0;2,0,2;", 2}}) {
        Request r(upload_env(body), body);
        fs::create_directory(r.root() + "/up");
        EXPECT_EQ(in_child_report([&, limit = limit, fsize = fsize] {
                      signal(SIGXFSZ, SIG_IGN);
                      rlimit l{fsize, fsize};
                      setrlimit(RLIMIT_FSIZE, &l);
                      return qUploadToDisk("/up/", limit), qDecoder(), sizes();
                  }),
                  expected);
        EXPECT_EQ(std::distance(fs::directory_iterator(r.root() + "/up"), fs::directory_iterator()), left);
    }
    body = multipart(kBoundary, {{"f", "content", "f.bin", ""}});
    {
        Request r(upload_env(body), body);  // a directory name too long keeps files in memory
        EXPECT_EQ(in_child_report([] { return qUploadToDisk(std::string(1024, 'd').c_str(), 0), describe(qDecoder()); }),
                  "result=1\nf=content\nf.length=7\nf.filename=f.bin\nf.contenttype=application/octet-stream\nf.errno=0\nf.real_length=7\n");
    }
    {
        Request r(upload_env(body), body);
        EXPECT_FATAL((qUploadToDisk("/missing", 0), qDecoder()),
                     "Error: _parse_multipart_value_into_disk\\(\\): Can not open file /missing/[0-9a-f]+\\.[0-9a-f]+\\.1-[0-9]+");
    }
    const std::string cut = body.substr(0, body.size() - 20);
    Request r(upload_env(cut), cut);
    fs::create_directory(r.root() + "/up");
    EXPECT_STOPS((qUploadToDisk("/up", 0), qDecoder()), "_parse_multipart_data(): Broken stream.");
    EXPECT_TRUE(fs::is_empty(r.root() + "/up"));
}

TEST(Multipart, FileManagerKeepsThreeEntriesAndSpillsLargeFiles) {
    auto file_manager = [](const std::string &body) {
        Env env = upload_env(body);
        env["SCRIPT_NAME"] = "/cgi-bin/directory.cgi";
        return env;
    };
    std::string body = multipart(kBoundary, {{"dir", "/home", "", ""}, {"f", std::string("x\0y", 3), "C:\\f.txt", "text/plain"},
                                             {"upgrade", "u", "u.bin", ""}});
    {
        Request r(file_manager(body), body);
        EXPECT_EQ(qDecoder(), 3);
        EXPECT_EQ(form_list(), (Pairs{{"dir", "/home"}, {"f", "x"}, {"f.length", "3"}, {"f.filename", "f.txt"}, {"f.contenttype", "text/plain"},
                                      {"upgrade", "u"}, {"upgrade.length", "1"}, {"upgrade.filename", "u.bin"},
                                      {"upgrade.contenttype", "application/octet-stream"}}));
        EXPECT_FALSE(fs::exists(r.root() + "/database/.qUploadFile"));
        EXPECT_EQ(read_file(r.root() + "/commands.log"), "");  // no upgrade script here
    }
    const std::string large = binary(9 << 20, 21) + "\r\n" + kDelimiter.substr(0, 7);
    body = multipart(kBoundary, {{"big", large, "big.iso", ""}, {"g", "second", "g.txt", ""}});
    {
        Request r(file_manager(body), body);
        EXPECT_EQ(qDecoder(), 2);
        EXPECT_EQ(form_list(), (Pairs{{"big", ""}, {"big.length", std::to_string(large.size())}, {"big.filename", "big.iso"},
                                      {"big.contenttype", "application/octet-stream"}, {"g", "second"}, {"g.length", "6"},
                                      {"g.filename", "g.txt"}, {"g.contenttype", "application/octet-stream"}}));
        const std::string spill = r.root() + "/database/.qUploadFile";
        EXPECT_TRUE(read_file(spill) == large);
        struct stat st {};
        EXPECT_EQ(stat(spill.c_str(), &st) == 0 ? st.st_mode & 0777 : 0, 0644u);
    }
    body = multipart(kBoundary, {{"f", "data", "f.txt", ""}});
    for (auto [sent, message] : {std::pair{body.substr(0, body.size() - 10), "Broken stream at end of 'f'."},
                                 {std::string("garbage"), "String format invalid."}, {body, "Can't open upload tmp file!"}}) {
        Request r(file_manager(sent), sent);
        if (sent == body) fs::remove(r.root() + "/database");
        EXPECT_STOPS(qDecoder(), "_parse_multipart_upload(): " + std::string(message));
        EXPECT_FALSE(fs::exists(r.root() + "/database/.qUploadFile"));
    }
}

TEST(FormValue, LookupsWalksAndEdits) {
    Request r(Env{{"HTTP_COOKIE", "q=5; lang=eng"}, {"QUERY_STRING", "q=1&MULTI_LANG=&n=12x&q=2&item7=seven&t=a-b_c&t=x-y"},
                  {"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "3"}},
              "q=3");
    EXPECT_STREQ(qValue("item%d", 7), "seven");  // decoded on first use
    EXPECT_EQ(qValue("Q"), nullptr);
    EXPECT_EQ(qiValue("n"), 12);
    EXPECT_STREQ(qValueDefault("eng", "MULTI_LANG"), "eng");
    EXPECT_STREQ(qValueDefault("x", "q"), "5");
    EXPECT_STREQ(qValueNotEmpty("needed", "lang"), "eng");
    EXPECT_STREQ(qCookieValue("lang"), "eng");
    EXPECT_EQ(qCookieValue("n"), nullptr);
    std::vector<std::string> walk{qValueFirst("%s", "q")};
    while (const char *v = qValueNext()) walk.push_back(v);
    EXPECT_EQ(walk, (std::vector<std::string>{"5", "1", "2", "3"}));
    EXPECT_EQ(qValueFirst("none"), nullptr);

    char *fresh = qValueReplace("tn", "t", "-_", "");
    EXPECT_STREQ(fresh, "abc");
    free(fresh);
    EXPECT_STREQ(qValueReplace("tr", "t", "-", "+"), "a+b_c");
    EXPECT_STREQ(qValueFirst("t"), "a+b_c");
    EXPECT_STREQ(qValueNext(), "x+y");
    EXPECT_EQ(qValueReplace("sr", "none", "a", "b"), nullptr);
    EXPECT_STREQ(qValueAdd("added", "%d-%s", 7, "x"), "7-x");
    EXPECT_EQ(qValueType("added"), 'N');
    EXPECT_STREQ(qValueAdd("fresh", "v"), "v");
    EXPECT_STREQ(qValueFirst("q"), "5");
    qValueRemove("q");
    EXPECT_EQ(qValueNext(), nullptr);  // removing the walked name ends the walk
    qValueRemove("t");
    EXPECT_EQ(counts(), "COOKIE = 1 , GET = 6 , POST = 1, NEW = 2\n");
    qResetContentFlag();
    EXPECT_EQ(captured_stdout([] { qValuePrint(); }).substr(0, 43), "Content-Type: text/html\n\n'lang' = 'eng'<br>");
    qFree();
    EXPECT_STREQ(qValue("q"), "5");  // decoded again after qFree

    const std::string too_long = "(): Message is too long or invalid.", name(1024, 'n');
    for (auto [call, message] : std::vector<std::pair<std::function<void()>, std::string>>{
             {[&] { qValue("%s", name.c_str()); }, "qValue" + too_long}, {[&] { qiValue("%s", name.c_str()); }, "qiValue" + too_long},
             {[&] { qValueDefault("d", "%s", name.c_str()); }, "qValueDefault" + too_long},
             {[&] { qValueFirst("%s", name.c_str()); }, "qValueFirst" + too_long},
             {[&] { qValueRemove("%s", name.c_str()); }, "qSessionRemove" + too_long},
             {[&] { qValueAdd("n", "%s", name.c_str()); }, "qValueAdd" + too_long},
             {[] { qValueNotEmpty("Choose a file.", "MULTI_LANG"); }, "Choose a file."},
             {[] { qValueAdd("", "v"); }, "qValueAdd(): can not add empty name."},
             {[] { qValueRemove("%s", ""); }, "qValueRemove(): can not remove empty name."},
             {[] { qValueReplace("rn", "x", "1", "2"); }, "qValueReplace(): Unknown mode \"rn\"."}})
        EXPECT_STOPS(call(), message);
}

}  // namespace
