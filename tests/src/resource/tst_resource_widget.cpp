// The library panel: the grid, the kind filter, the messages listing paths,
// the drag payload as the timeline reads it, drops from the desktop and the
// switch between the library and the property panels.
#include "support/test-main.h"

#include "resource/empty-material-widget.h"
#include "resource/material-item.h"
#include "resource/material-view.h"
#include "resource/resource-widget.h"
#include "timeline/timeline-scene.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-view.h"
#include "undo/undo-controller.h"
#include "values/screen-scale.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTimer>
#include <QTranslator>
#include <QUrl>

#include <memory>

namespace {

QString media(const char* name) { return QStringLiteral(KORVEL_TEST_MEDIA_DIR "/") + name; }

// The English texts, as the program shows them.
class EnglishTexts : public QTranslator {
public:
    EnglishTexts() {
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
void dropOn(QWidget* target, QMimeData* mime, const QPointF& at) {
    QDragEnterEvent enter(at.toPoint(), Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(at, Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
}

MaterialData* record(const char* uuid, uint32_t type, bool inLibrary = true) {
    auto* m = new MaterialData;
    m->uuid = QLatin1String(uuid);
    m->type = type;
    m->name = QLatin1String(uuid);
    m->path = QStringLiteral("/media/%1").arg(QLatin1String(uuid));
    m->inLibrary = inLibrary;
    m->removed = !inLibrary;
    return m;
}

QList<MaterialItem*> shown(MaterialView& view) {
    QList<MaterialItem*> list;
    for (MaterialItem* item : view.materialScene()->materialItems()) {
        if (item->isVisible())
            list.append(item);
    }
    return list;
}

} // namespace

class TestResourceWidget : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { zya::UndoController::instance()->reset(); }

    void gridFillsRowsAndKeepsRemovedPlaces() {
        MaterialView view;
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const double s = screenDpiScale();
        view.OnMaterialChanged({record("a", Movie), record("b", Image), record("c", Music, false),
                                record("d", Text), record("e", Movie)});
        QList<MaterialItem*> items = shown(view);
        QCOMPARE(items.size(), 4);
        const int perRow = std::max(1, int(view.viewport()->width() / (resource::kCellWidth * s)));
        for (int i = 0; i < items.size(); ++i) {
            QCOMPARE(items[i]->pos().x(), (i % perRow) * resource::kCellWidth * s + resource::kCellMargin * s);
            QCOMPARE(items[i]->pos().y(), (i / perRow) * resource::kCellHeight * s + resource::kCellMargin * s);
        }
        // Restoring "c" (an undone deletion) puts it back between b and d.
        view.OnMaterialChanged({record("a", Movie), record("b", Image), record("c", Music), record("d", Text),
                                record("e", Movie)});
        items = shown(view);
        QCOMPARE(items.at(2)->material().uuid, QStringLiteral("c"));

        // Narrower than one cell: one item a row, the first on the first row.
        view.resize(int(60 * s), 300);
        view.layoutItems();
        const double width = view.viewport()->width();
        QVERIFY(width < resource::kCellWidth * s);
        view.materialScene()->layoutItems(width);
        items = shown(view);
        QCOMPARE(items.first()->pos().y(), resource::kCellMargin * s);
        QCOMPARE(items.at(1)->pos().y(), resource::kCellHeight * s + resource::kCellMargin * s);
        QCOMPARE(view.materialScene()->sceneRect().height(), items.size() * resource::kCellHeight * s);
    }

    // The library's menu acts on what is selected: a right press on an item
    // not selected selects it alone; on one of several selected it keeps them.
    void aRightPressSelectsAsAFileManagerDoes() {
        MaterialView view;
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.OnMaterialChanged({record("a", Movie), record("b", Image), record("e", Movie)});
        const QList<MaterialItem*> items = shown(view);
        QCOMPARE(items.size(), 3);
        auto at = [&view](MaterialItem* item) { return view.mapFromScene(item->sceneBoundingRect().center()); };
        auto selected = [&items] {
            QStringList names;
            for (MaterialItem* item : items)
                if (item->isSelected())
                    names << item->material().uuid;
            return names;
        };
        items[0]->setSelected(true);
        QTest::mousePress(view.viewport(), Qt::RightButton, {}, at(items[2]));
        QTest::mouseRelease(view.viewport(), Qt::RightButton, {}, at(items[2]));
        QCOMPARE(selected(), QStringList({"e"}));
        items[1]->setSelected(true);
        QTest::mousePress(view.viewport(), Qt::RightButton, {}, at(items[1]));
        QTest::mouseRelease(view.viewport(), Qt::RightButton, {}, at(items[1]));
        QCOMPARE(selected(), QStringList({"b", "e"}));
    }

    void filterShowsOneKind_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("uuids");
        QTest::newRow("all") << 0 << QStringList {"v", "p", "m", "r", "t"};
        QTest::newRow("video") << 1 << QStringList {"v"};
        QTest::newRow("image") << 2 << QStringList {"p"};
        QTest::newRow("music: sound files") << 3 << QStringList {"m"};
        QTest::newRow("audio: recorded voice") << 4 << QStringList {"r"};
        QTest::newRow("subtitle") << 5 << QStringList {"t"};
    }
    void filterShowsOneKind() {
        QFETCH(int, row);
        QFETCH(QStringList, uuids);
        ResourceWidget panel;
        MaterialView* view = panel.materialView();
        view->OnMaterialChanged({record("v", Movie), record("p", Image), record("m", Music), record("r", Mic),
                                 record("t", Text)});
        panel.on_comboBox_classify_currentIndexChanged(row);
        QStringList seen;
        for (MaterialItem* item : shown(*view))
            seen << item->material().uuid;
        QCOMPARE(seen, uuids);
    }

    // The Add dialog offers every format FFmpeg reads and any file at all;
    // what a file holds decides whether it is taken. A WebM under a name
    // that says nothing is taken as a video; files of no use, dropped from
    // the desktop, are refused in a message that names each and says why.
    void filesAreTakenByContentAndRefusalsSayWhy() {
        EnglishTexts english;
        QCoreApplication::installTranslator(&english);
        ResourceWidget panel;
        panel.resize(600, 500);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        const QString dir = korvel::test::workFolder("add-by-content");
        const QString web = dir + "/holiday";
        QFile::remove(web);
        QVERIFY(QFile::copy(media("vp9-opus.webm"), web));

        QStringList filters;
        QTimer pick;
        QObject::connect(&pick, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            pick.stop();
            filters = dialog->nameFilters();
            dialog->selectFile(web);
            QTimer::singleShot(0, dialog, &QDialog::accept);
        });
        pick.start(20);
        QTest::mouseClick(panel.findChild<QPushButton*>("pushButton_add"), Qt::LeftButton);
        QVERIFY(filters.size() >= 5);
        for (const char* pattern : {"*.webm", "*.mkv", "*.mts", "*.m2ts", "*.flac", "*.opus", "*.webp"})
            QVERIFY2(filters.first().contains(QLatin1String(pattern)), pattern);
        QCOMPARE(filters.last(), QStringLiteral("All files (*)"));
        QTRY_COMPARE(panel.materialView()->materials().size(), 1);
        const MaterialData* taken = panel.materialView()->materials().first();
        QCOMPARE(taken->path, web);
        QCOMPARE(taken->type, uint32_t(Movie));
        QVERIFY(taken->draggable);

        const QString notes = dir + "/notes.txt";
        {
            QFile file(notes);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("not a film\n");
        }
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(notes), QUrl::fromLocalFile(media("vp9-opus.webm"))});
        QVERIFY(panel.materialView()->isVisible());
        dropOn(panel.materialView()->viewport(), &mime, QPointF(20, 20));
        QCOMPARE(panel.materialView()->materials().size(), 2);
        QMessageBox* box = nullptr;
        QTRY_VERIFY((box = panel.window()->findChild<QMessageBox*>()) != nullptr);
        QVERIFY2(box->text().contains(notes + ": " + english.texts.value("material_view.NotMedia")),
                 qPrintable(box->text()));
        QVERIFY(box->text().startsWith("Not added, as they cannot be used (1):"));
        box->close();
        QCoreApplication::removeTranslator(&english);
    }

    void pathMessagesListSixAndMore() {
        QStringList paths;
        for (int i = 1; i <= 7; ++i)
            paths << QStringLiteral("/m/%1.mp4").arg(i);
        const QString text = MaterialView::pathListMessage("%1 files\n%2", paths);
        QVERIFY(text.startsWith("7 files\n(1) /m/1.mp4\n(2) /m/2.mp4\n"));
        QVERIFY(text.contains("(6) /m/6.mp4\n..."));
        QVERIFY(!text.contains("/m/7.mp4"));
        QCOMPARE(MaterialView::pathListMessage("%1:%2", {"/x"}), QStringLiteral("1:(1) /x\n"));
    }

    void dragPayloadIsWhatTheTimelineReads() {
        TimeLineTreeModel model;
        TimeLineGraphicsScene scene;
        scene.setModel(&model);
        TimeLineGraphicsView timeline(&scene);
        timeline.setAcceptDrops(true);
        timeline.resize(800, 300);
        timeline.show();
        QVERIFY(QTest::qWaitForWindowExposed(&timeline));
        QSignalSpy create(&timeline, &TimeLineGraphicsView::sig_createSourceItem);

        std::unique_ptr<MaterialData> file(record("f", Movie));
        file->draggable = false; // a missing file still travels, marked
        std::unique_ptr<MaterialData> title(record("t", Text));
        title->color = QColor("#336699");
        title->font = QFont("Serif", 33);
        for (const MaterialData* m : {file.get(), title.get()}) {
            std::unique_ptr<QMimeData> mime(resource::materialMimeData(*m));
            QCOMPARE(mime->text(), QStringLiteral("Quenor"));
            dropOn(timeline.viewport(), mime.get(), QPointF(120, 40));
        }
        QCOMPARE(create.size(), 2);
        const bg::ValueMap fileMap = create.at(0).at(0).value<bg::ValueMap>();
        QCOMPARE(fileMap.get("type").toInt(), int(Movie));
        QCOMPARE(QString::fromStdString(fileMap.get("path").toStdString()), file->path);
        const bg::ValueMap titleMap = create.at(1).at(0).value<bg::ValueMap>();
        QCOMPARE(titleMap.get("type").toInt(), int(Text));
        QVERIFY(titleMap.get("path").toStdString().empty());
        QCOMPARE(create.at(1).at(1).value<QColor>(), QColor("#336699"));
        QCOMPARE(create.at(1).at(2).value<QFont>().pointSize(), 33);
        // A payload cut short is ignored.
        QMimeData cut;
        cut.setText("Quenor");
        cut.setData("data", resource::materialDragPayload(*file).left(20));
        dropOn(timeline.viewport(), &cut, QPointF(120, 40));
        QCOMPARE(create.size(), 2);
    }

    void dropsOpenAProjectOrAddFiles() {
        QString project;
        QStringList files;
        QVERIFY(MaterialView::readDrop({QUrl::fromLocalFile("/p/film.zya2")}, &project, &files));
        QCOMPARE(project, QStringLiteral("/p/film.zya2"));
        project.clear();
        QVERIFY(MaterialView::readDrop({QUrl::fromLocalFile("/p/old.zya")}, &project, &files));
        QVERIFY(!MaterialView::readDrop({QUrl::fromLocalFile("/p/film.ZYA2")}, &project, &files));
        files.clear();
        QVERIFY(!MaterialView::readDrop({QUrl::fromLocalFile("/p/film.zya2"), QUrl::fromLocalFile("/p/a.mp4")},
                                        &project, &files));
        QCOMPARE(files, QStringList({"/p/film.zya2", "/p/a.mp4"}));

        EmptyMaterialWidget empty;
        QSignalSpy add(&empty, &EmptyMaterialWidget::sig_addNewMaterial);
        QSignalSpy open(&empty, &EmptyMaterialWidget::sig_openProject);
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile("/p/film.zya2")});
        dropOn(&empty, &mime, QPointF(5, 5));
        QCOMPARE(open.size(), 1);
        QCOMPARE(add.size(), 0);
    }

    void panelShowsLibraryOrPropertyPanels() {
        ResourceWidget panel;
        auto* stack = panel.findChild<QStackedWidget*>("stackedWidget_page");
        QVERIFY(stack);
        QCOMPARE(panel.currentPage(), int(ResourceWidget::PageMaterial));
        // Empty library: the note instead of the grid, until something arrives.
        QVERIFY(!panel.materialView()->isVisibleTo(&panel));
        panel.materialView()->OnMaterialChanged({record("a", Movie)});
        QVERIFY(panel.materialView()->isVisibleTo(&panel));
        panel.materialView()->OnMaterialChanged({record("a", Movie, false)});
        QVERIFY(panel.emptyWidget()->isVisibleTo(&panel));

        panel.slot_showMenu(MenuVideo, 1, {}); // switching needs the panel face
        QVERIFY(!panel.showsPanels());
        panel.slot_showMenu(MenuVideo, 2, {});
        QVERIFY(panel.showsPanels());
        QCOMPARE(panel.currentPanel(), MenuVideo);
        panel.slot_showMenu(MenuSubtitle, 1, {});
        QCOMPARE(panel.currentPanel(), MenuSubtitle);
        panel.slot_showMenu(MenuSubtitle, 0, {});
        QVERIFY(!panel.showsPanels());
        panel.slot_switch_page(ResourceWidget::PageGif);
        panel.clearLibrary();
        QCOMPARE(panel.currentPage(), int(ResourceWidget::PageMaterial));
    }
};

KORVEL_GUI_TEST_MAIN(TestResourceWidget)
#include "tst_resource_widget.moc"
