// The member list shared by the collections and the MIB store: a doubly linked list in
// insertion order whose nodes come from a pool that grows in blocks of 10 nodes. Nodes of
// removed entries go back to the pool; the pool is released with the list.
#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>
#include <vector>

namespace velk::sock {

template <class T>
class PooledList {
    static_assert(std::is_trivially_copyable_v<T>, "list values are plain handles");

public:
    static constexpr size_t kBlockSize = 10;

    struct Node {
        T value;
        Node* prev;
        Node* next;
    };

    PooledList() = default;
    PooledList(const PooledList&) = delete;
    PooledList& operator=(const PooledList&) = delete;

    size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    Node* Head() const { return head_; }
    Node* Tail() const { return tail_; }
    // Nodes allocated so far (in use and free), for tests of the pool.
    size_t Capacity() const { return blocks_.size() * kBlockSize; }

    Node* PushBack(T value) {
        Node* n = Allocate();
        n->value = value;
        n->prev = tail_;
        n->next = nullptr;
        if (tail_)
            tail_->next = n;
        else
            head_ = n;
        tail_ = n;
        ++size_;
        return n;
    }

    // Unlinks `n` (which must belong to this list) and returns its node to the pool.
    T Remove(Node* n) {
        T value = n->value;
        if (n->prev)
            n->prev->next = n->next;
        else
            head_ = n->next;
        if (n->next)
            n->next->prev = n->prev;
        else
            tail_ = n->prev;
        --size_;
        n->next = free_;
        n->prev = nullptr;
        free_ = n;
        return value;
    }

    // Node at a 0-based position in insertion order, or null; linear.
    Node* At(size_t index) const {
        if (index >= size_) return nullptr;
        Node* n = head_;
        while (index--) n = n->next;
        return n;
    }

    template <class F>
    void ForEach(F&& f) const {
        for (Node* n = head_; n; n = n->next) f(n->value);
    }

private:
    Node* Allocate() {
        if (!free_) {
            blocks_.push_back(std::make_unique<Node[]>(kBlockSize));
            Node* block = blocks_.back().get();
            for (size_t i = kBlockSize; i-- > 0;) {
                block[i].next = free_;
                free_ = &block[i];
            }
        }
        Node* n = free_;
        free_ = n->next;
        return n;
    }

    std::vector<std::unique_ptr<Node[]>> blocks_;
    Node* free_ = nullptr;
    Node* head_ = nullptr;
    Node* tail_ = nullptr;
    size_t size_ = 0;
};

}  // namespace velk::sock
