// Makes an index obey the exclusion rules: every folder they leave out
// goes with everything below it, every file they leave out goes alone.
// Used where entries reached the index without the rules (a saved index,
// a source that lists everything) and when the rules grow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class qvIndex;
class qvExclusions;

// A folder taken out: volume slot and record number.
using qvRemovedFolder = std::pair<uint32_t, uint32_t>;

// Removes, on every indexed volume, what `rules` leave out, in one pass
// over each list (each volume's root text locates its folder rules).
// Returns the number of records removed; the folders among them go to
// `removedFolders` when given. Volume roots themselves always stay.
size_t qvPruneExcluded(qvIndex& index, const qvExclusions& rules, std::vector<qvRemovedFolder>* removedFolders);
