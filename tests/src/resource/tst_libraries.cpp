// The transition and sticker pages and the subtitle template window: the
// grids, the stickers' frames and animation, the drags as the timeline
// reads them, and the template window as a user drives it.
#include "support/test-main.h"

#include "resource/gif-view.h"
#include "resource/library-common.h"
#include "resource/material-item.h"
#include "resource/material-manager.h"
#include "resource/material-view.h"
#include "resource/resource-widget.h"
#include "resource/subtitle-tag-line-edit.h"
#include "resource/subtitle-template-widget.h"
#include "resource/transition-view.h"
#include "timeline/classify-item.h"
#include "timeline/source-item.h"
#include "timeline/timeline-scene.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-tree-view.h"
#include "timeline/timeline-units.h"
#include "timeline/timeline-view.h"
#include "timeline/timeline-widget.h"
#include "timeline/trans-item.h"
#include "undo/undo-controller.h"
#include "values/screen-scale.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontComboBox>
#include <QGraphicsSceneHoverEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>
#include <QTranslator>

#include <memory>

namespace {

// The program's English texts, read as its translator reads them, so the
// keys the code asks for must exist in the file.
class IniTranslator : public QTranslator {
public:
    IniTranslator() {
        QSettings ini(QStringLiteral(":/language/en-Us-new.ini"), QSettings::IniFormat);
        ini.setIniCodec("UTF-8");
        for (const QString& key : ini.allKeys())
            texts.insert(key, ini.value(key).toString());
    }
    bool isEmpty() const override { return false; }
    QString translate(const char*, const char* key, const char*, int) const override {
        return texts.value(QString::fromUtf8(key));
    }
    QHash<QString, QString> texts;
};

// A drop reaches only a widget that accepted the drag's entry.
bool dropOn(QWidget* target, QMimeData* mime, const QPoint& at) {
    QDragEnterEvent enter(at, Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(at, Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
    drop.setAccepted(false);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

void hover(QGraphicsItem* item, QEvent::Type type) {
    QGraphicsSceneHoverEvent event(type);
    item->scene()->sendEvent(item, &event);
}

// True when painting the item leaves a transparent picture untouched.
bool paintsNothing(QGraphicsItem* item) {
    QImage canvas(item->boundingRect().size().toSize() + QSize(2, 2), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    item->paint(&painter, nullptr, nullptr);
    painter.end();
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            if (qAlpha(canvas.pixel(x, y)) != 0)
                return false;
        }
    }
    return true;
}

QString shippedStickers() {
    return QStringLiteral(KORVEL_SOURCE_DIR "/resources/gif");
}

template <typename T> T* child(QWidget* parent, const char* name) {
    T* found = parent->findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

// Answers the next colour dialog: a valid colour picks it, an invalid one cancels.
void answerColorDialog(const QColor& color) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, color] {
        auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        if (color.isValid()) {
            dialog->setCurrentColor(color);
            dialog->accept();
        } else {
            dialog->reject();
        }
    });
    timer->start(20);
}

} // namespace

class TestLibraries : public QObject {
    Q_OBJECT

    IniTranslator translator;

private slots:
    void initTestCase() {
        QCoreApplication::installTranslator(&translator);
        timeline::overrideDpiScale(1.0);
    }
    void cleanup() { zya::UndoController::instance()->reset(); }

    void transitionsInNameOrderWithIconsAndNames() {
        TransitionScene scene;
        QStringList names;
        for (TransitionItem* item : scene.transitionItems()) {
            names << item->name();
            QVERIFY2(!item->icon().isNull(), qPrintable(item->name()));
            QVERIFY2(!item->displayName().startsWith("global_info."), qPrintable(item->name()));
        }
        QCOMPARE(names, QStringList({"clip_banding", "clip_box", "clip_circle", "clip_cross", "clip_herase",
                                     "clip_open", "clip_radial", "clip_winshades", "over_black", "over_cross",
                                     "over_white", "scale_boxes", "scale_in", "trans_move"}));
        QCOMPARE(scene.transitionItems().at(3)->displayName(), QString("Iris Cross"));
        // Each icon shows its own drawing.
        QSet<QByteArray> pictures;
        for (TransitionItem* item : scene.transitionItems()) {
            const QImage& icon = item->icon();
            pictures.insert(
                QByteArray(reinterpret_cast<const char*>(icon.constBits()), int(icon.sizeInBytes())));
        }
        QCOMPARE(pictures.size(), 14);
    }

