// Clips, transitions and tracks: the edits a user makes on the timeline,
// their undo, and the project's timeline section.
#include "support/test-main.h"
#include "timeline/source-data.h"
#include "values/timeline-keys.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/transition-data.h"
#include "undo/undo-controller.h"
#include "values/value-init.h"
#include "values/transtranslate.h"

#include <QRegularExpression>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cmath>
#include <memory>

namespace {

zya::UndoController* undo() { return zya::UndoController::instance(); }

QString xmlOf(const TimeLineTreeModel& model) {
    QString text;
    QXmlStreamWriter w(&text);
    w.setAutoFormatting(true);
    w.writeStartElement("Timeline");
    model.writeTimeline(w);
    w.writeEndElement();
    return text;
}

bool readInto(TimeLineTreeModel& model, const QString& text) {
    QXmlStreamReader r(text);
    if (!r.readNextStartElement())
        return false;
    return model.readTimeline(r);
}

// The older layout from two hand-written element texts.
bool readOld(TimeLineTreeModel& model, const QString& objects, const QString& tree) {
    QXmlStreamReader o("<ObjectMgr>" + objects + "</ObjectMgr>");
    QXmlStreamReader t("<Tree>" + tree + "</Tree>");
    return model.readOldSection(o, t);
}

QString oldObject(const QString& uid, const QString& type, const QString& startPts, const QString& duration,
                  const QString& extra = QString()) {
    return QString("<Object><uid>%1</uid><type>%2</type><dobj_user><startPts>%3</startPts>"
                   "<duration>%4</duration></dobj_user>%5</Object>")
        .arg(uid, type, startPts, duration, extra);
}

// No overlaps on any track, lists sorted, every clip in exactly one track.
QString invariantFault(const TimeLineTreeModel& model) {
    QSet<SourceData*> seen;
    for (ClassifyItem* track : model.tracks()) {
        int64_t end = 0;
        for (SourceData* clip : track->sources()) {
            if (seen.contains(clip))
                return "clip in two tracks";
            seen.insert(clip);
            if (clip->parentTrack() != track)
                return "parent differs from the track holding it";
            if (clip->startFrame() < end)
                return QString("overlap at %1 on a track of kind %2").arg(clip->startFrame()).arg(track->kind());
            if (clip->lengthFrames() < 1 || clip->offset() < 0)
                return "empty clip or negative offset";
            end = clip->endFrame();
        }
    }
    return QString();
}

// The first line where two texts differ, for readable failures.
QString firstDifference(const QString& a, const QString& b) {
    const QStringList la = a.split('\n'), lb = b.split('\n');
    QString result;
    for (int i = 0, shown = 0; i < std::max(la.size(), lb.size()) && shown < 6; ++i) {
        if (la.value(i) != lb.value(i)) {
            result += QString("line %1: '%2' vs '%3'; ").arg(i).arg(la.value(i).trimmed(), lb.value(i).trimmed());
            ++shown;
        }
    }
    return result;
}

} // namespace

class TestTimeline : public QObject {
    Q_OBJECT

    std::unique_ptr<TimeLineTreeModel> model;

    ClassifyItem* video() const { return model->header(SourceVideo); }
    SourceData* add(ClassifyItem* track, int64_t start, int64_t length, int64_t offset = 0) {
        SourceData* clip = model->createSource(track, start, length, offset, 100000, "/media/clip.mp4",
                                               QRectF(0, 0, 640, 360), QRect(0, 0, 640, 360));
        clip->setOriginalSize(QSize(640, 360));
        track->addSource(clip);
        return clip;
    }

private slots:
    void init() {
        timeline::overrideDpiScale(1.0);
        model = std::make_unique<TimeLineTreeModel>();
        undo()->reset();
    }
    void cleanup() {
        model.reset();
        zya::UndoController::destroyInstance();
    }

    void pixelToFrame_data() {
        QTest::addColumn<double>("scale");
        QTest::addColumn<double>("px");
        QTest::addColumn<qint64>("frame");
        QTest::newRow("half goes up") << 1.0 << 25.0 << qint64(1);
        QTest::newRow("just under half") << 1.0 << 24.99 << qint64(0);
        QTest::newRow("negative half goes up") << 1.0 << -25.0 << qint64(0);
        QTest::newRow("scaled") << 1.25 << 62.5 << qint64(1);
        QTest::newRow("scaled many") << 1.5 << 7500.0 << qint64(100);
    }
    void pixelToFrame() {
        QFETCH(double, scale);
        QFETCH(double, px);
        QFETCH(qint64, frame);
        timeline::overrideDpiScale(scale);
        QCOMPARE(timeline::pixelToFrame(px), frame);
        QCOMPARE(timeline::pixelToFrame(timeline::frameToPixel(frame)), frame);
    }

    void startupRows() {
        const uint32_t kinds[] = {SourceVideo, SourcePicture, SourceAudio, SourceDub, SourceSubtitle, SourceNone};
        QCOMPARE(model->rowCount(), 6);
        for (int i = 0; i < 6; ++i) {
            const ClassifyData d = model->index(i, 0).data(Qt::UserRole).value<ClassifyData>();
            QCOMPARE(d.type, kinds[i]);
            QCOMPARE(d.isHeader, kinds[i] != SourceNone);
        }
        QCOMPARE(model->headerData(0, Qt::Horizontal, Qt::SizeHintRole).toSize(), QSize(0, 0));
    }

