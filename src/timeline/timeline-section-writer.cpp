#include "timeline/timeline-section-writer.h"

#include "timeline/source-data.h"
#include "values/timeline-keys.h"
#include "timeline/transition-data.h"

#include <QLocale>
#include <QXmlStreamWriter>

#include <utility>

namespace {

using namespace tlkey::xml;

QString num(double v) { return QString::number(v, 'g', QLocale::FloatingPointShortest); }

QString rectText(double x, double y, double w, double h) {
    return QString::fromLatin1(RectFormat).arg(num(x), num(y), num(w), num(h));
}

void writeSource(QXmlStreamWriter& w, const SourceData* clip, const TimelineSectionWriter::PathMapper& mapPath,
                 const TimelineSectionWriter::PathMapper& besidePath) {
    w.writeStartElement(QLatin1String(SourceItem));
    w.writeTextElement(QLatin1String(Start), QString::number(clip->startFrame()));
    w.writeTextElement(QLatin1String(Duration), QString::number(clip->lengthFrames()));
    w.writeTextElement(QLatin1String(Offset), QString::number(clip->offset()));
    if (!clip->path().isEmpty()) {
        const QString stored = mapPath ? mapPath(clip->path()) : clip->path();
        w.writeTextElement(QLatin1String(Path), stored);
        const QString beside = besidePath ? besidePath(clip->path()) : QString();
        if (!beside.isEmpty() && beside != stored)
            w.writeTextElement(QLatin1String(RelativePath), beside);
    }
    w.writeTextElement(QLatin1String(Uuid), clip->uuid());
    w.writeTextElement(QLatin1String(OriginalDuration), QString::number(clip->originalDuration()));
    w.writeTextElement(QLatin1String(Type), QString::number(uint32_t(clip->type())));
    const QRectF p = clip->previewRect();
    w.writeTextElement(QLatin1String(PreviewRect), rectText(p.x(), p.y(), p.width(), p.height()));
    const QRect c = clip->clipRect();
    w.writeTextElement(QLatin1String(ClipRect), rectText(c.x(), c.y(), c.width(), c.height()));
    w.writeTextElement(QLatin1String(OriginalSize), QString::fromLatin1(SizeFormat)
                                                        .arg(clip->originalSize().width())
                                                        .arg(clip->originalSize().height()));
    w.writeTextElement(QLatin1String(Rotation), QString::number(clip->rotate()));
    w.writeTextElement(QLatin1String(Transparent), QString::number(clip->transparent()));
    w.writeTextElement(QLatin1String(Volume), QString::number(clip->mute() ? 0 : clip->volume()));
    w.writeTextElement(QLatin1String(Mute), QLatin1String(clip->mute() ? True : False));
    if (clip->mute())
        w.writeTextElement(QLatin1String(MutedVolume), QString::number(clip->volume()));
    w.writeTextElement(QLatin1String(Stretch), QString::number(clip->stretch()));
    for (int i = 0; i < ColourSteps::kCount; ++i)
        w.writeTextElement(QLatin1String(kColourKeys[i]), QString::number(clip->colours().at(i)));
    const bool subtitle = clip->type() == SourceSubtitle;
    w.writeTextElement(QLatin1String(Subtitle), QLatin1String(subtitle ? True : False));
    if (subtitle) {
        w.writeTextElement(QLatin1String(Color), clip->color().name());
        w.writeTextElement(QLatin1String(Font), clip->font().toString());
        w.writeTextElement(QLatin1String(Content), clip->content());
        w.writeTextElement(QLatin1String(BackgroundColor), clip->backgroundColor().name());
        w.writeTextElement(QLatin1String(BackgroundTransparent), QString::number(clip->backgroundTransparent()));
    }
    if (clip->type() == SourcePicture || clip->type() == SourceVideo || subtitle)
        w.writeTextElement(QLatin1String(StackingOrder), QString::number(clip->zValue()));
    w.writeEndElement();
}

void writeClassify(QXmlStreamWriter& w, const ClassifyItem* track, int row,
                   const TimelineSectionWriter::PathMapper& mapPath, const TimelineSectionWriter::PathMapper& besidePath) {
    w.writeStartElement(QLatin1String(Classify));
    w.writeAttribute(QLatin1String(Type), QString::number(track->kind()));
    w.writeAttribute(QLatin1String(Row), QString::number(row));
    for (const SourceData* clip : track->sources())
        writeSource(w, clip, mapPath, besidePath);
    w.writeEndElement();
}

} // namespace

TimelineSectionWriter::TimelineSectionWriter(const TimeLineTreeModel& model, PathMapper mapPath, PathMapper besidePath)
    : m_model(model), m_mapPath(std::move(mapPath)), m_besidePath(std::move(besidePath)) {}

void TimelineSectionWriter::write(QXmlStreamWriter& w) const {
    for (const ClassifyItem* header : m_model.root()->children()) {
        if (header->kind() == SourceNone)
            continue;
        writeClassify(w, header, -1, m_mapPath, m_besidePath);
        for (int i = 0; i < header->children().size(); ++i)
            writeClassify(w, header->children().at(i), i, m_mapPath, m_besidePath);
    }
    w.writeStartElement(QLatin1String(Trans));
    for (const TransitionObject* t : m_model.transitions()) {
        const TransitionData* d = t->data();
        w.writeStartElement(QLatin1String(TransItem));
        w.writeTextElement(QLatin1String(StartFrame), QString::number(d->startframe));
        w.writeTextElement(QLatin1String(EndFrame), QString::number(d->endframe));
        w.writeTextElement(QLatin1String(DurationFrame), QString::number(d->durationframe));
        w.writeTextElement(QLatin1String(Name), d->name);
        w.writeTextElement(QLatin1String(Ratio), QString::number(d->ratio));
        if (d->from())
            w.writeTextElement(QLatin1String(FromUuid), d->from()->uuid());
        if (d->to())
            w.writeTextElement(QLatin1String(ToUuid), d->to()->uuid());
        w.writeEndElement();
    }
    w.writeEndElement();
}
