#include "qvDatabase.h"

#include "qvFileBaseApp.h"

namespace qvDatabase {

bool LoadIndex(qvFileBaseApp&, IQvSearchNotify*) { return false; }
bool ReadExtensionFile(qvFileBaseApp&) { return false; }
bool SaveIndex(qvFileBaseApp&) { return true; }

}  // namespace qvDatabase
