// A skin form's title area: the property "caption" of its root widget,
// "left,top,right,bottom", where left and right are distances from the
// window's edges and top and bottom from its top. Pressing there (off the
// controls that take the mouse) moves the window.
#pragma once

#include <QMargins>
#include <QPoint>

class QWidget;

// The caption of the form whose root is `skin`; null margins when the form
// has none.
QMargins qvSkinCaption(const QWidget* skin);

// Whether `pos` (in `window`'s coordinates) is inside that caption.
bool qvInSkinCaption(const QWidget* window, const QWidget* skin, const QPoint& pos);
