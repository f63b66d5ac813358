// Tracks as the preview sees them (the item each track owns, its placement,
// the requests per frame, the preview's context menu), media that went
// missing, and the track tree widget driven by the mouse.
#include "render/preview-item.h"
#include "render/render-manager.h"
#include "support/test-main.h"
#include "timeline/classify-item-delegate.h"
#include "timeline/frame-requests.h"
#include "timeline/source-data.h"
#include "values/timeline-keys.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-tree-view.h"
#include "undo/undo-controller.h"
#include "values/value-init.h"

#include <QPixmap>
#include <QSignalSpy>
#include <QXmlStreamReader>

#include <memory>

namespace {

zya::UndoController* undo() {
    return zya::UndoController::instance();
}
QString media(const char* name) {
    return QStringLiteral(KORVEL_TEST_MEDIA_DIR "/") + name;
}

bool inScene(const RenderManager& rm, GsItem* item) {
    return item && rm.scene() && item->scene() == rm.scene();
}

} // namespace

class TestTimelineTracks : public QObject {
    Q_OBJECT

    std::unique_ptr<RenderManager> rm;
    std::unique_ptr<TimeLineTreeModel> model;

    SourceData* add(ClassifyItem* track, int64_t start, int64_t length, int64_t offset = 0,
                    const QRectF& place = QRectF(0, 0, 640, 360)) {
        SourceData* clip = model->createSource(track, start, length, offset, 100000, "/media/clip.mp4", place,
                                               QRect(0, 0, 640, 360));
        track->addSource(clip);
        return clip;
    }

private slots:
    void init() {
        timeline::overrideDpiScale(1.0);
        // A scene without a device: items can be added, nothing is drawn.
        rm = std::make_unique<RenderManager>();
        rm->setSceneSize(1280, 720, false);
        model = std::make_unique<TimeLineTreeModel>();
        model->setRenderManager(rm.get());
        connect(rm.get(), &RenderManager::sig_updateSceneSize, model.get(),
                &TimeLineTreeModel::updateSceneSize);
        undo()->reset();
    }
    void cleanup() {
        model.reset();
        zya::UndoController::destroyInstance();
        rm.reset();
    }

    void rotation_data() {
        QTest::addColumn<int>("degrees");
        QTest::addColumn<double>("radians");
        QTest::newRow("none") << 0 << 0.0;
        QTest::newRow("quarter") << 90 << 3.1415926 / 2;
        QTest::newRow("negative quarter") << -90 << 3.1415926 * 1.5;
        QTest::newRow("past a turn") << 450 << 3.1415926 / 2;
        QTest::newRow("past a negative turn") << -450 << 3.1415926 * 1.5;
    }
    void rotation() {
        QFETCH(int, degrees);
        QFETCH(double, radians);
        QVERIFY(qAbs(timeline::previewRotation(degrees) - radians) < 1e-5);
    }

