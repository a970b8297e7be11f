#pragma once
// Arrays indexed as the model numbers them (from 1, or from 0 where stated), so
// that loops read like the algorithm they implement. Fixed-size arrays live
// inline; large ones are allocated once, at start-up, and never resized.
#include <array>
#include <cstddef>
#include <vector>

namespace bravik {

// Indices First..Last inline.
template <class T, int First, int Last>
class Fixed {
 public:
  T& operator()(int i) { return data_[static_cast<std::size_t>(i - First)]; }
  const T& operator()(int i) const { return data_[static_cast<std::size_t>(i - First)]; }
  void fill(const T& value) { data_.fill(value); }
  T* data() { return data_.data(); }
  const T* data() const { return data_.data(); }

 private:
  std::array<T, static_cast<std::size_t>(Last - First + 1)> data_{};
};

// Indices First..First+capacity-1, allocated once on the heap.
template <class T, int First>
class Heap {
 public:
  explicit Heap(int capacity) : data_(static_cast<std::size_t>(capacity)) {}
  T& operator()(int i) { return data_[static_cast<std::size_t>(i - First)]; }
  const T& operator()(int i) const { return data_[static_cast<std::size_t>(i - First)]; }
  int capacity() const { return static_cast<int>(data_.size()); }
  T* data() { return data_.data(); }
  const T* data() const { return data_.data(); }

 private:
  std::vector<T> data_;
};

}  // namespace bravik
