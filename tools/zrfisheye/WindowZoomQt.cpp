#include <QApplication>
#include <QGraphicsView>
#include <QWidget>

#include "WindowZoom.h"

namespace zrtool {

void ResetWindowZoom(const char* windowName)
{
    // OpenCV may draw with another toolkit even where Qt is installed: then there is no Qt application.
    if (!QCoreApplication::instance() || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    const QString name = QString::fromUtf8(windowName);
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->objectName() != name && window->windowTitle() != name)
            continue;
        // The picture's view keeps its zoom in a slot of its own.
        for (QGraphicsView* view : window->findChildren<QGraphicsView*>())
            QMetaObject::invokeMethod(view, "resetZoom");
    }
}

}  // namespace zrtool