    void zValueStacksByKind() {
        const int video0 = SourceData::peekZValue(SourceVideo);
        const int picture0 = SourceData::peekZValue(SourcePicture);
        SourceData* v1 = add(video(), 0, 10);
        SourceData* v2 = add(video(), 20, 10);
        SourceData* p = add(model->header(SourcePicture), 0, 10);
        SourceData* s = model->createSubtitle(model->header(SourceSubtitle), 0, 10, "hi", QFont(), Qt::white);
        SourceData* a = add(model->header(SourceAudio), 0, 10);
        QCOMPARE(v1->zValue(), video0);
        QCOMPARE(v2->zValue(), video0 + 1);
        QCOMPARE(p->zValue(), picture0);
        QVERIFY(picture0 >= 1000000 && s->zValue() >= 2000000);
        QCOMPARE(a->zValue(), 0);
        QCOMPARE(s->content(), QString("hi"));

        // Raised over the others under the play head: above them, and a clip
        // added next goes above it rather than tying with it.
        ClassifyItem* upper = model->addTrack(video());
        SourceData* v3 = add(upper, 0, 10);
        QVERIFY(model->levelSource(v1, 5, true));
        QVERIFY(v1->zValue() > v3->zValue() && v1->zValue() > p->zValue());
        SourceData* next = add(model->addTrack(model->header(SourcePicture)), 0, 10);
        QVERIFY(next->zValue() > v1->zValue());
        // Subtitles with no stored size overlap by their text.
        ClassifyItem* titles = model->addTrack(model->header(SourceSubtitle));
        SourceData* later = model->createSubtitle(titles, 0, 10, "hi", QFont(), Qt::white);
        QVERIFY(later->zValue() > s->zValue());
        QVERIFY(model->levelSource(s, 5, true));
        QVERIFY(s->zValue() > later->zValue());
    }

    void keysOnEntering_data() {
        QTest::addColumn<uint>("kind");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        QTest::newRow("video") << uint(SourceVideo) << QStringList {"source", "previewRect", "clipRect", "hue", "volume", "zValue"}
                               << QStringList {"content", "font"};
        QTest::newRow("picture") << uint(SourcePicture) << QStringList {"source", "previewRect", "clipRect", "highlight", "rotate"}
                                 << QStringList {"volume", "mute", "content"};
        QTest::newRow("subtitle") << uint(SourceSubtitle) << QStringList {"source", "content", "font", "color", "rotate", "backgroundtransparent"}
                                  << QStringList {"volume", "clipRect", "hue"};
        QTest::newRow("audio") << uint(SourceAudio) << QStringList {"source", "volume", "mute"}
                               << QStringList {"previewRect", "rotate", "zValue"};
    }
    void keysOnEntering() {
        QFETCH(uint, kind);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        SourceData* clip = add(model->header(kind), 3, 7);
        for (const QString& key : present)
            QVERIFY2(clip->hasValue(key.toLatin1().constData()), qPrintable(key));
        for (const QString& key : absent)
            QVERIFY2(!clip->hasValue(key.toLatin1().constData()), qPrintable(key));
        const bg::ValueMap source = clip->value(tlkey::Source).toMap();
        QCOMPARE(source.get(tlkey::PosX).toDouble(), 150.0);
        QCOMPARE(source.get(tlkey::SizeX).toDouble(), 350.0);
        // The whole entry is one step; undoing it leaves nothing behind.
        QCOMPARE(undo()->stack.count(), 1);
        undo()->stack.undo();
        QVERIFY(model->header(kind)->sources().isEmpty());
    }

    void soundEditsAreUndoneInTurn() {
        SourceData* clip = add(video(), 0, 10);
        clip->updateData(MenuVideo, bg::ValueMap {}, tlkey::Rotate); // no value: rotate 0
        bg::ValueMap edit;
        edit[tlkey::Rotate] = bg::Value(45);
        clip->updateData(MenuVideo, edit, tlkey::Rotate);
        edit[tlkey::Volume] = bg::Value(30);
        clip->updateData(MenuVideo, edit, tlkey::Volume);
        edit[tlkey::Mute] = bg::Value(true);
        clip->updateData(MenuVideo, edit, tlkey::Mute);
        QCOMPARE(clip->rotate(), 45);
        const int volume = timeline::kMaxVolume; // a new clip's
        undo()->stack.undo();
        QVERIFY(!clip->mute());
        QCOMPARE(clip->volume(), 30);
        undo()->stack.undo();
        QCOMPARE(clip->volume(), volume);
        QCOMPARE(clip->rotate(), 45);
        undo()->stack.undo();
        QCOMPARE(clip->rotate(), 0);
    }

    void fitModeIsOneStep() {
        SourceData* clip = add(video(), 0, 10);
        bg::ValueMap edit;
        edit[tlkey::X] = bg::Value(100.0);
        clip->updateData(MenuVideo, edit, tlkey::X);
        edit[tlkey::Rotate] = bg::Value(90);
        clip->updateData(MenuVideo, edit, tlkey::Rotate);
        model->setRenderSize(QSize(1280, 720));
        const int before = undo()->stack.count();
        edit[tlkey::Strech] = bg::Value(2);
        edit[tlkey::SizeType] = bg::Value(2);
        clip->updateData(MenuVideo, edit, tlkey::SizeType);
        QCOMPARE(clip->previewRect(), QRectF(0, 0, 1280, 720));
        QCOMPARE(clip->rotate(), 0);
        QCOMPARE(clip->stretch(), 2);
        QCOMPARE(undo()->stack.count(), before + 1);
        // Already fitted: nothing more is recorded.
        clip->updateData(MenuVideo, edit, tlkey::SizeType);
        QCOMPARE(undo()->stack.count(), before + 1);
        undo()->stack.undo();
        QCOMPARE(clip->rotate(), 90);
        QCOMPARE(clip->previewRect().x(), 100.0);
    }

    // A muted clip reads as silent everywhere ("volumn" 0), and its own
    // volume comes back with it: unmuted after opening, it sounds as before
    // (the level was lost on saving).
    void mutedClipIsWrittenSilentAndKeepsItsVolume() {
        SourceData* clip = add(video(), 0, 10);
        bg::ValueMap edit;
        edit[tlkey::Volume] = bg::Value(118);
        clip->updateData(MenuVideo, edit, tlkey::Volume);
        edit.clear();
        edit[tlkey::Mute] = bg::Value(true);
        clip->updateData(MenuVideo, edit, tlkey::Mute);
        const QString xml = xmlOf(*model);
        QVERIFY(xml.contains("<volumn>0</volumn>"));
        QVERIFY(xml.contains("<mute>true</mute>"));
        QVERIFY(xml.contains("<previewRect>x: 0, y: 0, width: 640, height: 360</previewRect>"));
        QVERIFY(xml.contains("<originalSize>width: 640, height: 360</originalSize>"));
        TimeLineTreeModel other;
        QVERIFY(readInto(other, xml));
        SourceData* back = other.header(SourceVideo)->sources().value(0);
        QVERIFY(back);
        QVERIFY(back->mute());
        QCOMPARE(back->volume(), 118);

        // A file written before the volume was kept: silent, level 0.
        TimeLineTreeModel older;
        QVERIFY(readInto(older, QString(xml).remove(QRegularExpression("<mutedVolume>\\d+</mutedVolume>"))));
        QCOMPARE(older.header(SourceVideo)->sources().value(0)->volume(), 0);
    }

