// The language-file loaders: a page's "common" and group files into a
// table of placeholders, numbered string lists into fixed rows, and the
// table used on a text.
// Input: the common file, a line "%%", the group file, a line "%%", a text
// to translate whose first line is also a language code to load.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "webadmin.h"

namespace {

constexpr char kUntouched = 0x55;

FILE *null_output() {
    static FILE *out = std::fopen("/dev/null", "w");
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::string_view> pieces =
        fuzz::split(std::string_view(reinterpret_cast<const char *>(data), size), "%%");
    while (pieces.size() < 3) pieces.emplace_back();
    fuzz::write_file("/etc/language/fz/common", pieces[0]);
    fuzz::write_file("/etc/language/fz/page", pieces[1]);
    std::string text(pieces[2]);
    std::string_view rest = pieces[2];
    std::string code(fuzz::take_line(rest));

    // A table of the caller's own, so the library's default table stays out.
    q_entry *table = qSedArgAdd(nullptr, "${fuzz}", "%s", "own");
    load_my_language("fz", "page", &table);
    load_static_language("fz", "common", &table);
    load_my_language(code.c_str(), "page", &table);
    fuzz::require(std::strlen(icons_path) < sizeof icons_path, "icons path not terminated");
    for (q_entry *e = table; e; e = e->next)
        fuzz::require(e->name[0] == '$' && e->name[1] == '{', "key not a placeholder");
    Name2Str(&table, code.c_str());
    qSedStr(table, text.c_str(), null_output());

    // Numbered strings: rows as small as a caller may pass.
    int row_size = size ? data[0] % 48 + 1 : 1;
    int max_rows = 16;
    std::vector<char> rows(static_cast<std::size_t>(row_size * max_rows), kUntouched);
    int filled = load_language("fz", "page", rows.data(), max_rows, row_size, &table);
    fuzz::require(filled >= 0 && filled <= max_rows, "rows outside 0 to max");
    for (int r = 0; r < max_rows; ++r)
        fuzz::require(rows[static_cast<std::size_t>(r * row_size + row_size - 1)] == kUntouched,
                      "last byte of a row written");
    qSedArgFree(table);
    return 0;
}
