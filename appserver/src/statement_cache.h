// The prepared statements of one database session, by text: each text is prepared once
// and kept while it is among the most recently used. Used by both drivers.
#pragma once

#include <cassert>
#include <cstddef>
#include <functional>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace qadj::appserver {

template <class Handle>
class StatementCache {
 public:
  // release frees a handle the cache drops (evicted, or at destruction); it must not
  // throw.
  StatementCache(std::size_t capacity, std::function<void(Handle&)> release)
      : capacity_(capacity), release_(std::move(release)) {
    assert(capacity_ > 0);
  }
  ~StatementCache() { clear(); }
  StatementCache(const StatementCache&) = delete;
  StatementCache& operator=(const StatementCache&) = delete;

  // The handle kept for key, now the most recently used; null when there is none.
  Handle* find(std::string_view key) {
    const auto it = index_.find(key);
    if (it == index_.end()) return nullptr;
    entries_.splice(entries_.begin(), entries_, it->second);
    return &it->second->second;
  }

  // Keeps handle for key (which must not be kept yet), dropping the least recently used
  // handle when the cache is full. Returns the kept handle.
  Handle& insert(std::string key, Handle handle) {
    assert(index_.find(key) == index_.end());
    if (entries_.size() == capacity_) {
      auto& oldest = entries_.back();
      index_.erase(oldest.first);
      release_(oldest.second);
      entries_.pop_back();
    }
    entries_.emplace_front(std::move(key), std::move(handle));
    index_.emplace(entries_.front().first, entries_.begin());
    return entries_.front().second;
  }

  // Drops every handle.
  void clear() {
    for (auto& entry : entries_) release_(entry.second);
    entries_.clear();
    index_.clear();
  }

  std::size_t size() const { return entries_.size(); }

 private:
  using Entries = std::list<std::pair<std::string, Handle>>;
  std::size_t capacity_;
  std::function<void(Handle&)> release_;
  Entries entries_;  // most recently used first
  // Keys view the strings in entries_, whose nodes never move.
  std::unordered_map<std::string_view, typename Entries::iterator> index_;
};

}  // namespace qadj::appserver
