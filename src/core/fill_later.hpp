// A vector for arrays that are sized first and then written element by element: resizing it
// leaves new elements of trivial types unset, where std::vector writes zeros over every one of
// them first. Only for arrays whose every element the code that sizes them writes before any
// is read.
#pragma once

#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace strandify {

template <class T>
struct FillLaterAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = FillLaterAllocator<U>;
  };
  FillLaterAllocator() noexcept = default;
  template <class U>
  FillLaterAllocator(const FillLaterAllocator<U>&) noexcept {}

  // Default construction is default-initialisation: nothing for a trivial type.
  template <class U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

template <class T>
using FillLaterVector = std::vector<T, FillLaterAllocator<T>>;

}  // namespace strandify
