// Owning lists.
//
// TClassList<T> owns its items and frees them when they are deleted, when the
// list is cleared and when the list itself goes. Indexes are 0-based; an index
// outside 0..Count()-1 is ignored by the changing operations and gives nullptr
// from ItemAt, so a stale index can never free or reach the wrong memory.
#pragma once

#include <algorithm>
#include <any>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace lentar {

template <class T>
class TClassList {
 public:
  TClassList() = default;
  TClassList(const TClassList&) = delete;
  TClassList& operator=(const TClassList&) = delete;
  TClassList(TClassList&&) noexcept = default;
  TClassList& operator=(TClassList&&) noexcept = default;
  virtual ~TClassList() = default;

  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }

  // Takes ownership of item (a null item is not added) and returns it.
  T* Add(std::unique_ptr<T> item) {
    if (!item) return nullptr;
    items_.push_back(std::move(item));
    return items_.back().get();
  }
  // Inserts before index (clamped to 0..Count()).
  T* Insert(int index, std::unique_ptr<T> item) {
    if (!item) return nullptr;
    const int at = std::clamp(index, 0, Count());
    return items_.insert(items_.begin() + at, std::move(item))->get();
  }

  // Frees every item, then empties the list.
  void ClearItems() { items_.clear(); }
  // Frees the item at index and removes it; an index out of range does nothing.
  void DeleteItem(int index) {
    if (index < 0 || index >= Count()) return;
    items_.erase(items_.begin() + index);
  }
  // Deletes item when the list holds it; anything else does nothing.
  void RemoveItem(const T* item) { DeleteItem(IndexOf(item)); }
  // Hands the item at index over to the caller and removes it from the list;
  // nullptr when the index is out of range.
  std::unique_ptr<T> ExtractItem(int index) {
    if (index < 0 || index >= Count()) return nullptr;
    std::unique_ptr<T> item = std::move(items_[static_cast<size_t>(index)]);
    items_.erase(items_.begin() + index);
    return item;
  }
  // Moves the item at from to position to; out-of-range indexes do nothing.
  void MoveItem(int from, int to) {
    if (from < 0 || from >= Count() || to < 0 || to >= Count() || from == to) return;
    std::unique_ptr<T> item = std::move(items_[static_cast<size_t>(from)]);
    items_.erase(items_.begin() + from);
    items_.insert(items_.begin() + to, std::move(item));
  }

  // The item at index (still owned by the list), nullptr when out of range.
  T* ItemAt(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return items_[static_cast<size_t>(index)].get();
  }
  // Index of item, -1 when the list does not hold it.
  int IndexOf(const T* item) const {
    if (!item) return -1;
    for (size_t i = 0; i < items_.size(); ++i) {
      if (items_[i].get() == item) return static_cast<int>(i);
    }
    return -1;
  }

  // Iteration over the owned pointers.
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 protected:
  std::vector<std::unique_ptr<T>> items_;
};

// The project's list of message records. Nothing in the program adds to it:
// it exists empty and is emptied whenever the project is reloaded. It holds
// records of any type.
class TRecList : public TClassList<std::any> {};

}  // namespace lentar
