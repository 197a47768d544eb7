// A desktop given as a list, for tests and for callers that already know
// the icons.
#pragma once

#include "qvDesktopIcon.h"

class qvFixedDesktopProvider : public qvDesktopIconProvider {
 public:
  // Without icons the provider sees no desktop.
  explicit qvFixedDesktopProvider(std::optional<std::vector<DesktopIcon>> icons)
      : icons_(std::move(icons)) {}

  QString Name() const override { return QStringLiteral("fixed"); }
  std::optional<std::vector<DesktopIcon>> ReadIcons() override {
    ++reads_;
    return icons_;
  }
  int reads() const { return reads_; }

 private:
  std::optional<std::vector<DesktopIcon>> icons_;
  int reads_ = 0;
};
