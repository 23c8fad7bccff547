#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/capture.h"
#include "support/sandbox.h"
#include "support/temp_root.h"
#include "webadmin.h"

namespace {

using testing_support::Sandbox;

constexpr key_t kPrivilegeKey = 0x20130131;
constexpr size_t kSegmentSize = 19280;

// The function-to-position table as the administrators' documentation
// writes it.
constexpr char kDocumentedMapping[] =
    "0-7>0-7, 8>188, 9-15>8-14, 16>282, 17>190, 18-24>15-21, 25>245, 26-40>22-36, 41>244, "
    "42-50>37-45, 51>276, 52-53>286-287, 54-55>283-284, 56>252, 57-58>46-47, 59>275, 60-67>48-55, "
    "68-69>58-59, 70>250, 71>281, 72-73>60-61, 74-127>71-124, 128-137>178-187, 138>247, "
    "139-143>253-257, 144>249, 145-148>258-261, 149>263, 150-153>277-280, 154-156>265-267, 157>285, "
    "158-163>268-273, 164>155, 165>251, 166-167>237-238, 168>235, 169>233, 170>156, 171>128, "
    "172>241, 173-174>129-130, 175>189, 176>131, 177-185>62-70, 186-188>125-127, 189>264, "
    "190-202>132-144, 203-204>239-240, 205-214>145-154, 215-221>157-163, 222>246, 223-236>164-177, "
    "237>242";

// Each item is "a>c" or "a-b>c-d".
std::vector<int> documented_positions() {
    std::vector<int> positions(PRIV_FUNCTIONS, -1);
    std::string text = kDocumentedMapping;
    for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.find(", ", start), text.size());
        std::string item = text.substr(start, end - start);
        start = end + 2;
        int first, last, position, position_last;
        if (sscanf(item.c_str(), "%d-%d>%d-%d", &first, &last, &position, &position_last) != 4) {
            if (sscanf(item.c_str(), "%d>%d", &first, &position) != 2) {
                ADD_FAILURE() << "unreadable item " << item;
                continue;
            }
            last = first;
            position_last = position;
        }
        EXPECT_EQ(last - first, position_last - position) << item;
        for (int f = first; f <= last; ++f) positions.at(f) = position + (f - first);
    }
    return positions;
}

privilege_record record(const std::string &user, unsigned char fill) {
    privilege_record r{};
    snprintf(r.user, sizeof r.user, "%s", user.c_str());
    memset(r.priv, fill, sizeof r.priv);
    return r;
}

}  // namespace

TEST(Privilege, EveryFunctionReachesItsDocumentedPosition) {
    Sandbox box;
    std::vector<int> positions = documented_positions();
    ASSERT_EQ(std::count(positions.begin(), positions.end(), -1), 0);
    static privilege_image image{};
    image.count = 1;
    image.records[0] = record("mapper", 0);
    ASSERT_EQ(my_privilege_load(&image), 0);

    for (int func = 0; func < PRIV_FUNCTIONS; ++func) {
        ASSERT_EQ(my_func_privilege_set(func, "mapper", 0x40 | (func & 0x3f)), 0x40 | (func & 0x3f));
        EXPECT_EQ(my_privilege_name(positions[func], "mapper"), 0x40 | (func & 0x3f)) << "function " << func;
        EXPECT_EQ(my_func_privilege_name(func, "mapper"), 0x40 | (func & 0x3f));
    }
    // Positions no function reaches keep their byte.
    for (int pos = 0; pos < PRIV_POSITIONS; ++pos) {
        if (std::find(positions.begin(), positions.end(), pos) == positions.end()) {
            EXPECT_EQ(my_privilege_name(pos, "mapper"), 0) << "position " << pos;
        }
    }
}