    void pagesFlowIntoRows_data() {
        QTest::addColumn<bool>("stickers");
        QTest::addColumn<double>("width");
        QTest::addColumn<int>("perRow");
        QTest::addColumn<int>("rows"); // rows after the first empty one when narrow
        QTest::newRow("transitions three a row") << false << 320.0 << 3 << 5;
        QTest::newRow("transitions nine a row") << false << 1000.0 << 9 << 2;
        QTest::newRow("stickers four a row") << true << 270.0 << 4 << 4;
    }
    void pagesFlowIntoRows() {
        QFETCH(bool, stickers);
        QFETCH(double, width);
        QFETCH(int, perRow);
        QFETCH(int, rows);
        const double s = screenDpiScale();
        const resource::GridFlow flow = stickers ? resource::stickerFlow(s) : resource::transitionFlow(s);
        const int count = stickers ? 13 : 14;
        double height = 0;
        const QVector<QPointF> places = resource::flowGrid(count, width * s, flow, &height);
        QCOMPARE(places.size(), count);
        QSet<double> ys;
        double x = 0;
        for (int i = 0; i < count; ++i) {
            if (i % perRow == 0)
                x = 0;
            QCOMPARE(places[i].x(), x + flow.offset.x());
            x = int(x + flow.advance);
            ys.insert(places[i].y());
        }
        QCOMPARE(ys.size(), rows);
        QCOMPARE(height, flow.bottom + places.last().y() - flow.offset.y());
    }

