// Searches from several threads while another reads rows: the engine lock
// serialises them, so every row read is one that some search produced.
// Meant for the ThreadSanitizer build as much as for the plain one.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "search_helpers.h"

namespace {

using qvsearchtest::FlatEntries;
using qvsearchtest::SearchEngine;

TEST(SearchThreads, SearchesAndRowReadsDoNotInterfere) {
  std::vector<std::u16string> folders, files;
  for (int i = 0; i < 300; ++i) {
    std::u16string n = qvNameCodec::DecodeToString(std::to_string(i * 7919 % 1000));
    folders.push_back(u"dir" + n);
    files.push_back(u"file" + n + (i % 3 ? u".jpg" : u".png"));
  }
  SearchEngine s(FlatEntries(folders, files));
  ASSERT_NE(s.engine, nullptr);
  std::set<std::string> valid;
  s.Search(u"*?");
  for (const std::string& row : s.Rows()) valid.insert(row);
  ASSERT_EQ(valid.size(), 600u);

  std::atomic<bool> stop{false};
  std::atomic<int> bad{0}, rowsRead{0};
  std::thread typing([&] {
    const char16_t* queries[] = {u"dir", u"1", u"file 2", u"d?r*", u"", u"f*9"};
    for (int i = 0; i < 300; ++i) s.Search(queries[i % 6]);
  });
  std::thread category([&] {
    for (int i = 0; i < 300; ++i) {
      s.Search(u"*?", u"jpg", 1);
      s.Search(u"*?", u"png", 0);
    }
  });
  // What a journal batch does: the driver again, under the engine lock.
  std::thread journal([&] {
    for (int i = 0; i < 300; ++i) {
      std::lock_guard<std::mutex> g(s.engine->lock);
      s.engine->RunSearchLocked();
    }
  });
  std::thread reader([&] {
    while (!stop.load()) {
      int32_t n = s.engine->GetFolderResultCount() + s.engine->GetFileResultCount();
      for (int32_t r = 0; r < n && r < 50; ++r) {
        std::string row = RowText(s.engine, r);
        if (row != "|" && !valid.count(row)) ++bad;  // "|": the row went away meanwhile
        ++rowsRead;
      }
    }
  });
  typing.join();
  category.join();
  journal.join();
  stop = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(rowsRead.load(), 0);

  s.Search(u"*?", u"png", 1);
  EXPECT_EQ(s.RowCount(), 100);
}

}  // namespace
