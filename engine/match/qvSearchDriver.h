// The search driver: compiles the stored query, runs the scan that fits it
// and tells the sink and the list window the new row count.
#pragma once

class qvKearchImpl;
class CPatternSet;

// The scan a compiled set calls for, in this order of precedence.
enum class qvScanKind { kNone, kFixed, kStar, kMixed, kPlainAscii, kPlainWide };
qvScanKind ChooseScan(const CPatternSet& set);

// Runs a search with the engine's stored query, filter and reset flag. The
// caller holds the engine lock, which serialises every search.
void RunSearch(qvKearchImpl& engine);
