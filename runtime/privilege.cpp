// The privilege table: one privilege byte per web user and administration
// function, in a segment that the user administration programs fill and
// every CGI reads.  The cookie hook of the login layer lives here too.
#include <string.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>

#include "runtime/shared_segment.h"
#include "webadmin.h"

namespace {

constexpr key_t kPrivilegeKey = 0x20130131;
constexpr size_t kPrivilegeSegmentSize = 19280;

// The segment as every program of the appliance lays it out.
struct privilege_segment {
    unsigned char lock[runtime::kSegmentLockSize];
    int32_t count;
    privilege_record records[PRIV_MAX_USERS];
};
static_assert(sizeof(privilege_record) == 385);
static_assert(offsetof(privilege_segment, count) == 24);
static_assert(offsetof(privilege_segment, records) == 28);
static_assert(sizeof(privilege_segment) <= kPrivilegeSegmentSize);
static_assert(offsetof(privilege_image, records) == offsetof(privilege_segment, records) - 24);

// Where each administration function keeps its byte: functions added over
// the years took free positions, so the mapping is a list of runs.
struct run {
    int first_function, last_function, first_position;
};
constexpr run kRuns[] = {
    {0, 7, 0},       {8, 8, 188},     {9, 15, 8},      {16, 16, 282},   {17, 17, 190},   {18, 24, 15},
    {25, 25, 245},   {26, 40, 22},    {41, 41, 244},   {42, 50, 37},    {51, 51, 276},   {52, 53, 286},
    {54, 55, 283},   {56, 56, 252},   {57, 58, 46},    {59, 59, 275},   {60, 67, 48},    {68, 69, 58},
    {70, 70, 250},   {71, 71, 281},   {72, 73, 60},    {74, 127, 71},   {128, 137, 178}, {138, 138, 247},
    {139, 143, 253}, {144, 144, 249}, {145, 148, 258}, {149, 149, 263}, {150, 153, 277}, {154, 156, 265},
    {157, 157, 285}, {158, 163, 268}, {164, 164, 155}, {165, 165, 251}, {166, 167, 237}, {168, 168, 235},
    {169, 169, 233}, {170, 170, 156}, {171, 171, 128}, {172, 172, 241}, {173, 174, 129}, {175, 175, 189},
    {176, 176, 131}, {177, 185, 62},  {186, 188, 125}, {189, 189, 264}, {190, 202, 132}, {203, 204, 239},
    {205, 214, 145}, {215, 221, 157}, {222, 222, 246}, {223, 236, 164}, {237, 237, 242},
};

constexpr std::array<int, PRIV_FUNCTIONS> make_positions() {
    std::array<int, PRIV_FUNCTIONS> positions{};
    for (int &p : positions) p = -1;
    for (const run &r : kRuns)
        for (int f = r.first_function; f <= r.last_function; ++f) positions[f] = r.first_position + (f - r.first_function);
    return positions;
}
constexpr std::array<int, PRIV_FUNCTIONS> kPositions = make_positions();

// Every function has exactly one position, and no two share one.
constexpr bool positions_are_a_mapping() {
    std::array<bool, PRIV_POSITIONS> taken{};
    for (int p : kPositions) {
        if (p < 0 || p >= PRIV_POSITIONS || taken[p]) return false;
        taken[p] = true;
    }
    return true;
}
static_assert(positions_are_a_mapping());

// The positions no function reaches: 56, 57, 191-232, 234, 236, 243, 248,
// 262, 274 and 288-299.
constexpr bool unreached_positions_are_known() {
    std::array<bool, PRIV_POSITIONS> unreached{};
    for (bool &u : unreached) u = true;
    for (int p : kPositions) unreached[p] = false;
    std::array<bool, PRIV_POSITIONS> expected{};
    for (int p : {56, 57, 234, 236, 243, 248, 262, 274}) expected[p] = true;
    for (int p = 191; p <= 232; ++p) expected[p] = true;
    for (int p = 288; p < PRIV_POSITIONS; ++p) expected[p] = true;
    return unreached == expected;
}
static_assert(unreached_positions_are_known());

std::string_view user_of(const privilege_record &record) {
    return std::string_view(record.user, strnlen(record.user, sizeof record.user));
}

bool by_user(const privilege_record &a, const privilege_record &b) { return user_of(a) < user_of(b); }

privilege_segment *segment() {
    try {
        return static_cast<privilege_segment *>(runtime::attach_segment(kPrivilegeKey, kPrivilegeSegmentSize));
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

// The user's record in a locked segment, or null.
privilege_record *find_user(privilege_segment &table, std::string_view user) {
    int count = std::clamp<int32_t>(table.count, 0, PRIV_MAX_USERS);
    privilege_record *end = table.records + count;
    privilege_record *found = std::partition_point(table.records, end, [user](const privilege_record &r) {
        return user_of(r) < user;
    });
    return (found != end && user_of(*found) == user) ? found : nullptr;
}

// Reads, or with a value stores, the byte at a position of the user's record.
int access_byte(int position, const char *user, const int *value) {
    if (!user || position < 0 || position >= PRIV_POSITIONS) return 0;
    privilege_segment *table = segment();
    if (!table) return 0;
    runtime::SegmentLock lock(table);
    privilege_record *record = find_user(*table, user);
    if (!record) return 0;
    if (value) record->priv[position] = static_cast<unsigned char>(*value);
    return record->priv[position];
}

int function_position(int func) { return (func >= 0 && func < PRIV_FUNCTIONS) ? kPositions[func] : -1; }

}  // namespace

// The web server authenticates; a CGI has nothing to add to its cookies.
extern "C" void my_setcookie(void) {}

extern "C" int my_func_privilege_name(int func, const char *user) {
    return access_byte(function_position(func), user, nullptr);
}

extern "C" int my_func_privilege_set(int func, const char *user, int value) {
    return access_byte(function_position(func), user, &value);
}

extern "C" int my_privilege_name(int pos, const char *user) { return access_byte(pos, user, nullptr); }

extern "C" int my_privilege_set(int pos, const char *user, int value) { return access_byte(pos, user, &value); }

extern "C" int my_privilege_load(privilege_image *image) {
    if (!image || image->count < 0 || image->count > PRIV_MAX_USERS) return -1;
    privilege_segment *table = segment();
    if (!table) return -1;
    std::sort(image->records, image->records + image->count, by_user);
    runtime::SegmentLock lock(table);
    // Everything after the lock area is cleared: the lock itself is held.
    memset(reinterpret_cast<unsigned char *>(table) + runtime::kSegmentLockSize, 0,
           kPrivilegeSegmentSize - runtime::kSegmentLockSize);
    table->count = image->count;
    memcpy(table->records, image->records, sizeof(privilege_record) * static_cast<size_t>(image->count));
    for (int i = 0; i < image->count; ++i) table->records[i].user[PRIV_USER_SIZE - 1] = '\0';
    return 0;
}
