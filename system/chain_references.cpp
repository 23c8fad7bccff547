// How many rules of the kernel's rule set jump to a chain, asked of the
// appliance's netfilter extension through a socket option rather than by
// running a command.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstring>

#include "runtime/owners.h"
#include "webadmin.h"

namespace {

constexpr int kReferencesOption = 68, kCountersOption = 69;
constexpr std::size_t kName = 32;

// The buffers the extension fills: table and chain name, then the answer.
struct references_query {
    char table[kName];
    char chain[kName];
    uint32_t count;
};
static_assert(sizeof(references_query) == 68);

struct counters_query {
    char table[kName];
    char chain[kName];
    uint32_t words[4];  // two 64-bit counters, each as its high and low word
};
static_assert(sizeof(counters_query) == 80);

template <typename Query>
void ask(Query &query, const char *table, const char *chain, int option) {
    if (table) std::strncpy(query.table, table, kName - 1);
    if (chain) std::strncpy(query.chain, chain, kName - 1);
    // One socket for the process: a boot-time apply asks thousands of times.
    static const runtime::unique_fd fd(socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW));
    if (fd.get() < 0) return;
    socklen_t length = sizeof query;
    // A kernel without the extension refuses the option; the buffer then
    // still holds the cleared answer.
    (void)getsockopt(fd.get(), IPPROTO_IP, option, &query, &length);
}

uint64_t counter(const uint32_t *words) { return (static_cast<uint64_t>(words[0]) << 32) | words[1]; }

}  // namespace

extern "C" {

unsigned int chain_references(const char *table, const char *chain) {
    references_query query{};
    ask(query, table, chain, kReferencesOption);
    return query.count;
}

int chain_counters(const char *table, const char *chain, uint64_t *first, uint64_t *second) {
    if (first) *first = 0;
    if (second) *second = 0;
    counters_query query{};
    ask(query, table, chain, kCountersOption);
    if (second) *second = counter(&query.words[0]);
    if (first) *first = counter(&query.words[2]);
    return 0;
}

}  // extern "C"
