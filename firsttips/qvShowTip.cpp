#include "qvShowTip.h"

#include "qvFindDesktopIcon.h"

std::unique_ptr<CToolTipEx> ShowTip(const QString& label, const QString& text,
                                    std::span<qvDesktopIconProvider* const> providers,
                                    const std::function<void()>& showDesktop) {
  const std::optional<FoundIcon> found = FindDesktopIcon(label, providers);
  if (!found) return nullptr;
  if (showDesktop) showDesktop();
  return CreateTipWindow(text, found->icon.rect);
}
