// The thread-safe circular list (and its queue use) and the root-insertion
// search tree, alone and shared by threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

#include "webadmin.h"

namespace {

using Numbers = std::vector<intptr_t>;
void *item(intptr_t n) { return reinterpret_cast<void *>(n); }
intptr_t number(const void *data) { return reinterpret_cast<intptr_t>(data); }
int same(const void *data, const void *key) { return data == key ? 0 : 1; }

// Head to tail through ll_get; the ends, the count and the closed circle agree.
Numbers contents(ll_list *list) {
    Numbers seen;
    ll_node *cursor = nullptr;
    for (void *data; seen.size() <= ll_count(list) && (data = ll_get(list, &cursor, 1));) seen.push_back(number(data));
    EXPECT_EQ(seen.size(), ll_count(list));
    if (!seen.empty()) {
        EXPECT_EQ(Numbers({number(ll_head(list)), number(ll_tail(list)), number(list->tail->next->data)}),
                  Numbers({seen.front(), seen.back(), seen.front()}));
    }
    return seen;
}

ll_list *list_of(const Numbers &numbers) {
    ll_list *list = ll_init();
    for (intptr_t n : numbers) ll_append(list, item(n));
    return list;
}

// Both ends, finding, deleting and swapping by key, walks that stop, and the null list.
TEST(LinkedList, EndsFindDeleteSwapAndTraverse) {
    ll_list *list = list_of({1, 2});
    ll_prepend(list, item(7));
    EXPECT_EQ(contents(list), (Numbers{7, 1, 2}));
    EXPECT_EQ(Numbers({number(dq_pop(list)), number(ll_delete_tail(list)), number(ll_delete_tail(list)),
                       number(ll_tail(list)), number(dq_pop(list)), number(ll_delete_tail(list)), ll_empty(list)}),
              (Numbers{7, 2, 1, 0, 0, 0, 1}));
    ll_free(list);
    list = list_of({4, 5, 4, 6});
    auto even = [](const void *d, const void *) { return number(d) % 2 ? 1 : 0; };
    EXPECT_EQ(Numbers({number(ll_find(list, nullptr, 1, even)), number(ll_find(list, item(8), 1, same)),
                       number(ll_delete(list, item(4), same)), number(ll_delete(list, item(6), same)),
                       number(ll_delete(list, item(8), same))}),
              (Numbers{4, 0, 4, 6, 0}));
    EXPECT_EQ(contents(list), (Numbers{5, 4}));  // the tail moved back
    ll_free(list);
    // Swaps: the list before, the two keys, the list after, the result.
    for (auto [before, a, b, after, result] : {
             std::tuple<Numbers, int, int, Numbers, int>{{1, 2, 3}, 1, 3, {3, 2, 1}, 0}, {{1, 2, 3}, 3, 1, {3, 2, 1}, 0},
             {{1, 2, 3, 4}, 2, 3, {1, 3, 2, 4}, 0}, {{1, 2, 3, 4}, 3, 2, {1, 3, 2, 4}, 0},
             {{1, 2, 3, 4}, 4, 1, {4, 2, 3, 1}, 0}, {{1, 2}, 2, 1, {2, 1}, 0}, {{1, 2, 3}, 2, 2, {1, 2, 3}, 0},
             {{5}, 5, 5, {5}, 0}, {{1, 2}, 1, 3, {1, 2}, -1}, {{}, 1, 1, {}, -1}}) {
        list = list_of(before);
        EXPECT_EQ(ll_swapline(list, item(a), item(b), 1, same), result);
        EXPECT_EQ(contents(list), after) << a << " with " << b;
        ll_free(list);
    }
    // A walk stops where the visit says so; the walk holds the mutex, so the unlocked calls work inside.
    static ll_list *walked = list_of({1, 2, 3});
    static Numbers seen;
    auto visit = [](void *data, void *stop_at) {
        ll_node *cursor = nullptr;
        seen.push_back(number(data) + number(ll_get(walked, &cursor, 0)) - number(ll_find(walked, data, 0, same)));
        return data == stop_at ? 0 : 1;
    };
    EXPECT_EQ(Numbers({ll_traverse(walked, 1, visit, item(2)), ll_traverse(walked, 1, visit, nullptr)}), (Numbers{0, 1}));
    EXPECT_EQ(seen, (Numbers{1, 1, 1, 1, 1}));
    ll_free(walked);
    EXPECT_EQ(Numbers({ll_count(nullptr), number(ll_append(nullptr, item(1))), number(ll_get(nullptr, nullptr, 1)),
                       number(dq_pop(nullptr))}),
              Numbers(4, 0));
}

int by_key(const void *a, const void *b) {
    const int x = *static_cast<const int *>(a), y = *static_cast<const int *>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}
int key(const void *data) { return *static_cast<const int *>(data); }
int collect(void *data, void *seen) { return static_cast<std::vector<int> *>(seen)->push_back(key(data)), 1; }
std::vector<int> walk(bt_tree *tree, int order) {
    std::vector<int> seen;
    bt_traverse(tree, 1, order, collect, &seen);
    return seen;
}
// The shape as text: (left key right).
std::string shape(const bt_node *node) {
    return node ? "(" + shape(node->left) + " " + std::to_string(key(node->data)) + " " + shape(node->right) + ")" : "-";
}
// A small tree's shape, ends, every walk order, walks that stop, and the null tree.
TEST(BinaryTree, ShapeWalksAndStops) {
    int keys[] = {5, 3, 8, 5};  // an equal key goes to the right before rising
    bt_tree *tree = bt_init(by_key);
    EXPECT_EQ(Numbers({bt_height(tree), number(bt_min(tree)), bt_empty(tree)}), (Numbers{0, 0, 1}));
    for (int &k : keys) EXPECT_EQ(bt_add(tree, &k), tree);
    EXPECT_EQ(shape(tree->root), "((- 3 (- 5 -)) 5 (- 8 -))");
    EXPECT_EQ(Numbers({bt_count(tree), bt_height(tree), key(bt_min(tree)), key(bt_max(tree))}), (Numbers{4, 3, 3, 8}));
    const std::vector<std::vector<int>> orders{{}, {5, 3, 5, 8}, {3, 5, 5, 8}, {5, 3, 8, 5}, {5, 3, 8, 5}, {8, 5, 5, 3}, {}};
    for (int order = -1; order < 6; ++order) EXPECT_EQ(walk(tree, order), orders[order + 1]) << order;
    // A visit that stops at a 5 ends the walk and names its item; the level walk does not.
    auto until_five = [](void *data, void *seen) { return collect(data, seen), key(data) == 5 ? 0 : 1; };
    const void *stopped_at[] = {&keys[3], &keys[0], &keys[0], nullptr, &keys[3]};
    for (int order : {0, 1, 2, 3, 4}) {
        std::vector<int> seen;
        EXPECT_EQ(bt_traverse(tree, 1, order, until_five, &seen), stopped_at[order]) << order;
        EXPECT_EQ(seen.back(), 5);
    }
    bt_free(tree);
    EXPECT_EQ(Numbers({bt_count(nullptr), bt_height(nullptr), number(bt_add(nullptr, keys)),
                       number(bt_find(nullptr, keys, 1))}),
              Numbers(4, 0));
}

// Deleting leaves, inner nodes with one or two children and the root keeps the in-order walk.
TEST(BinaryTree, DeletionKeepsTheOrder) {
    int some[] = {50, 30, 70, 20, 40, 60, 80, 35, 45, 65}, missing = 55;
    std::vector<int> left{20, 30, 35, 40, 45, 50, 60, 65, 70, 80};
    bt_tree *tree = bt_init(by_key);
    for (int &k : some) bt_add(tree, &k);
    EXPECT_EQ(bt_delete(tree, &missing), nullptr);
    for (int k : {65, 40, 20, 70, 50, 80, 35, 30, 45, 60}) {
        const void *found = bt_find(tree, &k, 1);
        EXPECT_EQ(bt_delete(tree, &k), found ? found : &missing) << k;
        left.erase(std::find(left.begin(), left.end(), k));
        EXPECT_EQ(walk(tree, 1), left) << "after " << k;
        EXPECT_EQ(bt_count(tree), left.size());
    }
    EXPECT_TRUE(bt_empty(tree));
    bt_free(tree);
}

// Two threads fill the two ends at once: nothing lost, each end in its own order.
TEST(LinkedList, TwoThreadsFillBothEnds) {
    constexpr intptr_t kEach = 50000;
    Numbers expected;
    for (intptr_t n = -kEach; n <= kEach; ++n) n ? expected.push_back(n) : void();
    ll_list *list = ll_init();
    std::thread back([&] { for (intptr_t n = 1; n <= kEach; ++n) ll_append(list, item(n)); });
    for (intptr_t n = 1; n <= kEach; ++n) ll_prepend(list, item(-n));
    back.join();
    Numbers all = contents(list);
    std::stable_partition(all.begin(), all.end(), [](intptr_t n) { return n < 0; });
    EXPECT_TRUE(all == expected);
    ll_free(list);
}

}  // namespace