    void undoneRemovalReturnsToItsIndex() {
        SourceData* a = add(video(), 0, 10);
        SourceData* b = add(video(), 20, 10);
        SourceData* c = add(video(), 40, 10);
        model->removeSources({b});
        QCOMPARE(video()->sources(), (QList<SourceData*> {a, c}));
        undo()->stack.undo();
        QCOMPARE(video()->sources(), (QList<SourceData*> {a, b, c}));
        QCOMPARE(b->startFrame(), 20);
        undo()->stack.redo();
        QCOMPARE(video()->sources().size(), 2);
    }

    void transitionFrames_data() {
        QTest::addColumn<bool>("hasFrom");
        QTest::addColumn<bool>("hasTo");
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<int>("ratio");
        QTest::addColumn<qint64>("start");
        QTest::addColumn<qint64>("end");
        // from covers 0..100, to 100..200.
        QTest::newRow("100 ms, both") << true << true << qint64(100) << 5 << qint64(99) << qint64(102);
        QTest::newRow("default, both") << true << true << qint64(2000) << 5 << qint64(70) << qint64(130);
        QTest::newRow("only to") << false << true << qint64(2000) << 5 << qint64(100) << qint64(130);
        QTest::newRow("only from") << true << false << qint64(2000) << 5 << qint64(70) << qint64(100);
        QTest::newRow("all after the cut") << true << true << qint64(1000) << 0 << qint64(100) << qint64(130);
        // Longer than its clips: it covers them and reaches no further.
        QTest::newRow("longer than both clips") << true << true << qint64(20000) << 5 << qint64(0) << qint64(200);
        QTest::newRow("longer than the clip after") << false << true << qint64(20000) << 5 << qint64(100) << qint64(200);
    }
    void transitionFrames() {
        QFETCH(bool, hasFrom);
        QFETCH(bool, hasTo);
        QFETCH(qint64, ms);
        QFETCH(int, ratio);
        QFETCH(qint64, start);
        QFETCH(qint64, end);
        SourceData* from = add(video(), 0, 100);
        SourceData* to = add(video(), 100, 100);
        TransitionObject* t = model->addTransition(hasFrom ? from : nullptr, hasTo ? to : nullptr, "clip_cross", ms, ratio);
        QVERIFY(t);
        QCOMPARE(t->data()->startframe, start);
        QCOMPARE(t->data()->endframe, end);
        if (hasFrom)
            QCOMPARE(from->fromTransFrames(), t->data()->framesBefore());
        if (hasTo)
            QCOMPARE(to->toTransFrames(), t->data()->framesAfter());
        if (ms == 100) {
            QCOMPARE(t->data()->framesBefore(), 1);
            QCOMPARE(t->data()->framesAfter(), 2);
        }
        QCOMPARE(t->data()->panelMap(from).get(tlkey::Direction).toInt(), hasFrom && hasTo ? -1 : 0);
    }

    // A picture track's file is placed by what it holds: a GIF of one
    // picture stretches as a still, an animated one is as long as it plays.
    void aStillGifIsPlacedAsAPicture() {
        bg::ValueMap info;
        info["valid"] = bg::Value(true);
        info["width"] = bg::Value(64);
        info["height"] = bg::Value(48);
        info["pix"] = bg::Value(int64_t(3));
        info["still"] = bg::Value(true);
        ClassifyItem* pictures = model->header(SourcePicture);
        SourceData* still = model->createFromMaterial(pictures, "/media/orange.gif", info, 0);
        QVERIFY(still && still->lengthFrames() > 3 && still->originalDuration() > 100000);
        info["still"] = bg::Value(false);
        SourceData* moving = model->createFromMaterial(pictures, "/media/ring.gif", info, 1000);
        QVERIFY(moving);
        QCOMPARE(moving->lengthFrames(), int64_t(3));
    }

    // A clip's two transitions never overlap: a length typed longer than
    // the clip allows beside its other transition is cut to what fits (and
    // the panel says it), and a file that asks more shares the clip.
    void aClipsTwoTransitionsNeverOverlap() {
        SourceData* a = add(video(), 0, 90);
        SourceData* b = add(video(), 90, 90);
        SourceData* c = add(video(), 180, 90);
        TransitionObject* in = model->addTransition(a, b, "over_cross", 2000, 5);
        TransitionObject* out = model->addTransition(b, c, "over_cross", 2000, 5);
        QVERIFY(in && out);
        bg::ValueMap longer;
        longer[tlkey::Duration] = bg::Value(int64_t(10000));
        in->updateData(longer);
        QVERIFY(in->data()->endframe <= out->data()->startframe);
        QCOMPARE(in->data()->panelMap(a).get(tlkey::Duration).toInt64(), int64_t(120 * 33));
        QCOMPARE(out->data()->startframe, int64_t(150));

        // As a hand-edited file would have them: both ask for more than b.
        bg::ValueMap asked = in->data()->transMap();
        asked[tlkey::DurationFrame] = bg::Value(int64_t(10000));
        in->data()->applyTransMap(asked);
        asked = out->data()->transMap();
        asked[tlkey::DurationFrame] = bg::Value(int64_t(6000));
        out->data()->applyTransMap(asked);
        QVERIFY2(in->data()->endframe <= out->data()->startframe,
                 qPrintable(QString("%1 > %2").arg(in->data()->endframe).arg(out->data()->startframe)));
        QVERIFY(in->data()->framesAfter() > 0 && out->data()->framesBefore() > 0);

        // A middle clip shorter than both ask: changing a kind keeps the length.
        SourceData* d = add(video(), 270, 20);
        SourceData* e = add(video(), 290, 90);
        TransitionObject* left = model->addTransition(c, d, "over_cross", 2000, 5);
        TransitionObject* right = model->addTransition(d, e, "over_cross", 2000, 5);
        bg::ValueMap kind; // as the panel sends it: every value
        kind[tlkey::Type] = bg::Value("clip_cross");
        kind[tlkey::Duration] = bg::Value(int64_t(2000));
        kind[tlkey::Value] = bg::Value(5);
        left->updateData(kind);
        QCOMPARE(left->data()->durationframe, int64_t(2000));
        QVERIFY(left->data()->endframe <= right->data()->startframe);
        QVERIFY(left->data()->framesAfter() > 0);
        // Taken away, a transition no longer marks its clips, also when they change.
        model->removeTransition(left);
        QVERIFY(model->trimSource(c, 180, 80, 0));
        QCOMPARE(c->fromTransFrames(), int64_t(0));
    }

