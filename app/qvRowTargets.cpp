#include "qvRowTargets.h"

#include <vector>

namespace {
constexpr int kSizeColumn = 2;
constexpr int kFirstTimeColumn = 3;
}  // namespace

qvRowPaths qvGetRowPaths(IQvSearch* engine, int row) {
  qvRowPaths paths;
  if (!engine || row < 0) return paths;
  int32_t folders = engine->GetFolderResultCount();
  if (row >= folders + engine->GetFileResultCount()) return paths;
  std::vector<qvChar> folder(QV_MAX_PATH), name(QV_MAX_PATH), ext(QV_MAX_PATH);
  int32_t folderLength = engine->GetItemText(row, folder.data(), name.data(), ext.data());
  paths.valid = true;
  paths.isFolder = row < folders;
  paths.folder.assign(folder.data(), folderLength > 0 ? static_cast<size_t>(folderLength) : 0);
  paths.name = name.data();
  paths.extension = ext.data();
  paths.isRoot = paths.folder.empty();
  // A root record is named by its root text without the final '/' ("" for
  // "/"), so its own path is the name and '/'.
  paths.full = paths.isRoot ? paths.name + u'/' : paths.folder + paths.name;
  return paths;
}

qvOpenTarget qvDoubleClickTarget(IQvSearch* engine, int row, int column) {
  qvOpenTarget target;
  if (!engine || row < 0 || column < 0 || column >= kFirstTimeColumn) return target;
  qvRowPaths p = qvGetRowPaths(engine, row);
  if (!p.valid) return target;
  target.kind = qvOpenTarget::kFile;
  if (p.isFolder) {
    target.path = p.isRoot || column != kSizeColumn ? p.full : p.folder;
  } else if (column == kSizeColumn) {
    target.path = p.folder;
  } else {
    target.path = p.full;
    if (p.extension == u"lnk" || p.extension == u"desktop") target.kind = qvOpenTarget::kShortcut;
  }
  return target;
}
