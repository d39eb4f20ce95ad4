// An open-addressing hash map for the per-call tables of the target model
// (object identities, module ids): one allocation per table instead of one per
// element, which matters at a hundred thousand modules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace nvx::model {

struct IdentityHash {
    std::uint64_t operator()(const void* key) const {
        return (static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key)) >> 4) *
               0x9E3779B97F4A7C15ull;
    }
};

struct TextHash {
    // Eight bytes at a time, each word mixed in with a multiply; module ids
    // are tens of bytes, hashed once per row and per rule.
    std::uint64_t operator()(std::string_view key) const {
        std::uint64_t h = 0x9E3779B97F4A7C15ull ^ key.size();
        std::size_t at = 0;
        for (; at + 8 <= key.size(); at += 8) {
            std::uint64_t word;
            std::memcpy(&word, key.data() + at, 8);
            h = (h ^ word) * 0xbf58476d1ce4e5b9ull;
            h ^= h >> 31;
        }
        std::uint64_t tail = 0;
        std::memcpy(&tail, key.data() + at, key.size() - at);
        h = (h ^ tail) * 0x94d049bb133111ebull;
        return h ^ (h >> 29);
    }
};

template <typename Key, typename Value, typename Hash>
class FlatMap {
public:
    explicit FlatMap(std::size_t expected = 16) { rehash(capacity_for(expected)); }

    // The value stored under `key`, or nullptr.
    Value* find(const Key& key) { return const_cast<Value*>(std::as_const(*this).find(key)); }
    const Value* find(const Key& key) const {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = Hash{}(key)&mask;; i = (i + 1) & mask) {
            const Slot& slot = slots_[i];
            if (!slot.used) return nullptr;
            if (slot.key == key) return &slot.value;
        }
    }

    // The value under `key`, inserted as `fallback` when missing; second is true
    // when it was inserted.
    std::pair<Value*, bool> insert(const Key& key, const Value& fallback) {
        if ((size_ + 1) * 2 > slots_.size()) {
            rehash(slots_.size() * 2);
        }
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = Hash{}(key)&mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (!slot.used) {
                slot.used = true;
                slot.key = key;
                slot.value = fallback;
                ++size_;
                return {&slot.value, true};
            }
            if (slot.key == key) return {&slot.value, false};
        }
    }

    // Inserts or overwrites.
    void assign(const Key& key, const Value& value) { *insert(key, value).first = value; }

    std::size_t size() const { return size_; }

private:
    struct Slot {
        Key key{};
        Value value{};
        bool used = false;
    };

    static std::size_t capacity_for(std::size_t expected) {
        std::size_t capacity = 16;
        while (capacity < expected * 2) capacity *= 2;
        return capacity;
    }

    void rehash(std::size_t capacity) {
        std::vector<Slot> old(capacity);
        old.swap(slots_);
        size_ = 0;
        for (const Slot& slot : old) {
            if (slot.used) insert(slot.key, slot.value);
        }
    }

    std::vector<Slot> slots_;
    std::size_t size_ = 0;
};

template <typename Value>
using IdentityMap = FlatMap<const void*, Value, IdentityHash>;

template <typename Value>
using TextMap = FlatMap<std::string_view, Value, TextHash>;

}  // namespace nvx::model
