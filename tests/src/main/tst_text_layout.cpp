// Every text of the main window, its pages and panels, and the New, Settings
// and Export windows shows whole and clear of its neighbours, in Chinese and
// in English, at 96 and at 144 DPI (scaled whole, or with larger fonts). Each language and scale runs in a child
// process of its own: the scale is read once, when the program starts.
#include "main/main-window.h"
#include "main/zyapp.h"
#include "main/zytranslator.h"
#include "render/export/export-param-widget.h"
#include "resource/project/createproject-dialog.h"
#include "resource/project/historyitem-widget.h"
#include "resource/project/historylist-view.h"
#include "resource/resource-widget.h"
#include "main/setting/setting-dialog.h"
#include "support/test-main.h"
#include "timeline/classify-item-delegate.h"
#include "timeline/classify-item.h"
#include "timeline/timeline-tree-model.h"
#include "timeline/timeline-tree-view.h"
#include "timeline/timeline-units.h"
#include "timeline/timeline-widget.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

namespace {

MainWindow* mainWindow() { return qobject_cast<MainWindow*>(ZyApp::instance()->mainWindow()); }

QString nameOf(const QWidget* w) {
    return QStringLiteral("%1 \"%2\"").arg(QLatin1String(w->metaObject()->className()), w->objectName());
}

QString shownText(const QWidget* w) {
    if (auto* label = qobject_cast<const QLabel*>(w)) {
        if (label->wordWrap())
            return QString(); // wraps instead of being cut
        const QString text = label->text();
        return Qt::mightBeRichText(text) ? QTextDocumentFragment::fromHtml(text).toPlainText() : text;
    }
    if (auto* button = qobject_cast<const QAbstractButton*>(w))
        return button->text();
    return QString();
}

// Texts narrower than they need, combo rows that do not fit the field the
// style leaves them, and text widgets of one parent lying over each other.
void checkTexts(QWidget* top, const QString& where, QStringList* problems) {
    QList<QWidget*> texts;
    for (QWidget* w : top->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->width() <= 0)
            continue;
        if (auto* combo = qobject_cast<QComboBox*>(w)) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            const QRect field =
                combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
            for (int i = 0; i < combo->count(); ++i) {
                const int icon = combo->itemIcon(i).isNull() ? 0 : combo->iconSize().width() + 4;
                const int needed = combo->fontMetrics().horizontalAdvance(combo->itemText(i)) + icon;
                if (needed > field.width())
                    *problems << QStringLiteral("%1: %2 row \"%3\" needs %4 pixels, has %5")
                                     .arg(where, nameOf(combo), combo->itemText(i))
                                     .arg(needed)
                                     .arg(field.width());
            }
            texts << w;
            continue;
        }
        if (shownText(w).trimmed().isEmpty())
            continue;
        texts << w;
        if (w->width() + 1 < w->sizeHint().width())
            *problems << QStringLiteral("%1: %2 \"%3\" is %4 pixels wide, needs %5")
                             .arg(where, nameOf(w), shownText(w))
                             .arg(w->width())
                             .arg(w->sizeHint().width());
    }
    for (int i = 0; i < texts.size(); ++i)
        for (int j = i + 1; j < texts.size(); ++j)
            if (texts[i]->parentWidget() == texts[j]->parentWidget() &&
                texts[i]->geometry().intersects(texts[j]->geometry()))
                *problems << QStringLiteral("%1: %2 \"%3\" overlaps %4 \"%5\"")
                                 .arg(where, nameOf(texts[i]), shownText(texts[i]), nameOf(texts[j]),
                                      shownText(texts[j]));
}

// The track rows paint their labels: each fits its box, clear of the button,
// and the button lies inside the tree.
void checkTrackRows(QStringList* problems) {
    TimeLineTreeView* tree = mainWindow()->timelineWidget()->findChild<TimeLineTreeView*>();
    TimeLineTreeModel* model = mainWindow()->timelineWidget()->model();
    for (uint32_t kind : {SourceVideo, SourcePicture, SourceAudio, SourceDub, SourceSubtitle}) {
        const QRect row = tree->visualRect(model->indexOf(model->header(kind)));
        const QRect label = ClassifyItemDelegate::labelRect(row, tree->fontMetrics());
        const QRect button = ClassifyItemDelegate::buttonRect(row, tree->fontMetrics());
        const QString text = timeline::kindLabel(kind);
        if (tree->fontMetrics().horizontalAdvance(text) > label.width() || label.intersects(button) ||
            button.right() >= tree->viewport()->width())
            *problems << QStringLiteral("track row \"%1\": label %2 px in a %3 px box, button at %4..%5 of %6")
                             .arg(text)
                             .arg(tree->fontMetrics().horizontalAdvance(text))
                             .arg(label.width())
                             .arg(button.left())
                             .arg(button.right())
                             .arg(tree->viewport()->width());
    }
}

