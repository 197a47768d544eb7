#include "qvSkinCaption.h"

#include <QStringList>
#include <QVariant>
#include <QWidget>

QMargins qvSkinCaption(const QWidget* skin) {
  if (!skin) return {};
  QStringList parts = skin->property("caption").toString().split(u',');
  if (parts.size() != 4) return {};
  return QMargins(parts[0].toInt(), parts[1].toInt(), parts[2].toInt(), parts[3].toInt());
}

bool qvInSkinCaption(const QWidget* window, const QWidget* skin, const QPoint& pos) {
  QMargins caption = qvSkinCaption(skin);
  if (caption.isNull()) return false;
  if (pos.x() < caption.left() || pos.x() >= window->width() - caption.right()) return false;
  return pos.y() >= caption.top() && pos.y() < caption.bottom();
}
