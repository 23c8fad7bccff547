// The thread-safe circular list (and its queue use) and the root-insertion
// search tree, alone and shared by threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "webadmin.h"

namespace {

void *item(intptr_t n) { return reinterpret_cast<void *>(n); }
intptr_t number(const void *data) { return reinterpret_cast<intptr_t>(data); }
int same(const void *data, const void *key) { return data == key ? 0 : 1; }

// Head to tail through ll_get, checked against the ends, the count and the
// closed circle.
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
        EXPECT_EQ(list->tail->next->data, ll_head(list));
    }
    return seen;
}

ll_list *list_of(std::initializer_list<intptr_t> numbers) {
    ll_list *list = ll_init();
    for (intptr_t n : numbers) ll_append(list, item(n));
    return list;
}

TEST(LinkedList, EndsFindDeleteSwapAndTraverse) {
    ll_list *list = list_of({1, 2});
    ll_prepend(list, item(7));
    EXPECT_EQ(contents(list), (std::vector<intptr_t>{7, 1, 2}));
    EXPECT_EQ(number(dq_pop(list)), 7);
    EXPECT_EQ(number(ll_delete_tail(list)), 2);
    EXPECT_EQ(number(ll_delete_tail(list)), 1);
    EXPECT_TRUE(ll_empty(list));
    EXPECT_EQ(ll_tail(list), nullptr);
    EXPECT_EQ(dq_pop(list), nullptr);
    EXPECT_EQ(ll_delete_tail(list), nullptr);
    ll_free(list);

    list = list_of({4, 5, 4, 6});
    EXPECT_EQ(number(ll_find(list, nullptr, 1, [](const void *d, const void *) { return number(d) % 2 == 0 ? 0 : 1; })), 4);
    EXPECT_EQ(ll_find(list, item(8), 1, same), nullptr);
    EXPECT_EQ(number(ll_delete(list, item(4), same)), 4);
    EXPECT_EQ(number(ll_delete(list, item(6), same)), 6);  // the tail moves back
    EXPECT_EQ(ll_delete(list, item(8), same), nullptr);
    EXPECT_EQ(contents(list), (std::vector<intptr_t>{5, 4}));
    ll_free(list);

    const struct {
        std::initializer_list<intptr_t> before;
        intptr_t a, b;
        std::vector<intptr_t> after;
        int result;
    } swaps[] = {
        {{1, 2, 3}, 1, 3, {3, 2, 1}, 0},       {{1, 2, 3}, 3, 1, {3, 2, 1}, 0}, {{1, 2, 3, 4}, 2, 3, {1, 3, 2, 4}, 0},
        {{1, 2, 3, 4}, 3, 2, {1, 3, 2, 4}, 0}, {{1, 2, 3, 4}, 4, 1, {4, 2, 3, 1}, 0}, {{1, 2}, 2, 1, {2, 1}, 0},
        {{1, 2, 3}, 2, 2, {1, 2, 3}, 0},       {{5}, 5, 5, {5}, 0},             {{1, 2}, 1, 3, {1, 2}, -1}, {{}, 1, 1, {}, -1},
    };
    for (const auto &s : swaps) {
        list = list_of(s.before);
        EXPECT_EQ(ll_swapline(list, item(s.a), item(s.b), 1, same), s.result);
        EXPECT_EQ(contents(list), s.after) << s.a << " with " << s.b;
        ll_free(list);
    }

    struct Walk {
        ll_list *list;
        std::vector<intptr_t> seen;
        intptr_t stop_at;
    } walk{list_of({1, 2, 3}), {}, 2};
    auto visit = [](void *data, void *argument) {
        auto *w = static_cast<Walk *>(argument);
        w->seen.push_back(number(data));
        ll_node *cursor = nullptr;  // the walk holds the mutex: the unlocked calls work
        EXPECT_EQ(number(ll_get(w->list, &cursor, 0)), 1);
        EXPECT_EQ(ll_find(w->list, data, 0, same), data);
        return number(data) == w->stop_at ? 0 : 1;
    };
    EXPECT_EQ(ll_traverse(walk.list, 1, visit, &walk), 0);
    EXPECT_EQ(walk.seen, (std::vector<intptr_t>{1, 2}));
    walk.stop_at = 0;
    EXPECT_EQ(ll_traverse(walk.list, 1, visit, &walk), 1);
    EXPECT_EQ(walk.seen.size(), 5u);
    ll_free(walk.list);
    EXPECT_EQ(ll_count(nullptr), 0u);
    EXPECT_EQ(ll_append(nullptr, item(1)), nullptr);
    EXPECT_EQ(ll_get(nullptr, nullptr, 1), nullptr);
    EXPECT_EQ(dq_pop(nullptr), nullptr);
}

