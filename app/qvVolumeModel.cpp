#include "qvVolumeModel.h"

const qvVolumeModel::ColumnSpec qvVolumeModel::kColumns[kColumnCount] = {
    {u"名称", 200, Qt::AlignLeft | Qt::AlignVCenter},
    {u"所在目录", 400, Qt::AlignLeft | Qt::AlignVCenter},
    {u"文件大小", 85, Qt::AlignRight | Qt::AlignVCenter},
    {u"创建时间", 150, Qt::AlignCenter},
    {u"最近修改时间", 150, Qt::AlignCenter},
    {u"最近访问时间", 150, Qt::AlignCenter},
};

qvVolumeModel::qvVolumeModel(QObject* parent) : QStandardItemModel(0, kColumnCount, parent) {
  for (int c = 0; c < kColumnCount; ++c) {
    auto* header = new QStandardItem(QString::fromUtf16(kColumns[c].header));
    header->setTextAlignment(kColumns[c].alignment);
    setHorizontalHeaderItem(c, header);
  }
}

void qvVolumeModel::AddVolume(int ordinal, const QString& root, const QIcon& icon) {
  QList<QStandardItem*> items;
  for (int c = 0; c < kColumnCount; ++c) {
    auto* item = new QStandardItem;
    item->setEditable(false);
    item->setTextAlignment(kColumns[c].alignment);
    items.append(item);
  }
  items[0]->setText(root);
  items[0]->setIcon(icon);
  items[0]->setToolTip(root);
  int at = ordinal < 0 || ordinal > rowCount() ? rowCount() : ordinal;
  insertRow(at, items);
}

QString qvVolumeModel::CellText(int row, int column, int limit) const {
  QStandardItem* cell = item(row, column);
  return cell ? cell->text().left(limit) : QString();
}
