// Builds widget trees from the Qt Designer forms in "skin.dat". The one
// class the forms may name beyond Qt's own is "ComputerExamine" (exact
// letter case), which becomes a ComputerExamineUI.
#pragma once

#include <QUiLoader>

#include <string>

class qvSkinArchive;

class qvSkinLoader : public QUiLoader {
 public:
  // With customControls false the loader builds Qt's classes only, as
  // the panel inside a ComputerExamineUI is built.
  explicit qvSkinLoader(const qvSkinArchive& archive, bool customControls = true);

  // The widget tree of the named form, or null when the archive lacks the
  // form or it cannot be built.
  QWidget* Build(const std::string& form, QWidget* parent);

  QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override;

 private:
  const qvSkinArchive& archive_;
  bool customControls_;
};