TEST(Privilege, LookupsRefuseWhatTheyCannotFind) {
    Sandbox box;  // boots with admin (all 3) and viewer (function 5 set to 1)
    EXPECT_EQ(my_func_privilege_name(5, "admin"), 3);
    EXPECT_EQ(my_func_privilege_name(5, "viewer"), 1);
    EXPECT_EQ(my_func_privilege_name(6, "viewer"), 0);
    EXPECT_EQ(my_func_privilege_name(5, nullptr), 0);
    EXPECT_EQ(my_func_privilege_name(5, "Admin"), 0);
    EXPECT_EQ(my_func_privilege_name(5, "admi"), 0);
    EXPECT_EQ(my_func_privilege_name(5, "admin "), 0);
    EXPECT_EQ(my_func_privilege_name(5, ""), 0);
    EXPECT_EQ(my_func_privilege_name(238, "admin"), 0);
    EXPECT_EQ(my_func_privilege_name(-1, "admin"), 0);
    EXPECT_EQ(my_privilege_name(299, "admin"), 3);
    EXPECT_EQ(my_privilege_name(300, "admin"), 0);
    EXPECT_EQ(my_privilege_name(-1, "admin"), 0);
    EXPECT_EQ(my_func_privilege_name(5, std::string(200, 'a').c_str()), 0);

    EXPECT_EQ(my_func_privilege_set(5, "nobody", 3), 0);
    EXPECT_EQ(my_func_privilege_set(238, "admin", 1), 0);
    EXPECT_EQ(my_privilege_set(300, "admin", 1), 0);
    EXPECT_EQ(my_privilege_set(10, "admin", 0x1ff), 0xff);  // one byte is stored
    EXPECT_EQ(my_privilege_name(10, "admin"), 0xff);
    EXPECT_EQ(my_privilege_set(10, nullptr, 1), 0);
}

TEST(Privilege, LoadSortsTheImageAndReplacesTheTable) {
    Sandbox box;
    static privilege_image image{};
    std::vector<std::string> users;
    for (int i = 0; i < PRIV_MAX_USERS; ++i) users.push_back("user" + std::to_string(i * 37 % 101));
    users[7] = "Zed";  // upper case sorts before lower case, byte by byte
    users[8] = "\xc3\xa9lise";
    std::vector<std::string> shuffled = users;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(42));
    image.count = PRIV_MAX_USERS;
    for (int i = 0; i < PRIV_MAX_USERS; ++i)
        image.records[i] = record(shuffled[i], static_cast<unsigned char>(i + 1));
    ASSERT_EQ(my_privilege_load(&image), 0);

    for (int i = 1; i < PRIV_MAX_USERS; ++i)
        EXPECT_LT(strcmp(image.records[i - 1].user, image.records[i].user), 0) << "the caller's image is sorted";
    for (int i = 0; i < PRIV_MAX_USERS; ++i)
        EXPECT_EQ(my_privilege_name(0, shuffled[i].c_str()), i + 1) << shuffled[i];
    EXPECT_EQ(my_func_privilege_name(5, "admin"), 0) << "the boot's users are gone";

    // The segment's own layout: count at 24, records of 385 bytes from 28.
    int id = shmget(platform::ipc_key(kPrivilegeKey), kSegmentSize, 0);
    ASSERT_GE(id, 0);
    auto *raw = static_cast<unsigned char *>(shmat(id, nullptr, SHM_RDONLY));
    ASSERT_NE(raw, reinterpret_cast<unsigned char *>(-1));
    int32_t count;
    memcpy(&count, raw + 24, sizeof count);
    EXPECT_EQ(count, PRIV_MAX_USERS);
    EXPECT_STREQ(reinterpret_cast<char *>(raw + 28), "Zed");
    EXPECT_STREQ(reinterpret_cast<char *>(raw + 28 + 385), "user0");
    EXPECT_EQ(raw[28 + 385 + 85 + 299], std::find(shuffled.begin(), shuffled.end(), "user0") - shuffled.begin() + 1);
    shmdt(raw);

    image.count = 0;
    ASSERT_EQ(my_privilege_load(&image), 0);
    EXPECT_EQ(my_privilege_name(0, "Zed"), 0);

    image.count = PRIV_MAX_USERS + 1;
    EXPECT_EQ(my_privilege_load(&image), -1);
    image.count = -1;
    EXPECT_EQ(my_privilege_load(&image), -1);
    EXPECT_EQ(my_privilege_load(nullptr), -1);
}

TEST(Privilege, AnUnattachableSegmentAllowsNothing) {
    testing_support::TempRoot root;

    // Something else holds the key with a smaller segment.
    int id = shmget(platform::ipc_key(kPrivilegeKey), 100, IPC_CREAT | 0600);
    ASSERT_GE(id, 0);
    static privilege_image image{};
    image.count = 1;
    image.records[0] = record("admin", 3);
    EXPECT_EQ(my_privilege_load(&image), -1);
    EXPECT_EQ(my_func_privilege_name(5, "admin"), 0);
    EXPECT_EQ(my_privilege_set(5, "admin", 3), 0);

    EXPECT_EQ(platform::remove_sandbox_ipc(root.root()), 1);
}

TEST(Privilege, CookieHookDoesNothing) {
    EXPECT_EQ(testing_support::captured_stdout(my_setcookie), "");
}
