#include "screen-scale.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

double screenDpiScale() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return 1.0;
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInch() / 96.0 : 1.0;
}
