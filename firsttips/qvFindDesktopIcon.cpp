#include "qvFindDesktopIcon.h"

std::optional<qsizetype> FindLabel(const std::vector<DesktopIcon>& icons, const QString& label) {
  for (size_t i = 0; i < icons.size(); ++i) {
    if (icons[i].label == label) return static_cast<qsizetype>(i);
  }
  return std::nullopt;
}

std::optional<FoundIcon> FindDesktopIcon(const QString& label,
                                         std::span<qvDesktopIconProvider* const> providers) {
  if (label.isEmpty()) return std::nullopt;
  for (qvDesktopIconProvider* provider : providers) {
    const std::optional<std::vector<DesktopIcon>> icons = provider->ReadIcons();
    if (!icons) continue;
    const std::optional<qsizetype> index = FindLabel(*icons, label);
    if (!index) return std::nullopt;
    return FoundIcon{(*icons)[static_cast<size_t>(*index)], *index, provider->Name()};
  }
  return std::nullopt;
}