TEST(LinkedList, TwoThreadsShareOneQueue) {
    constexpr intptr_t kEach = 50000;
    ll_list *list = ll_init();
    std::thread back([&] { for (intptr_t n = 1; n <= kEach; ++n) ll_append(list, item(n)); });
    std::thread front([&] { for (intptr_t n = 1; n <= kEach; ++n) ll_prepend(list, item(-n)); });
    back.join();
    front.join();
    std::vector<intptr_t> all = contents(list), expected;
    for (intptr_t n = kEach; n >= 1; --n) expected.push_back(-n);
    for (intptr_t n = 1; n <= kEach; ++n) expected.push_back(n);
    std::stable_partition(all.begin(), all.end(), [](intptr_t n) { return n < 0; });
    EXPECT_TRUE(all == expected);  // each end keeps its own order

    std::vector<intptr_t> taken;
    std::thread consumer([&] {
        while (taken.size() < static_cast<size_t>(3 * kEach))
            if (void *data = dq_pop(list)) taken.push_back(number(data));
    });
    for (intptr_t n = 1; n <= kEach; ++n) ll_append(list, item(kEach + n));
    consumer.join();
    EXPECT_TRUE(ll_empty(list));
    std::sort(taken.begin(), taken.end());
    expected.clear();
    for (intptr_t n = -kEach; n <= 2 * kEach; ++n) if (n) expected.push_back(n);
    EXPECT_TRUE(taken == expected);  // everything exactly once
    ll_free(list);
}

int by_key(const void *a, const void *b) {
    const int x = *static_cast<const int *>(a), y = *static_cast<const int *>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}
int key(const void *data) { return *static_cast<const int *>(data); }

std::vector<int> walk(bt_tree *tree, int order) {
    std::vector<int> seen;
    bt_traverse(tree, 1, order, [](void *data, void *seen) { return static_cast<std::vector<int> *>(seen)->push_back(key(data)), 1; }, &seen);
    return seen;
}

// The shape as text: (left key right).
std::string shape(const bt_node *node) {
    return node ? "(" + shape(node->left) + " " + std::to_string(key(node->data)) + " " + shape(node->right) + ")" : "-";
}

// Root insertion as the textbook writes it: insert below, rotate up.
bt_node *insert_and_rotate(bt_node *node, void *data) {
    if (!node) return new bt_node{nullptr, nullptr, data};
    const bool left = by_key(data, node->data) == -1;
    bt_node *up = insert_and_rotate(left ? node->left : node->right, data);
    (left ? node->left : node->right) = left ? up->right : up->left;
    (left ? up->right : up->left) = node;
    return up;
}

void drop(bt_node *node) {
    if (node) drop(node->left), drop(node->right), delete node;
}

TEST(BinaryTree, ShapeWalksAndStops) {
    int keys[] = {5, 3, 8};
    bt_tree *tree = bt_init(by_key);
    EXPECT_EQ(bt_height(tree), 0);
    EXPECT_EQ(bt_min(tree), nullptr);
    for (int &k : keys) EXPECT_EQ(bt_add(tree, &k), tree);
    EXPECT_EQ(shape(tree->root), "((- 3 (- 5 -)) 8 -)");
    EXPECT_EQ(bt_count(tree), 3u);
    EXPECT_EQ(bt_height(tree), 3);
    EXPECT_EQ(key(bt_min(tree)), 3);
    EXPECT_EQ(key(bt_max(tree)), 8);
    const std::vector<std::vector<int>> orders{{8, 3, 5}, {3, 5, 8}, {5, 3, 8}, {8, 3, 5}, {8, 5, 3}, {}};
    for (int order = 0; order < 6; ++order) EXPECT_EQ(walk(tree, order), orders[order]) << order;
    EXPECT_EQ(walk(tree, -1), std::vector<int>{});
    // A visit that stops at 5 ends the walk and names it; the level walk does not.
    std::vector<int> seen;
    auto until_five = [](void *data, void *seen) { return static_cast<std::vector<int> *>(seen)->push_back(key(data)), key(data) == 5 ? 0 : 1; };
    for (int order : {0, 1, 2, 4}) {
        seen.clear();
        EXPECT_EQ(bt_traverse(tree, 1, order, until_five, &seen), &keys[0]) << order;
        EXPECT_EQ(seen.back(), 5);
    }
    EXPECT_EQ(bt_traverse(tree, 1, 3, until_five, &seen), nullptr);

    struct Lookups {
        bt_tree *tree;
        int found = 0;
    } lookups{tree};
    bt_traverse(tree, 1, 1, [](void *data, void *l) {
        auto *lookups = static_cast<Lookups *>(l);
        return lookups->found += bt_find(lookups->tree, data, 0) == data, 1;  // the walk holds the mutex
    }, &lookups);
    EXPECT_EQ(lookups.found, 3);
    bt_free(tree);
    EXPECT_EQ(bt_count(nullptr), 0u);
    EXPECT_EQ(bt_add(nullptr, keys), nullptr);
    EXPECT_EQ(bt_find(nullptr, keys, 1), nullptr);
    EXPECT_EQ(bt_height(nullptr), 0);
}

