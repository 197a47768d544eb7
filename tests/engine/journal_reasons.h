// The reason masks of the journal records the tests apply: those of the
// monitor's create, delete and the two halves of a rename.
#pragma once

#include <cstdint>

#include "qvJournal.h"

constexpr uint32_t kCreate = USN_REASON_FILE_CREATE | USN_REASON_CLOSE;
constexpr uint32_t kDelete = USN_REASON_FILE_DELETE | USN_REASON_CLOSE;
constexpr uint32_t kOld = USN_REASON_RENAME_OLD_NAME;
constexpr uint32_t kNew = USN_REASON_RENAME_NEW_NAME | USN_REASON_CLOSE;
