// The sort of the record lists: an in-place quicksort with an explicit
// stack of pending ranges and the median of three as pivot; ranges of 32
// or fewer elements are finished by insertion sort. Not stable.
#pragma once

#include <algorithm>
#include <cstddef>
#include <system_error>
#include <thread>
#include <utility>

template <typename T, typename Less>
void qvInsertionSort(T* a, size_t n, Less& less) {
  for (size_t i = 1; i < n; ++i) {
    T v = a[i];
    size_t j = i;
    while (j > 0 && less(v, a[j - 1])) {
      a[j] = a[j - 1];
      --j;
    }
    a[j] = v;
  }
}

template <typename T, typename Less>
void qvQuickSort(T* a, size_t n, Less less) {
  constexpr size_t kSmall = 32;
  // Pushing the larger part and going on with the smaller keeps the stack
  // below log2(n) entries; 64 covers any size_t.
  struct Range {
    size_t lo, hi;  // [lo, hi)
  } stack[64];
  size_t depth = 0;
  size_t lo = 0, hi = n;
  for (;;) {
    while (hi - lo > kSmall) {
      size_t mid = lo + (hi - lo) / 2;
      T* x = &a[lo];
      T* y = &a[mid];
      T* z = &a[hi - 1];
      // Order the three samples so that *y is the median.
      if (less(*y, *x)) std::swap(*x, *y);
      if (less(*z, *y)) {
        std::swap(*y, *z);
        if (less(*y, *x)) std::swap(*x, *y);
      }
      T pivot = *y;
      size_t i = lo, j = hi - 1;
      for (;;) {
        while (less(a[i], pivot)) ++i;
        while (less(pivot, a[j])) --j;
        if (i >= j) break;
        std::swap(a[i], a[j]);
        ++i;
        --j;
      }
      // [lo, j] and [j + 1, hi)
      size_t split = j + 1;
      if (split - lo > hi - split) {
        stack[depth++] = {lo, split};
        lo = split;
      } else {
        stack[depth++] = {split, hi};
        hi = split;
      }
    }
    qvInsertionSort(a + lo, hi - lo, less);
    if (depth == 0) break;
    --depth;
    lo = stack[depth].lo;
    hi = stack[depth].hi;
  }
}

// Sorts a[0..n) on two threads: each half by the quicksort, then one merge
// into `buffer` (n elements). Returns where the sorted elements are: a, or
// buffer. Small inputs, or no second thread to be had, sort in place here.
template <typename T, typename Less>
T* qvSortOnTwoThreads(T* a, size_t n, T* buffer, Less less) {
  constexpr size_t kWorthASecondThread = 1 << 15;
  if (n < kWorthASecondThread || !buffer || std::thread::hardware_concurrency() < 2) {
    qvQuickSort(a, n, less);
    return a;
  }
  size_t half = n / 2;
  std::thread helper;
  try {
    helper = std::thread([a, half, less] { qvQuickSort(a, half, less); });
  } catch (const std::system_error&) {
    qvQuickSort(a, n, less);
    return a;
  }
  qvQuickSort(a + half, n - half, less);
  helper.join();
  std::merge(a, a + half, a + half, a + n, buffer, less);
  return buffer;
}
