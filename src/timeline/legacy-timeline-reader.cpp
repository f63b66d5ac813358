#include "timeline/legacy-timeline-reader.h"

#include "values/read-limits.h"
#include "timeline/source-data.h"
#include "timeline/timeline-read-pass.h"
#include "timeline/transition-data.h"
#include "values/value-init.h"
#include "values/transtranslate.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringList>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>

namespace {

using Props = QHash<QString, QString>;

using timeline::kMaxCoordinate;

// Attributes and simple child elements by name; "dobj_user" contributes its
// own as "dobj_user/name". A child element wins over an attribute.
void readProps(QXmlStreamReader& r, Props& out, const QString& prefix = QString()) {
    for (const QXmlStreamAttribute& a : r.attributes())
        out.insert(prefix + a.name().toString(), a.value().toString());
    while (r.readNextStartElement()) {
        const QString name = prefix + r.name().toString();
        if (prefix.isEmpty() && r.name() == QLatin1String("dobj_user"))
            readProps(r, out, name + QLatin1Char('/'));
        else
            out.insert(name, r.readElementText(QXmlStreamReader::SkipChildElements).trimmed());
    }
}

bool number(const Props& p, const char* key, double* out) {
    bool ok = false;
    const double v = p.value(QLatin1String(key)).toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

int intOf(const Props& p, const char* key, int fallback, int lo, int hi, const QString& uid) {
    double v = 0.0;
    if (!p.contains(QLatin1String(key)))
        return fallback;
    if (!number(p, key, &v)) {
        LOGW("legacy reader: object %s: %s is no number, ignored", qPrintable(uid), key);
        return fallback;
    }
    if (v < lo || v > hi) {
        LOGW("legacy reader: object %s: %s %g out of range, clamped", qPrintable(uid), key, v);
        v = std::clamp(v, double(lo), double(hi));
    }
    return int(v);
}

// trunc(t / perSecond x 30) frames, kept inside 0..kMaxFrames.
bool framesOf(const Props& p, const char* key, double perSecond, int64_t lo, int64_t* out, const QString& uid) {
    double t = 0.0;
    if (!number(p, key, &t))
        return false;
    const double f = std::trunc(t / perSecond * 30.0);
    if (f < double(lo) || f > double(timeline::kMaxFrames)) {
        LOGW("legacy reader: object %s: %s %g out of range, clamped", qPrintable(uid), key, t);
        *out = f < double(lo) ? lo : timeline::kMaxFrames;
    } else {
        *out = int64_t(f);
    }
    return true;
}

// "[rectf]x:1;y:2;w:3;h:4", "[point]x:1;y:2" or "x: 1, y: 2, width: 3, height: 4":
// the values by the first letter of their names. False without x and y.
bool shapeOf(const QString& text, double v[4]) {
    QString body = text.trimmed();
    if (body.startsWith(QLatin1Char('[')))
        body = body.mid(body.indexOf(QLatin1Char(']')) + 1);
    bool seen[4] = {false, false, false, false};
    const QStringList parts = body.split(QRegularExpression(QStringLiteral("[;,]")), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        const int colon = part.indexOf(QLatin1Char(':'));
        const QString key = part.left(colon).trimmed().toLower();
        bool ok = false;
        const double n = part.mid(colon + 1).trimmed().toDouble(&ok);
        if (colon < 1 || !ok || !std::isfinite(n))
            return false;
        const int i = QStringLiteral("xywh").indexOf(key.at(0));
        if (i < 0)
            continue;
        v[i] = std::clamp(n, -kMaxCoordinate, kMaxCoordinate);
        seen[i] = true;
    }
    return seen[0] && seen[1];
}

struct LegacyClip {
    QString uid;
    uint32_t type = 0; // 0: the track's kind
    int64_t start = 0, length = 1, offset = 0, original = -1;
    QString path, content;
    QRectF place;
    QRect crop;
    int rotate = 0, transparent = 255, volume = 128;
    bool mute = false, fill = false;
    QColor color {Qt::white};
    QFont font;
    ColourSteps colours;
};

// Null reasons are logged; the object is then skipped.
bool clipOf(const Props& p, LegacyClip* c) {
    c->uid = p.value(QStringLiteral("uid")).trimmed();
    if (c->uid.isEmpty()) {
        LOGW("legacy reader: object without uid skipped");
        return false;
    }
    const QString& uid = c->uid;
    if (p.contains(QStringLiteral("type"))) {
        bool ok = false;
        c->type = p.value(QStringLiteral("type")).toUInt(&ok);
        if (!ok || !timeline::isKnownKind(c->type)) {
            LOGW("legacy reader: object %s of unknown type '%s' skipped", qPrintable(uid),
                 qPrintable(p.value(QStringLiteral("type"))));
            return false;
        }
    }
    if (!framesOf(p, "dobj_user/startPts", 100.0, 0, &c->start, uid) ||
        !framesOf(p, "dobj_user/duration", 100.0, 1, &c->length, uid)) {
        LOGW("legacy reader: object %s without start or duration skipped", qPrintable(uid));
        return false;
    }
    timeline::fitClipSpan(&c->start, &c->length);
    framesOf(p, "dobj_user/mv_cut_pos", 1000.0, 0, &c->offset, uid);
    framesOf(p, "dobj_user/mv_duration", 1000.0, 0, &c->original, uid);
    c->path = p.value(QStringLiteral("url"));
    double v[4] = {0, 0, 0, 0};
    if (p.contains(QStringLiteral("rect")) && !shapeOf(p.value(QStringLiteral("rect")), v))
        LOGW("legacy reader: object %s: rect '%s' unreadable", qPrintable(uid), qPrintable(p.value(QStringLiteral("rect"))));
    c->place = QRectF(v[0], v[1], std::max(0.0, v[2]), std::max(0.0, v[3]));
    double at[4] = {0, 0, 0, 0};
    if (p.contains(QStringLiteral("pos"))) {
        if (shapeOf(p.value(QStringLiteral("pos")), at))
            c->place.moveTo(at[0], at[1]); // the placement's centre
        else
            LOGW("legacy reader: object %s: pos '%s' unreadable", qPrintable(uid), qPrintable(p.value(QStringLiteral("pos"))));
    }
    double r[4] = {0, 0, 0, 0};
    if (p.contains(QStringLiteral("clipRect")) && !shapeOf(p.value(QStringLiteral("clipRect")), r))
        LOGW("legacy reader: object %s: clipRect '%s' unreadable", qPrintable(uid),
             qPrintable(p.value(QStringLiteral("clipRect"))));
    c->crop = QRect(int(r[0]), int(r[1]), int(std::max(0.0, r[2])), int(std::max(0.0, r[3])));
    c->rotate = intOf(p, "rotate", 0, -100000, 100000, uid) % 360;
    // Opacity as a share 0..1; larger numbers are taken as 0..255.
    double alpha = 1.0;
    if (p.contains(QStringLiteral("alpha")) && number(p, "alpha", &alpha))
        c->transparent = alpha <= 1.0 ? int(std::lround(std::max(0.0, alpha) * 255)) : int(std::min(alpha, 255.0));
    c->volume = intOf(p, "volume", 128, 0, timeline::kMaxVolume, uid);
    const QString silence = p.value(QStringLiteral("silence")).trimmed();
    c->mute = silence == QLatin1String("true") || silence == QLatin1String("1");
    c->fill = p.value(QStringLiteral("clipMode")).trimmed() == QLatin1String("fill");
    if (p.contains(QStringLiteral("color")) && !QColor::isValidColor(p.value(QStringLiteral("color"))))
        LOGW("legacy reader: object %s: colour '%s' unreadable", qPrintable(uid), qPrintable(p.value(QStringLiteral("color"))));
    else if (p.contains(QStringLiteral("color")))
        c->color.setNamedColor(p.value(QStringLiteral("color")));
    if (p.contains(QStringLiteral("font"))) {
        c->font.fromString(p.value(QStringLiteral("font")));
        timeline::fitFont(&c->font, "subtitle font");
    }
    c->content = p.value(QStringLiteral("content"));
    // "values": "name:number" pairs of the colour controls.
    const QStringList pairs = p.value(QStringLiteral("values")).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& pair : pairs) {
        const QStringList kv = pair.split(QLatin1Char(':'));
        bool ok = false;
        const double n = kv.value(1).trimmed().toDouble(&ok);
        const int i = colourIndex(kv.value(0).trimmed().toStdString());
        if (i >= 0 && ok && std::isfinite(n))
            c->colours.at(i) = int(std::clamp(n, -1e9, 1e9));
    }
    timeline::fitColours(&c->colours);
    return true;
}

// A "Transit" entry: "left" and "right" name the objects before and after the cut.
struct LegacyTransit {
    QString left, right, name;
    int64_t durationMs = 2000;
    int ratio = 5;
};

LegacyTransit transitOf(QXmlStreamReader& r) {
    Props p;
    readProps(r, p);
    LegacyTransit t;
    t.left = p.value(QStringLiteral("left"));
    t.right = p.value(QStringLiteral("right"));
    t.name = p.value(QStringLiteral("name"));
    double v = 0.0;
    if (number(p, "duration", &v))
        t.durationMs = int64_t(std::clamp(v, 0.0, 600000.0));
    if (number(p, "ratio", &v))
        t.ratio = int(std::clamp(v, 0.0, 10.0));
    return t;
}

// Steps onto the element's start when the reader still stands before it.
bool enter(QXmlStreamReader& r, const char* name) {
    if (!r.isStartElement())
        r.readNextStartElement();
    if (r.isStartElement() && r.name() == QLatin1String(name))
        return true;
    LOGW("legacy reader: no \"%s\" element", name);
    return false;
}

} // namespace

