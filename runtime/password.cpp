// Password hashes in the traditional DES crypt form, as the IPsec module
// writes them to its user password file.  DES hashes only eight
// characters, so a longer password gets the hash of characters 9 to 16
// appended.
#include <dlfcn.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <initializer_list>

#include "webadmin.h"

namespace {

constexpr size_t kHashSize = 44;
constexpr size_t kDesHash = 13;        // two salt characters and eleven of hash
constexpr size_t kDesBlock = 8;        // characters DES takes from the password
constexpr char kSaltAlphabet[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

bool is_salt_character(char c) { return c && strchr(kSaltAlphabet, c); }

// A salt from the process id, processor time and clock, different for each
// call within one second.
void new_salt(char salt[3]) {
    static unsigned long calls;
    unsigned long v = static_cast<unsigned long>(getpid()) ^ static_cast<unsigned long>(clock()) ^
                      (static_cast<unsigned long>(time(nullptr)) + calls++);
    unsigned long x = (v >> 12) ^ v;
    salt[0] = kSaltAlphabet[(x >> 6) & 63];
    salt[1] = kSaltAlphabet[x & 63];
    salt[2] = '\0';
}

// crypt() of the C library's crypt library, bound at the first call and
// kept for the life of the process; null where the system has none.  The
// appliance's C library names it libcrypt.so.0.
using CryptFunction = char *(*)(const char *, const char *);

CryptFunction crypt_function() {
    static const CryptFunction function = []() -> CryptFunction {
        for (const char *name : {"libcrypt.so.1", "libcrypt.so.0"})
            if (void *library = dlopen(name, RTLD_NOW | RTLD_LOCAL))
                return reinterpret_cast<CryptFunction>(dlsym(library, "crypt"));
        return nullptr;
    }();
    return function;
}

// crypt() of one block; null unless it gave a whole DES hash.
const char *des_hash(const char *password, const char *salt) {
    CryptFunction crypt = crypt_function();
    if (!crypt) return nullptr;
    const char *hash = crypt(password, salt);
    if (!hash || strlen(hash) != kDesHash) return nullptr;
    return hash;
}

}  // namespace

// Only the DES form fits the 44-byte result, so a stored hash of another
// method (beginning with '$') is refused rather than cut.
extern "C" char *my_pwencrypt(const char *password, const char *salt) {
    static char result[kHashSize];
    if (!password) return nullptr;
    char des_salt[3];
    if (!salt) {
        new_salt(des_salt);
    } else {
        if (!is_salt_character(salt[0]) || !is_salt_character(salt[1])) return nullptr;
        des_salt[0] = salt[0];
        des_salt[1] = salt[1];
        des_salt[2] = '\0';
    }
    const char *first = des_hash(password, des_salt);
    if (!first) return nullptr;
    memcpy(result, first, kDesHash + 1);
    if (strlen(password) > kDesBlock) {
        const char *second = des_hash(password + kDesBlock, des_salt);
        if (!second) return nullptr;
        memcpy(result + kDesHash, second + 2, kDesHash - 2 + 1);
    }
    return result;
}