    void transitionPanelEditUndoes() {
        SourceData* from = add(video(), 0, 100);
        SourceData* to = add(video(), 100, 100);
        TransitionObject* t = model->addTransition(from, to, "clip_cross");
        bg::ValueMap edit;
        edit[tlkey::Type] = bg::Value("Cube");
        edit[tlkey::Duration] = bg::Value(int64_t(1000));
        edit[tlkey::Value] = bg::Value(10);
        const int steps = undo()->stack.count();
        t->updateData(edit);
        // The panel sends its values again when the field loses the focus
        // after Enter: one step, not a second that undoes nothing.
        t->updateData(edit);
        QCOMPARE(undo()->stack.count(), steps + 1);
        // So for a clip's panel field.
        bg::ValueMap turn;
        turn[tlkey::Rotate] = bg::Value(30);
        from->updateData(MenuVideo, turn, tlkey::Rotate);
        from->updateData(MenuVideo, turn, tlkey::Rotate);
        QCOMPARE(undo()->stack.count(), steps + 2);
        undo()->stack.undo();
        QCOMPARE(t->data()->startframe, 70);
        QCOMPARE(t->data()->endframe, 100);
        undo()->stack.undo();
        QCOMPARE(t->data()->name, QString("clip_cross"));
        QCOMPARE(t->data()->startframe, 70);
        QCOMPARE(t->data()->endframe, 130);
        // The transition follows its clips.
        model->moveSource(to, video(), 150);
        QCOMPARE(t->data()->endframe, 180);
    }

    void dropPushesLaterClips() {
        add(video(), 0, 100);
        SourceData* b = add(video(), 120, 100);
        SourceData* c = add(video(), 220, 40);
        SourceData* d = add(video(), 400, 50);
        SourceData* x = add(video(), 110, 50);
        QCOMPARE(x->startFrame(), 110);
        QCOMPARE(b->startFrame(), 160);
        QCOMPARE(c->startFrame(), 260);
        QCOMPARE(d->startFrame(), 400); // the gap absorbed the push
        QVERIFY(invariantFault(*model).isEmpty());
        undo()->stack.undo();
        QCOMPARE(b->startFrame(), 120);
        QCOMPARE(c->startFrame(), 220);
        QCOMPARE(video()->sources().size(), 4);
    }

    void removedTrackComesBackWithClips() {
        ClassifyItem* first = model->addTrack(video());
        ClassifyItem* second = model->addTrack(video());
        SourceData* a = add(second, 0, 10);
        SourceData* b = add(second, 30, 10);
        QCOMPARE(model->rowCount(model->indexOf(video())), 2);
        QVERIFY(model->setData(model->indexOf(second), "remove", Qt::EditRole));
        QCOMPARE(video()->children(), (QList<ClassifyItem*> {first}));
        undo()->stack.undo();
        QCOMPARE(video()->children(), (QList<ClassifyItem*> {first, second}));
        QCOMPARE(second->sources(), (QList<SourceData*> {a, b}));
        QCOMPARE(model->trackOf(a), second);
        undo()->stack.redo();
        QCOMPARE(model->allSources().size(), 0);
    }

    void headerCommands() {
        const QModelIndex header = model->indexOf(video());
        QVERIFY(!model->setData(header, "remove", Qt::EditRole));
        QVERIFY(!model->setData(header, "bogus", Qt::EditRole));
        QCOMPARE(model->rowCount(model->index(0, 0)), 0);
        QVERIFY(model->setData(header, "add", Qt::EditRole));
        QVERIFY(!model->setData(model->index(0, 0, header), "add", Qt::EditRole));
        QCOMPARE(model->rowCount(header), 1);
        QCOMPARE(undo()->stack.count(), 1);
    }

    void rowGeometry() {
        ClassifyItem* added = model->addTrack(video());
        ClassifyItem* picture = model->header(SourcePicture);
        QVERIFY(video()->expanded());
        QCOMPARE(model->trackTop(added), 48.0);
        QCOMPARE(model->trackTop(picture), 96.0);
        video()->setExpanded(false);
        QCOMPARE(model->trackTop(picture), 48.0);
        // Video, Picture, Audio, Dub, Subtitle and the last row.
        QCOMPARE(model->sceneHeight(10), 48.0 + 4 * 36.0 + 30.0 - 10);
    }

