// The search driver: compiles the stored query, runs the scan that fits it
// and tells the sink and the list window the new row count.
#pragma once

class qvKearchImpl;

// Runs a search with the engine's stored query, filter and reset flag. The
// caller holds the engine lock.
void RunSearch(qvKearchImpl& engine);
