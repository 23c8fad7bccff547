// The circular list of opaque data pointers, with its queue alias.
#include <cstdlib>
#include <new>
#include <utility>

#include "request/container_lock.h"
#include "webadmin.h"

namespace {

ll_node *head_of(const ll_list *list) { return list->tail ? list->tail->next : nullptr; }

// The first node from the head whose data matches key, and the node before
// it (the tail for the head); nothing when none matches.
std::pair<ll_node *, ll_node *> find_with_predecessor(ll_list *list, const void *key, ll_compare compare) {
    ll_node *before = list->tail;
    for (uint32_t i = 0; i < list->count; ++i) {
        ll_node *node = before->next;
        if (compare(node->data, key) == 0) return {node, before};
        before = node;
    }
    return {nullptr, nullptr};
}

// Takes node (whose predecessor is before) out of the circle; its data.
void *unlink(ll_list *list, ll_node *node, ll_node *before) {
    if (node == before) {
        list->tail = nullptr;
    } else {
        before->next = node->next;
        if (list->tail == node) list->tail = before;
    }
    --list->count;
    void *data = node->data;
    std::free(node);
    return data;
}

// A new node after the tail; it becomes the tail when as_tail is set, else
// the head.
ll_list *insert(ll_list *list, void *data, bool as_tail) {
    if (!list) return nullptr;
    auto *node = static_cast<ll_node *>(std::malloc(sizeof(ll_node)));
    if (!node) return nullptr;
    node->data = data;
    container::Lock lock(list->mutex);
    if (list->tail) {
        node->next = list->tail->next;
        list->tail->next = node;
    } else {
        node->next = node;
        list->tail = node;
    }
    if (as_tail) list->tail = node;
    ++list->count;
    return list;
}

}  // namespace

extern "C" {

ll_list *ll_init(void) {
    auto *list = static_cast<ll_list *>(std::calloc(1, sizeof(ll_list)));
    if (list && pthread_mutex_init(&list->mutex, nullptr) != 0) {
        std::free(list);
        return nullptr;
    }
    return list;
}

int ll_empty(ll_list *list) { return !list || list->count == 0; }

uint32_t ll_count(ll_list *list) {
    if (!list) return 0;
    container::Lock lock(list->mutex);
    return list->count;
}

void *ll_head(ll_list *list) {
    if (!list) return nullptr;
    container::Lock lock(list->mutex);
    ll_node *head = head_of(list);
    return head ? head->data : nullptr;
}

void *ll_tail(ll_list *list) {
    if (!list) return nullptr;
    container::Lock lock(list->mutex);
    return list->tail ? list->tail->data : nullptr;
}

ll_list *ll_append(ll_list *list, void *data) { return insert(list, data, true); }

ll_list *ll_prepend(ll_list *list, void *data) { return insert(list, data, false); }

void *ll_get(ll_list *list, ll_node **cursor, int lock) {
    if (!list || !cursor) return nullptr;
    container::Lock guard(list->mutex, lock);
    if (!list->tail || *cursor == list->tail) return nullptr;
    *cursor = *cursor ? (*cursor)->next : head_of(list);
    return (*cursor)->data;
}

void *ll_find(ll_list *list, const void *key, int lock, ll_compare compare) {
    if (!list || !compare) return nullptr;
    container::Lock guard(list->mutex, lock);
    ll_node *node = find_with_predecessor(list, key, compare).first;
    return node ? node->data : nullptr;
}

int ll_traverse(ll_list *list, int lock, ll_visit visit, void *argument) {
    if (!list || !visit) return 0;
    container::Lock guard(list->mutex, lock);
    if (!list->tail) return 0;
    for (ll_node *node = head_of(list);; node = node->next) {
        if (!visit(node->data, argument)) return 0;
        if (node == list->tail) return 1;
    }
}

int ll_swapline(ll_list *list, const void *key_a, const void *key_b, int lock, ll_compare compare) {
    if (!list || !compare) return -1;
    container::Lock guard(list->mutex, lock);
    auto [a, before_a] = find_with_predecessor(list, key_a, compare);
    auto [b, before_b] = find_with_predecessor(list, key_b, compare);
    if (!a || !b) return -1;
    // These four steps also hold for neighbours in either order, a list of
    // two and a node swapped with itself.
    if (list->tail == a) list->tail = b;
    else if (list->tail == b) list->tail = a;
    before_a->next = b;
    before_b->next = a;
    std::swap(a->next, b->next);
    return 0;
}

void *ll_delete(ll_list *list, const void *key, ll_compare compare) {
    if (!list || !compare) return nullptr;
    container::Lock lock(list->mutex);
    auto [node, before] = find_with_predecessor(list, key, compare);
    return node ? unlink(list, node, before) : nullptr;
}

void *ll_delete_head(ll_list *list) {
    if (!list) return nullptr;
    container::Lock lock(list->mutex);
    return list->tail ? unlink(list, list->tail->next, list->tail) : nullptr;
}

void *dq_pop(ll_list *list) { return ll_delete_head(list); }

void *ll_delete_tail(ll_list *list) {
    if (!list) return nullptr;
    container::Lock lock(list->mutex);
    if (!list->tail) return nullptr;
    ll_node *before = list->tail;
    while (before->next != list->tail) before = before->next;
    return unlink(list, list->tail, before);
}

void ll_free(ll_list *list) {
    if (!list) return;
    if (list->tail) {
        ll_node *node = list->tail->next;
        list->tail->next = nullptr;
        while (node) {
            ll_node *next = node->next;
            std::free(node);
            node = next;
        }
    }
    pthread_mutex_destroy(&list->mutex);
    std::free(list);
}

}  // extern "C"
