#include "composition.h"

#include "timeline/classify-item.h"
#include "timeline/source-data.h"
#include "values/timeline-keys.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/transition-data.h"

#include <QFont>
#include <QFontMetrics>

#include <cmath>

namespace korvel::test {

namespace {

const char* const kFontFamily = "DejaVu Sans";
const char* const kFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

QFont textFont(int pixels) {
    QFont font(QString::fromLatin1(kFontFamily));
    font.setPixelSize(pixels);
    return font;
}

// The left (top) edge in canvas pixels of a box centred `centre` from the canvas centre.
int edge(int centre, int size, int canvas) { return canvas / 2 + centre - size / 2; }

// A panel edit of one field, as the property panels send it.
void edit(SourceData* clip, const char* key, const bg::Value& value) {
    bg::ValueMap map = clip->panelMap();
    map[key] = value;
    clip->updateData(MenuType(0), map, key);
}

void place(SourceData* clip, const QRect& at) {
    edit(clip, tlkey::X, bg::Value(double(at.x())));
    edit(clip, tlkey::Y, bg::Value(double(at.y())));
    edit(clip, tlkey::W, bg::Value(double(at.width())));
    edit(clip, tlkey::H, bg::Value(double(at.height())));
}

// The frames [from, to) as instants, for a filter's enable expression.
QString during(int from, int to) {
    return QStringLiteral("between(t,%1,%2)").arg((from - 0.5) / 30.0, 0, 'f', 4).arg((to - 0.5) / 30.0, 0, 'f', 4);
}

bool addPicture(const Composition::Picture& p, ClassifyItem* track, TimeLineTreeModel* m, QString* why) {
    SourceData* clip = m->createFromMaterial(track, p.path, p.from);
    if (!clip) {
        *why = QStringLiteral("%1 makes no clip").arg(p.path);
        return false;
    }
    track->addSource(clip);
    if (!m->trimSource(clip, p.from, p.to - p.from, 0)) {
        *why = QStringLiteral("%1 cannot be trimmed").arg(p.path);
        return false;
    }
    place(clip, p.place);
    if (p.opacity != 255)
        edit(clip, tlkey::Transparent, bg::Value(p.opacity));
    if (p.bright != 0)
        edit(clip, tlkey::Bright, bg::Value(p.bright));
    return true;
}

} // namespace

QRect Composition::textBox() const {
    return QRect(edge(textPlace.x(), textPlace.width(), canvas.width()),
                 edge(textPlace.y(), textPlace.height(), canvas.height()), textPlace.width(), textPlace.height());
}

Composition Composition::small(const QString& mediaFolder) {
    Composition c;
    c.clipA = mediaFolder + "/e2e-a.mp4";
    c.clipB = mediaFolder + "/e2e-b.mp4";
    c.logo = {mediaFolder + "/e2e-logo.png", 15, 105, QRect(200, -100, 160, 90), 200, 0};
    c.patch = {mediaFolder + "/e2e-patch.png", 0, 90, QRect(-224, -124, 128, 72), 255, 20};
    c.text = QStringLiteral("Korvel");
    c.textFrom = 30;
    c.textTo = 90;
    c.textPlace = QRect(0, 120, 400, 60);
    return c;
}

bool buildComposition(const Composition& c, TimeLineTreeModel* m, QString* why) {
    ClassifyItem* video = m->header(SourceVideo);
    SourceData* a = m->createFromMaterial(video, c.clipA, 0);
    SourceData* b = a ? m->createFromMaterial(video, c.clipB, c.cut) : nullptr;
    if (!a || !b) {
        *why = QStringLiteral("the clips make no clip");
        return false;
    }
    video->addSource(a);
    video->addSource(b);
    if (a->endFrame() != c.cut || b->endFrame() != c.frames) {
        *why = QStringLiteral("the clips lie on %1..%2 and %3..%4")
                   .arg(a->startFrame())
                   .arg(a->endFrame())
                   .arg(b->startFrame())
                   .arg(b->endFrame());
        return false;
    }
    TransitionObject* dissolve = m->addTransition(a, b, "over_cross", c.dissolveMs, 5);
    if (!dissolve || dissolve->data()->startframe != c.dissolveStart() ||
        dissolve->data()->endframe != c.dissolveEnd()) {
        *why = QStringLiteral("the dissolve is not on %1..%2").arg(c.dissolveStart()).arg(c.dissolveEnd());
        return false;
    }
    ClassifyItem* pictures = m->header(SourcePicture);
    if (!c.logo.path.isEmpty() && !addPicture(c.logo, pictures, m, why))
        return false;
    if (!c.patch.path.isEmpty() && !addPicture(c.patch, m->addTrack(pictures), m, why))
        return false;
    if (!c.text.isEmpty()) {
        ClassifyItem* subtitles = m->header(SourceSubtitle);
        SourceData* title = m->createSubtitle(subtitles, c.textFrom, c.textTo - c.textFrom, c.text,
                                              textFont(c.textPixels), QColor(Qt::white));
        if (!title) {
            *why = QStringLiteral("no subtitle clip");
            return false;
        }
        subtitles->addSource(title);
        place(title, c.textPlace);
        edit(title, tlkey::BackgroundColor, bg::Value(std::string("#000000")));
        edit(title, tlkey::BackgroundTransparent, bg::Value(255));
    }
    if (!c.music.isEmpty()) {
        ClassifyItem* audio = m->header(SourceAudio);
        SourceData* music = m->createFromMaterial(audio, c.music, 0);
        if (!music) {
            *why = QStringLiteral("%1 makes no clip").arg(c.music);
            return false;
        }
        audio->addSource(music);
    }
    return true;
}

QStringList referenceArguments(const Composition& c, const QString& yuvMatrix, bool withSound) {
    const int w = c.canvas.width(), h = c.canvas.height();
    // Converted to RGB as the program's decoder converts.
    const QString exact = "scale=flags=accurate_rnd+full_chroma_int";
    auto overlay = [&](const Composition::Picture& p, const QString& in, const QString& base, const QString& out) {
        // Opacity scales the alpha; brightness adds a share of full scale to
        // each of red, green and blue, as the colour program does.
        QString chain = QStringLiteral("[%1]format=rgba").arg(in);
        if (p.bright != 0) {
            const int add = int(std::lround(p.bright / 100.0 * 255));
            chain += QStringLiteral(",lutrgb=r='clip(val+%1\\,0\\,255)':g='clip(val+%1\\,0\\,255)':"
                                    "b='clip(val+%1\\,0\\,255)'")
                         .arg(add);
        }
        if (p.opacity != 255)
            chain += QStringLiteral(",colorchannelmixer=aa=%1").arg(p.opacity / 255.0, 0, 'f', 6);
        return chain + QStringLiteral("[%1p];[%2][%1p]overlay=x=%3:y=%4:format=rgb:enable='%5'[%6];")
                           .arg(in.section(':', 0, 0) + "x", base)
                           .arg(edge(p.place.x(), p.place.width(), w))
                           .arg(edge(p.place.y(), p.place.height(), h))
                           .arg(during(p.from, p.to), out);
    };
    // The dissolve mixes A (its last picture held past the cut) into B (its
    // first held before it), by (frame - start) / (end - start).
    QString graph =
        QStringLiteral("[0:v]%1,format=gbrp,tpad=stop=%2:stop_mode=clone[a];"
                       "[1:v]%1,format=gbrp,tpad=start=%3:start_mode=clone[b];"
                       "[a][b]xfade=transition=fade:offset=%4:duration=%5,trim=end_frame=%6,format=rgba[base];")
            .arg(exact)
            .arg(c.dissolveEnd() - c.cut)
            .arg(c.cut - c.dissolveStart())
            .arg(c.dissolveStart() / 30.0, 0, 'f', 6)
            .arg((c.dissolveEnd() - c.dissolveStart()) / 30.0, 0, 'f', 6)
            .arg(c.frames);
    // Inputs 2 and 3 are the pictures; one left out is passed through.
    graph += c.logo.path.isEmpty() ? QStringLiteral("[base]null[s1];") : overlay(c.logo, "2:v", "base", "s1");
    graph += c.patch.path.isEmpty() ? QStringLiteral("[s1]null[s2];") : overlay(c.patch, "3:v", "s1", "s2");
    if (c.text.isEmpty()) {
        graph += "[s2]null";
    } else {
        // Qt centres the text's line box in the subtitle's box; drawtext
        // puts the tallest glyph's top at y.
        const QFontMetrics metrics(textFont(c.textPixels));
        const QRect box = c.textBox();
        const int baseline = box.y() + (box.height() - metrics.height()) / 2 + metrics.ascent();
        const int textLeft = box.x() + (box.width() - metrics.horizontalAdvance(c.text)) / 2;
        graph += QStringLiteral("[s2]drawbox=x=%1:y=%2:w=%3:h=%4:color=black:t=fill:enable='%5',"
                                "drawtext=fontfile=%6:text='%7':fontsize=%8:fontcolor=white:x=%9:y=%10-ascent:"
                                "enable='%5'")
                     .arg(box.x())
                     .arg(box.y())
                     .arg(box.width())
                     .arg(box.height())
                     .arg(during(c.textFrom, c.textTo))
                     .arg(kFontFile)
                     .arg(c.text)
                     .arg(c.textPixels)
                     .arg(textLeft)
                     .arg(baseline);
    }
    if (!yuvMatrix.isEmpty())
        graph += QStringLiteral(",scale=out_color_matrix=%1:out_range=tv:flags=accurate_rnd,format=yuv420p").arg(yuvMatrix);
    graph += "[out]";
    QStringList maps {"-map", "[out]"};
    if (withSound) {
        const QString music = c.music.isEmpty() ? QString() : QStringLiteral("[4:a]");
        graph += QStringLiteral(";[1:a]adelay=%1:all=1[bsound];[0:a][bsound]%2amix=inputs=%3:duration=longest:"
                                "normalize=0[sound]")
                     .arg(c.cut * 1000 / 30)
                     .arg(music)
                     .arg(music.isEmpty() ? 2 : 3);
        maps << "-map" << "[sound]";
    }
    QStringList arguments {"-i", c.clipA, "-i", c.clipB};
    for (const Composition::Picture* p : {&c.logo, &c.patch}) {
        // A missing picture's place is held by a tiny unused input.
        if (p->path.isEmpty())
            arguments << "-f" << "lavfi" << "-i" << "color=size=2x2:duration=0.1";
        else
            arguments << "-loop" << "1" << "-framerate" << "30" << "-i" << p->path;
    }
    if (withSound && !c.music.isEmpty())
        arguments << "-i" << c.music;
    return arguments + QStringList {"-filter_complex", graph} + maps +
           QStringList {"-frames:v", QString::number(c.frames)};
}

} // namespace korvel::test
