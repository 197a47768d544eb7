#include "qvRowTransfer.h"

#include <QMimeData>
#include <QUrl>

#include "qvNameCodec.h"
#include "qvRowTargets.h"

std::vector<qvString> qvRowFullPaths(IQvSearch* engine, const QList<int>& rows) {
  std::vector<qvString> paths;
  for (int row : rows) {
    qvRowPaths p = qvGetRowPaths(engine, row);
    if (p.valid) paths.push_back(p.full);
  }
  return paths;
}

QByteArray qvFileUri(const qvString& path) {
  QByteArray bytes = QByteArray::fromStdString(qvNameCodec::EncodeToString(path));
  return "file://" + bytes.toPercentEncoding("/");
}

QMimeData* qvMakeRowMimeData(const std::vector<qvString>& paths) {
  auto* data = new QMimeData;
  QStringList lines;
  QByteArray uris, copied = "copy";
  for (const qvString& path : paths) {
    lines << QString::fromUtf16(path.data(), static_cast<qsizetype>(path.size()));
    QByteArray uri = qvFileUri(path);
    uris += uri + "\r\n";
    copied += '\n' + uri;
  }
  data->setText(lines.join(u'\n'));
  data->setData(QStringLiteral("text/uri-list"), uris);
  data->setData(QStringLiteral("x-special/gnome-copied-files"), copied);
  return data;
}
