// The five scans of a search. Each walks the folder list (only when no
// extension filter is given: folders have no extension) and then the file
// list, in store order, and appends every hit at once to the folder or
// file results, so hits keep the store's order. They differ in the order
// of their tests, the most selective first. Files are tested by their base
// name, folders by their whole name.
//
// The caller holds the engine lock: the lists, the results and the
// pattern set stay as they are for the whole scan.
//
// Each returns false when a result page could not be allocated; the scan
// stops there and keeps the hits it has.
//
// A long file list is shared by two threads: a helper takes pages from the
// back while this thread walks the folders and then takes pages from the
// front; the helper's hits are appended page by page once it is done, so
// the order is the store's.
#pragma once

class qvIndex;
class CPatternSet;
class qvExtFilter;

// Threads a scan may use on one list: 1 or 2 (2 by default on a machine
// with more than one core). For benchmarks and tests.
void SetScanThreads(unsigned threads);
unsigned ScanThreads();
// With two threads, a scan offers the helper a share only while some core
// stands idle (alone it ends sooner on a machine whose cores are all
// busy). For tests, which turn that off to try the shared walk whatever
// the machine's load.
void SetScanHelperWhenBusy(bool on);
// Whether the scans use their loops for 32-byte vectors: on by default
// where the processor has them (it cannot be turned on elsewhere). For
// tests, which try both loops.
void SetScanWideVectors(bool on);
bool ScanWideVectors();

// A fixed ("?") pattern exists.
bool ScanFixed(qvIndex& app, const CPatternSet& set, const qvExtFilter* filter);
// No fixed pattern, some star pattern.
bool ScanStar(qvIndex& app, const CPatternSet& set, const qvExtFilter* filter);
// Only mixed patterns and plain terms.
bool ScanMixed(qvIndex& app, const CPatternSet& set, const qvExtFilter* filter);
// Only plain terms, all of them ASCII: matched on the stored bytes.
bool ScanPlainAscii(qvIndex& app, const CPatternSet& set, const qvExtFilter* filter);
// Only plain terms, some of them holding a non-ASCII unit: only names
// marked non-ASCII can hold one.
bool ScanPlainWide(qvIndex& app, const CPatternSet& set, const qvExtFilter* filter);
