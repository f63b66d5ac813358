// A composition described once: the program builds it through the
// timeline's own edits, and an ffmpeg filter graph renders the same picture
// as an independent reference. Two clips joined by a dissolve around the cut,
// a picture with alpha at reduced opacity, an opaque picture made brighter,
// and white text on a black box. Positions are centres, in pixels from the
// canvas centre (y down), as the program stores them.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

class TimeLineTreeModel;

namespace korvel::test {

struct Composition {
    struct Picture {
        QString path;
        int from = 0, to = 0; // timeline frames [from, to)
        QRect place;          // centre x, y and size
        int opacity = 255;    // 0..255
        int bright = 0;       // the brightness control, -50..50
    };
    QSize canvas {640, 360};
    QString clipA, clipB; // A on [0, cut), B on [cut, frames)
    int cut = 60, frames = 120;
    int dissolveMs = 1000; // centred on the cut
    Picture logo, patch;
    QString text;
    int textFrom = 0, textTo = 0;
    QRect textPlace; // centre x, y and size of the text's box
    int textPixels = 32;
    QString music; // optional: a sound under everything, on the audio track

    int dissolveStart() const { return cut - dissolveMs * 30 / 2000; }
    int dissolveEnd() const { return cut + dissolveMs * 30 / 2000; }
    // The text's box in canvas pixels, top left first.
    QRect textBox() const;
    bool textShows(int frame) const { return !text.isEmpty() && frame >= textFrom && frame < textTo; }

    // The end-to-end test's composition at 640 x 360 over 4 s, from the test media.
    static Composition small(const QString& mediaFolder);
};

// Builds the composition into the open project (its canvas already set) as
// the program's edits do. False, with the reason, when any step fails.
bool buildComposition(const Composition& c, TimeLineTreeModel* model, QString* why);

// ffmpeg arguments that render the composition (the caller adds the codec
// options and the output): inputs and a -filter_complex graph, mapped. The
// picture comes out in RGB, or, with a `yuvMatrix` ("bt601", "bt709"), as
// limited-range YUV 4:2:0 made with that matrix. With `withSound` the clips'
// sound (each from its start) and the music are mixed in too.
QStringList referenceArguments(const Composition& c, const QString& yuvMatrix = QString(), bool withSound = false);

} // namespace korvel::test
