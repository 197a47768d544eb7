#include "qvResultModel.h"

#include <QIcon>

#include "qvFormat.h"
#include "qvIconSet.h"

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
