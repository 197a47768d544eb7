// The result list: a virtual table over the engine's current result. It
// holds no rows of its own: the engine sets the row count through the
// list-window interface, and each row is asked of the engine
// (GetItemDetails) when the view shows it. The formatted texts of the
// rows shown last are kept in a small cache, dropped whenever the engine
// changes or repaints the result.
#pragma once

#include <QAbstractTableModel>
#include <QCache>
#include <QString>

#include <memory>

#include "IQvSearch.h"

class qvIconSet;

class qvResultModel : public QAbstractTableModel, public IQvListWindow {
  Q_OBJECT

 public:
  enum Column { kName, kFolder, kSize, kCreated, kModified, kAccessed, kAttributes, kColumnCount };
  struct ColumnSpec {
    const char16_t* header;
    int width;
    Qt::Alignment alignment;
  };
  static const ColumnSpec kColumns[kColumnCount];

  qvResultModel(qvIconSet& icons, QObject* parent = nullptr);
  ~qvResultModel() override;

  // The engine the rows come from; null detaches it and empties the list.
  void SetEngine(IQvSearch* engine);

  // IQvListWindow: may be called from any engine thread, possibly under
  // the engine's lock, so both only queue the change for the UI thread.
  void SetItemCount(int32_t count) override;
  void RedrawItems() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // Rows are dragged as files: their paths and URIs.
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;

  // Every row is asked of the engine again (after its rows were put in
  // another order).
  void Refresh() { ApplyRedraw(); }

 signals:
  // After the row count set by the engine was applied.
  void itemCountApplied(int count);

 private:
  struct Row {
    QString texts[kColumnCount];
    QString fullPath;
    int icon = -1;
  };

  void ApplyItemCount(int count);
  void ApplyRedraw();
  const Row* Fetch(int row) const;

  qvIconSet& icons_;
  IQvSearch* engine_ = nullptr;
  int count_ = 0;
  mutable QCache<int, Row> cache_;
  std::unique_ptr<ItemDetails> details_;
};
