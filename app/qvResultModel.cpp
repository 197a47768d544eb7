#include "qvResultModel.h"

#include <QIcon>
#include <QMimeData>

#include <set>

#include "qvFormat.h"
#include "qvIconSet.h"
#include "qvRowTransfer.h"

namespace {

// Rows kept formatted: a few screens' worth.
constexpr int kCachedRows = 256;

QString FromUnits(const qvChar* units, size_t length) {
  return QString::fromUtf16(units, static_cast<qsizetype>(length));
}

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

const qvResultModel::ColumnSpec qvResultModel::kColumns[kColumnCount] = {
    {u"名称", 200, Qt::AlignLeft | Qt::AlignVCenter},
    {u"所在目录", 500, Qt::AlignLeft | Qt::AlignVCenter},
    {u"文件大小", 80, Qt::AlignRight | Qt::AlignVCenter},
    {u"创建时间", 150, Qt::AlignCenter},
    {u"最近修改时间", 150, Qt::AlignCenter},
    {u"最近访问时间", 150, Qt::AlignCenter},
    {u"属性", 150, Qt::AlignLeft | Qt::AlignVCenter},
};

qvResultModel::qvResultModel(qvIconSet& icons, QObject* parent)
    : QAbstractTableModel(parent), icons_(icons), cache_(kCachedRows), details_(std::make_unique<ItemDetails>()) {}

qvResultModel::~qvResultModel() = default;

void qvResultModel::SetEngine(IQvSearch* engine) {
  beginResetModel();
  engine_ = engine;
  count_ = 0;
  cache_.clear();
  endResetModel();
}

void qvResultModel::SetItemCount(int32_t count) {
  QMetaObject::invokeMethod(this, [this, count] { ApplyItemCount(count); }, Qt::QueuedConnection);
}

void qvResultModel::RedrawItems() {
  QMetaObject::invokeMethod(this, [this] { ApplyRedraw(); }, Qt::QueuedConnection);
}

void qvResultModel::ApplyItemCount(int count) {
  if (!engine_) return;
  // A new count always means a new result, even when the number is the same.
  beginResetModel();
  count_ = count < 0 ? 0 : count;
  cache_.clear();
  endResetModel();
  emit itemCountApplied(count_);
}

void qvResultModel::ApplyRedraw() {
  cache_.clear();
  if (count_ > 0) emit dataChanged(index(0, 0), index(count_ - 1, kColumnCount - 1));
}

int qvResultModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count_; }

int qvResultModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

const qvResultModel::Row* qvResultModel::Fetch(int row) const {
  if (Row* cached = cache_.object(row)) return cached;
  if (!engine_) return nullptr;
  auto* r = new Row;
  // A row the engine no longer has (its count changed and the new count is
  // still on its way) shows empty.
  if (engine_->GetItemDetails(details_.get(), row)) {
    const ItemDetails& d = *details_;
    bool folder = d.isFolder != 0;
    size_t nameLength = qvStrLen(d.name), folderLength = qvStrLen(d.folderPath);
    r->texts[kName] = FromUnits(d.name, nameLength);
    r->texts[kFolder] = FromUnits(d.folderPath, folderLength);
    r->texts[kSize] = FromUtf8(qvFormatSize(d.size, folder));
    r->texts[kCreated] = FromUtf8(qvFormatFileTime(d.creationTime));
    r->texts[kModified] = FromUtf8(qvFormatFileTime(d.modificationTime));
    r->texts[kAccessed] = FromUtf8(qvFormatFileTime(d.accessTime));
    r->texts[kAttributes] = FromUtf8(qvFormatAttributes(d.attributes, folder));
    // A volume root has no folder; its own path is its name and '/'.
    r->fullPath = folderLength ? r->texts[kFolder] + r->texts[kName] : r->texts[kName] + u'/';
    r->icon = d.iconIndex;
  }
  cache_.insert(row, r);
  return r;
}

QVariant qvResultModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= count_ || index.column() >= kColumnCount) return QVariant();
  int column = index.column();
  switch (role) {
    case Qt::DisplayRole: {
      const Row* r = Fetch(index.row());
      return r ? r->texts[column] : QString();
    }
    case Qt::DecorationRole: {
      if (column != kName) return QVariant();
      const Row* r = Fetch(index.row());
      return r && r->icon >= 0 ? icons_.Icon(r->icon) : QVariant();
    }
    case Qt::ToolTipRole: {
      if (column != kName && column != kFolder) return QVariant();
      const Row* r = Fetch(index.row());
      return r ? r->fullPath : QString();
    }
    case Qt::TextAlignmentRole: return static_cast<int>(kColumns[column].alignment);
    default: return QVariant();
  }
}

QVariant qvResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return QVariant();
  if (role == Qt::DisplayRole) return QString::fromUtf16(kColumns[section].header);
  if (role == Qt::TextAlignmentRole) return static_cast<int>(kColumns[section].alignment);
  return QVariant();
}

Qt::ItemFlags qvResultModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  return index.isValid() ? f | Qt::ItemIsDragEnabled : f;
}

QStringList qvResultModel::mimeTypes() const {
  return {QStringLiteral("text/uri-list"), QStringLiteral("text/plain")};
}

QMimeData* qvResultModel::mimeData(const QModelIndexList& indexes) const {
  // One entry per row, in row order, whatever cells were selected.
  std::set<int> rows;
  for (const QModelIndex& index : indexes)
    if (index.isValid() && index.row() < count_) rows.insert(index.row());
  if (rows.empty() || !engine_) return nullptr;
  return qvMakeRowMimeData(qvRowFullPaths(engine_, QList<int>(rows.begin(), rows.end())));
}