    void frameRequest_data() {
        QTest::addColumn<qint64>("frame");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("decodeMask");
        QTest::addColumn<qint64>("mediaFrame");
        QTest::newRow("inside") << qint64(250) << true << 2 << qint64(200);
        QTest::newRow("first frame") << qint64(100) << true << 2 << qint64(50);
        QTest::newRow("last frame") << qint64(399) << true << 2 << qint64(349);
        QTest::newRow("before") << qint64(99) << true << 0 << qint64(0);
        QTest::newRow("at the end") << qint64(400) << true << 0 << qint64(0);
        QTest::newRow("file missing") << qint64(250) << false << 0 << qint64(0);
    }
    void frameRequest() {
        QFETCH(qint64, frame);
        QFETCH(bool, valid);
        QFETCH(int, decodeMask);
        QFETCH(qint64, mediaFrame);
        ClassifyItem* track = model->header(SourceVideo);
        SourceData* clip = model->createSource(track, 100, 300, 50, 100000, "/media/a.mp4",
                                               QRectF(10, 20, 640, 360), QRect(4, 2, 600, 300));
        clip->setValid(valid ? 1 : 0);
        clip->setInitialLook(-90, 51, 128, false);
        ColourSteps colours;
        colours.temperature = 25;
        colours.saturation = -50;
        colours.hue = 10;
        colours.contrast = 5;
        colours.brightness = 50;
        colours.highlight = -25;
        clip->setInitialColors(colours);
        track->addSource(clip);
        const FrameRequest r = timeline::frameRequest(*track, frame);
        QCOMPARE(r.decodeMask, decodeMask);
        QCOMPARE(r.showMask, decodeMask ? 1 : 0);
        if (!decodeMask)
            return;
        QCOMPARE(r.self.frame, mediaFrame);
        QCOMPARE(r.self.uuid, clip->uuid());
        QCOMPARE(r.self.path, QString("/media/a.mp4"));
        QCOMPARE(r.self.clipRect, QRect(4, 2, 600, 300));
        QCOMPARE(r.self.transparent, 0.2f);
        QCOMPARE(r.self.colour.temperature, 0.5f);
        QCOMPARE(r.self.colour.saturation, -1.0f);
        QCOMPARE(r.self.colour.hue, 0.2f);
        QCOMPARE(r.self.colour.contrast, 0.1f);
        QCOMPARE(r.self.colour.brightness, 0.5f);
        QCOMPARE(r.self.colour.highlight, -0.5f);
        QCOMPARE(r.self.centerX, 10.0f);
        QCOMPARE(r.self.height, 360.0f);
        QVERIFY(qAbs(r.self.rotation - 3.1415926f * 1.5f) < 1e-5f);
    }

    void subtitleShowsOnlyOverItsClip() {
        ClassifyItem* track = model->header(SourceSubtitle);
        SourceData* clip = model->createSubtitle(track, 30, 60, "two\nlines", QFont(), QColor("#ff0000"));
        QVERIFY(clip);
        auto* item = dynamic_cast<SubtitlePreviewItem*>(track->previewItem());
        QVERIFY(item);
        QVERIFY(inScene(*rm, item));
        track->requestFrame(40);
        QVERIFY(item->visible);
        const std::optional<SubtitleRequest> r = timeline::subtitleRequest(*track, 40);
        QVERIFY(r);
        QCOMPARE(r->frame, qint64(10));
        QCOMPARE(r->text, QString("two\nlines"));
        QCOMPARE(r->textColor, QColor("#ff0000"));
        QCOMPARE(item->extent(), SubtitlePreviewItem::textExtent("two\nlines", QFont()));
        track->requestFrame(90);
        QVERIFY(!item->visible);
        QVERIFY(!timeline::subtitleRequest(*track, 90));
    }

    // The item stands where the active clip says, follows its edits and their undo.
    void itemFollowsTheActiveClip() {
        ClassifyItem* track = model->header(SourceVideo);
        SourceData* a = add(track, 0, 100, 0, QRectF(10, 20, 300, 200));
        SourceData* b = add(track, 100, 100, 0, QRectF(-40, 50, 640, 360));
        PreviewItem* item = track->previewItem();
        QVERIFY(dynamic_cast<VideoPreviewItem*>(item));
        auto check = [&](SourceData* clip) {
            const QRectF r = clip->previewRect();
            const ItemGeometry g = item->geometry();
            return g.x == float(r.x()) && g.y == float(r.y()) && g.width == float(r.width()) &&
                   g.height == float(r.height()) && item->z == clip->zValue() &&
                   g.rotation == timeline::previewRotation(clip->rotate());
        };
        track->requestFrame(50);
        QCOMPARE(track->currentClip(), a);
        QVERIFY(check(a));
        QVERIFY(item->visible);
        track->requestFrame(150);
        QCOMPARE(track->currentClip(), b);
        QVERIFY(check(b));

        QSignalSpy panel(track, &ClassifyItem::sig_refreshPanel);
        bg::ValueMap edit;
        edit["X"] = bg::Value(77.0);
        b->updateData(MenuVideo, edit, "X");
        edit["rotate"] = bg::Value(-30);
        b->updateData(MenuVideo, edit, "rotate");
        QVERIFY(check(b));
        QCOMPARE(item->geometry().x, 77.0f);
        QCOMPARE(panel.count(), 2);
        undo()->stack.undo();
        undo()->stack.undo();
        QVERIFY(check(b));
        QCOMPARE(item->geometry().x, -40.0f);
        // An edit of a clip that is not shown leaves the item alone.
        edit["X"] = bg::Value(5.0);
        a->updateData(MenuVideo, edit, "X");
        QCOMPARE(item->geometry().x, -40.0f);

        track->requestFrame(500);
        QVERIFY(!track->currentClip());
        QVERIFY(!item->visible);
    }

