// The two notices that travel between the property panels and the preview
// without either knowing the other: the panels ask for a fresh preview after
// an edit, and the preview items hand the frame they decoded to the panels
// that show it (the crop editor and the visual panels' cropping page). The
// main window connects the receivers.
#pragma once

#include "values/frame-info.h"

#include <QList>
#include <QObject>

class PanelSignals : public QObject {
    Q_OBJECT
public:
    // The one instance, made on first use; it lives until the process ends.
    // Any thread may emit; receivers on the GUI thread get it queued then.
    static PanelSignals* instance();

signals:
    // A panel changed a clip: the timeline sends the play head's requests again.
    void sig_updatePreivew();
    // The frame a preview item decoded for the clip under the play head.
    void sig_updateCropMenu(QList<VFrameInfo> frames);

private:
    PanelSignals();
};