    void split_data() {
        QTest::addColumn<qint64>("frame");
        QTest::addColumn<bool>("splits");
        QTest::newRow("inside") << qint64(250) << true;
        QTest::newRow("at the start") << qint64(100) << false;
        QTest::newRow("before") << qint64(20) << false;
        QTest::newRow("at the end") << qint64(400) << false;
        QTest::newRow("after") << qint64(999) << false;
    }
    void split() {
        QFETCH(qint64, frame);
        QFETCH(bool, splits);
        SourceData* clip = add(video(), 100, 300, 50);
        SourceData* next = add(video(), 400, 50);
        TransitionObject* t = model->addTransition(clip, next, "clip_cross", 1000, 5);
        const int steps = undo()->stack.count();
        QCOMPARE(model->splitSource(clip, frame), splits);
        if (!splits) {
            QCOMPARE(undo()->stack.count(), steps);
            QCOMPARE(video()->sources().size(), 2);
            return;
        }
        QCOMPARE(undo()->stack.count(), steps + 1);
        QCOMPARE(video()->sources().size(), 3);
        SourceData* right = video()->sources().at(1);
        QCOMPARE(clip->startFrame(), 100);
        QCOMPARE(clip->endFrame(), 250);
        QCOMPARE(clip->offset(), 50);
        QCOMPARE(right->startFrame(), 250);
        QCOMPARE(right->endFrame(), 400);
        QCOMPARE(right->offset(), 200);
        QVERIFY(right->uuid() != clip->uuid());
        QCOMPARE(model->transitions().size(), 1);
        QCOMPARE(model->transitions().first()->data()->from(), right);
        QCOMPARE(model->transitions().first()->data()->to(), next);
        QCOMPARE(model->transitionFrom(clip), nullptr);
        undo()->stack.undo();
        QCOMPARE(clip->endFrame(), 400);
        QCOMPARE(model->transitions(), (QList<TransitionObject*> {t}));
        QCOMPARE(video()->sources().size(), 2);
    }

    void duplicateAndPaste() {
        SourceData* a = add(video(), 10, 40);
        SourceData* b = add(video(), 50, 20);
        // A clip put between two joined clips ends their transition, which
        // would span it, in the same undo step.
        QVERIFY(model->addTransition(a, b, "clip_cross"));
        int steps = undo()->stack.count();
        SourceData* copy = model->copySource(a);
        QVERIFY(copy);
        QCOMPARE(copy->startFrame(), 50);
        QCOMPARE(b->startFrame(), 90);
        QCOMPARE(model->transitions().size(), 0);
        QCOMPARE(undo()->stack.count(), steps + 1);
        undo()->stack.undo();
        QCOMPARE(model->transitions().size(), 1);
        QCOMPARE(b->startFrame(), 50);
        undo()->stack.redo();
        copy = video()->sources().at(1);
        QCOMPARE(copy->startFrame(), 50);

        QVERIFY(model->addTransition(copy, b, "clip_cross"));
        steps = undo()->stack.count();
        model->setCopyBuffer(a);
        QVERIFY(model->paste(video(), 90)); // at the cut between copy and b
        QCOMPARE(b->startFrame(), 130);
        QCOMPARE(model->transitions().size(), 0);
        QCOMPARE(undo()->stack.count(), steps + 1);
        undo()->stack.undo();
        QCOMPARE(model->transitions().size(), 1);

        model->setCopyBuffer(b);
        SourceData* pasted = model->paste(video(), 0);
        QVERIFY(pasted);
        QVERIFY(pasted->uuid() != b->uuid());
        QCOMPARE(pasted->startFrame(), 0);
        // 0..20 overlaps a (10..50): a and everything after move right.
        QCOMPARE(a->startFrame(), 20);
        QVERIFY(invariantFault(*model).isEmpty());
        QVERIFY(!model->paste(model->header(SourceAudio), 0)); // wrong kind
    }

    void activeClip() {
        SourceData* a = add(video(), 10, 10);
        add(video(), 30, 10);
        QCOMPARE(video()->activeClip(10), a);
        QCOMPARE(video()->activeClip(19), a);
        QCOMPARE(video()->activeClip(20), nullptr);
        a->setValid(0);
        QCOMPARE(video()->activeClip(15), nullptr);
    }

    void tracksReadBackInTheirRows() {
        ClassifyItem* t0 = model->addTrack(video());
        ClassifyItem* t1 = model->addTrack(video());
        add(video(), 0, 10);
        SourceData* c0 = add(t0, 5, 10);
        SourceData* c1 = add(t1, 7, 10);
        const QString xml = xmlOf(*model);
        TimeLineTreeModel other;
        QVERIFY(readInto(other, xml));
        ClassifyItem* h = other.header(SourceVideo);
        QCOMPARE(h->children().size(), 2);
        QCOMPARE(h->sources().size(), 1);
        QCOMPARE(h->children().at(0)->sources().value(0)->uuid(), c0->uuid());
        QCOMPARE(h->children().at(1)->sources().value(0)->uuid(), c1->uuid());
        QCOMPARE(firstDifference(xmlOf(other), xml), QString());
    }

    void roundTrip() {
        QRandomGenerator rng(7);
        QList<ClassifyItem*> tracks {video(), model->header(SourceSubtitle), model->header(SourceAudio)};
        tracks << model->addTrack(video()) << model->addTrack(model->header(SourcePicture))
               << model->addTrack(model->header(SourceDub));
        QHash<ClassifyItem*, SourceData*> last;
        for (int i = 0; i < 50; ++i) {
            ClassifyItem* track = tracks[i % tracks.size()];
            SourceData* clip = track->kind() == SourceSubtitle
                                   ? model->createSubtitle(track, i * 7, 5 + rng.bounded(40), QString("line %1").arg(i),
                                                           QFont("Sans", 12), QColor("#ff8800"))
                                   : add(track, i * 7, 5 + rng.bounded(40), rng.bounded(20));
            bg::ValueMap edit;
            edit[tlkey::W] = bg::Value(0.1 * i + 1.0 / 3);
            clip->updateData(MenuVideo, edit, tlkey::W);
            if (last.value(track) && i % 3 != 0)
                model->addTransition(last.value(track), clip, "clip_cross", 500 + 100 * i, i % 11);
            last[track] = clip;
        }
        QVERIFY(!model->transitions().isEmpty());
        // The panels' largest values read back as typed.
        bg::ValueMap far;
        far[tlkey::X] = bg::Value(timeline::kMaxPlacement);
        far[tlkey::Y] = bg::Value(-timeline::kMaxPlacement);
        far[tlkey::W] = bg::Value(timeline::kMaxPlacement);
        model->allSources().first()->updateData(MenuVideo, far, tlkey::X);
        ClassifyItem* titles = model->header(SourceSubtitle);
        titles->addSource(model->createSubtitle(titles, 400, 10, "big", QFont("Sans", timeline::kMaxFontSize), Qt::red));
        // A clip raised far above the others keeps its place, and clips
        // added after reading still go on top of it.
        SourceData* raised = video()->sources().first();
        const int high = SourceData::peekZValue(SourceVideo) + 100;
        raised->setValue(tlkey::ZValue, bg::Value(high), true, true);
        const QString first = xmlOf(*model);
        TimeLineTreeModel other;
        QVERIFY(readInto(other, first));
        QCOMPARE(other.allSources().size(), 51);
        QCOMPARE(other.transitions().size(), model->transitions().size());
        QCOMPARE(firstDifference(xmlOf(other), first), QString());
        QCOMPARE(other.header(SourceVideo)->sources().first()->zValue(), high);
        QVERIFY(SourceData::peekZValue(SourceVideo) > high);
    }