    void contextMenuActsOnTheActiveClip() {
        ClassifyItem* video = model->header(SourceVideo);
        ClassifyItem* upper = model->addTrack(video);
        ClassifyItem* pictures = model->header(SourcePicture);
        SourceData* low = add(video, 0, 100, 0, QRectF(0, 0, 400, 400));
        SourceData* high = add(upper, 0, 100, 0, QRectF(100, 100, 400, 400));
        SourceData* apart = add(upper, 200, 100, 0, QRectF(0, 0, 400, 400)); // not under the play-head
        SourceData* picture = add(pictures, 0, 100, 0, QRectF(0, 0, 400, 400));
        for (ClassifyItem* t : {video, upper, pictures})
            t->requestFrame(10);
        const int zHigh = high->zValue(), zPicture = picture->zValue(), zLow = low->zValue();
        QVERIFY(zHigh > zLow);

        PreviewItem* item = video->previewItem();
        item->raiseClip(); // above the overlapping video and the picture, which stacks with videos
        QCOMPARE(low->zValue(), std::max({zHigh, zPicture, zLow}) + 1);
        QCOMPARE(item->z, low->zValue());
        undo()->stack.undo();
        QCOMPARE(low->zValue(), zLow);
        QCOMPARE(item->z, zLow);
        upper->previewItem()->lowerClip();
        QCOMPARE(high->zValue(), std::min({zHigh, zPicture, zLow}) - 1);
        Q_UNUSED(apart);

        QSignalSpy edit(video, &ClassifyItem::sig_editClip);
        item->editClip(2);
        QCOMPARE(edit.count(), 1);
        QCOMPARE(edit.at(0).at(0).value<SourceData*>(), low);
        QCOMPARE(edit.at(0).at(1).toInt(), 2);

        item->deleteClip();
        QCOMPARE(video->sources().size(), 0);
        QVERIFY(!video->currentClip());
        QVERIFY(!item->visible);
        undo()->stack.undo();
        QCOMPARE(video->sources().size(), 1);
        QCOMPARE(video->sources().first(), low);
    }

    void removedTrackLeavesTheScene() {
        ClassifyItem* track = model->addTrack(model->header(SourcePicture));
        GsItem* item = track->previewItem();
        QVERIFY(inScene(*rm, item));
        item->AddRef();
        QVERIFY(model->removeTrack(track));
        QVERIFY(!track->previewItem());
        QVERIFY(!item->scene());
        item->Release();
        undo()->stack.undo();
        QVERIFY(inScene(*rm, track->previewItem()));
        // Sound tracks show nothing.
        QVERIFY(!model->addTrack(model->header(SourceAudio))->previewItem());
    }

    void newSceneSizeKeepsItems() {
        ClassifyItem* track = model->header(SourceVideo);
        add(track, 0, 100, 0, QRectF(10, 20, 300, 200));
        track->requestFrame(5);
        QCOMPARE(track->previewItem()->baseSize().x, 1280.0f);
        PreviewItem* shown = track->previewItem();
        rm->setSceneSize(640, 480, false);
        QCOMPARE(model->renderSize(), QSize(640, 480));
        // Every track's item, the very one that shows the clip, is in the new scene.
        QCOMPARE(track->previewItem(), shown);
        for (ClassifyItem* t : model->tracks()) {
            if (!t->showsPicture())
                continue;
            QCOMPARE(t->previewItem()->baseSize().x, 640.0f);
            QCOMPARE(t->previewItem()->baseSize().y, 480.0f);
            QVERIFY(inScene(*rm, t->previewItem()));
        }
        // The active clip's placement stays.
        QCOMPARE(track->previewItem()->geometry().width, 300.0f);
        model->reset();
        QVERIFY(!model->header(SourceVideo)->currentClip());
        QVERIFY(inScene(*rm, model->header(SourceVideo)->previewItem()));
    }

