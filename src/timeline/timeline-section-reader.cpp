#include "timeline/timeline-section-reader.h"

#include "values/read-limits.h"
#include "timeline/source-data.h"
#include "values/timeline-keys.h"
#include "timeline/timeline-read-pass.h"
#include "timeline/transition-data.h"
#include "values/value-init.h"
#include "values/transtranslate.h"

#include <QFileInfo>
#include <QStringList>
#include <QXmlStreamReader>

#include <algorithm>
#include <optional>
#include <utility>

namespace {

using namespace tlkey::xml;

// The numbers after each ':' of "x: 1, y: 2, ..."; non-numbers read as 0,
// infinities and NaN are left for the coordinate limits to name.
QList<double> numbersOf(const QString& text, int count) {
    QList<double> result;
    const QStringList parts = text.split(QLatin1Char(','));
    for (const QString& part : parts) {
        const int colon = part.indexOf(QLatin1Char(':'));
        bool ok = false;
        double v = part.mid(colon + 1).trimmed().toDouble(&ok);
        result.append(ok ? v : 0.0);
    }
    while (result.size() < count)
        result.append(0.0);
    return result;
}

// Whole pixels of a placement or crop value, inside the coordinate limit.
int pixels(double v, const char* what) { return int(timeline::clampCoordinate(v, what)); }

} // namespace

TimelineSectionReader::TimelineSectionReader(TimeLineTreeModel& model, PathMapper mapPath)
    : m_model(model), m_mapPath(std::move(mapPath)) {}

bool TimelineSectionReader::read(QXmlStreamReader& reader) {
    // A thousand clips of a few files: each file is probed once.
    TimelineReadPass pass(m_model);
    while (reader.readNextStartElement()) {
        if (reader.name() == QLatin1String(Classify))
            readClassify(reader, pass);
        else if (reader.name() == QLatin1String(Trans))
            readTrans(reader);
        else
            reader.skipCurrentElement();
    }
    pass.fitClipsInTimeline();
    if (reader.hasError()) {
        LOGE("reader: %s", reader.errorString().toUtf8().constData());
        return false;
    }
    return true;
}

void TimelineSectionReader::readClassify(QXmlStreamReader& reader, TimelineReadPass& pass) {
    const QXmlStreamAttributes attributes = reader.attributes();
    bool ok = false;
    const uint32_t kind = attributes.value(QLatin1String(Type)).toUInt(&ok);
    ClassifyItem* head = ok && timeline::isKnownKind(kind) ? m_model.header(kind) : nullptr;
    if (!head) {
        LOGW("reader: unknown track type '%s' skipped", attributes.value(QLatin1String(Type)).toUtf8().constData());
        reader.skipCurrentElement();
        return;
    }
    int row = attributes.value(QLatin1String(Row)).toInt(&ok);
    if (!ok)
        row = -1;
    ClassifyItem* track = head;
    if (row >= 0) {
        if (!pass.roomForTrack(head)) {
            reader.skipCurrentElement();
            return;
        }
        if (row > head->children().size()) {
            LOGW("reader: track row %d beyond %d tracks, appended", row, int(head->children().size()));
            row = head->children().size();
        }
        track = m_model.addTrack(head, row);
    } else if (row < -1) {
        LOGW("reader: track row %d read into the header", row);
    }
    while (reader.readNextStartElement()) {
        if (reader.name() == QLatin1String(SourceItem) && pass.roomForClip())
            readSourceItem(reader, track);
        else
            reader.skipCurrentElement();
    }
}

