// The circular list and its queue use, alone and shared by threads.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "webadmin.h"

namespace {

void *item(intptr_t n) { return reinterpret_cast<void *>(n); }
intptr_t number(const void *data) { return reinterpret_cast<intptr_t>(data); }

int same(const void *data, const void *key) { return data == key ? 0 : 1; }

// The list from head to tail through ll_get, checked against the tail and
// the count, so a broken circle or a stale tail shows.
std::vector<intptr_t> contents(ll_list *list) {
    std::vector<intptr_t> seen;
    ll_node *cursor = nullptr;
    while (void *data = ll_get(list, &cursor, 1)) {
        seen.push_back(number(data));
        if (seen.size() > ll_count(list)) break;
    }
    EXPECT_EQ(seen.size(), ll_count(list));
    if (!seen.empty()) {
        EXPECT_EQ(number(ll_head(list)), seen.front());
        EXPECT_EQ(number(ll_tail(list)), seen.back());
        EXPECT_EQ(list->tail->next->data, ll_head(list));  // closed circle
    }
    return seen;
}

ll_list *list_of(std::initializer_list<intptr_t> numbers) {
    ll_list *list = ll_init();
    for (intptr_t n : numbers) ll_append(list, item(n));
    return list;
}

TEST(LinkedList, QueueEndsAndIteration) {
    ll_list *list = list_of({1, 2, 3});
    EXPECT_EQ(contents(list), (std::vector<intptr_t>{1, 2, 3}));
    EXPECT_EQ(number(dq_pop(list)), 1);
    EXPECT_EQ(number(dq_pop(list)), 2);
    EXPECT_EQ(number(dq_pop(list)), 3);
    EXPECT_TRUE(ll_empty(list));
    EXPECT_EQ(dq_pop(list), nullptr);
    EXPECT_EQ(ll_delete_tail(list), nullptr);

    ll_append(list, item(1));
    ll_append(list, item(2));
    ll_prepend(list, item(7));
    EXPECT_EQ(contents(list), (std::vector<intptr_t>{7, 1, 2}));
    EXPECT_EQ(number(ll_delete_tail(list)), 2);
    EXPECT_EQ(number(ll_delete_tail(list)), 1);
    EXPECT_EQ(contents(list), (std::vector<intptr_t>{7}));
    EXPECT_EQ(number(ll_delete_tail(list)), 7);
    EXPECT_TRUE(ll_empty(list));
    EXPECT_EQ(ll_tail(list), nullptr);

    // One node: its data once, then null with the cursor left on it.
    ll_prepend(list, item(9));
    ll_node *cursor = nullptr;
    EXPECT_EQ(number(ll_get(list, &cursor, 1)), 9);
    ll_node *last = cursor;
    EXPECT_EQ(ll_get(list, &cursor, 1), nullptr);
    EXPECT_EQ(cursor, last);
    EXPECT_EQ(ll_get(list, nullptr, 1), nullptr);
    ll_free(list);
}

TEST(LinkedList, FindAndDeleteTakeTheFirstMatch) {
    ll_list *list = list_of({4, 5, 4, 6});
    auto even = [](const void *data, const void *) { return number(data) % 2 == 0 ? 0 : 1; };
    EXPECT_EQ(number(ll_find(list, nullptr, 1, even)), 4);
    EXPECT_EQ(ll_find(list, item(8), 1, same), nullptr);

    EXPECT_EQ(number(ll_delete(list, item(4), same)), 4);
    EXPECT_EQ(contents(list), (std::vector<intptr_t>{5, 4, 6}));
    EXPECT_EQ(number(ll_delete(list, item(6), same)), 6);  // the tail moves back
    EXPECT_EQ(contents(list), (std::vector<intptr_t>{5, 4}));
    EXPECT_EQ(ll_delete(list, item(8), same), nullptr);
    EXPECT_EQ(ll_count(list), 2u);
    ll_free(list);
}

TEST(LinkedList, SwaplineExchangesPlacesWhereverTheNodesAre) {
    struct Case {
        std::initializer_list<intptr_t> before;
        intptr_t a, b;
        std::vector<intptr_t> after;
    };
    const Case cases[] = {
        {{1, 2, 3}, 1, 3, {3, 2, 1}},              // head and tail
        {{1, 2, 3}, 3, 1, {3, 2, 1}},
        {{1, 2, 3, 4}, 2, 3, {1, 3, 2, 4}},        // neighbours
        {{1, 2, 3, 4}, 3, 2, {1, 3, 2, 4}},        // neighbours, later first
        {{1, 2, 3, 4}, 4, 1, {4, 2, 3, 1}},        // tail before head in the circle
        {{1, 2}, 1, 2, {2, 1}},                    // two nodes
        {{1, 2}, 2, 1, {2, 1}},
        {{1, 2, 3}, 2, 2, {1, 2, 3}},              // itself
        {{5}, 5, 5, {5}},
    };
    for (const Case &c : cases) {
        ll_list *list = list_of(c.before);
        EXPECT_EQ(ll_swapline(list, item(c.a), item(c.b), 1, same), 0);
        EXPECT_EQ(contents(list), c.after) << c.a << " with " << c.b;
        ll_free(list);
    }
    ll_list *list = list_of({1, 2});
    EXPECT_EQ(ll_swapline(list, item(1), item(3), 1, same), -1);
    EXPECT_EQ(contents(list), (std::vector<intptr_t>{1, 2}));
    ll_free(list);
    list = ll_init();
    EXPECT_EQ(ll_swapline(list, item(1), item(1), 1, same), -1);
    ll_free(list);
}

TEST(LinkedList, TraverseStopsOnZeroAndItsVisitMayUseTheUnlockedCalls) {
    ll_list *list = list_of({1, 2, 3});
    struct Walk {
        ll_list *list;
        std::vector<intptr_t> seen;
        intptr_t stop_at;
    } walk{list, {}, 0};
    auto visit = [](void *data, void *argument) {
        auto *w = static_cast<Walk *>(argument);
        w->seen.push_back(number(data));
        // The walk holds the mutex; a locking call here would never return.
        ll_node *cursor = nullptr;
        EXPECT_EQ(number(ll_get(w->list, &cursor, 0)), 1);
        EXPECT_EQ(ll_find(w->list, data, 0, same), data);
        return number(data) == w->stop_at ? 0 : 1;
    };
    EXPECT_EQ(ll_traverse(list, 1, visit, &walk), 1);
    EXPECT_EQ(walk.seen, (std::vector<intptr_t>{1, 2, 3}));
    walk = {list, {}, 2};
    EXPECT_EQ(ll_traverse(list, 1, visit, &walk), 0);
    EXPECT_EQ(walk.seen, (std::vector<intptr_t>{1, 2}));
    ll_free(list);

    list = ll_init();
    EXPECT_EQ(ll_traverse(list, 1, visit, &walk), 0);
    ll_free(list);
}

TEST(LinkedList, NullListIsAcceptedEverywhere) {
    ll_node *cursor = nullptr;
    EXPECT_EQ(ll_empty(nullptr), 1);
    EXPECT_EQ(ll_count(nullptr), 0u);
    EXPECT_EQ(ll_head(nullptr), nullptr);
    EXPECT_EQ(ll_tail(nullptr), nullptr);
    EXPECT_EQ(ll_append(nullptr, item(1)), nullptr);
    EXPECT_EQ(ll_prepend(nullptr, item(1)), nullptr);
    EXPECT_EQ(ll_get(nullptr, &cursor, 1), nullptr);
    EXPECT_EQ(ll_find(nullptr, item(1), 1, same), nullptr);
    EXPECT_EQ(ll_traverse(nullptr, 1, [](void *, void *) { return 1; }, nullptr), 0);
    EXPECT_EQ(ll_swapline(nullptr, item(1), item(2), 1, same), -1);
    EXPECT_EQ(ll_delete(nullptr, item(1), same), nullptr);
    EXPECT_EQ(ll_delete_head(nullptr), nullptr);
    EXPECT_EQ(dq_pop(nullptr), nullptr);
    EXPECT_EQ(ll_delete_tail(nullptr), nullptr);
    ll_free(nullptr);
}

TEST(LinkedList, TwoThreadsShareOneQueue) {
    constexpr intptr_t kEach = 50000;
    ll_list *list = ll_init();
    // Two producers at both ends, then a consumer racing a producer.
    std::thread back([&] {
        for (intptr_t n = 1; n <= kEach; ++n) ll_append(list, item(n));
    });
    std::thread front([&] {
        for (intptr_t n = 1; n <= kEach; ++n) ll_prepend(list, item(-n));
    });
    back.join();
    front.join();
    std::vector<intptr_t> all = contents(list);
    ASSERT_EQ(all.size(), static_cast<size_t>(2 * kEach));
    // Each end keeps its own order: the prepended ones newest first.
    std::vector<intptr_t> appended, prepended;
    for (intptr_t n : all) (n > 0 ? appended : prepended).push_back(n);
    for (intptr_t i = 0; i < kEach; ++i) {
        ASSERT_EQ(appended[i], i + 1);
        ASSERT_EQ(prepended[i], -kEach + i);
    }

    std::vector<intptr_t> taken;
    std::thread consumer([&] {
        while (taken.size() < static_cast<size_t>(3 * kEach))
            if (void *data = dq_pop(list)) taken.push_back(number(data));
    });
    for (intptr_t n = 1; n <= kEach; ++n) ll_append(list, item(kEach + n));
    consumer.join();
    EXPECT_TRUE(ll_empty(list));
    // Everything once, the appended ones still in order.
    std::vector<intptr_t> later;
    for (intptr_t n : taken)
        if (n > kEach) later.push_back(n);
    ASSERT_EQ(later.size(), static_cast<size_t>(kEach));
    for (intptr_t i = 0; i < kEach; ++i) ASSERT_EQ(later[i], kEach + i + 1);
    ll_free(list);
}

}  // namespace