    // Without a render manager files are probed directly.
    void readClipsAreProbed_data() {
        QTest::addColumn<bool>("withManager");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("valid");
        for (bool withManager : {true, false}) {
            const char* tag = withManager ? "manager: " : "direct: ";
            QTest::addRow("%sreadable", tag) << withManager << media("h264-30fps.mp4") << 1;
            QTest::addRow("%sphoto", tag) << withManager << media("photo.jpg") << 1;
            QTest::addRow("%smissing", tag) << withManager << media("gone.mp4") << 0;
            QTest::addRow("%snot media", tag) << withManager << media("random.mp4") << 0;
            QTest::addRow("%sa folder", tag) << withManager << QString(KORVEL_TEST_MEDIA_DIR) << 0;
        }
    }
    void readClipsAreProbed() {
        QFETCH(bool, withManager);
        QFETCH(QString, path);
        QFETCH(int, valid);
        if (!withManager)
            model->setRenderManager(nullptr);
        const QString xml = QString("<Timeline><classify type=\"2\" row=\"-1\"><sourceItem><start>10</start>"
                                    "<duration>30</duration><path>%1</path><uuid>{a}</uuid></sourceItem>"
                                    "</classify></Timeline>")
                                .arg(path.toHtmlEscaped());
        QXmlStreamReader r(xml);
        QVERIFY(r.readNextStartElement());
        QVERIFY(model->readTimeline(r));
        ClassifyItem* track = model->header(SourceVideo);
        QCOMPARE(track->sources().size(), 1);
        QCOMPARE(track->sources().first()->valid(), valid);
        // A clip whose file is missing is never shown.
        QCOMPARE(track->activeClip(20) != nullptr, valid == 1);

        // Dropped, the same material becomes a clip only when it is readable.
        SourceData* dropped = model->createFromMaterial(track, path, 100);
        QCOMPARE(dropped != nullptr, valid == 1);
        QCOMPARE(track->sources().size(), valid ? 2 : 1);
        if (dropped && path.endsWith(".mp4")) {
            QCOMPARE(dropped->lengthFrames(), qint64(90)); // three seconds
            QCOMPARE(dropped->originalSize(), QSize(320, 240));
        }
    }

    // Placed on the 1280 x 720 canvas: an 8000 x 6000 photo is fitted inside
    // it, aspect kept, showing all of it; a small film keeps its own size.
    void largeMediaIsFittedWhenPlaced() {
        SourceData* photo = model->createFromMaterial(model->header(SourcePicture), media("huge-photo.png"), 0);
        QVERIFY(photo);
        QCOMPARE(photo->previewRect().size(), QSizeF(960, 720));
        QCOMPARE(photo->clipRect(), QRect(0, 0, 8000, 6000));
        SourceData* film = model->createFromMaterial(model->header(SourceVideo), media("h264-30fps.mp4"), 0);
        QCOMPARE(film->previewRect().size(), QSizeF(320, 240));
    }

    void iconsExist() {
        for (uint32_t kind : {SourceVideo, SourcePicture, SourceAudio, SourceDub, SourceSubtitle})
            QVERIFY2(!QPixmap(ClassifyItemDelegate::iconPath(kind)).isNull(),
                     qPrintable(QString::number(kind)));
        for (bool header : {true, false})
            for (bool hovered : {true, false})
                QVERIFY(!QPixmap(ClassifyItemDelegate::buttonPath(header, hovered)).isNull());
    }