LegacyTimelineReader::LegacyTimelineReader(TimeLineTreeModel& model, TimeLineTreeModel::PathMapper mapPath)
    : m_model(model), m_mapPath(std::move(mapPath)) {}

bool LegacyTimelineReader::read(QXmlStreamReader& objectMgr, QXmlStreamReader& tree) {
    TimelineReadPass pass(m_model);
    if (!enter(objectMgr, "ObjectMgr") || !enter(tree, "Tree"))
        return false;
    QHash<QString, LegacyClip> objects;
    while (objectMgr.readNextStartElement()) {
        if (objectMgr.name() != QLatin1String("Object")) {
            objectMgr.skipCurrentElement();
            continue;
        }
        Props p;
        readProps(objectMgr, p);
        LegacyClip clip;
        if (!clipOf(p, &clip))
            continue;
        if (objects.contains(clip.uid)) {
            LOGW("legacy reader: second object %s skipped", qPrintable(clip.uid));
            continue;
        }
        objects.insert(clip.uid, clip);
    }
    if (objectMgr.hasError()) {
        // A cut-off object table: nothing is read rather than a part of it.
        LOGE("legacy reader: %s", qPrintable(objectMgr.errorString()));
        return false;
    }

    QHash<QString, SourceData*> placed; // uid -> clip
    QList<LegacyTransit> transits;
    auto addClip = [&](ClassifyItem* track, const QString& uid) {
        if (!objects.contains(uid) || placed.contains(uid)) {
            LOGW("legacy reader: item names %s object '%s', skipped", placed.contains(uid) ? "a used" : "no",
                 qPrintable(uid));
            return;
        }
        const LegacyClip& c = objects[uid];
        if (c.type != 0 && c.type != track->kind()) {
            LOGW("legacy reader: object %s of type %u on a track of type %u, skipped", qPrintable(uid), c.type,
                 track->kind());
            return;
        }
        if (!pass.roomForClip())
            return;
        const bool subtitle = track->kind() == SourceSubtitle;
        int64_t original = c.original;
        if (original < 0 && (subtitle || track->kind() == SourcePicture))
            original = timeline::kMaxFrames; // no media length: stretchable
        if (original < c.offset + c.length) {
            if (original >= 0)
                LOGW("legacy reader: object %s: media shorter than the clip, widened", qPrintable(uid));
            original = c.offset + c.length;
        }
        QSize size = c.crop.size();
        bool valid = true;
        const QString path = m_mapPath && !c.path.isEmpty() ? m_mapPath(c.path) : c.path;
        if (!subtitle && !path.isEmpty()) {
            const bg::ValueMap info = m_model.probe(path);
            valid = info.get("valid").toBool();
            if (valid)
                size = QSize(info.get("width").toInt(), info.get("height").toInt());
            else
                LOGW("legacy reader: media not readable: %s", qPrintable(path));
        }
        if (size.isEmpty())
            size = c.place.size().toSize();
        const QRect crop = c.crop.isEmpty() ? QRect(QPoint(0, 0), size) : c.crop;
        const QRectF place = c.fill ? QRectF(0, 0, m_model.renderSize().width(), m_model.renderSize().height()) : c.place;
        SourceData* clip = m_model.createSource(track, c.start, c.length, subtitle ? 0 : c.offset, original,
                                        subtitle ? QString() : path, place, crop);
        clip->setOriginalSize(size);
        clip->setValid(valid ? 1 : 0);
        clip->setInitialLook(c.rotate, c.transparent, c.volume, c.mute);
        clip->setInitialColors(c.colours);
        clip->setStretch(c.fill ? 2 : 1);
        if (subtitle)
            clip->setInitialSubtitle(c.color, QColor(Qt::black), c.font, c.content, 0);
        LOGD("reader: =====");
        track->addSource(clip);
        placed.insert(uid, clip);
    };

    while (tree.readNextStartElement()) {
        if (tree.name() == QLatin1String("Transit")) {
            transits.append(transitOf(tree));
            continue;
        }
        if (tree.name() != QLatin1String("Group")) {
            tree.skipCurrentElement();
            continue;
        }
        bool ok = false;
        const uint32_t kind = tree.attributes().value(QLatin1String("type")).toUInt(&ok);
        ClassifyItem* head = ok && timeline::isKnownKind(kind) ? m_model.header(kind) : nullptr;
        if (!head) {
            LOGW("legacy reader: group of unknown type '%s' skipped",
                 qPrintable(tree.attributes().value(QLatin1String("type")).toString()));
            tree.skipCurrentElement();
            continue;
        }
        int rows = 0;
        while (tree.readNextStartElement()) {
            if (tree.name() == QLatin1String("Transit")) {
                transits.append(transitOf(tree));
                continue;
            }
            if (tree.name() != QLatin1String("Row")) {
                tree.skipCurrentElement();
                continue;
            }
            ClassifyItem* track = head;
            if (rows > 0) {
                track = pass.roomForTrack(head) ? m_model.addTrack(head) : nullptr;
                if (!track) {
                    tree.skipCurrentElement();
                    continue;
                }
            }
            ++rows;
            while (tree.readNextStartElement()) {
                if (tree.name() != QLatin1String("Item")) {
                    tree.skipCurrentElement();
                    continue;
                }
                QString uid = tree.attributes().value(QLatin1String("uid")).toString().trimmed();
                const QString text = tree.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
                addClip(track, uid.isEmpty() ? text : uid);
            }
        }
    }
    pass.fitClipsInTimeline();
    for (const LegacyTransit& t : transits) {
        SourceData* from = placed.value(t.left);
        SourceData* to = placed.value(t.right);
        const QString kind = TransTranslate::instance()->drawable(t.name);
        if (kind != t.name)
            LOGW("legacy reader: transition '%s' is none Korvel draws; a dissolve takes its place", qPrintable(t.name));
        if ((!t.left.isEmpty() && !from) || (!t.right.isEmpty() && !to) || (!from && !to) ||
            !m_model.addTransition(from, to, kind, t.durationMs, t.ratio))
            LOGW("legacy reader: transition '%s' skipped", qPrintable(t.name));
    }
    if (tree.hasError()) {
        LOGE("legacy reader: %s", qPrintable(tree.errorString()));
        return false;
    }
    return true;
}
