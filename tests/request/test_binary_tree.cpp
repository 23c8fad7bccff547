// The root-insertion search tree: its shape, walks, deletion and threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "webadmin.h"

namespace {

// Items are pointers to keys, so equal keys stay told apart.
int by_key(const void *a, const void *b) {
    const int x = *static_cast<const int *>(a), y = *static_cast<const int *>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

int key(const void *data) { return *static_cast<const int *>(data); }

std::vector<int> walk(bt_tree *tree, int order) {
    std::vector<int> seen;
    bt_traverse(tree, 1, order, [](void *data, void *argument) {
        static_cast<std::vector<int> *>(argument)->push_back(key(data));
        return 1;
    }, &seen);
    return seen;
}

// The shape as text: (left key right).
std::string shape(const bt_node *node) {
    if (!node) return "-";
    return "(" + shape(node->left) + " " + std::to_string(key(node->data)) + " " + shape(node->right) + ")";
}

// Root insertion as the textbook writes it: insert below, rotate up.
bt_node *insert_and_rotate(bt_node *node, void *data) {
    if (!node) return new bt_node{nullptr, nullptr, data};
    if (by_key(data, node->data) == -1) {
        bt_node *up = insert_and_rotate(node->left, data);
        node->left = up->right;
        up->right = node;
        return up;
    }
    bt_node *up = insert_and_rotate(node->right, data);
    node->right = up->left;
    up->left = node;
    return up;
}

void drop(bt_node *node) {
    if (!node) return;
    drop(node->left);
    drop(node->right);
    delete node;
}

TEST(BinaryTree, NewItemsGoToTheRootAndWalksFollowTheOrder) {
    int keys[] = {5, 3, 8};
    bt_tree *tree = bt_init(by_key);
    EXPECT_TRUE(bt_empty(tree));
    EXPECT_EQ(bt_height(tree), 0);
    EXPECT_EQ(bt_min(tree), nullptr);
    EXPECT_EQ(walk(tree, 1), std::vector<int>{});
    for (int &k : keys) EXPECT_EQ(bt_add(tree, &k), tree);
    EXPECT_EQ(shape(tree->root), "((- 3 (- 5 -)) 8 -)");
    EXPECT_EQ(bt_count(tree), 3u);
    EXPECT_EQ(bt_height(tree), 3);
    EXPECT_EQ(key(bt_min(tree)), 3);
    EXPECT_EQ(key(bt_max(tree)), 8);

    EXPECT_EQ(walk(tree, 0), (std::vector<int>{8, 3, 5}));
    EXPECT_EQ(walk(tree, 1), (std::vector<int>{3, 5, 8}));
    EXPECT_EQ(walk(tree, 2), (std::vector<int>{5, 3, 8}));
    EXPECT_EQ(walk(tree, 3), (std::vector<int>{8, 3, 5}));
    EXPECT_EQ(walk(tree, 4), (std::vector<int>{8, 5, 3}));
    EXPECT_EQ(walk(tree, 5), std::vector<int>{});
    EXPECT_EQ(walk(tree, -1), std::vector<int>{});

    // A visit that stops at 5: the walk ends there and names it; the level
    // walk says nothing.
    struct Stop {
        std::vector<int> seen;
    } stop;
    auto until_five = [](void *data, void *argument) {
        static_cast<Stop *>(argument)->seen.push_back(key(data));
        return key(data) == 5 ? 0 : 1;
    };
    for (int order : {0, 1, 2, 4}) {
        stop.seen.clear();
        EXPECT_EQ(bt_traverse(tree, 1, order, until_five, &stop), &keys[0]) << order;
        EXPECT_EQ(stop.seen.back(), 5);
    }
    stop.seen.clear();
    EXPECT_EQ(bt_traverse(tree, 1, 1, until_five, &stop), &keys[0]);
    EXPECT_EQ(stop.seen, (std::vector<int>{3, 5}));
    stop.seen.clear();
    EXPECT_EQ(bt_traverse(tree, 1, 3, until_five, &stop), nullptr);
    EXPECT_EQ(stop.seen, (std::vector<int>{8, 3, 5}));
    bt_free(tree);
}

TEST(BinaryTree, ShapeIsThatOfRotatingEachItemUpAndEqualItemsKeepTheirOrder) {
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

    // Ascending, and among equal keys the earlier added comes first.
    std::vector<const int *> in_order;
    bt_traverse(tree, 1, 1, [](void *data, void *argument) {
        static_cast<std::vector<const int *> *>(argument)->push_back(static_cast<const int *>(data));
        return 1;
    }, &in_order);
    ASSERT_EQ(in_order.size(), keys.size());
    for (size_t i = 1; i < in_order.size(); ++i) {
        ASSERT_LE(*in_order[i - 1], *in_order[i]);
        if (*in_order[i - 1] == *in_order[i]) {
            ASSERT_LT(in_order[i - 1], in_order[i]);
        }
    }
    bt_free(tree);
}

TEST(BinaryTree, DeleteKeepsTheOrderAndTheCount) {
    int keys[] = {50, 30, 70, 20, 40, 60, 80, 35, 45, 65};
    bt_tree *tree = bt_init(by_key);
    for (int &k : keys) bt_add(tree, &k);
    int missing = 55;
    EXPECT_EQ(bt_delete(tree, &missing), nullptr);
    EXPECT_EQ(bt_count(tree), 10u);

    std::vector<int> left(std::begin(keys), std::end(keys));
    std::sort(left.begin(), left.end());
    // The root (two children), then nodes of every kind.
    for (int k : {keys[9], 40, 20, 70, 50, 80, 35}) {
        const int *found = static_cast<const int *>(bt_find(tree, &k, 1));
        ASSERT_NE(found, nullptr) << k;
        EXPECT_EQ(bt_delete(tree, &k), found) << k;
        left.erase(std::find(left.begin(), left.end(), k));
        EXPECT_EQ(walk(tree, 1), left) << "after " << k;
        EXPECT_EQ(bt_count(tree), left.size());
        EXPECT_EQ(bt_find(tree, &k, 1), nullptr);
    }
    for (int k : std::vector<int>(left)) bt_delete(tree, &k);
    EXPECT_TRUE(bt_empty(tree));
    EXPECT_EQ(bt_count(tree), 0u);
    bt_free(tree);
}

TEST(BinaryTree, SortedInputMakesAChainThatEveryOperationSurvives) {
    constexpr int kItems = 200000;
    std::vector<int> keys(kItems);
    bt_tree *tree = bt_init(by_key);
    for (int i = 0; i < kItems; ++i) {
        keys[i] = i;
        bt_add(tree, &keys[i]);
    }
    EXPECT_EQ(bt_height(tree), kItems);
    for (int order : {0, 1, 2, 3, 4}) EXPECT_EQ(walk(tree, order).size(), static_cast<size_t>(kItems)) << order;
    EXPECT_EQ(key(bt_min(tree)), 0);
    EXPECT_EQ(key(bt_find(tree, &keys[0], 1)), 0);
    EXPECT_EQ(bt_delete(tree, &keys[0]), &keys[0]);
    bt_free(tree);
}

TEST(BinaryTree, VisitMayFindWithoutTheLockAndNullTreesYieldNothing) {
    int keys[] = {2, 1, 3};
    bt_tree *tree = bt_init(by_key);
    for (int &k : keys) bt_add(tree, &k);
    struct Lookups {
        bt_tree *tree;
        int found = 0;
    } lookups{tree};
    bt_traverse(tree, 1, 1, [](void *data, void *argument) {
        auto *l = static_cast<Lookups *>(argument);
        l->found += bt_find(l->tree, data, 0) == data;  // the walk holds the mutex
        return 1;
    }, &lookups);
    EXPECT_EQ(lookups.found, 3);
    bt_free(tree);

    EXPECT_EQ(bt_empty(nullptr), 1);
    EXPECT_EQ(bt_count(nullptr), 0u);
    EXPECT_EQ(bt_add(nullptr, keys), nullptr);
    EXPECT_EQ(bt_find(nullptr, keys, 1), nullptr);
    EXPECT_EQ(bt_delete(nullptr, keys), nullptr);
    EXPECT_EQ(bt_min(nullptr), nullptr);
    EXPECT_EQ(bt_max(nullptr), nullptr);
    EXPECT_EQ(bt_height(nullptr), 0);
    EXPECT_EQ(bt_traverse(nullptr, 1, 1, [](void *, void *) { return 0; }, nullptr), nullptr);
    bt_free(nullptr);
}

TEST(BinaryTree, TwoThreadsAddAndDeleteOnOneTree) {
    constexpr int kEach = 20000;
    std::vector<int> keys(2 * kEach);
    for (int i = 0; i < 2 * kEach; ++i) keys[i] = i;
    std::shuffle(keys.begin(), keys.end(), std::mt19937(3));
    bt_tree *tree = bt_init(by_key);
    auto add_half = [&](int half) {
        for (int i = half * kEach; i < (half + 1) * kEach; ++i) bt_add(tree, &keys[i]);
    };
    std::thread first(add_half, 0), second(add_half, 1);
    first.join();
    second.join();
    EXPECT_EQ(bt_count(tree), static_cast<uint32_t>(2 * kEach));
    std::vector<int> all = walk(tree, 1);
    ASSERT_EQ(all.size(), static_cast<size_t>(2 * kEach));
    for (int i = 0; i < 2 * kEach; ++i) ASSERT_EQ(all[i], i);

    // One thread deletes the even keys while the other adds them again.
    std::vector<int> again(kEach);
    std::thread remover([&] {
        for (int k = 0; k < 2 * kEach; k += 2) EXPECT_NE(bt_delete(tree, &k), nullptr);
    });
    std::thread adder([&] {
        for (int i = 0; i < kEach; ++i) {
            again[i] = 2 * i;
            bt_add(tree, &again[i]);
        }
    });
    remover.join();
    adder.join();
    EXPECT_EQ(bt_count(tree), static_cast<uint32_t>(2 * kEach));
    all = walk(tree, 1);
    ASSERT_EQ(all.size(), static_cast<size_t>(2 * kEach));
    for (int i = 0; i < 2 * kEach; ++i) ASSERT_EQ(all[i], i);
    bt_free(tree);
}

}  // namespace
