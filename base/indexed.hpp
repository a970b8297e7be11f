#pragma once
// Arrays indexed as the model numbers them (from 1, or from 0 where stated), so
// that loops read like the algorithm they implement. Fixed-size arrays live
// inline; large ones are allocated once, at start-up, and never resized.
#include <array>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

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

// A zero-filled array of plain numbers allocated once on the heap. calloc
// hands out large blocks as untouched zero pages, so the capacities cost
// nothing at start-up until they are used.
template <class T>
class Zeroed {
  static_assert(std::is_arithmetic_v<T>);

 public:
  explicit Zeroed(std::size_t size) : size_(size), data_(static_cast<T*>(std::calloc(size, sizeof(T)))) {
    if (data_ == nullptr) throw std::bad_alloc();
  }
  T& operator[](std::size_t i) { return data_.get()[i]; }
  const T& operator[](std::size_t i) const { return data_.get()[i]; }
  std::size_t size() const { return size_; }
  T* data() { return data_.get(); }
  const T* data() const { return data_.get(); }

 private:
  struct Free {
    void operator()(T* p) const { std::free(p); }
  };
  std::size_t size_;
  std::unique_ptr<T, Free> data_;
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
  Zeroed<T> data_;
};

}  // namespace bravik
