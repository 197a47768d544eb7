// Pinyin matching over 1,000,000 generated names that mix ASCII with
// common ideographs (the names the matcher is asked about: those holding
// non-ASCII units), one thread. Next to it, a floor: a plain search for
// the same term's units over the same names.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "qvPinyin.h"

namespace {

constexpr size_t kNames = 1000000;

// Names laid end to end, with where each begins.
struct NameSet {
  std::u16string units;
  std::vector<size_t> starts;  // kNames + 1 entries
};

const NameSet& Names() {
  static const NameSet set = [] {
    static const std::u16string kCommon =
        u"的一是不了人我在有他这中大来上国个到说们为子和你地出道也时年得就那要下以生会自着去之过家学对可她里后小"
        u"么心多天而能好都然没日于起还发成事只作当想看文无开手十用主行方又如前所本见经头面公同三已老从动两长知民样"
        u"现分将外但身些与高意进把法此实回二理美点月明其种声全工己话儿者向情部正名定女问力机给等几很业最间新什打便"
        u"位因重被走电四第门相次东政海口使教西再平真听世气信北少关并内加化由却代军产入先山五太水万市眼体别处总才场"
        u"师书比住员九笑性通目华报告表格照片视频音乐项目会议记录合同发票简历";
    static const char* const kWords[] = {"report", "final", "v2", "2024", "img", "data", "backup", "copy", "new",
                                         "draft", "scan", "_", "-", " ", "(1)"};
    static const char* const kExtensions[] = {".docx", ".pdf", ".xlsx", ".jpg", ".png", ".mp4", ".txt", ""};
    std::mt19937 random(2024);
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    NameSet set;
    set.starts.reserve(kNames + 1);
    for (size_t i = 0; i < kNames; ++i) {
      set.starts.push_back(set.units.size());
      for (size_t part = 1 + pick(4); part > 0; --part) {
        if (pick(3)) {
          for (size_t k = 1 + pick(5); k > 0; --k) set.units += kCommon[pick(kCommon.size())];
        } else {
          const char* word = kWords[pick(std::size(kWords))];
          set.units.append(word, word + std::char_traits<char>::length(word));
        }
      }
      const char* ext = kExtensions[pick(std::size(kExtensions))];
      set.units.append(ext, ext + std::char_traits<char>::length(ext));
    }
    set.starts.push_back(set.units.size());
    return set;
  }();
  return set;
}

void BM_PinyinMatches(benchmark::State& state, const char* term) {
  const NameSet& names = Names();
  const std::u16string units(term, term + std::char_traits<char>::length(term));
  qvPinyinTerm t;
  if (!t.Set(units.data(), units.size())) {
    state.SkipWithError("term refused");
    return;
  }
  size_t hits = 0;
  for (auto _ : state) {
    hits = 0;
    for (size_t i = 0; i < kNames; ++i)
      hits += t.Matches(names.units.data() + names.starts[i], names.starts[i + 1] - names.starts[i]);
    benchmark::DoNotOptimize(hits);
  }
  state.counters["hits"] = static_cast<double>(hits);
  state.counters["names/s"] = benchmark::Counter(static_cast<double>(kNames), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_PlainFind(benchmark::State& state, const char* term) {
  const NameSet& names = Names();
  const std::u16string units(term, term + std::char_traits<char>::length(term));
  size_t hits = 0;
  for (auto _ : state) {
    hits = 0;
    for (size_t i = 0; i < kNames; ++i) {
      std::u16string_view name(names.units.data() + names.starts[i], names.starts[i + 1] - names.starts[i]);
      hits += name.find(units) != std::u16string_view::npos;
    }
    benchmark::DoNotOptimize(hits);
  }
  state.counters["hits"] = static_cast<double>(hits);
  state.counters["names/s"] = benchmark::Counter(static_cast<double>(kNames), benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK_CAPTURE(BM_PinyinMatches, bg, "bg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PinyinMatches, baogao, "baogao")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PinyinMatches, zhongwen, "zhongwen")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PlainFind, bg, "bg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PlainFind, zhongwen, "zhongwen")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
