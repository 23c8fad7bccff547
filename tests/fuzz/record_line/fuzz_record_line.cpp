// A configuration record turned into its line, stored in a handle of its
// record file, read back and parsed, then stored and read again: the second reading
// equals the first, its line is the first line, and every field that needs
// no escaping comes back exactly.  The upgrade timing module's own record
// goes the same way through its table.
// Input: 8 bytes of two numbers, then a name, a line "%%" and a word.
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "system/module.h"
#include "webadmin.h"

namespace {

constexpr int kFile = 183;  // any numbered record file of the appliance

struct Record {
    char name[64];
    char word[32];
    int32_t first;
    int32_t second;
};

std::string format(const Record &r) {
    return module::line().name(r.name).text(r.word).number(r.first).quoted_number(r.second).str();
}

void *parse(char *line, void *rec) {
    auto &r = *static_cast<Record *>(rec);
    module::fields f(line);
    f.text(0, r.name);
    f.text(1, r.word);
    r.first = f.integer(2);
    r.second = f.integer(3);
    return rec;
}

// An empty handle of the record file (the file is never there, so nothing
// is read or written back): the lines live in the handle as a file holds
// them, one line of text each.
record_file *empty_handle() {
    record_file *h = module::open_file(kFile, "fuzz", 0);
    fuzz::require(h && h->count == 0, "no empty handle");
    return h;
}

// Stores rec as a line, then reads it back.
Record store_and_read(const Record &rec) {
    record_file *h = empty_handle();
    Record copy = rec;
    fuzz::require((module::add<Record, format>(h, &copy)) == 0, "line not added");
    const char *text = my_GetNumData(h, 1);
    fuzz::require(text && !std::strpbrk(text, "\r\n") && std::strlen(text) <= RECORD_LINE_MAX,
                  "a line that would not read back from a file as one line");
    Record back{};
    fuzz::require(module::read_number(h, &back, 1, parse) != nullptr, "line not read back");
    module::close_file(&h);
    return back;
}

bool plain(const char *text) {
    return std::strpbrk(text, "\r\n\"\\") == nullptr && std::strstr(text, "<br>") == nullptr &&
           std::strstr(text, "//n") == nullptr;
}

void timing_round_trip(int32_t start, int32_t end) {
    module_table *table = upgrade_info_register();
    fuzz::require(table != nullptr, "no timing table");
    record_file *h = empty_handle();
    upgrade_info_record rec{static_cast<uint32_t>(start), static_cast<uint32_t>(end)};
    fuzz::require(table->modify(h, &rec, 1) == 0, "timing record not stored");
    upgrade_info_record back{};
    fuzz::require(table->getnum(h, &back, 1) != nullptr, "timing record not read back");
    table->close(&h);
    upgrade_info_unregister(table);
    fuzz::require(std::memcmp(&back, &rec, sizeof rec) == 0, "timing record changed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 8) return 0;
    Record rec{};
    std::memcpy(&rec.first, data, 4);
    std::memcpy(&rec.second, data + 4, 4);
    std::vector<std::string_view> pieces = fuzz::split(std::string_view(reinterpret_cast<const char *>(data + 8), size - 8), "%%");
    std::string name(pieces[0].substr(0, pieces[0].find('\0')));
    std::string word(pieces.size() > 1 ? pieces[1].substr(0, pieces[1].find('\0')) : std::string_view(module::kUnset));
    module::set_text(rec.name, name.c_str());
    module::set_text(rec.word, word.c_str());

    Record once = store_and_read(rec);
    Record twice = store_and_read(once);
    fuzz::require(std::memcmp(&once, &twice, sizeof once) == 0, "a record read, written and read again changed");
    fuzz::require(format(once) == format(rec) || !plain(rec.name) || !plain(rec.word), "line changed by a round trip");
    fuzz::require(once.first == rec.first && once.second == rec.second, "numbers changed");
    if (plain(rec.name)) fuzz::require(std::strcmp(once.name, rec.name) == 0, "plain name changed");
    if (plain(rec.word)) fuzz::require(std::strcmp(once.word, rec.word) == 0, "plain word changed");

    timing_round_trip(rec.first, rec.second);
    fuzz::remove_path("/commands.log");
    return 0;
}
