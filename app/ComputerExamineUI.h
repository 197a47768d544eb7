// The skin's "ComputerExamine" element: a container that fills itself
// from the form "ComputerExamine.xml" of the same archive, and stays empty
// when that form is missing or broken.
#pragma once

#include <QWidget>

class qvSkinArchive;

class ComputerExamineUI : public QWidget {
  Q_OBJECT

 public:
  ComputerExamineUI(const qvSkinArchive& archive, QWidget* parent = nullptr);
};
