// One thread applies live changes while another searches and reads the
// rows of each answer through the results interface: every answer read
// whole is one the engine really gave, never rows past its count, never a
// path through a folder caught between its old and its new name.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "engine_fixture.h"
#include "journal_reasons.h"
#include "qvJournal.h"

namespace {

using E = qvStreamVolumeSource;

constexpr int kFolders = 40;

// Copies rows handed out by CopyRows.
class Rows : public IQvRowSink {
 public:
  void OnRow(int32_t row, const QvRowText& t) override {
    rows.push_back({row, qvNameCodec::EncodeToString(std::u16string_view(t.folderPath, t.folderLength)) +
                             qvNameCodec::EncodeToString(std::u16string_view(t.name, t.nameLength))});
  }
  std::vector<std::pair<int32_t, std::string>> rows;
};

// Folder k is "/dK/" or, renamed, "/rK/"; each holds "leaf.txt".
bool ValidLeafPath(const std::string& path) {
  if (path.size() < 4 || (path[1] != 'd' && path[1] != 'r')) return false;
  size_t slash = path.find('/', 2);
  if (slash == std::string::npos || path.substr(slash) != "/leaf.txt") return false;
  int k = std::stoi(path.substr(2, slash - 2));
  return path[0] == '/' && k >= 0 && k < kFolders;
}

TEST(AnswerConsistency, RowsOfOneAnswerStayWholeWhileTenThousandChangesApply) {
  std::vector<E::Entry> entries;
  for (int k = 0; k < kFolders; ++k) {
    uint64_t folder = 100 + k;
    entries.push_back(E::Folder(folder, 5, u"d" + qvNameCodec::DecodeToString(std::to_string(k))));
    entries.push_back(E::File(1000 + k, folder, u"leaf.txt"));
  }
  qvKearchImpl* engine = MakeEngine({MakeVolume("/", entries)}, nullptr, "/nonexistent-qv-data/");
  ASSERT_NE(engine, nullptr);
  auto* results = static_cast<IQvSearchResults*>(engine->QueryInterface(&IID_IQvSearchResults, QV_SEARCH_VERSION));
  ASSERT_NE(results, nullptr);
  engine->Search(u"leaf", u"", 1);

  std::atomic<bool> done{false};
  std::thread changer([&] {
    // Renames (both halves of the journal's rename in one batch), and
    // extra files made and removed, 10,000 records in all.
    int applied = 0;
    for (int step = 0; applied < 10000; ++step) {
      int k = step % kFolders;
      bool renamed = (step / kFolders) % 2 == 0;
      std::u16string digits = qvNameCodec::DecodeToString(std::to_string(k));
      std::u16string from = (renamed ? u"d" : u"r") + digits, to = (renamed ? u"r" : u"d") + digits;
      uint64_t folder = 100 + k;
      std::u16string extra = u"leaf-extra" + digits + u".txt";
      JournalRecord batch[] = {
          {USN_REASON_RENAME_OLD_NAME, QV_ATTR_DIRECTORY, folder, 5, from.data(), static_cast<uint32_t>(from.size())},
          {USN_REASON_RENAME_NEW_NAME | USN_REASON_CLOSE, QV_ATTR_DIRECTORY, folder, 5, to.data(),
           static_cast<uint32_t>(to.size())},
          {USN_REASON_FILE_CREATE | USN_REASON_CLOSE, QV_ATTR_NORMAL, 5000 + static_cast<uint64_t>(k), folder,
           extra.data(), static_cast<uint32_t>(extra.size())},
          {USN_REASON_FILE_DELETE | USN_REASON_CLOSE, QV_ATTR_NORMAL, 5000 + static_cast<uint64_t>(k), folder,
           extra.data(), static_cast<uint32_t>(extra.size())},
      };
      {
        std::lock_guard<std::mutex> g(engine->lock);
        engine->ApplyJournalLocked(0, batch, 2);
      }
      {
        std::lock_guard<std::mutex> g(engine->lock);
        engine->ApplyJournalLocked(0, batch + 2, 1);
      }
      {
        std::lock_guard<std::mutex> g(engine->lock);
        engine->ApplyJournalLocked(0, batch + 3, 1);
      }
      applied += 4;
    }
    done = true;
  });

  int whole = 0, replaced = 0;
  while (!done) {
    engine->Search(u"leaf", u"", 1);
    int32_t folders = 0, files = 0;
    uint64_t answer = results->GetAnswer(&folders, &files);
    const int32_t total = folders + files;
    Rows got;
    bool stale = false;
    while (static_cast<int32_t>(got.rows.size()) < total) {
      int32_t first = static_cast<int32_t>(got.rows.size());
      int32_t n = results->CopyRows(answer, first, 7, &got);
      if (n < 0) {
        stale = true;
        break;
      }
      ASSERT_GT(n, 0) << "rows end before the answer's count";
    }
    if (stale) {
      ++replaced;
      continue;
    }
    ++whole;
    ASSERT_EQ(static_cast<int32_t>(got.rows.size()), total);
    ASSERT_GE(total, kFolders);
    int leaves = 0;
    for (size_t i = 0; i < got.rows.size(); ++i) {
      ASSERT_EQ(got.rows[i].first, static_cast<int32_t>(i));
      const std::string& path = got.rows[i].second;
      if (path.find("leaf-extra") != std::string::npos) continue;
      ASSERT_TRUE(ValidLeafPath(path)) << path;
      ++leaves;
    }
    EXPECT_EQ(leaves, kFolders);
    // Past the count there is nothing, whatever the answer.
    Rows past;
    EXPECT_EQ(results->CopyRows(answer, total, 5, &past) <= 0, true);
  }
  changer.join();
  EXPECT_GT(whole, 0);
  engine->Release();
  RecordProperty("whole_answers", whole);
  RecordProperty("replaced_answers", replaced);
}

}  // namespace
