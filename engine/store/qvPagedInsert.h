// Ordered insertion into and removal from the paged containers (the record
// lists and the folder map), moving items within one page or to one
// neighbour, so that a live change costs a binary search and one shift.
//
// A container has pages of S slots; each page uses the window
// [first, end) of its slots, and the items ascend across pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace qvPaged {

template <typename Page>
constexpr uint32_t Slots() {
  return Page::kCapacity;
}

// Moves a page's window by `delta` slots (-1 or +1).
template <typename Page>
void ShiftWindow(Page* page, int delta) {
  auto* items = page->Items();
  std::memmove(items + page->first + delta, items + page->first, page->Count() * sizeof(items[0]));
  page->first += delta;
  page->end += delta;
}

// The first position in the page whose item does not compare below `item`.
template <typename Page, typename Item, typename Less>
uint32_t LowerBound(Page* page, const Item& item, Less& less) {
  uint32_t lo = page->first, hi = page->end;
  auto* items = page->Items();
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    if (less(items[mid], item)) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

// Index of the first page whose last item does not compare below `item`,
// or the page count when there is none.
template <typename Container, typename Item, typename Less>
size_t FindPage(Container& c, const Item& item, Less& less) {
  for (size_t i = 0; i < c.PageCount(); ++i) {
    auto* page = c.Page(i);
    if (page->end == page->first) continue;
    if (!less(page->Items()[page->end - 1], item)) return i;
  }
  return c.PageCount();
}

// Inserts into a page that has a free slot, shifting the side with more
// room.
template <typename Page, typename Item>
void InsertIntoPage(Page* page, uint32_t p, const Item& item) {
  constexpr uint32_t S = Slots<Page>();
  auto* items = page->Items();
  if (page->first < S - page->end) {
    std::memmove(items + p + 1, items + p, (page->end - p) * sizeof(items[0]));
    items[p] = item;
    ++page->end;
  } else {
    std::memmove(items + page->first - 1, items + page->first, (p - page->first) * sizeof(items[0]));
    items[p - 1] = item;
    --page->first;
  }
}

// Appends after the last item of the container.
template <typename Container, typename Item>
bool AppendLast(Container& c, const Item& item) {
  using Page = std::remove_pointer_t<decltype(c.Page(0))>;
  constexpr uint32_t S = Slots<Page>();
  size_t last = c.PageCount() - 1;
  Page* page = c.Page(last);
  if (page->end < S) {
    page->Items()[page->end++] = item;
    return true;
  }
  if (page->first > 0) {
    ShiftWindow(page, -1);
    page->Items()[page->end++] = item;
    return true;
  }
  if (last > 0 && c.Page(last - 1)->Count() < S) {
    Page* prev = c.Page(last - 1);
    if (prev->end == S) ShiftWindow(prev, -1);
    prev->Items()[prev->end++] = page->Items()[page->first++];
    ShiftWindow(page, -1);
    page->Items()[page->end++] = item;
    return true;
  }
  Page* fresh = c.InsertPage(last + 1);
  if (!fresh) return false;
  page = c.Page(last);
  constexpr uint32_t half = S / 2;
  std::memcpy(fresh->Items() + S / 4, page->Items() + S - half, half * sizeof(item));
  fresh->first = S / 4;
  fresh->end = S / 4 + half;
  page->end = S - half;
  fresh->Items()[fresh->end++] = item;
  return true;
}

// Inserts `item` in order. Returns false when out of memory. The caller
// has already dealt with equal keys where they must not repeat.
template <typename Container, typename Item, typename Less>
bool Insert(Container& c, const Item& item, Less less) {
  using Page = std::remove_pointer_t<decltype(c.Page(0))>;
  constexpr uint32_t S = Slots<Page>();
  constexpr uint32_t kMiddleThreshold = S / 2 - 1;
  size_t i = FindPage(c, item, less);
  if (i == c.PageCount()) {
    if (!AppendLast(c, item)) return false;
    c.AdjustCount(1);
    return true;
  }
  Page* page = c.Page(i);
  uint32_t p = LowerBound(page, item, less);
  if (page->Count() < S) {
    InsertIntoPage(page, p, item);
    c.AdjustCount(1);
    return true;
  }
  // A full page: first its previous page, then its next page.
  if (i > 0 && c.Page(i - 1)->Count() < S) {
    Page* prev = c.Page(i - 1);
    if (prev->end == S) ShiftWindow(prev, -1);
    if (p == page->first) {
      prev->Items()[prev->end++] = item;
    } else {
      prev->Items()[prev->end++] = page->Items()[page->first++];
      InsertIntoPage(page, p, item);
    }
    c.AdjustCount(1);
    return true;
  }
  if (i + 1 < c.PageCount() && c.Page(i + 1)->Count() < S) {
    Page* next = c.Page(i + 1);
    if (next->first == 0) ShiftWindow(next, +1);
    next->Items()[--next->first] = page->Items()[--page->end];
    InsertIntoPage(page, p, item);
    c.AdjustCount(1);
    return true;
  }
  // No neighbour can help: split with a new page.
  bool middle = i > 0 && i + 1 < c.PageCount();
  if (!middle || p <= kMiddleThreshold) {
    Page* fresh = c.InsertPage(i + 1);
    if (!fresh) return false;
    page = c.Page(i);
    uint32_t moved = S - p;
    std::memcpy(fresh->Items() + p / 2, page->Items() + p, moved * sizeof(item));
    fresh->first = p / 2;
    fresh->end = p / 2 + moved;
    page->end = p;
    page->Items()[page->end++] = item;
  } else {
    Page* fresh = c.InsertPage(i);
    if (!fresh) return false;
    page = c.Page(i + 1);
    uint32_t at = (S - p) / 2;
    std::memcpy(fresh->Items() + at, page->Items(), p * sizeof(item));
    fresh->first = at;
    fresh->end = at + p;
    page->first = p - 1;
    page->Items()[page->first] = item;
  }
  c.AdjustCount(1);
  return true;
}

// Where an item was found: page index and slot.
struct Position {
  size_t page;
  uint32_t slot;
  bool found;
};

// The first item equal to `probe` under `less` for which `matches` holds,
// searching the equal neighbours backwards from the insertion point
// across pages, then forwards.
template <typename Container, typename Item, typename Less, typename Matches>
Position FindEqual(Container& c, const Item& probe, Less& less, Matches& matches) {
  using Page = std::remove_pointer_t<decltype(c.Page(0))>;
  size_t pi = FindPage(c, probe, less);
  if (pi == c.PageCount()) return {0, 0, false};
  uint32_t start = LowerBound(c.Page(pi), probe, less);
  auto equal = [&](const Item& a) { return !less(a, probe) && !less(probe, a); };
  // Backwards: the items before the insertion point compare below or equal.
  size_t p = pi;
  int64_t s = static_cast<int64_t>(start) - 1;
  for (;;) {
    Page* page = c.Page(p);
    if (s < static_cast<int64_t>(page->first)) {
      if (p == 0) break;
      --p;
      s = static_cast<int64_t>(c.Page(p)->end) - 1;
      continue;
    }
    const Item& it = page->Items()[s];
    if (!equal(it)) break;
    if (matches(it)) return {p, static_cast<uint32_t>(s), true};
    --s;
  }
  p = pi;
  uint32_t f = start;
  while (p < c.PageCount()) {
    Page* page = c.Page(p);
    if (f >= page->end) {
      ++p;
      if (p < c.PageCount()) f = c.Page(p)->first;
      continue;
    }
    const Item& it = page->Items()[f];
    if (!equal(it)) break;
    if (matches(it)) return {p, f, true};
    ++f;
  }
  return {0, 0, false};
}

// Removes the item FindEqual finds, shifting the side of its page with
// less room; a page left empty is freed. Returns false when none.
template <typename Container, typename Item, typename Less, typename Matches>
bool Remove(Container& c, const Item& probe, Less less, Matches matches) {
  using Page = std::remove_pointer_t<decltype(c.Page(0))>;
  Position at = FindEqual(c, probe, less, matches);
  if (!at.found) return false;
  Page* page = c.Page(at.page);
  auto* items = page->Items();
  constexpr uint32_t S = Slots<Page>();
  if (page->first >= S - page->end) {
    std::memmove(items + at.slot, items + at.slot + 1, (page->end - at.slot - 1) * sizeof(items[0]));
    --page->end;
  } else {
    std::memmove(items + page->first + 1, items + page->first, (at.slot - page->first) * sizeof(items[0]));
    ++page->first;
  }
  c.AdjustCount(-1);
  if (page->Count() == 0 && c.PageCount() > 1) c.RemovePage(at.page);
  return true;
}

}  // namespace qvPaged
