// Tooling for the documentation: types a query into the running window,
// waits for its result, saves a picture of the window and closes it.
#pragma once

#include <QString>

class qvSearchMainUi;

// `status` becomes 1 when the picture could not be taken or saved.
void qvScheduleScreenshot(qvSearchMainUi& window, const QString& query, const QString& file, int* status);
