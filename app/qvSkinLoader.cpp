#include "qvSkinLoader.h"

#include <QBuffer>

#include "ComputerExamineUI.h"
#include "qvSkinArchive.h"

qvSkinLoader::qvSkinLoader(const qvSkinArchive& archive, bool customControls)
    : archive_(archive), customControls_(customControls) {}

QWidget* qvSkinLoader::Build(const std::string& form, QWidget* parent) {
  std::optional<std::string> bytes = archive_.Find(form);
  if (!bytes) return nullptr;
  QByteArray data = QByteArray::fromStdString(*bytes);
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  return load(&buffer, parent);
}

QWidget* qvSkinLoader::createWidget(const QString& className, QWidget* parent, const QString& name) {
  if (customControls_ && className == QLatin1String("ComputerExamine")) {
    auto* panel = new ComputerExamineUI(archive_, parent);
    panel->setObjectName(name);
    return panel;
  }
  return QUiLoader::createWidget(className, parent, name);
}