    void untrustedProject_data() {
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("clips");
        QTest::addColumn<int>("transitions");
        auto clip = [](const QString& uuid, const QString& start, const QString& duration, const QString& offset) {
            return QString("<sourceItem><start>%2</start><duration>%3</duration><offset>%4</offset>"
                           "<uuid>%1</uuid><originalduraion>10</originalduraion></sourceItem>")
                .arg(uuid, start, duration, offset);
        };
        QTest::newRow("negative values") << "<classify type=\"2\" row=\"-1\">" + clip("a", "-50", "-3", "-9") + "</classify>"
                                         << 1 << 0;
        QTest::newRow("absurd values") << "<classify type=\"2\" row=\"-1\">" + clip("a", "99999999999999", "99999999999999", "x") + "</classify>"
                                       << 1 << 0;
        QTest::newRow("overlapping clips") << "<classify type=\"2\" row=\"-1\">" + clip("a", "0", "100", "0") + clip("b", "10", "5", "0") +
                                                  clip("b", "12", "5", "0") + "</classify>"
                                           << 3 << 0;
        QTest::newRow("row far away") << "<classify type=\"16\" row=\"9999\">" + clip("a", "0", "10", "0") + "</classify>"
                                      << 1 << 0;
        QTest::newRow("unknown type") << "<classify type=\"3\" row=\"-1\">" + clip("a", "0", "10", "0") + "</classify>"
                                      << 0 << 0;
        QTest::newRow("missing clips") << "<classify type=\"2\" row=\"-1\">" + clip("a", "0", "10", "0") + "</classify>"
                                              "<Trans><TransItem><name>clip_cross</name><fromUUid>a</fromUUid><toUUid>zz</toUUid></TransItem>"
                                              "<TransItem><name>clip_cross</name><toUUid>a</toUUid><durationframe>-5</durationframe><ratio>99</ratio></TransItem>"
                                              "<TransItem><name>clip_cross</name></TransItem></Trans>"
                                       << 1 << 1;
        QTest::newRow("transition of no known kind")
            << "<classify type=\"2\" row=\"-1\">" + clip("a", "0", "10", "0") + clip("b", "10", "10", "0") + "</classify>"
                   "<Trans><TransItem><name>../../../../etc/passwd</name><fromUUid>a</fromUUid><toUUid>b</toUUid></TransItem></Trans>"
            << 2 << 1;
        QTest::newRow("broken xml") << "<classify type=\"2\" row=\"-1\">" + clip("a", "0", "10", "0") + "<sourceItem><start>"
                                    << 1 << 0;
    }
    void untrustedProject() {
        QFETCH(QString, body);
        QFETCH(int, clips);
        QFETCH(int, transitions);
        readInto(*model, "<Timeline>" + body + "</Timeline>");
        QCOMPARE(model->allSources().size(), clips);
        QCOMPARE(model->transitions().size(), transitions);
        QCOMPARE(invariantFault(*model), QString());
        for (SourceData* clip : model->allSources()) {
            QVERIFY(clip->startFrame() >= 0 && clip->startFrame() <= 2 * timeline::kMaxFrames);
            QVERIFY(clip->originalDuration() >= clip->offset() + clip->lengthFrames());
        }
        for (TransitionObject* t : model->transitions()) {
            // One the engine draws: an unknown kind would leave the cut black.
            QCOMPARE(TransTranslate::instance()->drawable(t->data()->name), t->data()->name);
            QVERIFY(t->data()->ratio >= 0 && t->data()->ratio <= 10);
            QVERIFY(t->data()->durationframe >= 0);
        }
    }

    // Clips written over one another follow each other in the order read,
    // each placed once: reading them must not push the clips read before
    // (which made n * n / 2 undo records: gigabytes for 10,000 clips).
    void clipsAtOneStartFollowInTheOrderRead() {
        QString body = "<Timeline><classify type=\"2\" row=\"-1\">";
        for (int i = 0; i < 300; ++i)
            body += QString("<sourceItem><start>13</start><duration>10</duration><offset>0</offset>"
                            "<uuid>c%1</uuid><originalduraion>10</originalduraion></sourceItem>")
                        .arg(i);
        readInto(*model, body + "</classify></Timeline>");
        QCOMPARE(model->allSources().size(), 300);
        for (int i = 0; i < 300; ++i)
            QCOMPARE(model->findSource(QString("c%1").arg(i))->startFrame(), int64_t(13 + 10 * i));
        QCOMPARE(invariantFault(*model), QString());
    }

