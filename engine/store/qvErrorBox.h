// The engine's one way of showing an error. The text goes to the error
// reporter: standard error by default, a message box in the application.
// It never blocks an engine thread, and repeats of the same text are
// folded into one line with a count.
#pragma once

#include "IQvSearch.h"

void ShowErrorBox(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Installs the reporter (null restores standard error). Process-wide.
void SetErrorBoxReporter(qvErrorReporter reporter, void* context);

// Prints the pending "repeated" count, if any.
void FlushErrorBox();
