#include "ComputerExamineUI.h"

#include <QVBoxLayout>

#include "qvSkinLoader.h"

ComputerExamineUI::ComputerExamineUI(const qvSkinArchive& archive, QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  // A fresh loader without custom controls: the panel cannot nest itself.
  qvSkinLoader loader(archive, false);
  if (QWidget* content = loader.Build("ComputerExamine.xml", this)) layout->addWidget(content);
}
