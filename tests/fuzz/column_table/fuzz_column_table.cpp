// Column table files (the theme and capacity tables): read_parameter, and
// my_systemInfo, which reads both tables for the product in system.info.
// Input: a first line "ID ROWS ROW_SIZE" (ID hexadecimal), then the file.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "webadmin.h"

namespace {

constexpr char kUntouched = 0x55;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view input(reinterpret_cast<const char *>(data), size);
    std::string head(fuzz::take_line(input));
    unsigned int id = 0, rows = 0, row_size = 0;
    std::sscanf(head.c_str(), "%x %u %u", &id, &rows, &row_size);
    rows = rows % 64 + 1;
    row_size = row_size % 64 + 1;

    fuzz::write_file("/etc/fuzz.info", input);
    std::vector<char> buf(rows * row_size, kUntouched);
    int n = read_parameter("/etc/fuzz.info", buf.data(), static_cast<int>(rows), static_cast<int>(row_size), id);
    fuzz::require(n >= 0 && static_cast<unsigned>(n) <= rows, "rows outside 0 to max");
    for (unsigned r = 0; r < rows; ++r) {
        const char *row = buf.data() + r * row_size;
        fuzz::require(row[row_size - 1] == kUntouched, "last byte of a row written");
        if (r >= static_cast<unsigned>(n))
            for (unsigned i = 0; i < row_size; ++i) fuzz::require(row[i] == kUntouched, "row past the count written");
    }

    // The same file as both tables of the product whose id the record holds.
    system_info_record record{};
    std::snprintf(record.product_id, sizeof record.product_id, "%x", id);
    fuzz::write_file("/etc/system.info", std::string_view(reinterpret_cast<const char *>(&record), sizeof record));
    fuzz::write_file("/etc/html.info", input);
    fuzz::write_file("/etc/entry.info", input);
    std::memset(html_fmt, 0, sizeof html_fmt);
    std::memset(entry_num, 0, sizeof entry_num);
    char info[sizeof(system_info_record)];
    my_systemInfo(info);
    for (const auto &row : html_fmt) fuzz::require(row[sizeof row - 1] == '\0', "theme entry not terminated");
    for (const auto &row : entry_num) fuzz::require(row[sizeof row - 1] == '\0', "capacity entry not terminated");
    return 0;
}