    void resizingTheTransitionViewReflows() {
        TransitionView view;
        view.resize(600, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QList<TransitionItem*> items = view.transitionScene()->transitionItems();
        const double s = screenDpiScale();
        // Room for three per row: x + 95 fits for x = 0, 105, 210 only.
        view.resize(int(330 * s) + view.width() - view.viewport()->width(), 600);
        QTRY_COMPARE(items.at(3)->pos(), QPointF(10 * s, int(85 * s) + 10 * s));
        QCOMPARE(items.at(13)->pos().y(), 4 * int(85 * s) + 10 * s);
        QCOMPARE(view.sceneRect().width(), double(view.viewport()->width()));
        // Narrower than one cell: one item a row, the first row left empty.
        view.resize(int(60 * s) + view.width() - view.viewport()->width(), 600);
        QTRY_COMPARE(items.at(0)->pos().y(), int(85 * s) + 10 * s);
    }

    void stickersFromTheFolderTree() {
        const QString folder = korvel::test::workFolder("stickers");
        QVERIFY(QDir(folder).mkpath("more"));
        QVERIFY(QFile::copy(shippedStickers() + "/star.gif", folder + "/star.gif"));
        QVERIFY(QFile::copy(shippedStickers() + "/heart.gif", folder + "/more/HEART.GIF"));
        QFile broken(folder + "/broken.gif");
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("GIF89a this is not a picture");
        broken.close();
        QFile note(folder + "/readme.txt");
        QVERIFY(note.open(QIODevice::WriteOnly));
        note.close();

        GifView view(nullptr, folder);
        const QList<GifItem*> items = view.gifScene()->gifItems();
        QStringList paths;
        for (GifItem* item : items)
            paths << item->path();
        QCOMPARE(paths, QStringList({QDir::toNativeSeparators(folder + "/broken.gif"),
                                     QDir::toNativeSeparators(folder + "/more/HEART.GIF"),
                                     QDir::toNativeSeparators(folder + "/star.gif")}));
        for (GifItem* item : items)
            QTRY_VERIFY_WITH_TIMEOUT(item->framesLoaded(), 20000);
        QVERIFY(items[0]->frames().isEmpty());
        QCOMPARE(items[2]->frames().size(), resource::kGifFrames);
        QCOMPARE(items[2]->frames().first().format(), QImage::Format_RGBA8888);
        QVERIFY(!paintsNothing(items[2]));

        // No folder, no stickers.
        GifView empty(nullptr, folder + "/absent");
        QVERIFY(empty.gifScene()->gifItems().isEmpty());
    }

    void hoverAnimatesAndLeavingShowsTheFirstFrame() {
        GifView view(nullptr, shippedStickers());
        QVERIFY(!view.gifScene()->gifItems().isEmpty());
        GifItem* item = view.gifScene()->gifItems().first();
        QTRY_VERIFY_WITH_TIMEOUT(item->framesLoaded(), 20000);
        QCOMPARE(item->currentFrame(), 0);
        hover(item, QEvent::GraphicsSceneHoverEnter);
        QVERIFY(item->animating());
        QSet<int> seen;
        QElapsedTimer clock;
        clock.start();
        while (seen.size() < 3 && clock.elapsed() < 5000) {
            QTest::qWait(30);
            seen.insert(item->currentFrame());
        }
        QVERIFY(seen.size() >= 3); // it steps through the frames
        hover(item, QEvent::GraphicsSceneHoverLeave);
        QVERIFY(!item->animating());
        QCOMPARE(item->currentFrame(), 0);
        QCOMPARE(item->currentImage(), item->frames().first());
    }

    void unreadableStickerStaysBlankWhileHovered() {
        const QString folder = korvel::test::workFolder("broken-sticker");
        QFile broken(folder + "/broken.gif");
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write(QByteArray(64, 'x'));
        broken.close();
        GifView view(nullptr, folder);
        QCOMPARE(view.gifScene()->gifItems().size(), 1);
        GifItem* item = view.gifScene()->gifItems().first();
        QTRY_VERIFY_WITH_TIMEOUT(item->framesLoaded(), 20000);
        hover(item, QEvent::GraphicsSceneHoverEnter);
        QTest::qWait(350); // three ticks with nothing to show
        QVERIFY(item->currentImage().isNull());
        QVERIFY(paintsNothing(item));
        hover(item, QEvent::GraphicsSceneHoverLeave);
    }

    void shippedStickersAreSmallAndAnimated() {
        const QStringList files = resource::stickerFiles(shippedStickers());
        QVERIFY(files.size() >= 12);
        for (const QString& file : files) {
            QVERIFY2(QFileInfo(file).size() < 100 * 1024, qPrintable(file));
            const QVector<QImage> frames = resource::decodeGifFrames(file);
            QVERIFY2(frames.size() == resource::kGifFrames, qPrintable(file));
            QSet<QByteArray> distinct;
            for (const QImage& frame : frames)
                distinct.insert(
                    QByteArray(reinterpret_cast<const char*>(frame.constBits()), int(frame.sizeInBytes())));
            QVERIFY2(distinct.size() >= 2, qPrintable(file)); // it moves
        }
    }

    void dragsBecomeTransitionsPicturesAndSubtitles() {
        TimeLineWidget timeline;
        timeline.resize(900, 300);
        timeline.show();
        QVERIFY(QTest::qWaitForWindowExposed(&timeline));
        TimeLineTreeModel* model = timeline.model();
        auto addClip = [model](ClassifyItem* track, int64_t start) {
            SourceData* clip = model->createSource(track, start, 60, 0, 100000, "/media/clip.mp4",
                                                   QRectF(10, 20, 640, 360), QRect(0, 0, 640, 360));
            track->addSource(clip);
            return clip;
        };
        QWidget* viewport = timeline.view()->viewport();

        // A transition between two clips, named after the dragged item.
        SourceData* from = addClip(model->header(SourceVideo), 0);
        addClip(model->header(SourceVideo), 60);
        TransitionScene transitions;
        TransitionItem* box = transitions.transitionItems().at(1);
        std::unique_ptr<QMimeData> mime(resource::libraryMimeData("transition", box->name(), box->icon()));
        QVERIFY(mime->hasImage());
        const QPointF joint(timeline::frameToPixel(60),
                            dynamic_cast<SourceItem*>(from)->sceneBoundingRect().center().y());
        QVERIFY(dropOn(viewport, mime.get(), timeline.view()->mapFromScene(joint)));
        QCOMPARE(model->transitions().size(), 1);
        QCOMPARE(model->transitions().first()->data()->name, QString("clip_box"));

        // A sticker is a picture clip of its file.
        QSignalSpy asked(timeline.view(), &TimeLineGraphicsView::sig_createSourceItem);
        const QString sticker = QDir::toNativeSeparators(shippedStickers() + "/star.gif");
        mime.reset(resource::libraryMimeData("gif", sticker, QImage()));
        QVERIFY(dropOn(viewport, mime.get(), QPoint(100, 10)));
        QCOMPARE(asked.size(), 1);
        const bg::ValueMap map = asked.at(0).at(0).value<bg::ValueMap>();
        QCOMPARE(map.get("type").toInt(), int(SourcePicture));
        QCOMPARE(QString::fromStdString(map.get("path").toStdString()), sticker);

        // A template made in the window, dragged from the library onto the
        // subtitle track, is a subtitle clip in its font and colour.
        ResourceWidget library;
        SubtitleTemplateWidget window;
        connect(&window, &SubtitleTemplateWidget::sig_createResSubtitle, &library,
                &ResourceWidget::slot_createSubtitle);
        child<QComboBox>(&window, "fontSizeBox")->setCurrentText("36");
        answerColorDialog(QColor("#12ab34"));
        QTest::mouseClick(child<QPushButton>(&window, "fontColor"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(&window, "createSubtitleTemplate"), Qt::LeftButton);
        QTRY_COMPARE(library.materialView()->materials().size(), 1);
        const MaterialData* made = library.materialView()->materials().first();
        QCOMPARE(made->type, uint32_t(Text));
        QSignalSpy clips(timeline.treeView(), &TimeLineTreeView::sig_sourceCreated);
        mime.reset(resource::materialMimeData(*made));
        SourceData* probe = addClip(model->header(SourceSubtitle), 200);
        const QPointF row = dynamic_cast<SourceItem*>(probe)->sceneBoundingRect().center();
        model->removeSources({probe});
        QVERIFY(dropOn(viewport, mime.get(),
                       timeline.view()->mapFromScene(QPointF(timeline::frameToPixel(40), row.y()))));
        QCOMPARE(clips.size(), 1);
        auto* clip = clips.at(0).at(0).value<SourceData*>();
        QCOMPARE(clip->type(), SourceSubtitle);
        QCOMPARE(clip->color(), QColor("#12ab34"));
        QCOMPARE(clip->font().pointSize(), 36);
        QCOMPARE(clip->font().family(), window.font().family());
    }

    void unlabelledTemplatesCountOnAcrossAReload() {
        ResourceWidget library;
        SubtitleTemplateWidget window;
        connect(&window, &SubtitleTemplateWidget::sig_createResSubtitle, &library,
                &ResourceWidget::slot_createSubtitle);
        QSignalSpy made(&window, &SubtitleTemplateWidget::sig_createResSubtitle);
        const int n = SubtitleTemplateWidget::nextUnnamedNumber();
        window.reset();
        window.show();
        QTest::mouseClick(child<QPushButton>(&window, "createSubtitleTemplate"), Qt::LeftButton);
        QVERIFY(!window.isVisible());
        library.clearLibrary(); // the project is replaced
        window.reset();
        window.show();
        // Made active here rather than by the X server's focus: tests run side
        // by side on one display, and another test's window can take the focus.
        QApplication::setActiveWindow(&window);
        QVERIFY(window.isActiveWindow());
        QTest::keyClick(&window, Qt::Key_Return); // the button's shortcut clicks it shortly after
        QTRY_COMPARE(made.size(), 2);
        QCOMPARE(made.at(0).at(0).toString(), QString("Subtitle-%1").arg(n));
        QCOMPARE(made.at(1).at(0).toString(), QString("Subtitle-%1").arg(n + 1));
        // The library after the reload holds the second one.
        QTRY_VERIFY(!library.materialView()->materials().isEmpty() &&
                    library.materialView()->materials().last()->name == QString("Subtitle-%1").arg(n + 1));

        // Cancel makes nothing and uses no number.
        window.reset();
        window.show();
        QTest::mouseClick(child<QPushButton>(&window, "cancelBtn"), Qt::LeftButton);
        QVERIFY(!window.isVisible());
        QCOMPARE(made.size(), 2);
        QCOMPARE(SubtitleTemplateWidget::nextUnnamedNumber(), n + 2);
    }

    void labelBoxAndField() {
        SubtitleTemplateWidget window;
        window.reset();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* box = child<QCheckBox>(&window, "labelCB");
        auto* field = child<SubtitleTagLineEdit>(&window, "labelLE");
        QCOMPARE(window.windowTitle(), QString("Creating a caption template"));
        QCOMPARE(field->placeholderText().left(5), QString("Label"));
        QVERIFY(field->isReadOnly());
        QCOMPARE(field->palette().color(QPalette::Base), QColor("#f0f0f0"));
        QTest::keyClicks(field, "typed while grey");
        QVERIFY(field->text().isEmpty());

        // A double-click on the grey field checks the box and lets the user type.
        QTest::mouseDClick(field, Qt::LeftButton);
        QVERIFY(box->isChecked());
        QVERIFY(!field->isReadOnly());
        QVERIFY(field->palette().color(QPalette::Base) != QColor("#f0f0f0"));
        QTest::keyClicks(field, QString(35, 'a'));
        QCOMPARE(field->text(), QString(30, 'a'));
        // Unchecking greys it again and keeps the text until the next showing.
        box->setChecked(false);
        QVERIFY(field->isReadOnly());
        QCOMPARE(field->text(), QString(30, 'a'));

        // A checked box with an empty label gives an empty name and no number.
        QSignalSpy made(&window, &SubtitleTemplateWidget::sig_createResSubtitle);
        const int n = SubtitleTemplateWidget::nextUnnamedNumber();
        box->setChecked(true);
        field->clear();
        QTest::mouseClick(child<QPushButton>(&window, "createSubtitleTemplate"), Qt::LeftButton);
        QCOMPARE(made.size(), 1);
        QCOMPARE(made.at(0).at(0).toString(), QString());
        QCOMPARE(SubtitleTemplateWidget::nextUnnamedNumber(), n);
        window.reset();
        window.show();
        QVERIFY(!box->isChecked());
        QVERIFY(field->text().isEmpty() && field->isReadOnly());
    }

    void typedSizes_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("size");
        QTest::newRow("not a number") << "abc" << 22;
        QTest::newRow("a size not offered") << "30" << 30;
        QTest::newRow("zero") << "0" << 22;
        QTest::newRow("negative") << "-8" << 22;
    }
    void typedSizes() {
        QFETCH(QString, typed);
        QFETCH(int, size);
        SubtitleTemplateWidget window;
        window.show();
        auto* sizes = child<QComboBox>(&window, "fontSizeBox");
        QCOMPARE(sizes->count(), 21);
        QCOMPARE(sizes->currentText(), QString("22"));
        QCOMPARE(window.font().pointSize(), 22);
        sizes->lineEdit()->selectAll();
        QTest::keyClicks(sizes->lineEdit(), typed);
        QCOMPARE(window.font().pointSize(), size);
        QCOMPARE(child<QLabel>(&window, "fontPreviewLB")->font().pointSize(), size);
    }

    void styleTogglesAndColour() {
        SubtitleTemplateWidget window;
        window.show();
        auto* preview = child<QLabel>(&window, "fontPreviewLB");
        auto* colour = child<QPushButton>(&window, "fontColor");
        QCOMPARE(window.color(), QColor("#ff00ff"));
        QVERIFY(colour->styleSheet().contains("background-color: #ff00ff;border: 1px solid " +
                                              QColor("#ff00ff").darker(140).name()));
        QCOMPARE(preview->palette().color(QPalette::Disabled, QPalette::WindowText), QColor("#ff00ff"));

        auto* bold = child<QPushButton>(&window, "boldBtn");
        bold->click();
        QCOMPARE(preview->font().weight(), 75);
        bold->click();
        QCOMPARE(window.font().weight(), 50);
        QCOMPARE(preview->font().weight(), 50);
        child<QPushButton>(&window, "italicBtn")->click();
        child<QPushButton>(&window, "underlineBtn")->click();
        child<QPushButton>(&window, "strikeOutBtn")->click();
        QVERIFY(window.font().italic() && window.font().underline() && window.font().strikeOut());

        // Cancelling the chooser keeps colour and button; choosing changes both.
        const QString sheet = colour->styleSheet();
        answerColorDialog(QColor());
        QTest::mouseClick(colour, Qt::LeftButton);
        QCOMPARE(window.color(), QColor("#ff00ff"));
        QCOMPARE(colour->styleSheet(), sheet);
        answerColorDialog(QColor("#2060c0"));
        QTest::mouseClick(colour, Qt::LeftButton);
        QCOMPARE(window.color(), QColor("#2060c0"));
        QVERIFY(colour->styleSheet().contains(QColor("#2060c0").darker(170).name()));
        QCOMPARE(preview->palette().color(QPalette::Active, QPalette::WindowText), QColor("#2060c0"));

        // Shown again: font, size and colour as left.
        child<QComboBox>(&window, "fontSizeBox")->setCurrentText("48");
        window.hide();
        window.reset();
        window.show();
        QCOMPARE(window.font().pointSize(), 48);
        QVERIFY(window.font().italic());
        QCOMPARE(window.color(), QColor("#2060c0"));
        QCOMPARE(child<QComboBox>(&window, "fontSizeBox")->currentText(), QString("48"));
        QSignalSpy made(&window, &SubtitleTemplateWidget::sig_createResSubtitle);
        child<QPushButton>(&window, "createSubtitleTemplate")->click();
        QCOMPARE(made.at(0).at(1).value<QFont>().pointSize(), 48);
        QCOMPARE(made.at(0).at(2).value<QColor>(), QColor("#2060c0"));
    }
};

KORVEL_GUI_TEST_MAIN(TestLibraries)
#include "tst_libraries.moc"