SourceData* TimelineSectionReader::readSourceItem(QXmlStreamReader& reader, ClassifyItem* track) {
    LOGD("reader: =====");
    int64_t start = 0, duration = 1, offset = 0, original = 0;
    QString path, relativePath, uuid, content;
    QList<double> preview = numbersOf(QString(), 4), crop = numbersOf(QString(), 4), size = numbersOf(QString(), 2);
    int rotate = 0, transparent = 255, volume = 128, mutedVolume = -1, stretch = 1, backgroundTransparent = 0;
    std::optional<int> stacking;
    ColourSteps colours;
    bool mute = false;
    QColor color, backgroundColor;
    QFont font;
    while (reader.readNextStartElement()) {
        const QString name = reader.name().toString();
        const QString text = reader.readElementText(QXmlStreamReader::SkipChildElements);
        bool number = false;
        const int64_t n = text.trimmed().toLongLong(&number);
        const int i = int(std::clamp<int64_t>(n, INT32_MIN, INT32_MAX));
        if (name == QLatin1String(Start))
            start = n;
        else if (name == QLatin1String(Duration))
            duration = n;
        else if (name == QLatin1String(Offset))
            offset = n;
        else if (name == QLatin1String(Path))
            path = m_mapPath ? m_mapPath(text) : text;
        else if (name == QLatin1String(RelativePath))
            relativePath = text;
        else if (name == QLatin1String(Uuid))
            uuid = text;
        else if (name == QLatin1String(OriginalDuration))
            original = n;
        else if (name == QLatin1String(PreviewRect))
            preview = numbersOf(text, 4);
        else if (name == QLatin1String(ClipRect))
            crop = numbersOf(text, 4);
        else if (name == QLatin1String(OriginalSize))
            size = numbersOf(text, 2);
        else if (name == QLatin1String(Rotation))
            rotate = i;
        else if (name == QLatin1String(Transparent))
            transparent = i;
        else if (name == QLatin1String(Volume))
            volume = i;
        else if (name == QLatin1String(Mute))
            mute = text == QLatin1String(True);
        else if (name == QLatin1String(MutedVolume))
            mutedVolume = i;
        else if (name == QLatin1String(Stretch))
            stretch = i;
        else if (const int c = colourIndex(name.toStdString()); c >= 0)
            colours.at(c) = i;
        else if (name == QLatin1String(Color))
            color.setNamedColor(text);
        else if (name == QLatin1String(Font))
            font.fromString(text);
        else if (name == QLatin1String(Content))
            content = text;
        else if (name == QLatin1String(BackgroundColor))
            backgroundColor.setNamedColor(text);
        else if (name == QLatin1String(BackgroundTransparent))
            backgroundTransparent = i;
        else if (name == QLatin1String(StackingOrder) && number)
            stacking = i;
        else if (name == QLatin1String(StackingOrder))
            LOGW("reader: stacking order '%s' is no number; the clip stacks in reading order", qUtf8Printable(text.left(40)));
        // "type" and "subtitle" are not used: the clip takes its track's kind.
    }
    if (reader.hasError())
        return nullptr; // a clip cut off by a broken file is not half-read
    if (!relativePath.isEmpty() && m_mapPath && QFileInfo(relativePath).isRelative()) {
        // The project's folder, copied or moved with its media: the copy
        // beside this project file is the one meant.
        const QString beside = m_mapPath(relativePath);
        if (beside != path && QFileInfo(beside).isAbsolute() && QFileInfo::exists(beside)) {
            LOGD("reader: %s is used from beside the project, %s", qUtf8Printable(path), qUtf8Printable(beside));
            path = beside;
        }
    }
    const int64_t lengthAsWritten = duration;
    timeline::fitClipSpan(&start, &duration);
    if (duration < lengthAsWritten)
        ++m_model.readLossesToFill().clipsShortened;
    if (offset < 0 || offset > timeline::kMaxFrames) {
        const int64_t fixed = std::clamp<int64_t>(offset, 0, timeline::kMaxFrames);
        LOGW("reader: clip offset %lld out of range, using %lld", static_cast<long long>(offset),
             static_cast<long long>(fixed));
        offset = fixed;
    }
    if (original < offset + duration) {
        LOGW("reader: original duration %lld shorter than the clip, widened", static_cast<long long>(original));
        original = offset + duration;
    }
    if (m_uuids.isEmpty()) {
        for (const SourceData* clip : m_model.allSources())
            m_uuids.insert(clip->uuid());
    }
    if (uuid.isEmpty() || m_uuids.contains(uuid)) {
        LOGW("reader: clip without a unique uuid, given a new one");
        uuid.clear();
    }
    const QSize originalSize(pixels(size[0], "media width"), pixels(size[1], "media height"));
    QRect clipRect(pixels(crop[0], "crop x"), pixels(crop[1], "crop y"), pixels(crop[2], "crop width"),
                   pixels(crop[3], "crop height"));
    if (clipRect.isEmpty())
        clipRect = QRect(QPoint(0, 0), originalSize);
    const QRectF place(timeline::clampCoordinate(preview[0], "placement x", timeline::kMaxPlacement),
                       timeline::clampCoordinate(preview[1], "placement y", timeline::kMaxPlacement),
                       timeline::clampCoordinate(preview[2], "placement width", timeline::kMaxPlacement),
                       timeline::clampCoordinate(preview[3], "placement height", timeline::kMaxPlacement));
    // Clips of one track never overlap: a clip read over clips already on
    // its track moves to follow them, at once, so that reading never pushes
    // the clips read before (n clips at one start would push n * n / 2).
    const int64_t asWritten = start;
    const QList<SourceData*>& before = track->sources();
    const bool pastTheLast = before.isEmpty() || before.last()->endFrame() <= start; // as files are written
    for (const SourceData* other : pastTheLast ? QList<SourceData*>() : before) { // in start order, none overlapping
        if (other->endFrame() <= start)
            continue;
        if (other->startFrame() >= start + duration)
            break;
        start = other->endFrame();
    }
    if (start != asWritten)
        LOGW("reader: clip at frame %lld overlaps clips read before it on its track; it moves to frame %lld",
             static_cast<long long>(asWritten), static_cast<long long>(start));
    SourceData* clip = m_model.createSource(track, start, duration, offset, original, path, place, clipRect, uuid);
    m_uuids.insert(clip->uuid());
    clip->setOriginalSize(originalSize);
    // A missing file keeps its place on the track, drawn as missing.
    if (!path.isEmpty() && track->kind() != SourceSubtitle && !m_model.probe(path).get("valid").toBool()) {
        LOGW("reader: media not readable: %s", path.toUtf8().constData());
        clip->setValid(0);
    }
    using timeline::clampSetting;
    if (rotate <= -360 || rotate >= 360) {
        LOGW("reader: rotation %d taken modulo 360", rotate);
        rotate %= 360;
    }
    if (mute && mutedVolume >= 0)
        volume = mutedVolume;
    clip->setInitialLook(rotate, clampSetting(transparent, 0, timeline::kMaxOpacity, "opacity"),
                         clampSetting(volume, 0, timeline::kMaxVolume, "volume"), mute);
    timeline::fitColours(&colours);
    clip->setInitialColors(colours);
    clip->setStretch(clampSetting(stretch, 0, timeline::kMaxStretch, "fit mode"));
    timeline::fitFont(&font, "subtitle font");
    if (track->kind() == SourceSubtitle)
        clip->setInitialSubtitle(color, backgroundColor, font, content,
                                 clampSetting(backgroundTransparent, 0, timeline::kMaxOpacity, "background opacity"));
    if (stacking)
        clip->restoreZValue(clampSetting(*stacking, -timeline::kMaxStacking, timeline::kMaxStacking, "stacking order"));
    track->addSource(clip);
    return clip;
}