    // A hostile file: a clip near INT_MAX frames (whose export would run for
    // days), values beyond every panel and more tracks than anyone makes.
    // Each is clamped or skipped, and the log names what it changed.
    void hostileValuesAreClampedAndLogged() {
        QString tracks;
        for (int i = 0; i < timeline::kMaxAddedTracks + 20; ++i)
            tracks += "<classify type=\"16\" row=\"0\"/>";
        const QString body = "<Timeline><classify type=\"2\" row=\"-1\"><sourceItem><start>2147483000</start>"
                             "<duration>2147483647</duration><uuid>a</uuid><volumn>99999</volumn>"
                             "<transparent>-7</transparent><hue>-2147483648</hue>"
                             "<previewRect>x: nan, y: 1e300, width: 640, height: 360</previewRect></sourceItem>"
                             "<sourceItem><start>0</start><duration>90</duration><uuid>b</uuid></sourceItem>"
                             "</classify>" +
                             tracks + "</Timeline>";
        QElapsedTimer clock;
        clock.start();
        const QByteArray log = korvel::test::captureStderr([&] { QVERIFY(readInto(*model, body)); });
        QVERIFY2(clock.elapsed() < 60000, "reading a hostile project must not take minutes");
        QCOMPARE(invariantFault(*model), QString());
        for (SourceData* clip : model->allSources())
            QVERIFY(clip->endFrame() <= timeline::kMaxFrames);
        SourceData* far = model->findSource("a");
        QVERIFY(far);
        QCOMPARE(far->startFrame(), timeline::kMaxFrames - 1);
        QCOMPARE(far->lengthFrames(), int64_t(1));
        QCOMPARE(far->volume(), timeline::kMaxVolume);
        QCOMPARE(far->transparent(), 0);
        QCOMPARE(far->hue(), timeline::kColourControlMin);
        QCOMPARE(far->previewRect(), QRectF(0, timeline::kMaxPlacement, 640, 360));
        QCOMPARE(model->header(SourceAudio)->children().size(), timeline::kMaxAddedTracks);
        for (const char* said : {"clip start 2147483000", "clip length 2147483647", "volume 99999", "opacity -7",
                                 "hue -2147483648", "placement x is not a number", "placement y 1e+300",
                                 "more than 100 added tracks"})
            QVERIFY2(log.contains(said), said);
    }

    // A video clip and a subtitle, each kind in two rows; times in
    // hundredths and milliseconds become frames at 30 per second.
    void olderLayout() {
        const QString objects =
            oldObject("1", "2", "150", "1001",
                      "<url>/media/gone.mp4</url><rect>[rectf]x:10;y:20;w:640;h:360</rect>"
                      "<clipRect>[rect]x:4;y:6;w:300;h:200</clipRect><rotate>90</rotate><alpha>0.5</alpha>"
                      "<silence>true</silence><values>hue:7;bright:-3</values>") +
            "<Object uid=\"2\" type=\"2\" clipMode=\"fill\"><dobj_user startPts=\"0\" duration=\"100\" "
            "mv_duration=\"10000\" mv_cut_pos=\"1234\"/></Object>" +
            oldObject("3", "8", "33", "200",
                      "<content>Hello</content><color>#ff0000</color><pos>[pointf]x:5;y:-7</pos>");
        const QString tree = "<Group type=\"2\"><Row><Item uid=\"1\"/></Row><Row><Item uid=\"2\"/></Row></Group>"
                             "<Group type=\"8\"><Row/><Row><Item>3</Item></Row></Group>"
                             "<Transit><left>1</left><right>2</right><name>clip_cross</name></Transit>";
        QVERIFY(readOld(*model, objects, tree));
        ClassifyItem* subtitles = model->header(SourceSubtitle);
        QCOMPARE(video()->children().size(), 1);
        QCOMPARE(subtitles->children().size(), 1);
        QVERIFY(subtitles->sources().isEmpty());

        QCOMPARE(video()->sources().size(), 1);
        SourceData* first = video()->sources().first();
        QCOMPARE(first->startFrame(), int64_t(45));  // 150 / 100 x 30
        QCOMPARE(first->lengthFrames(), int64_t(300)); // trunc(300.3)
        QCOMPARE(first->path(), QString("/media/gone.mp4"));
        QCOMPARE(first->valid(), 0);
        QCOMPARE(first->previewRect(), QRectF(10, 20, 640, 360));
        QCOMPARE(first->clipRect(), QRect(4, 6, 300, 200));
        QCOMPARE(first->rotate(), 90);
        QCOMPARE(first->transparent(), 128);
        QVERIFY(first->mute());
        QCOMPARE(first->hue(), 7);
        QCOMPARE(first->bright(), -3);
        QCOMPARE(first->stretch(), 1);

        SourceData* second = video()->children().first()->sources().value(0);
        QVERIFY(second);
        QCOMPARE(second->startFrame(), int64_t(0));
        QCOMPARE(second->lengthFrames(), int64_t(30));
        QCOMPARE(second->offset(), int64_t(37));            // trunc(1234 / 1000 x 30)
        QCOMPARE(second->originalDuration(), int64_t(300)); // 10 s
        QCOMPARE(second->stretch(), 2);
        QCOMPARE(second->previewRect(), QRectF(0, 0, model->renderSize().width(), model->renderSize().height()));

        SourceData* text = subtitles->children().first()->sources().value(0);
        QVERIFY(text);
        QCOMPARE(text->type(), SourceSubtitle);
        QCOMPARE(text->startFrame(), int64_t(9)); // trunc(9.9)
        QCOMPARE(text->content(), QString("Hello"));
        QCOMPARE(text->color(), QColor("#ff0000"));
        QCOMPARE(text->previewRect().topLeft(), QPointF(5, -7));

        QCOMPARE(model->transitions().size(), 1);
        QCOMPARE(model->transitions().first()->data()->from(), first);
        QCOMPARE(model->transitions().first()->data()->to(), second);
        // The tracks came through the undo library like the user's own.
        QVERIFY(undo()->stack.canUndo());
    }

