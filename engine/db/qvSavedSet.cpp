#include "qvSavedSet.h"

#include <cerrno>

#include "qvIndex.h"

qvSavedSet qvSavedSet::Open(const qvIndex& app, Which which) {
  qvSavedSet set;
  set.suffix_ = which == kCurrent ? "" : ".prev";
  qvDbIo::HeapBuffer buffer(const_cast<qvIndex&>(app).heap);
  int error = 0;
  qvDbIo::SizeRule rule;
  rule.maxSize = qvDbSeal::kSize;
  using R = qvDbIo::ReadResult;
  switch (qvDbIo::ReadWholeFile(set.Path(app, qvDbSeal::kFileName), rule, buffer, error)) {
    case R::kOk:
      if (!qvDbSeal::Parse(buffer.Data(), buffer.Size(), set.seal_))
        set.sealStatus_ = qvStatus::Error(qvStatus::Code::kBadSeal, EBADMSG, "数据库校验文件seal.db已损坏");
      break;
    case R::kOpenFailed:
      if (error == ENOENT) {
        set.sealStatus_ = qvStatus::Error(qvStatus::Code::kNoSeal, ENOENT, "数据库缺少校验文件seal.db");
        break;
      }
      [[fallthrough]];
    default:
      set.sealStatus_ = qvStatus::Error(qvStatus::Code::kBadSeal, error, "读数据库校验文件seal.db失败");
      break;
  }
  return set;
}

std::string qvSavedSet::Path(const qvIndex& app, const char* name) const {
  return qvDbIo::DataFilePath(app, name) + suffix_;
}

qvDbIo::SizeRule qvSavedSet::Rule(qvDbSeal::File file, uint64_t minSize, uint64_t maxSize) const {
  qvDbIo::SizeRule rule;
  rule.minSize = minSize;
  rule.maxSize = maxSize;
  // A file of another size cannot be the sealed one: it is not even read.
  if (sealStatus_.ok()) rule.expected = seal_.files[file].size;
  return rule;
}

qvStatus qvSavedSet::Check(qvDbSeal::File file, const uint8_t* data, size_t size, const char* name) const {
  if (!sealStatus_.ok()) return sealStatus_;
  return Check(file, qvDbSeal::SumOf(data, size), name);
}

qvStatus qvSavedSet::Check(qvDbSeal::File file, const qvDbSeal::FileSum& sum, const char* name) const {
  if (!sealStatus_.ok()) return sealStatus_;
  if (!(sum == seal_.files[file]))
    return qvStatus::Error(qvStatus::Code::kMismatch, EBADMSG,
                           std::string(name) + "与seal.db不符(不是同一次保存的文件，或已损坏)");
  return qvStatus::Ok();
}

void qvSealCheck::Passed(size_t at) {
  if (at > buffer_.Size()) at = buffer_.Size();
  if (at >= summed_ + kStep) SumTo(at, false);
}

size_t qvSealCheck::SumAhead(size_t at) {
  if (at > buffer_.Size()) at = buffer_.Size();
  while (summed_ + kStep <= at) {
    sum_.Update(buffer_.Data() + summed_, kStep);
    summed_ += kStep;
  }
  return summed_;
}

qvStatus qvSealCheck::Finish() {
  SumTo(buffer_.Size(), true);
  return set_.Check(file_, qvDbSeal::FileSum{buffer_.Size(), sum_.Final()}, name_);
}

// Bytes the reader passed are still in memory; the rest are read ahead a
// step at a time.
void qvSealCheck::SumTo(size_t at, bool readAhead) {
  while (summed_ < at) {
    size_t n = at - summed_ < kStep ? at - summed_ : kStep;
    if (readAhead) buffer_.ReadAhead(summed_, summed_ + n);
    sum_.Update(buffer_.Data() + summed_, n);
    summed_ += n;
    buffer_.GiveBackBefore(summed_);
  }
}
