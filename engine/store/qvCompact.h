// Puts the records of the first pool in list order. A scan allocates its
// records in the order the volume lists them, and the sort leaves them
// scattered over the pool's blocks; a search walks the lists in order and
// pays a cache miss per record. Rewriting the pool with the folders and
// then the files in the order of their lists makes that walk sequential.
#pragma once

class qvIndex;

// Rebuilds the first pool in list order and points every list slot, map
// entry, parent field and real-case entry at the moved records. The result
// vectors are emptied (their records moved); the caller searches again.
// Leaves everything as it was when memory runs out, or while a folder
// rename is half applied. The caller holds the engine lock and no list is
// being walked. Returns true when the pool was rebuilt.
bool qvCompactRecords(qvIndex& app);
