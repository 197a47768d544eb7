// How many threads read the file records of a loaded "ntfsqs.db". A large
// section is cut in two and read on two threads; the index comes out the
// same as from one (the same records in the same order, the same folder
// refs), so one thread is asked for only to compare the two.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qvStatus.h"

class qvIndex;

namespace qvDatabase {

enum class LoadThreads { kOne, kTwo };

// LoadIndexImage (qvDatabase.h) with the threads named.
qvStatus LoadIndexImage(qvIndex& app, const uint8_t* data, size_t size, LoadThreads threads);

}  // namespace qvDatabase
