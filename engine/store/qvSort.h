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

// The sort of names by their collation keys. Each item carries `key`, the
// 64-bit key of its name from byte 0. The items are sorted by key alone;
// each run of equal keys is then sorted by the next key of its names, from
// where the run's keys stopped, and so on; only what is still tied when
// the keys run out goes to the comparison of the names. Most comparisons
// are then of two integers in the array, not of two names in the records.
//
// keyAt(item, &from) is the key of the item's name from byte `from` on,
// as qvCollation::SortKeyAt gives it; nameLess the order of the names;
// sameNames(first, count) is handed each group of items whose names read
// the same units, to order by what the names leave out (or to note, when
// that cannot be read yet).
constexpr size_t kQvNoNextKey = static_cast<size_t>(-1);
constexpr size_t kQvNameEnded = static_cast<size_t>(-2);

template <typename Item, typename KeyAt, typename Less, typename SameNames>
void qvSortTiedRun(Item* a, size_t n, size_t from, KeyAt& keyAt, Less& nameLess, SameNames& sameNames);

template <typename Item, typename KeyAt, typename Less, typename SameNames>
void qvSortRunsOfEqualKeys(Item* a, size_t n, size_t from, KeyAt& keyAt, Less& nameLess, SameNames& sameNames) {
  for (size_t i = 0; i < n;) {
    size_t j = i + 1;
    while (j < n && a[j].key == a[i].key) ++j;
    if (j - i > 1) qvSortTiedRun(a + i, j - i, from, keyAt, nameLess, sameNames);
    i = j;
  }
}

template <typename Item, typename KeyAt, typename Less, typename SameNames>
void qvSortTiedRun(Item* a, size_t n, size_t from, KeyAt& keyAt, Less& nameLess, SameNames& sameNames) {
  const uint64_t shared = a[0].key;
  size_t next = from;
  keyAt(a[0], &next);  // equal keys stop at the same byte: one name tells it
  if (next == kQvNameEnded) {
    sameNames(a, n);
    return;
  }
  if (next == kQvNoNextKey) {
    // A unit the keys cannot place: the names decide, and what they leave
    // tied goes on as equal names.
    qvQuickSort(a, n, nameLess);
    for (size_t i = 0; i < n;) {
      size_t j = i + 1;
      while (j < n && !nameLess(a[i], a[j])) ++j;
      if (j - i > 1) sameNames(a + i, j - i);
      i = j;
    }
    return;
  }
  for (size_t i = 0; i < n; ++i) {
    size_t at = next;
    a[i].key = keyAt(a[i], &at);
  }
  qvQuickSort(a, n, [](const Item& x, const Item& y) { return x.key < y.key; });
  qvSortRunsOfEqualKeys(a, n, next, keyAt, nameLess, sameNames);
  for (size_t i = 0; i < n; ++i) a[i].key = shared;  // a merge reads the first keys
}

template <typename Item, typename KeyAt, typename Less, typename SameNames>
void qvSortByKeys(Item* a, size_t n, KeyAt& keyAt, Less& nameLess, SameNames& sameNames) {
  qvQuickSort(a, n, [](const Item& x, const Item& y) { return x.key < y.key; });
  qvSortRunsOfEqualKeys(a, n, 0, keyAt, nameLess, sameNames);
}

// qvSortByKeys on two threads: each sorts one half, and the halves are
// merged into out(item), called once per item in order; fullLess is the
// whole order, names and what decides between equal names. No second
// array: the merge writes where the caller wants the order.
template <typename Item, typename KeyAt, typename Less, typename SameNames, typename FullLess, typename Out>
void qvSortByKeysOnTwoThreads(Item* a, size_t n, KeyAt keyAt, Less nameLess, SameNames sameNames, FullLess fullLess,
                              Out&& out) {
  constexpr size_t kWorthASecondThread = 1 << 15;
  size_t half = n;
  if (n >= kWorthASecondThread && std::thread::hardware_concurrency() >= 2) {
    half = n / 2;
    std::thread helper;
    try {
      helper = std::thread([a, half, keyAt, nameLess, sameNames]() mutable {
        qvSortByKeys(a, half, keyAt, nameLess, sameNames);
      });
    } catch (const std::system_error&) {
      half = n;
    }
    if (helper.joinable()) {
      qvSortByKeys(a + half, n - half, keyAt, nameLess, sameNames);
      helper.join();
    }
  }
  if (half == n) qvSortByKeys(a, n, keyAt, nameLess, sameNames);
  const Item* x = a;
  const Item* xEnd = a + half;
  const Item* y = a + half;
  const Item* yEnd = a + n;
  while (x < xEnd && y < yEnd) {
    // Ties go to the first half, as std::merge has it.
    bool takeY = y->key != x->key ? y->key < x->key : fullLess(*y, *x);
    out(takeY ? *y++ : *x++);
  }
  while (x < xEnd) out(*x++);
  while (y < yEnd) out(*y++);
}
