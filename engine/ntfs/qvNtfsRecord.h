// One file record segment of the master file table: its update sequence
// fix-up, its header and the attributes the index and the item details
// need. Every offset and length in the record is checked against the
// record's size; a record that does not hold together is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "qvNtfsFormat.h"

enum class NtfsFixup {
  kOk,
  kNotARecord,  // no "FILE" signature: a free or never-written slot
  kTorn,        // an update sequence value does not match: a write was cut short
};

// Checks the update sequence array and puts the saved sector ends back.
NtfsFixup ApplyRecordFixups(uint8_t* record, size_t size);

// One attribute of a record, as its header describes it.
struct NtfsAttribute {
  uint32_t type = 0;
  bool nonResident = false;
  qvNtfs::Bytes header;  // the whole attribute
  qvNtfs::Bytes name;    // UTF-16 bytes; empty for the unnamed stream
  // Resident attributes
  qvNtfs::Bytes value;
  // Non-resident attributes
  uint64_t firstVcn = 0;
  uint64_t lastVcn = 0;
  uint64_t realSize = 0;
  uint64_t initializedSize = 0;
  qvNtfs::Bytes mappingPairs;

  bool NameIs(const char* ascii) const;
};

// Walks the attributes of a fixed-up record in order.
class NtfsAttributeWalk {
 public:
  explicit NtfsAttributeWalk(qvNtfs::Bytes record);
  // False at the end marker or at the first attribute that does not fit.
  bool Next(NtfsAttribute* attribute);
  bool Damaged() const { return damaged_; }

 private:
  qvNtfs::Bytes record_;
  size_t offset_ = 0;
  size_t limit_ = 0;
  bool damaged_ = false;
};

struct NtfsName {
  uint64_t parentRef;
  uint8_t nameSpace;
  qvNtfs::Bytes units;  // UTF-16LE, nameLength * 2 bytes
};

// What the index and the item details read from one record.
struct NtfsRecord {
  uint16_t flags = 0;
  uint16_t sequence = 0;
  uint64_t baseRef = 0;  // 0 for a base record
  bool hasStandardInfo = false;
  uint64_t creationTime = 0;
  uint64_t modificationTime = 0;
  uint64_t changeTime = 0;
  uint64_t accessTime = 0;
  uint32_t fileAttributes = 0;
  std::vector<NtfsName> names;  // every $FILE_NAME, DOS-only ones included
  bool hasData = false;         // the unnamed $DATA's first extent is here
  uint64_t dataSize = 0;
  bool hasAttributeList = false;
  NtfsAttribute attributeList;
  bool hasReparsePoint = false;

  bool InUse() const { return flags & qvNtfs::kRecordInUse; }
  bool IsDirectory() const { return flags & qvNtfs::kRecordIsDirectory; }
};

// Parses a fixed-up record. False when its header or an attribute does not
// fit inside it.
bool ParseNtfsRecord(qvNtfs::Bytes record, NtfsRecord* out);

// Takes the attributes found in an extension record into its base record's
// parse: names, and the unnamed $DATA when it starts there.
void MergeExtensionRecord(const NtfsRecord& extension, NtfsRecord* base);