    void olderLayoutUntrusted_data() {
        QTest::addColumn<QString>("objects");
        QTest::addColumn<QString>("tree");
        QTest::addColumn<int>("clips");
        const QString oneRow = "<Group type=\"2\"><Row><Item uid=\"a\"/><Item uid=\"b\"/><Item uid=\"c\"/></Row></Group>";
        QTest::newRow("broken object skipped")
            << oldObject("a", "2", "0", "100") + oldObject("b", "2", "x", "100") + oldObject("c", "2", "300", "")
            << oneRow << 1;
        QTest::newRow("no uid, unknown type, second uid")
            << oldObject("", "2", "0", "100") + oldObject("a", "3", "0", "100") + oldObject("b", "2", "0", "100") +
                   oldObject("b", "2", "500", "100")
            << oneRow << 1;
        QTest::newRow("overlaps pushed apart")
            << oldObject("a", "2", "0", "1000") + oldObject("b", "2", "100", "100") + oldObject("c", "2", "150", "100")
            << oneRow << 3;
        QTest::newRow("absurd numbers")
            << oldObject("a", "2", "-1e300", "1e300", "<dobj_user><mv_cut_pos>inf</mv_cut_pos></dobj_user>") +
                   oldObject("b", "2", "1e308", "-5", "<rect>[rectf]x:1e999;y:nan;w:-3;h:9e99</rect><volume>1e12</volume>") +
                   oldObject("c", "2", "100", "100", "<rotate>-99999999999</rotate><alpha>-4</alpha>")
            << oneRow << 1; // "a" fills the 24 hours; the others, pushed after it, do not fit
        QTest::newRow("items naming nothing or twice")
            << oldObject("a", "2", "0", "100")
            << "<Group type=\"2\"><Row><Item uid=\"zz\"/><Item uid=\"a\"/><Item uid=\"a\"/></Row></Group>"
               "<Group type=\"99\"><Row><Item uid=\"a\"/></Row></Group>"
            << 1;
        QTest::newRow("subtitle object on a video row")
            << oldObject("a", "8", "0", "100") + oldObject("b", "2", "0", "100") << oneRow << 1;
        QTest::newRow("transits naming nothing")
            << oldObject("a", "2", "0", "100")
            << oneRow + "<Transit><left>a</left><right>q</right></Transit><Transit><duration>-1</duration></Transit>" << 1;
        QTest::newRow("broken tree xml") << oldObject("a", "2", "0", "100") << oneRow + "<Group type=\"2\"><Row>" << 1;
        QTest::newRow("broken object xml") << oldObject("a", "2", "0", "100") + "<Object><uid>" << oneRow << 0;
    }
    void olderLayoutUntrusted() {
        QFETCH(QString, objects);
        QFETCH(QString, tree);
        QFETCH(int, clips);
        readOld(*model, objects, tree);
        QCOMPARE(model->allSources().size(), clips);
        QCOMPARE(model->transitions().size(), 0);
        QCOMPARE(invariantFault(*model), QString());
        for (SourceData* clip : model->allSources()) {
            QVERIFY(clip->endFrame() <= timeline::kMaxFrames);
            QVERIFY(clip->originalDuration() >= clip->offset() + clip->lengthFrames());
            QVERIFY(clip->transparent() >= 0 && clip->transparent() <= 255);
            QVERIFY(std::isfinite(clip->previewRect().x()) && std::isfinite(clip->previewRect().y()));
            QVERIFY(clip->previewRect().width() >= 0);
            QVERIFY(std::abs(clip->rotate()) < 360);
        }
    }

    void randomEdits() {
        QRandomGenerator rng(20240611);
        const QString empty = xmlOf(*model);
        const uint32_t kinds[] = {SourceVideo, SourcePicture, SourceAudio, SourceDub, SourceSubtitle};
        for (int step = 0; step < 10000; ++step) {
            const QList<ClassifyItem*> tracks = model->tracks();
            const QList<SourceData*> clips = model->allSources();
            ClassifyItem* track = tracks[rng.bounded(tracks.size())];
            SourceData* clip = clips.isEmpty() ? nullptr : clips[rng.bounded(clips.size())];
            const int64_t frame = rng.bounded(600);
            switch (rng.bounded(12)) {
            case 0:
            case 1:
                add(track, frame, 1 + rng.bounded(80), rng.bounded(30));
                break;
            case 2:
                if (clip) {
                    QList<ClassifyItem*> same;
                    for (ClassifyItem* t : tracks)
                        if (t->kind() == uint32_t(clip->type()))
                            same << t;
                    model->moveSource(clip, same[rng.bounded(same.size())], frame);
                }
                break;
            case 3:
                if (clip)
                    model->trimSource(clip, clip->startFrame() + rng.bounded(5), 1 + rng.bounded(60), rng.bounded(40));
                break;
            case 4:
                if (clip)
                    model->splitSource(clip, clip->startFrame() + rng.bounded(int(clip->lengthFrames()) + 2) - 1);
                break;
            case 5:
                if (clip)
                    model->copySource(clip);
                break;
            case 6:
                if (clip)
                    model->setCopyBuffer(clip);
                model->paste(track, frame);
                break;
            case 7:
                if (clip)
                    model->removeSources({clip});
                break;
            case 8:
                if (rng.bounded(2))
                    model->addTrack(model->header(kinds[rng.bounded(5)]));
                else if (!track->isHeader())
                    model->removeTrack(track);
                break;
            case 9:
                if (clip && clip->parentTrack()) {
                    const QList<SourceData*>& row = clip->parentTrack()->sources();
                    SourceData* to = row.value(row.indexOf(clip) + 1);
                    model->addTransition(clip, rng.bounded(3) ? to : nullptr, "clip_cross", rng.bounded(3000), rng.bounded(11));
                }
                break;
            case 10:
                undo()->stack.undo();
                break;
            case 11:
                undo()->stack.redo();
                break;
            }
            const QString fault = invariantFault(*model);
            QVERIFY2(fault.isEmpty(), qPrintable(QString("step %1: %2").arg(step).arg(fault)));
        }
        while (undo()->stack.canRedo())
            undo()->stack.redo();
        QVERIFY(invariantFault(*model).isEmpty());
        // The walk must have built something worth undoing.
        QVERIFY(model->allSources().size() > 20);
        QVERIFY(!model->transitions().isEmpty());
        QVERIFY(model->tracks().size() > 5);
        const QString final = xmlOf(*model);
        while (undo()->stack.canUndo()) {
            undo()->stack.undo();
            QVERIFY(invariantFault(*model).isEmpty());
        }
        QCOMPARE(firstDifference(xmlOf(*model), empty), QString());
        while (undo()->stack.canRedo())
            undo()->stack.redo();
        QCOMPARE(firstDifference(xmlOf(*model), final), QString());
    }
};

KORVEL_GUI_TEST_MAIN(TestTimeline)
#include "tst_timeline.moc"
