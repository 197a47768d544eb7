#include "qvNtfsRecord.h"

#include <cstring>

using namespace qvNtfs;

namespace {

constexpr size_t kRecordHeaderSize = 0x30;
constexpr size_t kStandardInfoMinimum = 48;  // the older form; 72 bytes since NTFS 3.0
constexpr size_t kFileNameFixedPart = 0x42;

}  // namespace

NtfsFixup ApplyRecordFixups(uint8_t* record, size_t size) {
  if (size < kRecordHeaderSize || std::memcmp(record, "FILE", 4) != 0) return NtfsFixup::kNotARecord;
  size_t usaOffset = Le16(record + 4);
  size_t usaCount = Le16(record + 6);
  // One value for the array itself, then one per 512-byte stride.
  if (usaCount < 2 || (usaCount - 1) * kFixupStride != size) return NtfsFixup::kTorn;
  if (usaOffset < 0x28 || usaOffset % 2 != 0 || usaOffset + usaCount * 2 > size) return NtfsFixup::kTorn;
  const uint8_t* usa = record + usaOffset;
  for (size_t i = 1; i < usaCount; ++i) {
    uint8_t* end = record + i * kFixupStride - 2;
    if (end[0] != usa[0] || end[1] != usa[1]) return NtfsFixup::kTorn;
  }
  for (size_t i = 1; i < usaCount; ++i) {
    uint8_t* end = record + i * kFixupStride - 2;
    end[0] = usa[2 * i];
    end[1] = usa[2 * i + 1];
  }
  return NtfsFixup::kOk;
}

bool NtfsAttribute::NameIs(const char* ascii) const {
  size_t n = std::strlen(ascii);
  if (name.size != 2 * n) return false;
  for (size_t i = 0; i < n; ++i)
    if (Le16(name.data + 2 * i) != static_cast<unsigned char>(ascii[i])) return false;
  return true;
}

NtfsAttributeWalk::NtfsAttributeWalk(Bytes record) : record_(record) {
  offset_ = record.U16(0x14);
  size_t used = record.U32(0x18);
  limit_ = used < record.size ? used : record.size;
  if (offset_ < 0x18 || offset_ % 8 != 0) {
    damaged_ = true;
    offset_ = limit_;
  }
}

bool NtfsAttributeWalk::Next(NtfsAttribute* a) {
  if (!record_.Has(offset_, 4) || offset_ + 4 > limit_) {
    if (offset_ < limit_) damaged_ = true;
    return false;
  }
  uint32_t type = record_.U32(offset_);
  if (type == kAttrEnd) return false;
  uint32_t length = record_.U32(offset_ + 4);
  if (length < 0x18 || length % 8 != 0 || length > limit_ - offset_) {
    damaged_ = true;
    return false;
  }
  Bytes h = record_.Sub(offset_, length);
  offset_ += length;
  *a = NtfsAttribute();
  a->type = type;
  a->header = h;
  a->nonResident = h.U8(8) != 0;
  size_t nameLength = h.U8(9);
  if (nameLength) {
    a->name = h.Sub(h.U16(0x0A), nameLength * 2);
    if (!a->name.data) {
      damaged_ = true;
      return false;
    }
  }
  if (!a->nonResident) {
    a->value = h.Sub(h.U16(0x14), h.U32(0x10));
    if (!a->value.data && h.U32(0x10) != 0) {
      damaged_ = true;
      return false;
    }
  } else {
    if (length < 0x40) {
      damaged_ = true;
      return false;
    }
    a->firstVcn = h.U64(0x10);
    a->lastVcn = h.U64(0x18);
    a->realSize = h.U64(0x30);
    a->initializedSize = h.U64(0x38);
    size_t pairs = h.U16(0x20);
    if (pairs < 0x40 || pairs > length) {
      damaged_ = true;
      return false;
    }
    a->mappingPairs = h.Sub(pairs, length - pairs);
  }
  return true;
}

namespace {

void TakeAttribute(const NtfsAttribute& a, NtfsRecord* out) {
  switch (a.type) {
    case kAttrStandardInformation:
      if (a.nonResident || a.value.size < kStandardInfoMinimum) return;
      out->hasStandardInfo = true;
      out->creationTime = a.value.U64(0x00);
      out->modificationTime = a.value.U64(0x08);
      out->changeTime = a.value.U64(0x10);
      out->accessTime = a.value.U64(0x18);
      out->fileAttributes = a.value.U32(0x20);
      return;
    case kAttrAttributeList:
      out->hasAttributeList = true;
      out->attributeList = a;
      return;
    case kAttrFileName: {
      if (a.nonResident || a.value.size < kFileNameFixedPart) return;
      size_t units = a.value.U8(0x40);
      Bytes name = a.value.Sub(kFileNameFixedPart, units * 2);
      if (units == 0 || !name.data) return;
      out->names.push_back({a.value.U64(0), a.value.U8(0x41), name});
      return;
    }
    case kAttrData:
      if (a.name.size != 0) return;  // named streams are not the file's size
      if (!a.nonResident) {
        out->hasData = true;
        out->dataSize = a.value.size;
      } else if (a.firstVcn == 0) {
        out->hasData = true;
        out->dataSize = a.realSize;
      }
      return;
    case kAttrReparsePoint:
      out->hasReparsePoint = true;
      return;
    default:
      return;
  }
}

}  // namespace

bool ParseNtfsRecord(Bytes record, NtfsRecord* out) {
  out->names.clear();
  out->hasStandardInfo = out->hasData = out->hasAttributeList = out->hasReparsePoint = false;
  out->fileAttributes = 0;
  out->dataSize = 0;
  out->creationTime = out->modificationTime = out->changeTime = out->accessTime = 0;
  if (record.size < kRecordHeaderSize) return false;
  out->sequence = record.U16(0x10);
  out->flags = record.U16(0x16);
  out->baseRef = record.U64(0x20);
  NtfsAttributeWalk walk(record);
  NtfsAttribute a;
  while (walk.Next(&a)) TakeAttribute(a, out);
  return !walk.Damaged();
}

void MergeExtensionRecord(const NtfsRecord& extension, NtfsRecord* base) {
  for (const NtfsName& n : extension.names) base->names.push_back(n);
  if (!base->hasData && extension.hasData) {
    base->hasData = true;
    base->dataSize = extension.dataSize;
  }
  if (!base->hasStandardInfo && extension.hasStandardInfo) {
    base->hasStandardInfo = true;
    base->creationTime = extension.creationTime;
    base->modificationTime = extension.modificationTime;
    base->changeTime = extension.changeTime;
    base->accessTime = extension.accessTime;
    base->fileAttributes = extension.fileAttributes;
  }
  base->hasReparsePoint = base->hasReparsePoint || extension.hasReparsePoint;
}
