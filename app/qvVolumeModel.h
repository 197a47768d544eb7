// The volume list: one row per volume the engine indexes, added as the
// engine reports them. Only the name column has text (the root).
#pragma once

#include <QStandardItemModel>

class qvIconSet;

class qvVolumeModel : public QStandardItemModel {
  Q_OBJECT

 public:
  static constexpr int kColumnCount = 6;
  struct ColumnSpec {
    const char16_t* header;
    int width;
    Qt::Alignment alignment;
  };
  static const ColumnSpec kColumns[kColumnCount];

  explicit qvVolumeModel(QObject* parent = nullptr);

  // Inserts a row at `ordinal` (at the end when past it).
  void AddVolume(int ordinal, const QString& root, const QIcon& icon);
  // The text of one cell, at most `limit` characters.
  QString CellText(int row, int column, int limit) const;
};
