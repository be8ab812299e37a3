// A flat open-addressing table keyed by pairs of 64-bit integers (grid cells, node or vertex
// pairs). Lookups and insertions on hot paths allocate nothing but the occasional doubling, and
// the table is never iterated, so its layout cannot leak into any result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "assert.hpp"

namespace strandify {

struct PairKey {
  std::uint64_t first;
  std::uint64_t second;
  bool operator==(const PairKey& o) const { return first == o.first && second == o.second; }
};

// The key of an unordered pair: the smaller member first.
inline PairKey unordered_pair(std::uint64_t a, std::uint64_t b) {
  return a < b ? PairKey{a, b} : PairKey{b, a};
}

// The hash of an integer pair, for this table and for the hash maps keyed by grid cells. Only
// lookups ever depend on it: no table or map of ours is iterated into a result.
// Snapping asks up to nine cells per point, so the hash is one multiply per member and a fold of
// the high half into the low bits that the tables index by: the keys are grid cells and node
// ids, small neighbouring integers that multiplicative hashing spreads well. Its parts are
// there for a caller that hashes many pairs sharing members: pair_hash(a, b) is
// pair_hash_join(pair_hash_first(a), pair_hash_second(b)).
inline std::uint64_t pair_hash_first(std::uint64_t first) { return first * 0x9e3779b97f4a7c15ULL; }
inline std::uint64_t pair_hash_second(std::uint64_t second) { return second * 0xc2b2ae3d27d4eb4fULL; }
inline std::uint64_t pair_hash_join(std::uint64_t first_part, std::uint64_t second_part) {
  const std::uint64_t h = first_part ^ second_part;
  return h ^ (h >> 32);
}
inline std::uint64_t pair_hash(std::uint64_t first, std::uint64_t second) {
  return pair_hash_join(pair_hash_first(first), pair_hash_second(second));
}

// The slots of a table that holds `expected` keys at most half full: a power of two, at least 16.
inline std::size_t table_capacity(std::size_t expected) {
  std::size_t capacity = 16;
  while (capacity < 2 * expected && capacity < (std::numeric_limits<std::size_t>::max() >> 2))
    capacity *= 2;
  return capacity;
}

// Open-addressing table from integer pairs to values, with linear probing in one flat array:
// the per-point lookups of snapping and the per-edge pair checks allocate nothing but the
// occasional doubling. Only lookups and insertions; it is never iterated.
template <class Value>
class PairTable {
 public:
  explicit PairTable(std::size_t expected) {
    slots_.resize(table_capacity(expected));
  }

  const Value* find(const PairKey& key) const {
    const Slot& slot = slots_[probe(key)];
    return slot.used ? &slot.value : nullptr;
  }

  // Adds key -> value unless the key is present; true when it was added.
  bool insert(const PairKey& key, const Value& value) {
    std::size_t at = probe(key);
    if (slots_[at].used) return false;
    if (2 * (size_ + 1) > slots_.size()) {
      grow();
      at = probe(key);
    }
    slots_[at] = {key, value, true};
    ++size_;
    return true;
  }

 private:
  struct Slot {
    PairKey key{0, 0};
    Value value{};
    bool used = false;
  };

  // The slot holding `key`, or the empty slot where it would go; the table is never full.
  std::size_t probe(const PairKey& key) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = static_cast<std::size_t>(pair_hash(key.first, key.second)) & mask;
    while (slots_[at].used && !(slots_[at].key == key)) at = (at + 1) & mask;
    return at;
  }

  void grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& slot : old) {
      if (slot.used) slots_[probe(slot.key)] = slot;
    }
  }

  std::vector<Slot> slots_;
  std::size_t size_ = 0;
};

// A set of unordered pairs of node ids, for the checks that keep one edge per pair of nodes.
// Ids below 2^32 (every graph that fits in memory) are packed into one 64-bit word per slot,
// the smaller id high: a third of the memory of a PairTable slot to clear and probe. The word
// of a pair is never zero (its larger id is at least 1, and a node paired with itself is never
// asked), so zero marks an empty slot. Larger ids go to a PairTable; both answer alike.
class NodePairSet {
 public:
  explicit NodePairSet(std::size_t expected) {
    slots_.resize(table_capacity(expected));
  }

  // Adds the pair {a, b} (a != b) unless it is present; true when it was added.
  bool insert(std::uint64_t a, std::uint64_t b) {
    STRANDIFY_ASSERT(a != b);  // the pair of node 0 with itself would read as an empty slot
    const std::uint64_t lo = a < b ? a : b, hi = a < b ? b : a;
    if (hi > kPackedMax) {
      if (!wide_) wide_.emplace(16);
      return wide_->insert({lo, hi}, 1);
    }
    const std::uint64_t word = lo << 32 | hi;
    std::size_t at = probe(word);
    if (slots_[at] == word) return false;
    if (2 * (size_ + 1) > slots_.size()) {
      grow();
      at = probe(word);
    }
    slots_[at] = word;
    ++size_;
    return true;
  }

 private:
  static constexpr std::uint64_t kPackedMax = 0xffffffffULL;

  // The slot holding `word`, or the empty slot where it would go; the table is never full.
  std::size_t probe(std::uint64_t word) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = static_cast<std::size_t>(pair_hash(word >> 32, word & kPackedMax)) & mask;
    while (slots_[at] != 0 && slots_[at] != word) at = (at + 1) & mask;
    return at;
  }

  void grow() {
    std::vector<std::uint64_t> old(slots_.size() * 2, 0);
    old.swap(slots_);
    for (const std::uint64_t word : old) {
      if (word != 0) slots_[probe(word)] = word;
    }
  }

  std::vector<std::uint64_t> slots_;
  std::size_t size_ = 0;
  std::optional<PairTable<unsigned char>> wide_;  // made when the first wide pair comes
};

}  // namespace strandify