void TimelineSectionReader::readTrans(QXmlStreamReader& reader) {
    while (reader.readNextStartElement()) {
        if (reader.name() != QLatin1String(TransItem)) {
            reader.skipCurrentElement();
            continue;
        }
        int64_t duration = 2000;
        int ratio = 5;
        QString name, fromUuid, toUuid;
        while (reader.readNextStartElement()) {
            const QString element = reader.name().toString();
            const QString text = reader.readElementText(QXmlStreamReader::SkipChildElements);
            if (element == QLatin1String(DurationFrame))
                duration = text.trimmed().toLongLong();
            else if (element == QLatin1String(Name))
                name = text;
            else if (element == QLatin1String(Ratio))
                ratio = text.trimmed().toInt();
            else if (element == QLatin1String(FromUuid))
                fromUuid = text;
            else if (element == QLatin1String(ToUuid))
                toUuid = text;
            // startframe and endframe follow from the clips.
        }
        LOGD("from uuid: %s", fromUuid.toUtf8().constData());
        LOGD("to uuid: %s", toUuid.toUtf8().constData());
        SourceData* from = fromUuid.isEmpty() ? nullptr : m_model.findSource(fromUuid);
        SourceData* to = toUuid.isEmpty() ? nullptr : m_model.findSource(toUuid);
        if ((!fromUuid.isEmpty() && !from) || (!toUuid.isEmpty() && !to) || (!from && !to)) {
            LOGW("reader: transition '%s' names clips that do not exist, skipped", name.toUtf8().constData());
            continue;
        }
        // Longer than ten minutes or outside 0..10 is no transition a panel makes.
        const int64_t kMaxMs = 600000;
        if (duration < 0 || duration > kMaxMs || ratio < 0 || ratio > 10) {
            LOGW("reader: transition duration %lld or ratio %d out of range, clamped", static_cast<long long>(duration),
                 ratio);
            duration = std::clamp<int64_t>(duration, 0, kMaxMs);
            ratio = std::clamp(ratio, 0, 10);
        }
        const QString kind = TransTranslate::instance()->drawable(name);
        if (kind != name)
            LOGW("reader: transition '%s' is none Korvel draws; a dissolve takes its place", name.toUtf8().constData());
        if (!m_model.addTransition(from, to, kind, duration, ratio))
            LOGW("reader: transition '%s' skipped", name.toUtf8().constData());
    }
}
