// The readers of exclusion rules: the engine's rule text (the "exclude"
// option, qvsearch's command line) and the settings file's value form.
// Whatever they are given, they must neither crash nor change what they
// read when it is written back and read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "qvExclusionValue.h"
#include "qvExclusions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);

  qvExclusions rules;
  if (qvExclusions::Parse(text, &rules)) {
    qvExclusions again;
    if (!qvExclusions::Parse(rules.Text(), &again) || !(again == rules)) std::abort();
    // Every part of the input as a name and as a path.
    size_t half = size / 2;
    std::string name = text.substr(0, half), path = "/" + text.substr(half);
    rules.ExcludesName(name);
    rules.ExcludesEntry(path, name);
    qvExclusionScope scope(&rules, path);
    if (!scope.RootExcluded()) scope.Classify(name);
  }
  if (size > 0) qvExclusions::MatchPattern(text.substr(0, size / 3), text.substr(size / 3));

  std::vector<std::string> values = qvDecodeExclusions(text);
  if (qvDecodeExclusions(qvEncodeExclusions(values)) != values) std::abort();
  return 0;
}