    // The user's road: the add button of a header, the delete button of a track, undo.
    void buttonsAddAndRemoveTracks() {
        korvel::test::requireDisplay();
        model.reset();
        TimeLineTreeView view;
        // As wide as the timeline makes it: the untranslated keys are long labels.
        view.resize(ClassifyItemDelegate::minimumRowWidth(view.fontMetrics()), 400);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        TimeLineTreeModel* m = view.treeModel();
        ClassifyItem* pictures = m->header(SourcePicture);
        QSignalSpy busy(&view, &TimeLineTreeView::sig_opertorUi);
        QSignalSpy height(&view, &TimeLineTreeView::sig_sceneHeightChanged);
        auto buttonOf = [&](const ClassifyItem* row) {
            return ClassifyItemDelegate::buttonRect(view.visualRect(m->indexOf(row))).center();
        };
        auto labelOf = [&](const ClassifyItem* row) {
            return ClassifyItemDelegate::labelRect(view.visualRect(m->indexOf(row))).center();
        };

        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, labelOf(pictures)); // not the button
        QCOMPARE(pictures->children().size(), 0);
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, buttonOf(pictures));
        QCOMPARE(pictures->children().size(), 1);
        QCOMPARE(busy.count(), 1);
        QCOMPARE(busy.at(0).at(0).toBool(), false);
        QCOMPARE(busy.at(0).at(1).toBool(), true);
        QVERIFY(view.isExpanded(m->indexOf(pictures)));
        QCOMPARE(view.sceneHeight(), 48.0 + 36 * 2 + 36 * 3 + 30);

        ClassifyItem* track = pictures->children().first();
        QCOMPARE(view.visualRect(m->indexOf(track)).height(), 36);
        SourceData* clip =
            m->createSource(track, 0, 30, 0, 100, "/media/a.png", QRectF(0, 0, 10, 10), QRect());
        track->addSource(clip);
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, buttonOf(track));
        QCOMPARE(pictures->children().size(), 0);
        QVERIFY(!height.isEmpty());
        QCOMPARE(view.sceneHeight(), 48.0 + 36 * 4 + 30);

        undo()->stack.undo();
        QCOMPARE(pictures->children().size(), 1);
        QCOMPARE(pictures->children().first(), track);
        QCOMPARE(track->sources().size(), 1);
        QVERIFY(view.isExpanded(m->indexOf(pictures)));

        // A double click on a header's button adds one track; it does not open the row.
        view.collapse(m->indexOf(pictures));
        // (a real double click: a press, then the double-click event in place of the second press)
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, buttonOf(m->header(SourceDub)));
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, buttonOf(m->header(SourceDub)));
        QCOMPARE(m->header(SourceDub)->children().size(), 1);
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, labelOf(pictures));
        QVERIFY(!view.isExpanded(m->indexOf(pictures)));
        // The spacer row has no button.
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, buttonOf(m->header(SourceNone)));
        QCOMPARE(m->header(SourceNone)->children().size(), 0);
    }

    void dropsChooseTheirTrack() {
        korvel::test::requireDisplay();
        model.reset();
        TimeLineTreeView view;
        view.resize(ClassifyItemDelegate::minimumRowWidth(view.fontMetrics()), 400);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        TimeLineTreeModel* m = view.treeModel();
        ClassifyItem* videoHeader = m->header(SourceVideo);
        ClassifyItem* extra = m->addTrack(videoHeader);
        auto yOf = [&](const ClassifyItem* row) { return view.visualRect(m->indexOf(row)).center().y(); };
        QCOMPARE(view.dropTrack(SourceVideo, yOf(extra)), extra);
        QCOMPARE(view.dropTrack(SourceVideo, yOf(m->header(SourceAudio))), extra); // below: the last track
        QCOMPARE(view.dropTrack(SourceDub, yOf(m->header(SourcePicture))),
                 m->header(SourceDub)); // above: the header

        QSignalSpy made(&view, &TimeLineTreeView::sig_sourceCreated);
        bg::ValueMap drop;
        drop["path"] = bg::Value(media("h264-30fps.mp4").toStdString());
        drop["posY"] = bg::Value(yOf(extra));
        drop["posX"] = bg::Value(550.0);
        drop["type"] = bg::Value(int(SourceVideo));
        view.slot_createSourceItem(drop, QColor(), QFont());
        QCOMPARE(extra->sources().size(), 1);
        QCOMPARE(extra->sources().first()->startFrame(), qint64(10)); // 50 px to the left
        drop["path"] = bg::Value(media("random.mp4").toStdString());
        view.slot_createSourceItem(drop, QColor(), QFont());
        QCOMPARE(extra->sources().size(), 1);
        QCOMPARE(made.count(), 2);
        QVERIFY(!made.at(1).at(0).value<SourceData*>());
    }
};

KORVEL_GUI_TEST_MAIN(TestTimelineTracks)
#include "tst_timeline_tracks.moc"
