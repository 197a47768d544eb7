// Finding the icon, showing the desktop and showing the bubble.
#pragma once

#include <functional>
#include <memory>
#include <span>

#include "CToolTipEx.h"
#include "qvDesktopIcon.h"

// Shows the bubble beside the icon labelled label; null (and the desktop
// left as it was) when no provider finds the icon or the bubble cannot be
// built. showDesktop is called once the icon is found.
std::unique_ptr<CToolTipEx> ShowTip(const QString& label, const QString& text,
                                    std::span<qvDesktopIconProvider* const> providers,
                                    const std::function<void()>& showDesktop);