// A selected row of the works list is the list's light selection colour
// from edge to edge, its texts included, with its "Open" link inside it.
void checkWorksRow(HistoryListView* list, QStringList* problems) {
    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::qWait(50);
    HistoryItemWidget* row = list->itemWidget(0);
    const QRect area = list->visualRect(list->model()->index(0, 0));
    const QImage shot = list->viewport()->grab(area).toImage();
    int dark = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            dark += qGray(shot.pixel(x, y)) < 110;
    // Text takes a few pixels; a dark panel behind the labels takes most.
    if (dark * 5 > shot.width() * shot.height())
        *problems << QStringLiteral("works row: %1 of %2 pixels dark in the selected row")
                         .arg(dark)
                         .arg(shot.width() * shot.height());
    auto* open = row->findChild<QLabel*>(QStringLiteral("label_open"));
    if (!row->rect().contains(open->geometry()) || !list->viewport()->rect().contains(row->geometry()))
        *problems << QStringLiteral("works row: the Open link %1,%2 %3x%4 lies outside the row")
                         .arg(open->x()).arg(open->y()).arg(open->width()).arg(open->height());
}

void settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(20);
    }
}

int childRun(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("korvel-tst-text-layout-%1").arg(getpid()));
    int args = 1; // the switch is no project to open
    ZyApp app(args, argv);
    Q_UNUSED(argc);
    ZyTransLator translator;
    app.installTranslator(&translator);
    if (!app.initialize())
        return 2;
    MainWindow* window = mainWindow();
    settle();
    QStringList problems;
    ResourceWidget* resource = window->resourceWidget();
    // A project in the works list gives the page a row.
    const QString project = QDir::home().filePath(QStringLiteral("a-project-with-a-long-name.zya2"));
    QFile(project).open(QIODevice::WriteOnly);
    resource->historyList()->prependProject(project);
    for (int page = 0; page < 4; ++page) {
        resource->slot_switch_page(page);
        settle();
        checkTexts(window, QStringLiteral("main window, library page %1").arg(page), &problems);
    }
    checkWorksRow(resource->historyList(), &problems);
    checkTrackRows(&problems);
    for (int type = MenuPicture; type <= MenuCrop; ++type) {
        resource->slot_showMenu(MenuType(type), 2, bg::ValueMap());
        settle();
        checkTexts(window, QStringLiteral("main window, panel %1").arg(type), &problems);
    }
    CreateProjectDialog create(nullptr, window);
    create.show();
    settle();
    checkTexts(&create, QStringLiteral("New dialog"), &problems);
    create.hide();
    SettingDialog settings(window);
    settings.show();
    settle();
    checkTexts(&settings, QStringLiteral("Settings"), &problems);
    settings.hide();
    window->exportWindow()->show();
    settle();
    checkTexts(window->exportWindow(), QStringLiteral("Export"), &problems);
    window->exportWindow()->hide();
    for (const QString& line : problems)
        std::printf("%s\n", qUtf8Printable(line));
    std::fflush(stdout);
    return problems.isEmpty() ? 0 : 1;
}

} // namespace

class TestTextLayout : public QObject {
    Q_OBJECT
private slots:
    void textsShowWholeAndApart_data() {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("variable"); // how the screen is made 144 DPI
        QTest::addColumn<QString>("value");
        for (const char* language : {"简体中文", "English"}) {
            QTest::addRow("%s at 96 DPI", language) << QString::fromUtf8(language) << "QT_SCALE_FACTOR" << "1";
            QTest::addRow("%s scaled 1.5", language) << QString::fromUtf8(language) << "QT_SCALE_FACTOR" << "1.5";
            // Larger fonts in layouts measured for 96 DPI: the harder case.
            QTest::addRow("%s with 144 DPI fonts", language) << QString::fromUtf8(language) << "QT_FONT_DPI" << "144";
        }
    }
    void textsShowWholeAndApart() {
        QFETCH(QString, language);
        QFETCH(QString, variable);
        QFETCH(QString, value);
        const QString config =
            korvel::test::workFolder(QStringLiteral("config-%1-%2-%3").arg(language, variable, value));
        {
            QSettings ini(config + QStringLiteral("/korvel.ini"), QSettings::IniFormat);
            ini.setIniCodec("UTF-8");
            ini.setValue(QStringLiteral("IsEnglish"), language);
        }
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KORVEL_CONFIG_DIR", config);
        env.insert(variable, value);
        env.insert("USER", QStringLiteral("korvel-text-layout-%1").arg(getpid()));
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::SeparateChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--layout-child")});
        QVERIFY(child.waitForStarted());
        QVERIFY(child.waitForFinished(240000));
        const QByteArray said = child.readAllStandardOutput();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 (said + "\n" + child.readAllStandardError().right(3000)).constData());
    }
};

int main(int argc, char** argv) {
    if (argc == 2 && qstrcmp(argv[1], "--layout-child") == 0)
        return childRun(argc, argv); // the parent's display and private folders
    korvel::test::prepareEnvironment("TestTextLayout");
    korvel::test::requireDisplay();
    QApplication app(argc, argv);
    TestTextLayout tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_text_layout.moc"
