// The unbalanced search tree with root insertion.  Every walk runs without
// recursion: sorted input makes the tree a chain as deep as it is long.
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "request/container_lock.h"
#include "webadmin.h"

namespace {

// The link that holds the node matching key, or the empty link where the
// descent ended.
bt_node **find_link(bt_tree *tree, const void *key) {
    bt_node **link = &tree->root;
    while (*link) {
        const int order = tree->compare(key, (*link)->data);
        if (order == -1) link = &(*link)->left;
        else if (order == 1) link = &(*link)->right;
        else break;
    }
    return link;
}

// Visits in pre-order (0), ascending (1), post-order (2) or descending (4)
// order; the data at which visit returned 0, or null.
void *walk_depth_first(bt_node *root, int order, ll_visit visit, void *argument) {
    std::vector<bt_node *> pending;
    if (order == 0) {
        pending.push_back(root);
        while (!pending.empty()) {
            bt_node *node = pending.back();
            pending.pop_back();
            if (!visit(node->data, argument)) return node->data;
            if (node->right) pending.push_back(node->right);
            if (node->left) pending.push_back(node->left);
        }
    } else if (order == 1 || order == 4) {
        const bool ascending = order == 1;
        for (bt_node *node = root; node || !pending.empty();) {
            for (; node; node = ascending ? node->left : node->right) pending.push_back(node);
            node = pending.back();
            pending.pop_back();
            if (!visit(node->data, argument)) return node->data;
            node = ascending ? node->right : node->left;
        }
    } else {
        // Post-order: a node is visited once the walk comes back to it from
        // its right subtree (or it has none).
        bt_node *last = nullptr;
        for (bt_node *node = root; node || !pending.empty();) {
            for (; node; node = node->left) pending.push_back(node);
            bt_node *top = pending.back();
            if (top->right && top->right != last) {
                node = top->right;
                continue;
            }
            pending.pop_back();
            if (!visit(top->data, argument)) return top->data;
            last = top;
        }
    }
    return nullptr;
}

// Level by level, left before right, through a list used as a queue.
void walk_levels(bt_node *root, ll_visit visit, void *argument) {
    ll_list *queue = ll_init();
    if (!queue) return;
    ll_append(queue, root);
    while (auto *node = static_cast<bt_node *>(dq_pop(queue))) {
        if (!visit(node->data, argument)) break;
        if ((node->left && !ll_append(queue, node->left)) || (node->right && !ll_append(queue, node->right)))
            break;
    }
    ll_free(queue);
}

}  // namespace

extern "C" {

bt_tree *bt_init(bt_compare compare) {
    auto *tree = static_cast<bt_tree *>(std::calloc(1, sizeof(bt_tree)));
    if (!tree) return nullptr;
    if (pthread_mutex_init(&tree->mutex, nullptr) != 0) {
        std::free(tree);
        return nullptr;
    }
    tree->compare = compare;
    return tree;
}

int bt_empty(bt_tree *tree) { return !tree || !tree->root; }

uint32_t bt_count(bt_tree *tree) {
    if (!tree) return 0;
    container::Lock lock(tree->mutex);
    return tree->count;
}

bt_tree *bt_add(bt_tree *tree, void *data) {
    if (!tree || !tree->compare) return nullptr;
    auto *added = static_cast<bt_node *>(std::malloc(sizeof(bt_node)));
    if (!added) return nullptr;
    added->data = data;
    container::Lock lock(tree->mutex);
    // Root insertion as a split along the search path: the nodes the item
    // sorts before go to its right, all others to its left, each keeping
    // the subtree on the far side.  The same tree as inserting at a leaf
    // and rotating the item up, without a recursion as deep as the tree.
    bt_node **left = &added->left, **right = &added->right;
    for (bt_node *node = tree->root; node;) {
        if (tree->compare(data, node->data) == -1) {
            *right = node;
            right = &node->left;
            node = node->left;
        } else {
            *left = node;
            left = &node->right;
            node = node->right;
        }
    }
    *left = *right = nullptr;
    tree->root = added;
    ++tree->count;
    return tree;
}

void *bt_find(bt_tree *tree, const void *key, int lock) {
    if (!tree || !tree->compare) return nullptr;
    container::Lock guard(tree->mutex, lock);
    bt_node *node = *find_link(tree, key);
    return node ? node->data : nullptr;
}

void *bt_delete(bt_tree *tree, const void *key) {
    if (!tree || !tree->compare) return nullptr;
    container::Lock lock(tree->mutex);
    bt_node **link = find_link(tree, key);
    bt_node *node = *link;
    if (!node) return nullptr;
    void *data = node->data;
    if (node->left && node->right) {
        // The in-order successor's data moves up; the successor goes.
        bt_node **successor_link = &node->right;
        while ((*successor_link)->left) successor_link = &(*successor_link)->left;
        bt_node *successor = *successor_link;
        node->data = successor->data;
        *successor_link = successor->right;
        std::free(successor);
    } else {
        *link = node->left ? node->left : node->right;
        std::free(node);
    }
    if (data) --tree->count;
    return data;
}

void *bt_min(bt_tree *tree) {
    if (!tree) return nullptr;
    container::Lock lock(tree->mutex);
    bt_node *node = tree->root;
    while (node && node->left) node = node->left;
    return node ? node->data : nullptr;
}

void *bt_max(bt_tree *tree) {
    if (!tree) return nullptr;
    container::Lock lock(tree->mutex);
    bt_node *node = tree->root;
    while (node && node->right) node = node->right;
    return node ? node->data : nullptr;
}

int bt_height(bt_tree *tree) {
    if (!tree) return 0;
    container::Lock lock(tree->mutex);
    int height = 0;
    try {
        std::vector<bt_node *> level, next;
        if (tree->root) level.push_back(tree->root);
        for (; !level.empty(); ++height, level.swap(next)) {
            next.clear();
            for (bt_node *node : level) {
                if (node->left) next.push_back(node->left);
                if (node->right) next.push_back(node->right);
            }
        }
    } catch (const std::bad_alloc &) {
        return -1;
    }
    return height;
}

void *bt_traverse(bt_tree *tree, int lock, int order, ll_visit visit, void *argument) {
    if (!tree || !visit) return nullptr;
    container::Lock guard(tree->mutex, lock);
    if (!tree->root) return nullptr;
    if (order == 3) {
        walk_levels(tree->root, visit, argument);
        return nullptr;
    }
    if (order < 0 || order > 4) return nullptr;
    try {
        return walk_depth_first(tree->root, order, visit, argument);
    } catch (const std::bad_alloc &) {
        return nullptr;  // out of memory: the walk ends where it got to
    }
}

void bt_free(bt_tree *tree) {
    if (!tree) return;
    // Rotating each left child up until the root has none frees every node
    // without a stack.
    for (bt_node *node = tree->root; node;) {
        if (bt_node *left = node->left) {
            node->left = left->right;
            left->right = node;
            node = left;
        } else {
            bt_node *right = node->right;
            std::free(node);
            node = right;
        }
    }
    pthread_mutex_destroy(&tree->mutex);
    std::free(tree);
}

}  // extern "C"
