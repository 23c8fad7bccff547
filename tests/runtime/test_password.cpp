#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "webadmin.h"

namespace {

// The MIPS cross sysroot has no crypt library: there every hash is null.
bool have_crypt_library() {
    for (const char *name : {"libcrypt.so.1", "libcrypt.so.0"})
        if (void *library = dlopen(name, RTLD_NOW)) {
            dlclose(library);
            return true;
        }
    return false;
}

}  // namespace

TEST(Password, WithoutCryptLibraryEveryHashIsNull) {
    if (have_crypt_library()) GTEST_SKIP() << "this system has a crypt library";
    EXPECT_EQ(my_pwencrypt("password", "ab"), nullptr);
    EXPECT_EQ(my_pwencrypt("passwordpassword", nullptr), nullptr);
}

TEST(Password, DesHashOfOneOrTwoBlocksAndNewSalts) {
    if (!have_crypt_library()) GTEST_SKIP() << "no crypt library on this system";
    EXPECT_STREQ(my_pwencrypt("password", "ab"), "abJnggxhB/yWI");
    // The stored hash is the salt: the same password gives the same hash.
    EXPECT_STREQ(my_pwencrypt("password", "abJnggxhB/yWI"), "abJnggxhB/yWI");
    EXPECT_STRNE(my_pwencrypt("passwore", "abJnggxhB/yWI"), "abJnggxhB/yWI");
    // Characters 9 to 16 are hashed as a second block with the same salt.
    EXPECT_STREQ(my_pwencrypt("passwordpassword", "ab"), "abJnggxhB/yWIJnggxhB/yWI");
    std::string nine = my_pwencrypt("secret123", "Zz");
    EXPECT_EQ(nine.size(), 24u);
    EXPECT_EQ(nine.substr(0, 13), my_pwencrypt("secret12", "Zz"));
    EXPECT_EQ(nine.substr(13), std::string(my_pwencrypt("3", "Zz")).substr(2));
    EXPECT_STREQ(my_pwencrypt("secret123", nine.c_str()), nine.c_str());
    // Nothing after the sixteenth character counts.
    std::string sixteen = my_pwencrypt("0123456789abcdef", "x.");
    EXPECT_EQ(my_pwencrypt("0123456789abcdefXYZ", "x."), sixteen);
    EXPECT_EQ(strlen(my_pwencrypt("", "ab")), 13u);

    // Without a salt one is made: salt characters only, and reproducible.
    const char *salt_text = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::string made = my_pwencrypt("adminpass", nullptr);
    ASSERT_EQ(made.size(), 24u);
    EXPECT_EQ(made.find_first_not_of(salt_text), std::string::npos) << made;
    EXPECT_STREQ(my_pwencrypt("adminpass", made.c_str()), made.c_str());
    std::string short_one = my_pwencrypt("admin", nullptr);
    EXPECT_EQ(short_one.size(), 13u);
    EXPECT_EQ(short_one.find_first_not_of(salt_text), std::string::npos) << short_one;

    // Other crypt methods yield longer hashes than the 44-byte result holds.
    for (const char *salt : {"$6$abcdefgh$", "$1$ab$oKsM6dtDD2L1bKowOBX.7.", "a", "", "a!"})
        EXPECT_EQ(my_pwencrypt("password", salt), nullptr) << salt;
    EXPECT_EQ(my_pwencrypt(nullptr, "ab"), nullptr);
}
