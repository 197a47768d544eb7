#include "qvWholeNameTerm.h"

#include "qvExtTable.h"
#include "qvPackedName.h"

void qvWholeNameTerm::Build(const ExtTable& table, const qvChar* run, size_t length) {
  if (length > 64) length = 64;
  run_.assign(run, length);
  const uint32_t count = table.Count();
  inExtension_.assign(count, 0);
  spans_.assign(count, 0);
  anyExtension_ = false;
  qvString dotted;
  for (uint32_t id = 0; id < count; ++id) {
    const qvChar* text = table.Text(id);
    if (!text) continue;
    dotted.assign(1, u'.');
    dotted += text;
    inExtension_[id] = dotted.find(run_) != qvString::npos;
    uint64_t spans = 0;
    for (size_t k = 1; k < length; ++k) {
      if (run_[k] != u'.') continue;
      // run[k..) must be a prefix of "." + extension.
      size_t rest = length - k;
      if (rest <= dotted.size() && dotted.compare(0, rest, run_, k, rest) == 0) spans |= uint64_t{1} << k;
    }
    spans_[id] = spans;
    anyExtension_ |= inExtension_[id] || spans != 0;
  }
}

bool qvWholeNameTerm::BaseEndsWithHead(const uint8_t* base, size_t length, unsigned k) const {
  if (k > length) return false;
  const uint8_t* tail = base + length - k;
  for (unsigned i = 0; i < k; ++i)
    if (tail[i] >= 128 || kLowerCase.map[tail[i]] != run_[i]) return false;
  return true;
}
