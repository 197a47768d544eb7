// The five scans of a search. Each walks the folder list (only when no
// extension filter is given: folders have no extension) and then the file
// list, in store order, and appends every hit at once to the folder or
// file results, so hits keep the store's order. They differ in the order
// of their tests, the most selective first. Files are tested by their base
// name, folders by their whole name.
//
// A scan holds the folder list's lock while it walks the folder list and
// the file list's lock while it walks the file list, never both. The
// results and the pattern set are the caller's to guard (the engine lock).
//
// Each returns false when a result page could not be allocated; the scan
// stops there and keeps the hits it has.
//
// A long list is walked by two threads, each over one half; the hits of
// the second half follow those of the first, so the order is the same.
#pragma once

class qvFileBaseApp;
class CPatternSet;
class qvExtFilter;

// Threads a scan may use on one list: 1 or 2 (2 by default on a machine
// with more than one core). For benchmarks and tests.
void SetScanThreads(unsigned threads);
unsigned ScanThreads();

// A fixed ("?") pattern exists.
bool ScanFixed(qvFileBaseApp& app, const CPatternSet& set, const qvExtFilter* filter);
// No fixed pattern, some star pattern.
bool ScanStar(qvFileBaseApp& app, const CPatternSet& set, const qvExtFilter* filter);
// Only mixed patterns and plain terms.
bool ScanMixed(qvFileBaseApp& app, const CPatternSet& set, const qvExtFilter* filter);
// Only plain terms, all of them ASCII: matched on the stored bytes.
bool ScanPlainAscii(qvFileBaseApp& app, const CPatternSet& set, const qvExtFilter* filter);
// Only plain terms, some of them holding a non-ASCII unit: only names
// marked non-ASCII can hold one.
bool ScanPlainWide(qvFileBaseApp& app, const CPatternSet& set, const qvExtFilter* filter);
