// The whole edit loop as the window wires it: a double click on a clip opens
// its panel, an edit in the panel changes the clip in one undo step, and
// undo and redo bring the open panel along; the crop button opens the crop
// page for the clip and returns to its panel.
#include "menu/crop-menu.h"
#include "menu/crop-view.h"
#include "menu/qt-graphics-resizer-item.h"
#include "menu/sound-source-menu.h"
#include "menu/subtitle-menu.h"
#include "menu/trans-menu.h"
#include "menu/video-menu.h"
#include "resource/resource-widget.h"
#include "support/test-main.h"
#include "render/preview-item.h"
#include "timeline/classify-item.h"
#include "timeline/source-item.h"
#include "timeline/timeline-scene.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-view.h"
#include "timeline/timeline-widget.h"
#include "timeline/trans-item.h"
#include "undo/undo-controller.h"
#include "values/value-init.h"

#include <QCheckBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTextEdit>

#include <memory>

class TestPanelEditLoop : public QObject {
    Q_OBJECT

    std::unique_ptr<TimeLineWidget> timeline;
    std::unique_ptr<ResourceWidget> resource;

    TimeLineTreeModel* model() const { return timeline->model(); }
    zya::UndoController* undo() const { return zya::UndoController::instance(); }
    SourceData* add(SourceType kind, int64_t start, int64_t length = 60) {
        SourceData* clip =
            model()->createSource(model()->header(kind), start, length, 0, 100000, "/media/clip.mp4",
                                  QRectF(10, 20, 640, 360), QRect(0, 0, 640, 360));
        model()->header(kind)->addSource(clip);
        return clip;
    }
    void doubleClick(SourceData* clip) {
        auto* item = dynamic_cast<SourceItem*>(clip);
        QVERIFY(item);
        // Near the clip's start, where the view shows it.
        const QRectF r = item->sceneBoundingRect();
        const QPoint at = timeline->view()->mapFromScene(QPointF(r.left() + 40, r.center().y()));
        QTest::mouseDClick(timeline->view()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        // QTest leaves the button down after the double click; a hand lets it go.
        QTest::mouseRelease(timeline->view()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }
    template <typename T> T* panelChild(MenuType type, const char* name) {
        QWidget* panel = resource->panel(type);
        T* w = panel ? panel->findChild<T*>(QLatin1String(name)) : nullptr;
        if (!w)
            qWarning("no %s on panel %d", name, int(type));
        return w;
    }
    void finishSpin(MenuType type, const char* name, int value) {
        auto* box = panelChild<QSpinBox>(type, name);
        QVERIFY(box);
        box->setValue(value);
        emit box->editingFinished();
    }

private slots:
    void init() {
        timeline::overrideDpiScale(1.0);
        undo()->reset();
        timeline = std::make_unique<TimeLineWidget>();
        resource = std::make_unique<ResourceWidget>();
        connect(timeline.get(), &TimeLineWidget::sig_showMenu, resource.get(),
                &ResourceWidget::slot_showMenu);
        connect(resource.get(), &ResourceWidget::sig_updateData, timeline.get(),
                &TimeLineWidget::slot_updateData);
        timeline->resize(900, 300);
        timeline->show();
        resource->resize(420, 600);
        resource->show();
        QVERIFY(QTest::qWaitForWindowExposed(timeline.get()));
        timeline->slot_scaleSliderValue(0);
    }
    void cleanup() {
        resource.reset();
        timeline.reset();
        undo()->reset();
    }

    void aVideoEditIsOneUndoStepAndTheOpenPanelFollows() {
        SourceData* clip = add(SourceVideo, 0);
        doubleClick(clip);
        QVERIFY(resource->showsPanels());
        QCOMPARE(resource->currentPanel(), MenuVideo);
        auto* panel = static_cast<VideoMenu*>(resource->menu(MenuVideo));
        QCOMPARE(panel->uuid(), clip->uuid());
        QCOMPARE(panelChild<QSpinBox>(MenuVideo, "videoX")->value(), 10);

        const int steps = undo()->stack.count();
        finishSpin(MenuVideo, "videoAngle", 45);
        finishSpin(MenuVideo, "spinBox_hue", -20);
        QCOMPARE(clip->rotate(), 45);
        QCOMPARE(clip->hue(), -20);
        QCOMPARE(undo()->stack.count(), steps + 2);
        undo()->stack.undo();
        QCOMPARE(clip->hue(), 0);
        QCOMPARE(panelChild<QSpinBox>(MenuVideo, "spinBox_hue")->value(), 0); // refreshed
        undo()->stack.undo();
        QCOMPARE(clip->rotate(), 0);
        QCOMPARE(panelChild<QSpinBox>(MenuVideo, "videoAngle")->value(), 0);
        undo()->stack.redo();
        QCOMPARE(panelChild<QSpinBox>(MenuVideo, "videoAngle")->value(), 45);

    }

    void volumeAndMuteAreUndoneWithThePanel() {
        SourceData* clip = add(SourceVideo, 0);
        doubleClick(clip);
        finishSpin(MenuVideo, "videoAngle", 45); // the edit before must stay
        auto* slider = panelChild<QSlider>(MenuVideo, "videoVolumeSlider");
        auto* mute = panelChild<QCheckBox>(MenuVideo, "videoMute");
        QVERIFY(slider && mute);
        const int volume = clip->volume();
        const int steps = undo()->stack.count();

        // A drag of the handle, as the mouse makes it: many values, one step.
        QStyleOptionSlider option;
        option.initFrom(slider);
        option.orientation = slider->orientation();
        option.minimum = slider->minimum();
        option.maximum = slider->maximum();
        option.sliderPosition = option.sliderValue = slider->value();
        const QRect handle =
            slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider);
        const auto send = [slider](QEvent::Type type, const QPoint& at, Qt::MouseButtons buttons) {
            QMouseEvent e(type, at, slider->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          buttons, Qt::NoModifier);
            QCoreApplication::sendEvent(slider, &e);
        };
        send(QEvent::MouseButtonPress, handle.center(), Qt::LeftButton);
        for (int dx = 10; dx <= 60; dx += 10)
            send(QEvent::MouseMove, handle.center() - QPoint(dx, 0), Qt::LeftButton);
        send(QEvent::MouseButtonRelease, handle.center() - QPoint(60, 0), Qt::NoButton);
        const int dragged = clip->volume();
        QVERIFY(dragged < volume);
        QCOMPARE(undo()->stack.count(), steps + 1);

        mute->click();
        QVERIFY(clip->mute());
        QCOMPARE(undo()->stack.count(), steps + 2);

        undo()->stack.undo();
        QVERIFY(!clip->mute());
        QVERIFY(!mute->isChecked());
        undo()->stack.undo();
        QCOMPARE(clip->volume(), volume);
        QCOMPARE(slider->value(), volume);
        QCOMPARE(clip->rotate(), 45);
        undo()->stack.redo();
        QCOMPARE(clip->volume(), dragged);
        QCOMPARE(slider->value(), dragged);
    }

    void fitCommandsPlaceTheClipInOneStep() {
        SourceData* clip = add(SourceVideo, 0);
        doubleClick(clip);
        finishSpin(MenuVideo, "videoAngle", 30);
        const int steps = undo()->stack.count();
        panelChild<QPushButton>(MenuVideo, "initialSize")->click();
        QCOMPARE(clip->previewRect(), QRectF(0, 0, 640, 360)); // the crop's size at the origin
        QCOMPARE(clip->rotate(), 0);
        QCOMPARE(undo()->stack.count(), steps + 1);
        undo()->stack.undo();
        QCOMPARE(clip->previewRect(), QRectF(10, 20, 640, 360));
        QCOMPARE(clip->rotate(), 30);

        // Keep-proportions against fill changes the fit only, where the clip stands.
        panelChild<QRadioButton>(MenuVideo, "radioButton_fill")->click();
        QCOMPARE(clip->stretch(), 0);
        QCOMPARE(clip->previewRect(), QRectF(10, 20, 640, 360));
        QCOMPARE(clip->rotate(), 30);
        undo()->stack.undo();
        QCOMPARE(clip->stretch(), 1);
        QVERIFY(panelChild<QRadioButton>(MenuVideo, "radioButton_keepRate")->isChecked());
    }

    void cropPageEditsTheClipAndReturnsToItsPanel() {
        SourceData* clip = add(SourceVideo, 0);
        doubleClick(clip);
        panelChild<QPushButton>(MenuVideo, "clip")->click();
        CropMenu* crop = resource->cropMenu();
        QCOMPARE(resource->panel(MenuCrop), static_cast<QWidget*>(crop));
        QVERIFY(crop->isVisible());
        QCOMPARE(crop->uuid(), clip->uuid());
        QCOMPARE(crop->clipRect(), QRect(0, 0, 640, 360));
        QCOMPARE(crop->returnTo(), MenuVideo);

        // A drag of the right edge handle on the page crops the clip.
        CropView* view = crop->cropView();
        QGraphicsItem* right = nullptr;
        for (QGraphicsItem* h : view->resizer()->handles()) {
            if (h->pos() == QPointF(640, 180))
                right = h;
        }
        QVERIFY(right);
        const auto send = [view](QEvent::Type type, const QPointF& scene, Qt::MouseButtons buttons) {
            const QPoint at = view->mapFromScene(scene);
            QMouseEvent e(type, at, view->viewport()->mapToGlobal(at),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
            QCoreApplication::sendEvent(view->viewport(), &e);
        };
        send(QEvent::MouseButtonPress, right->scenePos(), Qt::LeftButton);
        send(QEvent::MouseMove, QPointF(400, 180), Qt::LeftButton);
        send(QEvent::MouseButtonRelease, QPointF(400, 180), Qt::NoButton);
        QCOMPARE(clip->clipRect(), QRect(0, 0, 400, 360));
        undo()->stack.undo();
        QCOMPARE(clip->clipRect(), QRect(0, 0, 640, 360));
        QCOMPARE(view->cropRect(), QRectF(0, 0, 640, 360)); // the page followed
        undo()->stack.redo();
        QCOMPARE(static_cast<VideoMenu*>(resource->menu(MenuVideo))->clipRect(), QRect(0, 0, 400, 360));

        crop->findChild<QPushButton*>("pushButton_return")->click();
        QCOMPARE(resource->currentPanel(), MenuVideo);
    }

    // A click on a picture in the preview selects its clip alone on the
    // timeline and shows its panel, as a click on the clip there does.
    void aClickInThePreviewChoosesTheClip() {
        SourceData* video = add(SourceVideo, 0);
        SourceData* later = add(SourceVideo, 200);
        SourceData* picture = add(SourcePicture, 0);
        doubleClick(later);
        QCOMPARE(resource->currentPanel(), MenuVideo);
        QVERIFY(dynamic_cast<SourceItem*>(later)->isSelected());
        for (SourceType kind : {SourceVideo, SourcePicture})
            model()->header(kind)->requestFrame(10);
        ClassifyItem* pictures = model()->header(SourcePicture);
        pictures->previewSelectionChanged(true);
        pictures->previewItem()->editClip(1);
        QCOMPARE(resource->currentPanel(), MenuPicture);
        QVERIFY(dynamic_cast<SourceItem*>(picture)->isSelected());
        QVERIFY(!dynamic_cast<SourceItem*>(later)->isSelected());
        QVERIFY(!dynamic_cast<SourceItem*>(video)->isSelected());
    }

    void soundSubtitleAndTransitionEditsReachTheirItems() {
        SourceData* dub = add(SourceDub, 0);
        doubleClick(dub);
        QCOMPARE(resource->currentPanel(), MenuDub);
        panelChild<QSlider>(MenuDub, "audioVolumeSlider")->setValue(20);
        QCOMPARE(dub->volume(), 20);

        SourceData* subtitle = model()->createSubtitle(model()->header(SourceSubtitle), 0, 60, "Hi",
                                                       QFont("Sans", 24), Qt::white);
        doubleClick(subtitle);
        QCOMPARE(resource->currentPanel(), MenuSubtitle);
        // A new subtitle's box is its text's: the panel shows that size, not 0.
        const gs_vec2 shown = model()->header(SourceSubtitle)->previewItem()->size();
        QVERIFY(shown.x > 0 && shown.y > 0);
        QCOMPARE(panelChild<QSpinBox>(MenuSubtitle, "spinBox_width")->value(), int(shown.x));
        QCOMPARE(panelChild<QSpinBox>(MenuSubtitle, "spinBox_height")->value(), int(shown.y));
        auto* text = panelChild<QTextEdit>(MenuSubtitle, "textEdit");
        text->moveCursor(QTextCursor::End);
        // A run of typing is one undo step; typing after the field lost
        // the focus is the next.
        const int steps = undo()->stack.count();
        QTest::keyClicks(text, "!?");
        QCOMPARE(subtitle->content(), QString("Hi!?"));
        QCOMPARE(undo()->stack.count(), steps + 1);
        QEvent focusOut(QEvent::FocusOut);
        QApplication::sendEvent(text, &focusOut);
        text->moveCursor(QTextCursor::End);
        QTest::keyClicks(text, "!");
        QCOMPARE(undo()->stack.count(), steps + 2);
        undo()->stack.undo();
        QCOMPARE(subtitle->content(), QString("Hi!?"));
        undo()->stack.undo();
        QCOMPARE(subtitle->content(), QString("Hi"));
        QCOMPARE(text->toPlainText(), QString("Hi"));
        undo()->stack.redo();
        QCOMPARE(subtitle->content(), QString("Hi!?"));
        undo()->stack.undo();

        SourceData* from = add(SourceVideo, 0);
        SourceData* to = add(SourceVideo, 60);
        TransItem* trans = timeline->scene()->addTransition(from, to, "clip_box");
        QVERIFY(trans);
        timeline->scene()->showMenu(trans, MenuTransition, 2, trans->data()->panelMap(from));
        QCOMPARE(resource->currentPanel(), MenuTransition);
        finishSpin(MenuTransition, "SpinBox_time", 990);
        QCOMPARE(trans->data()->durationframe, int64_t(990));
        QCOMPARE(trans->data()->name, QString("clip_box"));
        undo()->stack.undo();
        QCOMPARE(trans->data()->durationframe, int64_t(2000));
        QCOMPARE(panelChild<QSpinBox>(MenuTransition, "SpinBox_time")->value(), 2000);
    }
};

KORVEL_GUI_TEST_MAIN(TestPanelEditLoop)
#include "tst_panel_edit_loop.moc"
