// The rows of an answer as the command line prints them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "IQvSearch.h"
#include "qvCliOptions.h"

// The current answer rendered whole: one path per row (or the long form,
// or the count), each row ended by a newline or NUL. The rows are read
// with the answer's id, so they all belong to one answer: when a change
// replaces the answer while it is read, it is read again. Paths come out
// whole, whatever their length. `rows` receives the row count.
// With `stream`, for an answer that cannot change (one read from the saved
// index), the plain form is written there as it is made and the text
// returned is empty.
std::string RenderCliAnswer(IQvSearch* engine, IQvSearchResults* results, const qvCliOptions& o, int32_t* rows,
                            FILE* stream = nullptr);
