// Decoding a request: the raw sources, URL-encoded and multipart bodies (in
// memory, on disk, the file manager's spill file), the qValue family over the
// decoded list, and the list and tree the library keeps data in.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "support/request.h"

namespace {

using namespace testing_support;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

const std::string kBoundary = "----WebKitFormBoundaryx7Zq3LmNa9", kDelimiter = "--" + kBoundary;

Env upload_env(const std::string &body, const std::string &boundary = kBoundary) {
    return {{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", "multipart/form-data; boundary=" + boundary},
            {"CONTENT_LENGTH", std::to_string(body.size())}};
}

// Results as text joined by '|': a string, "<null>", or a number.
struct Text {
    std::string s;
    Text(const char *p) : s(p ? p : "<null>") {}
    Text(long n) : s(std::to_string(n)) {}
    Text(int n) : s(std::to_string(n)) {}
    Text(char c) : s(1, c) {}
};
std::string join(std::initializer_list<Text> texts) {
    std::string out;
    for (const Text &t : texts) out += (out.empty() ? "" : "|") + t.s;
    return out;
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
    return d + "xy\r\n" + std::string("\0\0\r\n\r\n", 6) + "\r\n" + d.substr(0, d.size() - 1) + "\r\n\r\n" + d +
           "X\r\n\r\n" + d + "\r-\r\n" + d + "-\n\r\n-" + d + "--" + binary(5000, 7) + "\r\n" +
           d.substr(0, d.size() - 2);
}

// The bytes of a value with the NUL after them.
std::string held(const char *name, size_t size) {
    const char *value = qValue("%s", name);
    return value ? std::string(value, size + 1) : "<none>";
}

// A client address as upload file names spell it.
std::string hex_address(const char *address) {
    char text[16];
    snprintf(text, sizeof text, "%x", static_cast<unsigned>(inet_addr(address)));
    return text;
}

// What fn reports, run in a child (upload-to-disk stays on once switched on): the result and the list.
std::string decoded_in_child(const std::function<int()> &fn) {
    Ended e = in_child([&] {
        std::string out = "result=" + std::to_string(fn()) + "\n";
        for (const auto &[name, value] : form_list()) out += name + "=" + value + "\n";
        fwrite(out.data(), 1, out.size(), stdout);
    });
    EXPECT_EQ(e.status, 0) << e.out;
    return e.out;
}

// The sources in order (cookies, the query or the URI's, a body cut at CONTENT_LENGTH), split and decoded once.
TEST(Decoder, UrlEncodedSourcesInOrder) {
    const std::string large(300000, 'v');
    auto post = [](const std::string &length) { return Env{{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", length}}; };
    const struct {
        Env env;
        std::string body;
        Pairs expected;
    } rows[] = {
        {{{"HTTP_COOKIE", "q=5; sid=abc"}, {"QUERY_STRING", "q=1&page=%2Fhome"}, {"REQUEST_METHOD", "POST"},
          {"CONTENT_TYPE", "application/x-www-form-urlencoded"}, {"CONTENT_LENGTH", "13"}},
         "q=9&body=a+b",
         {{"q", "5"}, {"sid", "abc"}, {"q", "1"}, {"page", "/home"}, {"q", "9"}, {"body", "a b"}}},
        {{{"QUERY_STRING", "a=1&&b=%41+c&flag&=v&x=1=2&"}}, "",
         {{"a", "1"}, {"", ""}, {"b", "A c"}, {"flag", ""}, {"", "v"}, {"x", "1=2"}}},
        {{{"HTTP_COOKIE", "x=1; y=2 ;%20z = 3"}}, "", {{"x", "1"}, {"y", "2 "}, {" z", " 3"}}},
        {{{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", "text/plain"}, {"CONTENT_LENGTH", "6"}}, "m=%7e%", {{"m", "~%"}}},
        {{{"QUERY_STRING", ""}, {"REQUEST_URI", "/cgi-bin/upgrade.cgi?q=2&x=%41"}}, "", {{"q", "2"}, {"x", "A"}}},
        {{{"QUERY_STRING", ""}, {"REQUEST_URI", "/cgi-bin/upgrade.cgi"}}, "", {}},
        {{{"QUERY_STRING", "q=1"}, {"REQUEST_URI", "/x?q=2"}}, "", {{"q", "1"}}},
        {post("5"), "a=123456", {{"a", "123"}}},
        {post("300002"), "k=" + large + "&extra=1", {{"k", large}}},
        {post("100000"), "short=1", {{"short", "1"}}},
        {post("0"), "ignored", {}},
        {{{"REQUEST_METHOD", "GET"}, {"CONTENT_LENGTH", "3"}}, "a=1", {}},
        {{}, "", {}},
    };
    for (const auto &r : rows) {
        Request request(r.env, r.body);
        EXPECT_EQ(qDecoder(), static_cast<int>(r.expected.size()));
        EXPECT_EQ(form_list(), r.expected);
        EXPECT_EQ(qDecoder(), r.expected.empty() ? 0 : -1);  // a filled list is not decoded again
    }
    {
        Request request(rows[0].env, rows[0].body);
        qDecoder();
        EXPECT_EQ(std::string{qValueType("q")} + qValueType("page") + qValueType("body") + qValueType("none"), "CGP-");
    }
    Request request(Env{{"REQUEST_METHOD", "POST"}}, "a=1");
    EXPECT_EQ(join({_get_query("GET"), _get_query("COOKIE"), _get_query("PUT")}), "<null>|<null>|<null>");
    EXPECT_STOPS(qDecoder(), "_get_query(): Your browser sent a non-HTTP compliant message.");
}

// Multipart parts become values, files add their .length, .filename (the base name), .contenttype.
TEST(Multipart, BodiesAndTheirValueLists) {
    const std::string &d = kDelimiter, long_name(1000, 'n');
    auto part = [&](const std::string &name_etc, const std::string &value) {
        return "Content-Disposition: form-data; name=\"" + name_etc + "\r\n" + value + "\r\n" + d;
    };
    auto file = [](const std::string &name, const std::string &value, const std::string &filename, const char *type) {
        return Pairs{{name, value}, {name + ".length", "1"}, {name + ".filename", filename}, {name + ".contenttype", type},
                     {name + ".errno", "0"}, {name + ".real_length", "1"}};
    };
    Pairs last = file("unix", "U", "/home/u/fw.bin", "text/plain"), win = file("win", "W", "my fw.bin", "");
    last.insert(last.begin(), {{"", "short line"}, {"lower", "lc"}, {"unclosed", "u"}, {long_name.substr(0, 985), "long"}});
    last.insert(last.end(), win.begin(), win.end());
    last.push_back({"dir", "D"});
    const struct {
        std::string body;
        Pairs expected;
    } rows[] = {
        {multipart(kBoundary, {{"mode", "fast", "", ""}, {"img", std::string("ab\0de", 5), "C:\\Users\\me\\fw v2.bin",
                                                          "application/octet-stream"}}),
         {{"mode", "fast"}, {"img", "ab"}, {"img.length", "5"}, {"img.filename", "fw v2.bin"},
          {"img.contenttype", "application/octet-stream"}, {"img.errno", "0"}, {"img.real_length", "5"}}},
        {"\r\n" + d + "\r\n" + part("crlf\"\r\n", "") + "\r\nContent-Disposition: form-data; name=\"direct\"\r\n\r\n" + d +
             "\r\n" + part("file\"; filename=\"empty.txt\"\r\nContent-Type: text/plain\r\n", "") + "--\r\n",
         {{"crlf", ""}, {"direct", ""}, {"file", ""}, {"file.length", "0"}, {"file.filename", "empty.txt"},
          {"file.contenttype", "text/plain"}, {"file.errno", "0"}, {"file.real_length", "0"}}},
        {d + "\r\nContent-Disposition: x\r\n\r\nshort line\r\n" + d + "\r\ncontent-disposition: form-data; name=\"lower\"" +
             "\r\nX-Junk: " + std::string(3000, 'j') + "\r\n\r\nlc\r\n" + d + "\r\n" + part("unclosed\r\n", "u") + "\r\n" +
             part(long_name + "\"; filename=\"ignored.bin\"\r\n", "long") + "\r\n" +
             part("unix\"; filename=\"/home/u/fw.bin\"\r\nCONTENT-TYPE:  text/plain  \r\n", "U") + "\r\n" +
             part("win\"; filename=\"D:\\a b\\c\\  my fw.bin \"\r\n", "W") + "\r\n" +
             part("dir\"; filename=\"C:\\dir\\\"\r\n", "D") + "--\r\n",
         last},
        {multipart(std::string(249, 'b'), {{"f", "x\r\n--" + std::string(248, 'b'), "", ""}}),
         {{"f", "x\r\n--" + std::string(248, 'b')}}},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const std::string boundary = i == 3 ? std::string(249, 'b') : kBoundary + "  ";  // trailing blanks are dropped
        Request r(upload_env(rows[i].body, boundary), rows[i].body);
        qDecoder();
        EXPECT_EQ(form_list(), rows[i].expected) << "row " << i;
    }
    // Cookies and the query come first; the upgrade part runs the script.
    const std::string body = multipart(kBoundary, {{"q", "2", "", ""}, {"upgrade", "data", "fw.bin", ""}});
    Env env = upload_env(body);
    env.insert({{"HTTP_COOKIE", "sid=s1"}, {"QUERY_STRING", "q=1"}});
    Request r(env, body);
    EXPECT_EQ(qDecoder(), 4);
    EXPECT_EQ(counts() + join({qValueFirst("q"), qValueNext()}), "COOKIE = 1 , GET = 1 , POST = 2, NEW = 0\n1|2");
    EXPECT_EQ(read_file(r.root() + "/commands.log"), "/sbin/upgrade.sh > /dev/null 2>&1\n");
}

// Binary values that tempt the delimiter search come back whole, whatever CONTENT_LENGTH says.
TEST(Multipart, BinaryValuesWhateverTheLength) {
    const std::string tempting = tempting_value(), big = binary(3 << 20, 11) + "\r\n" + kDelimiter.substr(0, 12);
    const std::string body = multipart(kBoundary, {{"t", tempting, "t.bin", ""}, {"note", "a\r\nb", "", ""},
                                                   {"big", big, "big.bin", ""}, {"z", "", "", ""}});
    for (std::string length : Strings{std::to_string(body.size()), "", "10", "99999999999", "-5"}) {
        Env env = upload_env(body);
        length.empty() ? (void)env.erase("CONTENT_LENGTH") : (void)(env["CONTENT_LENGTH"] = length);
        Request r(env, body);
        EXPECT_EQ(qDecoder(), 4) << length;
        EXPECT_EQ(held("t", tempting.size()), tempting + '\0');
        EXPECT_TRUE(held("big", big.size()) == big + '\0');
        EXPECT_EQ(join({qValue("note"), qValue("big.length"), qValue("z")}), "a\r\nb|" + std::to_string(big.size()) + "|");
    }
}

// A body read from a pipe in pieces (the headers byte by byte, every byte near a delimiter, blocks elsewhere),
// each written once the one before was read, gives the same values.
TEST(Multipart, AnyChunkingOfThePipeGivesTheSameValues) {
    const std::string tempting = tempting_value(), image = binary(400000, 3);
    const std::string body = multipart(kBoundary, {{"a", "1", "", ""}, {"t", tempting, "t.bin", ""},
                                                   {"img", image, "fw.bin", ""}, {"z", "", "", ""}});
    std::vector<bool> near(body.size() + 1, false);
    for (size_t at = body.find(kDelimiter); at != std::string::npos; at = body.find(kDelimiter, at + 1))
        std::fill(near.begin() + (at >= 4 ? at - 4 : 0), near.begin() + std::min(body.size(), at + kDelimiter.size() + 5),
                  true);
    Request r(upload_env(body));
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    dup2(fds[0], 0);
    std::atomic<bool> done{false};  // the decoder may stop before the end: the writer stops with it
    std::thread writer([&] {
        for (size_t from = 0, to = 1; from < body.size() && !done; from = to++) {
            while (to < body.size() && !(to < 600 || near[to] || to % 3001 == 0)) ++to;
            for (int queued = 1; !done && ioctl(fds[0], FIONREAD, &queued) == 0 && queued > 0;) sched_yield();
            for (ssize_t n; !done && from < to && (n = write(fds[1], body.data() + from, to - from)) > 0;) from += n;
        }
        close(fds[1]);
    });
    EXPECT_EQ(qDecoder(), 4);
    done = true;
    writer.join();
    close(fds[0]);
    EXPECT_EQ(held("t", tempting.size()), tempting + '\0');
    EXPECT_TRUE(held("img", image.size()) == image + '\0');
    EXPECT_EQ(join({qValue("a"), qValue("z")}), "1|");
}

// Broken bodies and headers stop with their message.
TEST(Multipart, BrokenRequestsStop) {
    const std::string &d = kDelimiter, head = d + "\r\nContent-Disposition: form-data; name=\"img\"\r\n\r\n";
    const std::string type = "multipart/form-data; boundary=" + kBoundary, broken = "Broken stream.",
                      non_http = "Your browser sent a non-HTTP compliant message.", invalid = "String format invalid.";
    for (auto [body, content_type, message] : {
             std::tuple{std::string(), type, non_http}, {"\r\n", type, invalid}, {d + "--\r\n", type, broken},
             {"garbage\r\n" + head + "x\r\n" + d + "--\r\n", type, invalid},
             {"\r\n\r\n" + head + "x\r\n" + d + "--\r\n", type, invalid},
             {head + "unclosed value", type, broken}, {head + "x\r\n" + d.substr(0, d.size() - 1), type, broken},
             {d + "\r\nContent-Disposition: form-data; name=\"h\"\r\n", type, broken},
             {head + "x\r\n" + d + "--\r\n", std::string("multipart/form-data"), non_http},
             {head, "multipart/form-data; boundary=" + std::string(250, 'b'),
              std::string("The boundary string is too long. Stopping process.")}}) {
        Request r({{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", content_type}}, body);
        EXPECT_STOPS(qDecoder(), "_parse_multipart_data(): " + message);
    }
}

// Files go to DIR/ADDRESS.TIME.COUNTER-PID when asked, with their sizes and error codes; nothing is left on a stop.
TEST(Multipart, FilesToDisk) {
    const std::string image = binary(200000, 5) + "\r\n" + kDelimiter + "Z", n = std::to_string(image.size());
    std::string body = multipart(kBoundary, {{"q", "1", "", ""}, {"img", image, "fw.bin", "application/octet-stream"},
                                             {"empty", "", "none.bin", ""}, {"small", "tiny", "t.txt", "text/plain"}});
    Env env = upload_env(body);
    env["REMOTE_ADDR"] = "192.168.1.10";
    {
        Request r(env, body);
        fs::create_directory(r.root() + "/up");
        const std::string report = decoded_in_child([] { return qUploadToDisk("/up", 0), qDecoder(); });
        std::vector<std::string> path;
        for (size_t at = report.find("=/up/"); at != std::string::npos; at = report.find("=/up/", at + 1)) {
            path.push_back(report.substr(at + 1, report.find('\n', at) - at - 1));
            EXPECT_TRUE(matches(path.back(), "/up/" + hex_address("192.168.1.10") + "\\.[0-9a-f]+\\." +
                                                 std::to_string(path.size()) + "-[0-9]+"));
        }
        ASSERT_EQ(path.size(), 3u) << report;
        EXPECT_EQ(report, "result=4\nq=1\nimg=" + path[0] + "\nimg.length=" + n + "\nimg.filename=fw.bin\n"
                          "img.contenttype=application/octet-stream\nimg.errno=0\nimg.real_length=" + n + "\n"
                          "empty=" + path[1] + "\nempty.length=0\nempty.filename=none.bin\n"
                          "empty.contenttype=application/octet-stream\nempty.errno=0\nempty.real_length=0\n"
                          "small=" + path[2] + "\nsmall.length=4\nsmall.filename=t.txt\nsmall.contenttype=text/plain\n"
                          "small.errno=0\nsmall.real_length=4\n");
        EXPECT_TRUE(read_file(r.root() + path[0]) == image);
        EXPECT_FALSE(fs::exists(r.root() + path[1]));
    }
    // Per part: over the maximum size (errno 3), or a write that fails (errno 5): no file left.
    body = multipart(kBoundary, {{"a", binary(100000, 1), "a.bin", ""}, {"b", binary(100001, 2), "b.bin", ""},
                                 {"c", "ok", "c.bin", ""}});
    for (auto [limit, fsize, code] : {std::tuple<int, rlim_t, char>{100000, RLIM_INFINITY, '3'}, {0, 100000, '5'}}) {
        Request r(upload_env(body), body);
        fs::create_directory(r.root() + "/up");
        std::string report = decoded_in_child([&, limit = limit, fsize = fsize] {
            signal(SIGXFSZ, SIG_IGN);
            rlimit l{fsize, fsize};
            setrlimit(RLIMIT_FSIZE, &l);
            return qUploadToDisk("/up/", limit), qDecoder();
        });
        const std::string b = "b.length=100001\nb.filename=b.bin\nb.contenttype=application/octet-stream\nb.errno=";
        for (const std::string &tail : Strings{"a.errno=0\na.real_length=100000\n", "c.errno=0\nc.real_length=2\n",
                                               b + code + "\nb.real_length=0\n"})
            EXPECT_NE(report.find("\n" + tail), std::string::npos) << report;
        EXPECT_NE(report.find("\na=/up/" + hex_address("127.0.0.1") + "."), std::string::npos) << report;  // no address
        EXPECT_EQ(std::distance(fs::directory_iterator(r.root() + "/up"), fs::directory_iterator()), 2);
    }
    body = multipart(kBoundary, {{"f", "content", "f.bin", ""}});
    {
        Env named = upload_env(body);
        named["REMOTE_HOST"] = "10.9.8.7";
        Request r(named, body);
        EXPECT_FATAL((qUploadToDisk("/missing", 0), qDecoder()), "Error: _parse_multipart_value_into_disk\\(\\): "
                     "Can not open file /missing/" + hex_address("10.9.8.7") + "\\.[0-9a-f]+\\.1-[0-9]+");
    }
    const std::string cut = body.substr(0, body.size() - 20);
    Request r(upload_env(cut), cut);
    fs::create_directory(r.root() + "/up");
    EXPECT_STOPS((qUploadToDisk("/up", 0), qDecoder()), "_parse_multipart_data(): Broken stream.");
    EXPECT_TRUE(fs::is_empty(r.root() + "/up"));
}

// The file manager keeps three entries per file, runs no upgrade script, and spills large files to one file.
TEST(Multipart, FileManagerKeepsThreeEntriesAndSpillsLargeFiles) {
    auto file_manager = [](const std::string &body) {
        Env env = upload_env(body);
        env["SCRIPT_NAME"] = "/cgi-bin/directory.cgi";
        return env;
    };
    const std::string large = binary(9 << 20, 21) + "\r\n" + kDelimiter.substr(0, 7);
    const struct {
        std::string body;
        Pairs expected;
    } rows[] = {
        {multipart(kBoundary, {{"dir", "/home", "", ""}, {"f", std::string("x\0y", 3), "C:\\f.txt", "text/plain"},
                               {"upgrade", "u", "u.bin", ""}}),
         {{"dir", "/home"}, {"f", "x"}, {"f.length", "3"}, {"f.filename", "f.txt"}, {"f.contenttype", "text/plain"},
          {"upgrade", "u"}, {"upgrade.length", "1"}, {"upgrade.filename", "u.bin"},
          {"upgrade.contenttype", "application/octet-stream"}}},
        {multipart(kBoundary, {{"big", large, "big.iso", ""}, {"g", "second", "g.txt", ""}}),
         {{"big", ""}, {"big.length", std::to_string(large.size())}, {"big.filename", "big.iso"},
          {"big.contenttype", "application/octet-stream"}, {"g", "second"}, {"g.length", "6"}, {"g.filename", "g.txt"},
          {"g.contenttype", "application/octet-stream"}}},
    };
    for (const auto &[body, expected] : rows) {
        Request r(file_manager(body), body);
        EXPECT_EQ(qDecoder(), expected.size() > 8 ? 3 : 2);
        EXPECT_EQ(form_list(), expected);
        const std::string spill = r.root() + "/database/.qUploadFile";
        struct stat st {};
        EXPECT_EQ(stat(spill.c_str(), &st) == 0 ? st.st_mode & 0777 : 0, expected.size() > 8 ? 0u : 0644u);
        EXPECT_TRUE(read_file(spill) == (expected.size() > 8 ? "" : large));
        EXPECT_EQ(read_file(r.root() + "/commands.log"), "");
    }
    const std::string body = multipart(kBoundary, {{"f", "data", "f.txt", ""}});
    for (auto [sent, message] : {std::pair{body.substr(0, body.size() - 10), "Broken stream at end of 'f'."},
                                 {std::string("garbage"), "String format invalid."},
                                 {body, "Can't open upload tmp file!"}}) {
        Request r(file_manager(sent), sent);
        if (sent == body) fs::remove(r.root() + "/database");
        EXPECT_STOPS(qDecoder(), "_parse_multipart_upload(): " + std::string(message));
        EXPECT_FALSE(fs::exists(r.root() + "/database/.qUploadFile"));
    }
}

// Look-ups, defaults, walks by name, replacing, adding and removing values, and their misuse.
TEST(FormValue, LookupsWalksAndEdits) {
    Request r(Env{{"HTTP_COOKIE", "q=5; lang=eng"}, {"QUERY_STRING", "q=1&MULTI_LANG=&n=12x&q=2&item7=seven&t=a-b_c&t=x-y"},
                  {"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "3"}},
              "q=3");
    EXPECT_EQ(join({qValue("item%d", 7), qValue("Q"), qiValue("n"), qValueDefault("eng", "MULTI_LANG"),
                    qValueDefault("x", "q"), qValueNotEmpty("needed", "lang"), qCookieValue("lang"), qCookieValue("n")}),
              "seven|<null>|12|eng|5|eng|eng|<null>");  // decoded on first use
    std::string walk = qValueFirst("%s", "q");
    while (const char *v = qValueNext()) walk += std::string("|") + v;
    EXPECT_EQ(join({walk.c_str(), qValueFirst("none")}), "5|1|2|3|<null>");
    char *fresh = qValueReplace("tn", "t", "-_", "");
    EXPECT_EQ(join({fresh, qValueReplace("tr", "t", "-", "+"), qValueFirst("t"), qValueNext(),
                    qValueReplace("sr", "none", "a", "b"), qValueAdd("added", "%d-%s", 7, "x"), qValueType("added"),
                    qValueAdd("fresh", "v"), qValueFirst("q")}),
              "abc|a+b_c|a+b_c|x+y|<null>|7-x|N|v|5");
    free(fresh);
    qValueRemove("q");
    EXPECT_EQ(qValueNext(), nullptr);  // removing the walked name ends the walk
    qValueRemove("t");
    EXPECT_EQ(counts(), "COOKIE = 1 , GET = 6 , POST = 1, NEW = 2\n");
    qResetContentFlag();
    EXPECT_EQ(captured_stdout([] { qValuePrint(); }).substr(0, 43), "Content-Type: text/html\n\n'lang' = 'eng'<br>");
    qFree();
    EXPECT_STREQ(qValue("q"), "5");  // decoded again after qFree
    const std::string too_long = "(): Message is too long or invalid.", name(1024, 'n');
    const char *n = name.c_str();
    for (auto [call, message] : std::vector<std::pair<std::function<void()>, std::string>>{
             {[&] { qValue("%s", n); }, "qValue" + too_long}, {[&] { qiValue("%s", n); }, "qiValue" + too_long},
             {[&] { qValueDefault("d", "%s", n); }, "qValueDefault" + too_long},
             {[&] { qValueFirst("%s", n); }, "qValueFirst" + too_long},
             {[&] { qValueRemove("%s", n); }, "qSessionRemove" + too_long},
             {[&] { qValueAdd("n", "%s", n); }, "qValueAdd" + too_long},
             {[&] { qValueNotEmpty("e", "%s", n); }, "qValueNotEmpty" + too_long},
             {[&] { qValueType("%s", n); }, "qValue" + too_long}, {[&] { qCookieValue("%s", n); }, "qValue" + too_long},
             {[] { qValueNotEmpty("Choose a file.", "MULTI_LANG"); }, "Choose a file."},
             {[] { qValueAdd("", "v"); }, "qValueAdd(): can not add empty name."},
             {[] { qValueRemove("%s", ""); }, "qValueRemove(): can not remove empty name."},
             {[] { qValueReplace("rn", "x", "1", "2"); }, "qValueReplace(): Unknown mode \"rn\"."}})
        EXPECT_STOPS(call(), message);
}

// The circular list (and its queue use) and the root-insertion search tree.
using Numbers = std::vector<intptr_t>;
void *item(intptr_t n) { return reinterpret_cast<void *>(n); }
intptr_t number(const void *data) { return reinterpret_cast<intptr_t>(data); }
int same(const void *data, const void *key) { return data == key ? 0 : 1; }

// Head to tail through ll_get; the ends, the count and the closed circle agree.
Numbers contents(ll_list *list) {
    Numbers seen;
    ll_node *cursor = nullptr;
    for (void *data; seen.size() <= ll_count(list) && (data = ll_get(list, &cursor, 1));) seen.push_back(number(data));
    EXPECT_EQ(seen.size(), ll_count(list));
    if (!seen.empty()) {
        EXPECT_EQ(Numbers({number(ll_head(list)), number(ll_tail(list)), number(list->tail->next->data)}),
                  Numbers({seen.front(), seen.back(), seen.front()}));
    }
    return seen;
}

ll_list *list_of(const Numbers &numbers) {
    ll_list *list = ll_init();
    for (intptr_t n : numbers) ll_append(list, item(n));
    return list;
}

// Both ends, finding, deleting and swapping by key, walks that stop, and the null list.
TEST(LinkedList, EndsFindDeleteSwapAndTraverse) {
    ll_list *list = list_of({1, 2});
    ll_prepend(list, item(7));
    EXPECT_EQ(contents(list), (Numbers{7, 1, 2}));
    EXPECT_EQ(Numbers({number(dq_pop(list)), number(ll_delete_tail(list)), number(ll_delete_tail(list)),
                       number(ll_tail(list)), number(dq_pop(list)), number(ll_delete_tail(list)), ll_empty(list)}),
              (Numbers{7, 2, 1, 0, 0, 0, 1}));
    ll_free(list);
    list = list_of({4, 5, 4, 6});
    auto even = [](const void *d, const void *) { return number(d) % 2 ? 1 : 0; };
    EXPECT_EQ(Numbers({number(ll_find(list, nullptr, 1, even)), number(ll_find(list, item(8), 1, same)),
                       number(ll_delete(list, item(4), same)), number(ll_delete(list, item(6), same)),
                       number(ll_delete(list, item(8), same))}),
              (Numbers{4, 0, 4, 6, 0}));
    EXPECT_EQ(contents(list), (Numbers{5, 4}));  // the tail moved back
    ll_free(list);
    // Swaps: the list before, the two keys, the list after, the result.
    for (auto [before, a, b, after, result] : {
             std::tuple<Numbers, int, int, Numbers, int>{{1, 2, 3}, 1, 3, {3, 2, 1}, 0}, {{1, 2, 3}, 3, 1, {3, 2, 1}, 0},
             {{1, 2, 3, 4}, 2, 3, {1, 3, 2, 4}, 0}, {{1, 2, 3, 4}, 3, 2, {1, 3, 2, 4}, 0},
             {{1, 2, 3, 4}, 4, 1, {4, 2, 3, 1}, 0}, {{1, 2}, 2, 1, {2, 1}, 0}, {{1, 2, 3}, 2, 2, {1, 2, 3}, 0},
             {{5}, 5, 5, {5}, 0}, {{1, 2}, 1, 3, {1, 2}, -1}, {{}, 1, 1, {}, -1}}) {
        list = list_of(before);
        EXPECT_EQ(ll_swapline(list, item(a), item(b), 1, same), result);
        EXPECT_EQ(contents(list), after) << a << " with " << b;
        ll_free(list);
    }
    // A walk stops where the visit says so; the walk holds the mutex, so the unlocked calls work inside.
    struct Walk {
        ll_list *list;
        Numbers seen;
        void *stop_at;
    } w{list_of({1, 2, 3}), {}, item(2)};
    auto visit = [](void *data, void *walk) {
        auto *w = static_cast<Walk *>(walk);
        ll_node *cursor = nullptr;
        w->seen.push_back(number(data) + number(ll_get(w->list, &cursor, 0)) - number(ll_find(w->list, data, 0, same)));
        return data == w->stop_at ? 0 : 1;
    };
    EXPECT_EQ(ll_traverse(w.list, 1, visit, &w), 0);
    w.stop_at = nullptr;
    EXPECT_EQ(ll_traverse(w.list, 1, visit, &w), 1);
    EXPECT_EQ(w.seen, (Numbers{1, 1, 1, 1, 1}));
    ll_free(w.list);
    EXPECT_EQ(Numbers({intptr_t(ll_count(nullptr)), number(ll_append(nullptr, item(1))),
                       number(ll_get(nullptr, nullptr, 1)), number(dq_pop(nullptr))}),
              Numbers(4, 0));
}

// Two threads at the two ends keep each end's order; a consumer popping while another appends gets each item once.
TEST(LinkedList, ThreadsShareOneQueue) {
    constexpr intptr_t kEach = 50000;
    ll_list *list = ll_init();
    std::thread back([&] { for (intptr_t n = 1; n <= kEach; ++n) ll_append(list, item(n)); });
    std::thread front([&] { for (intptr_t n = 1; n <= kEach; ++n) ll_prepend(list, item(-n)); });
    back.join(), front.join();
    Numbers all = contents(list), expected, taken;
    for (intptr_t n = -kEach; n <= kEach; ++n) if (n) expected.push_back(n);  // -kEach first: the last prepended
    std::stable_partition(all.begin(), all.end(), [](intptr_t n) { return n < 0; });
    EXPECT_TRUE(all == expected);
    std::thread consumer([&] {
        while (taken.size() < static_cast<size_t>(3 * kEach)) if (void *d = dq_pop(list)) taken.push_back(number(d));
    });
    for (intptr_t n = 1; n <= kEach; ++n) ll_append(list, item(kEach + n));
    consumer.join();
    std::sort(taken.begin(), taken.end());
    EXPECT_TRUE(ll_empty(list) && taken.size() == static_cast<size_t>(3 * kEach) &&
                std::adjacent_find(taken.begin(), taken.end()) == taken.end() && taken.front() == -kEach &&
                taken.back() == 2 * kEach);
    ll_free(list);
}

int by_key(const void *a, const void *b) {
    const int x = *static_cast<const int *>(a), y = *static_cast<const int *>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}
int key(const void *data) { return *static_cast<const int *>(data); }
int collect(void *data, void *seen) { return static_cast<std::vector<int> *>(seen)->push_back(key(data)), 1; }
std::vector<int> walk(bt_tree *tree, int order) {
    std::vector<int> seen;
    bt_traverse(tree, 1, order, collect, &seen);
    return seen;
}
// The shape as text: (left key right).
std::string shape(const bt_node *node) {
    return node ? "(" + shape(node->left) + " " + std::to_string(key(node->data)) + " " + shape(node->right) + ")" : "-";
}
// A small tree's shape, ends, every walk order, walks that stop, and the null tree.
TEST(BinaryTree, ShapeWalksAndStops) {
    int keys[] = {5, 3, 8, 5};  // an equal key goes to the right before rising
    bt_tree *tree = bt_init(by_key);
    EXPECT_EQ(Numbers({bt_height(tree), number(bt_min(tree)), bt_empty(tree)}), (Numbers{0, 0, 1}));
    for (int &k : keys) EXPECT_EQ(bt_add(tree, &k), tree);
    EXPECT_EQ(shape(tree->root), "((- 3 (- 5 -)) 5 (- 8 -))");
    EXPECT_EQ(Numbers({intptr_t(bt_count(tree)), bt_height(tree), key(bt_min(tree)), key(bt_max(tree))}),
              (Numbers{4, 3, 3, 8}));
    const std::vector<std::vector<int>> orders{{}, {5, 3, 5, 8}, {3, 5, 5, 8}, {5, 3, 8, 5}, {5, 3, 8, 5}, {8, 5, 5, 3}, {}};
    for (int order = -1; order < 6; ++order) EXPECT_EQ(walk(tree, order), orders[order + 1]) << order;
    // A visit that stops at a 5 ends the walk and names its item; the level walk does not.
    auto until_five = [](void *data, void *seen) { return collect(data, seen), key(data) == 5 ? 0 : 1; };
    const void *stopped_at[] = {&keys[3], &keys[0], &keys[0], nullptr, &keys[3]};
    for (int order : {0, 1, 2, 3, 4}) {
        std::vector<int> seen;
        EXPECT_EQ(bt_traverse(tree, 1, order, until_five, &seen), stopped_at[order]) << order;
        EXPECT_EQ(seen.back(), 5);
    }
    bt_free(tree);
    EXPECT_EQ(Numbers({intptr_t(bt_count(nullptr)), bt_height(nullptr), number(bt_add(nullptr, keys)),
                       number(bt_find(nullptr, keys, 1))}),
              Numbers(4, 0));
}

// Deleting leaves, inner nodes with one or two children and the root keeps the in-order walk.
TEST(BinaryTree, DeletionKeepsTheOrder) {
    int some[] = {50, 30, 70, 20, 40, 60, 80, 35, 45, 65}, missing = 55;
    std::vector<int> left{20, 30, 35, 40, 45, 50, 60, 65, 70, 80};
    bt_tree *tree = bt_init(by_key);
    for (int &k : some) bt_add(tree, &k);
    EXPECT_EQ(bt_delete(tree, &missing), nullptr);
    for (int k : {65, 40, 20, 70, 50, 80, 35, 30, 45, 60}) {
        const void *found = bt_find(tree, &k, 1);
        EXPECT_EQ(bt_delete(tree, &k), found ? found : &missing) << k;
        left.erase(std::find(left.begin(), left.end(), k));
        EXPECT_EQ(walk(tree, 1), left) << "after " << k;
        EXPECT_EQ(bt_count(tree), left.size());
    }
    EXPECT_TRUE(bt_empty(tree));
    bt_free(tree);
}

// A chain of 200,000 sorted keys survives every walk and a delete (no recursion down it); two threads adding,
// then one deleting while another adds again, leave every key once.
TEST(BinaryTree, LongChainsAndTwoThreads) {
    constexpr int kItems = 200000, kEach = 20000;
    std::vector<int> keys(kItems);
    bt_tree *tree = bt_init(by_key);
    for (int i = 0; i < kItems; ++i) bt_add(tree, &(keys[i] = i));
    EXPECT_EQ(bt_height(tree), kItems);
    for (int order : {0, 1, 2, 3, 4}) EXPECT_EQ(walk(tree, order).size(), static_cast<size_t>(kItems)) << order;
    EXPECT_EQ(bt_delete(tree, &keys[0]), &keys[0]);
    bt_free(tree);
    std::vector<int> expected(2 * kEach), again(kEach);
    for (int i = 0; i < 2 * kEach; ++i) expected[i] = i;
    keys = expected;
    std::shuffle(keys.begin(), keys.end(), std::mt19937(3));
    tree = bt_init(by_key);
    auto add_half = [&](int half) { for (int i = half * kEach; i < (half + 1) * kEach; ++i) bt_add(tree, &keys[i]); };
    std::thread first(add_half, 0), second(add_half, 1);
    first.join(), second.join();
    EXPECT_TRUE(walk(tree, 1) == expected);
    std::thread remover([&] { for (int k = 0; k < 2 * kEach; k += 2) EXPECT_NE(bt_delete(tree, &k), nullptr); });
    std::thread adder([&] { for (int i = 0; i < kEach; ++i) bt_add(tree, &(again[i] = 2 * i)); });
    remover.join(), adder.join();
    EXPECT_TRUE(bt_count(tree) == static_cast<uint32_t>(2 * kEach) && walk(tree, 1) == expected);
    bt_free(tree);
}

}  // namespace
