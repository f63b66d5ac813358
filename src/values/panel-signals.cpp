#include "values/panel-signals.h"

#include <QCoreApplication>
#include <QThread>

PanelSignals* PanelSignals::instance() {
    // Never deleted: emitters on worker threads may still hold it while the
    // application object goes away.
    static PanelSignals* notices = new PanelSignals;
    return notices;
}

PanelSignals::PanelSignals() {
    // The frames cross from the preview items' workers.
    qRegisterMetaType<QList<VFrameInfo>>("QList<VFrameInfo>");
    if (QCoreApplication* app = QCoreApplication::instance())
        moveToThread(app->thread());
}