TEST(BinaryTree, ShapeOfRotatingEachItemUpAndDeletion) {
    std::mt19937 random(7);
    std::vector<int> keys(300);
    for (int &k : keys) k = static_cast<int>(random() % 40);  // many equal keys
    bt_tree *tree = bt_init(by_key);
    bt_node *expected = nullptr;
    for (int &k : keys) {
        bt_add(tree, &k);
        expected = insert_and_rotate(expected, &k);
        ASSERT_EQ(shape(tree->root), shape(expected));
    }
    drop(expected);
    std::vector<const int *> in_order;
    bt_traverse(tree, 1, 1, [](void *data, void *v) { return static_cast<std::vector<const int *> *>(v)->push_back(static_cast<int *>(data)), 1; },
                &in_order);
    for (size_t i = 1; i < in_order.size(); ++i)  // equal keys keep the order they came in
        ASSERT_TRUE(*in_order[i - 1] < *in_order[i] || (*in_order[i - 1] == *in_order[i] && in_order[i - 1] < in_order[i]));
    bt_free(tree);

    int some[] = {50, 30, 70, 20, 40, 60, 80, 35, 45, 65}, missing = 55;
    tree = bt_init(by_key);
    for (int &k : some) bt_add(tree, &k);
    EXPECT_EQ(bt_delete(tree, &missing), nullptr);
    std::vector<int> left(std::begin(some), std::end(some));
    std::sort(left.begin(), left.end());
    for (int k : {65, 40, 20, 70, 50, 80, 35, 30, 45, 60}) {
        const void *found = bt_find(tree, &k, 1);
        ASSERT_NE(found, nullptr) << k;
        EXPECT_EQ(bt_delete(tree, &k), found);
        left.erase(std::find(left.begin(), left.end(), k));
        EXPECT_EQ(walk(tree, 1), left) << "after " << k;
        EXPECT_EQ(bt_count(tree), left.size());
    }
    EXPECT_TRUE(bt_empty(tree));
    bt_free(tree);
}

TEST(BinaryTree, LongChainsAndTwoThreads) {
    constexpr int kItems = 200000, kEach = 20000;
    std::vector<int> keys(kItems);
    bt_tree *tree = bt_init(by_key);
    for (int i = 0; i < kItems; ++i) bt_add(tree, &(keys[i] = i));  // sorted input: a chain every operation survives
    EXPECT_EQ(bt_height(tree), kItems);
    for (int order : {0, 1, 2, 3, 4}) EXPECT_EQ(walk(tree, order).size(), static_cast<size_t>(kItems)) << order;
    EXPECT_EQ(bt_delete(tree, &keys[0]), &keys[0]);
    bt_free(tree);

    keys.resize(2 * kEach);
    for (int i = 0; i < 2 * kEach; ++i) keys[i] = i;
    std::shuffle(keys.begin(), keys.end(), std::mt19937(3));
    tree = bt_init(by_key);
    auto add_half = [&](int half) { for (int i = half * kEach; i < (half + 1) * kEach; ++i) bt_add(tree, &keys[i]); };
    std::thread first(add_half, 0), second(add_half, 1);
    first.join();
    second.join();
    std::vector<int> all = walk(tree, 1), expected(2 * kEach);
    for (int i = 0; i < 2 * kEach; ++i) expected[i] = i;
    EXPECT_TRUE(all == expected);
    // One thread deletes the even keys while the other adds them again.
    std::vector<int> again(kEach);
    std::thread remover([&] { for (int k = 0; k < 2 * kEach; k += 2) EXPECT_NE(bt_delete(tree, &k), nullptr); });
    std::thread adder([&] { for (int i = 0; i < kEach; ++i) bt_add(tree, &(again[i] = 2 * i)); });
    remover.join();
    adder.join();
    EXPECT_EQ(bt_count(tree), static_cast<uint32_t>(2 * kEach));
    EXPECT_TRUE(walk(tree, 1) == expected);
    bt_free(tree);
}

}  // namespace
