// The works history as the user meets it: newest first, ten entries kept
// across restarts, a project saved again moving to the top, the rename with
// its refusals, removing an entry, and open requests reaching the panel.
#include "support/test-main.h"

#include "resource/project/historyitem-widget.h"
#include "resource/project/historylist-view.h"
#include "resource/resource-widget.h"
#include "undo/undo-controller.h"
#include "value/interface.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>

#include <memory>

namespace {

QString makeProject(const QString& folder, const QString& name, const QByteArray& content = "<Tamsel/>") {
    const QString path = folder + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(content);
    return path;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

QStringList storedHistory() {
    std::string text;
    if (!bg::iface()->configGet("work.history", &text) || text.empty())
        return {};
    QStringList list;
    for (const std::string& item : bg::Interface::decodeTextList(text))
        list << QString::fromStdString(item);
    return list;
}

} // namespace

class TestHistoryListView : public QObject {
    Q_OBJECT

    QTimer boxWatcher;
    QStringList boxesSeen;
    QString folder;

    void answerBoxes() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        boxesSeen << box->text();
        box->accept();
    }

    std::unique_ptr<HistoryListView> shownList() {
        auto list = std::make_unique<HistoryListView>();
        list->resize(400, 600);
        list->show();
        if (!QTest::qWaitForWindowExposed(list.get()))
            qFatal("the history list was not shown");
        return list;
    }

private slots:
    void initTestCase() {
        boxWatcher.setInterval(20);
        connect(&boxWatcher, &QTimer::timeout, this, &TestHistoryListView::answerBoxes);
        boxWatcher.start();
    }
    void init() {
        bg::iface()->configClear();
        boxesSeen.clear();
        folder = korvel::test::workFolder(QStringLiteral("history"));
    }

    void keepsTheTenNewestAcrossRestarts() {
        QStringList made;
        {
            HistoryListView list;
            for (int i = 0; i < 12; ++i) {
                made << makeProject(folder, QStringLiteral("p%1.zya2").arg(i));
                list.prependProject(made.last());
            }
            QCOMPARE(list.count(), 12); // shown until the program starts again
            QCOMPARE(list.paths().first(), made.last());
            QCOMPARE(list.paths().last(), made.first());
            QCOMPARE(list.currentIndex().row(), 0);
        }
        QStringList expected;
        for (int i = 11; i >= 2; --i)
            expected << made[i];
        QCOMPARE(storedHistory(), expected);
        // Durable: the store's file holds it too.
        QSettings file(QString::fromStdString(bg::iface()->configFilePath()), QSettings::IniFormat);
        QVERIFY(file.value(QStringLiteral("work.history")).toString().contains(QStringLiteral("p11.zya2")));
        HistoryListView again;
        QCOMPARE(again.paths(), expected);
        QCOMPARE(again.itemWidget(0)->path(), expected.first());
    }

    void savingAgainMovesTheProjectToTheTop_data() {
        QTest::addColumn<QString>("spelling");
        QTest::newRow("same path") << "%1/b.zya2";
        QTest::newRow("with ./") << "%1/./b.zya2";
        QTest::newRow("through ..") << "%1/sub/../b.zya2";
    }
    void savingAgainMovesTheProjectToTheTop() {
        QFETCH(QString, spelling);
        QDir(folder).mkdir(QStringLiteral("sub"));
        const QString a = makeProject(folder, QStringLiteral("a.zya2"));
        const QString b = makeProject(folder, QStringLiteral("b.zya2"));
        const QString c = makeProject(folder, QStringLiteral("c.zya2"));
        HistoryListView list;
        for (const QString& p : {a, b, c})
            list.prependProject(p);
        const QString again = spelling.arg(folder);
        list.prependProject(again);
        QCOMPARE(list.paths(), (QStringList{again, c, a}));
        QCOMPARE(storedHistory(), (QStringList{again, c, a}));
        list.prependProject(QStringLiteral("   ")); // no such project
        QCOMPARE(list.count(), 3);
    }

    void readsWhatTheStoreHolds_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("rows");
        const QString pipe = QStringLiteral("/projects/a|b.zya2");
        QTest::newRow("empty") << "" << QStringList();
        QTest::newRow("not a list") << "/x.zya2|/y.zya2" << QStringList();
        QTest::newRow("blanks, spaces and a repeat")
            << QString::fromStdString(
                   bg::Interface::encodeTextList({" /p/one.zya2 ", "", "  ", "/p/two.zya2", "/p/one.zya2"}))
            << QStringList{QStringLiteral("/p/one.zya2"), QStringLiteral("/p/two.zya2")};
        QTest::newRow("a path holding |")
            << QString::fromStdString(bg::Interface::encodeTextList({pipe.toStdString(), "/p/two.zya2"}))
            << QStringList{pipe, QStringLiteral("/p/two.zya2")};
    }
    void readsWhatTheStoreHolds() {
        QFETCH(QString, stored);
        QFETCH(QStringList, rows);
        bg::iface()->configSet("work.history", stored.toStdString());
        {
            HistoryListView list;
            QCOMPARE(list.paths(), rows);
            for (int i = 0; i < rows.size(); ++i) {
                QVERIFY(list.itemWidget(i));
                QCOMPARE(list.itemWidget(i)->findChild<QLabel*>("label_time")->text(),
                         QStringLiteral("historyitemwidget.FileMiss"));
            }
        }
        QCOMPARE(storedHistory(), rows);
    }

    void rowShowsTheProject() {
        const QString path = makeProject(folder, QStringLiteral("show.zya2"));
        HistoryListView list;
        list.prependProject(path);
        HistoryItemWidget* row = list.itemWidget(0);
        QVERIFY(
            row->findChild<QLabel*>("label_openProject")->text().contains(QStringLiteral(">show.zya2</a>")));
        QCOMPARE(row->findChild<QLabel*>("label_path")->text(), path);
        const QString time = row->findChild<QLabel*>("label_time")->text();
        QVERIFY(!time.isEmpty() && time != QLatin1String("historyitemwidget.FileMiss"));
        QCOMPARE(row->toolTip(), QStringLiteral("historyitemwidget.OpenProjectshow.zya2"));
    }

    void removingAnEntry() {
        const QString a = makeProject(folder, QStringLiteral("a.zya2"));
        const QString b = makeProject(folder, QStringLiteral("b.zya2"));
        auto list = shownList();
        list->prependProject(a);
        list->prependProject(b);
        QPointer<HistoryItemWidget> row = list->itemWidget(1);
        QCOMPARE(row->path(), a);
        row->findChild<QAction*>("action_remove")->trigger();
        QTRY_COMPARE(list->paths(), QStringList{b});
        QCOMPARE(storedHistory(), QStringList{b});
        QTRY_VERIFY(row.isNull());
        QVERIFY(QFileInfo::exists(a)); // off the list, not off the disk
    }

    void renameRules_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("typed"); // null: confirm what the edit was filled with
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("message"); // empty: no message
        QTest::addColumn<QString>("result");  // the row's file name afterwards
        QTest::newRow("new name") << "proj.zya2"
                                  << "new"
                                  << ""
                                  << ""
                                  << "new.zya2";
        QTest::newRow("suffix in other case") << "proj.zya2"
                                              << "new.ZYA2"
                                              << ""
                                              << ""
                                              << "new.ZYA2";
        QTest::newRow("spaces trimmed") << "proj.zya2"
                                        << "  spaced "
                                        << ""
                                        << ""
                                        << "spaced.zya2";
        QTest::newRow("empty") << "proj.zya2"
                               << "   "
                               << ""
                               << ""
                               << "proj.zya2";
        QTest::newRow("same name") << "proj.zya2"
                                   << "proj"
                                   << ""
                                   << ""
                                   << "proj.zya2";
        QTest::newRow("name with dots kept whole") << "my.cut.zya2" << QString() << ""
                                                   << ""
                                                   << "my.cut.zya2";
        QTest::newRow("forbidden character")
            << "proj.zya2"
            << "a:b"
            << "" << QString::fromUtf8("historyitemwidget.NameList: \\/:*?\"<>|？") << "proj.zya2";
        QTest::newRow("name taken") << "proj.zya2"
                                    << "taken"
                                    << ""
                                    << "historyitemwidget.AreadyExist"
                                    << "proj.zya2";
        QTest::newRow("the open project") << "proj.zya2"
                                          << "new"
                                          << "open"
                                          << "historyitemwidget.ProjectOpen"
                                          << "proj.zya2";
        QTest::newRow("file gone") << "proj.zya2"
                                   << "new"
                                   << "gone"
                                   << "historyitemwidget.FileNoExist"
                                   << "proj.zya2";
    }
    void renameRules() {
        QFETCH(QString, fileName);
        QFETCH(QString, typed);
        QFETCH(QString, situation);
        QFETCH(QString, message);
        QFETCH(QString, result);
        const QString path = makeProject(folder, fileName, "mine");
        const QString taken = makeProject(folder, QStringLiteral("taken.zya2"), "other");
        auto list = shownList();
        list->prependProject(taken);
        list->prependProject(path);
        if (situation == QLatin1String("open"))
            list->setCurrentProjectQuery([path] { return path; });
        else
            list->setCurrentProjectQuery([taken] { return taken; });
        if (situation == QLatin1String("gone"))
            QVERIFY(QFile::remove(path));

        HistoryItemWidget* row = list->itemWidget(0);
        auto* edit = row->findChild<QLineEdit*>("lineEdit_rename");
        auto* link = row->findChild<QLabel*>("label_openProject");
        row->findChild<QAction*>("action_rename")->trigger();
        QVERIFY(row->isRenaming());
        QVERIFY(link->isHidden());
        QCOMPARE(edit->text(), QFileInfo(fileName).completeBaseName());
        if (!typed.isNull())
            edit->setText(typed);
        QTest::keyClick(edit, Qt::Key_Return);

        QTRY_VERIFY(!row->isRenaming());
        QVERIFY(!link->isHidden());
        if (message.isEmpty())
            QVERIFY2(boxesSeen.isEmpty(), qPrintable(boxesSeen.join('\n')));
        else
            QVERIFY2(boxesSeen.size() == 1 && boxesSeen[0].startsWith(message),
                     qPrintable(boxesSeen.join('\n')));
        const QString now = folder + QLatin1Char('/') + result;
        QCOMPARE(row->path(), now);
        QCOMPARE(list->paths(), (QStringList{now, taken}));
        QCOMPARE(storedHistory(), (QStringList{now, taken}));
        if (situation != QLatin1String("gone"))
            QCOMPARE(readFile(now), QByteArray("mine"));
        if (now != path)
            QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(readFile(taken), QByteArray("other"));
    }

    void escapeCancelsTheRename() {
        const QString path = makeProject(folder, QStringLiteral("keep.zya2"));
        auto list = shownList();
        list->prependProject(path);
        HistoryItemWidget* row = list->itemWidget(0);
        row->startRename();
        auto* edit = row->findChild<QLineEdit*>("lineEdit_rename");
        edit->setText(QStringLiteral("other"));
        QTest::keyClick(edit, Qt::Key_Escape);
        QVERIFY(!row->isRenaming());
        QTest::qWait(50);
        QVERIFY(boxesSeen.isEmpty());
        QVERIFY(QFileInfo::exists(path));
        QCOMPARE(row->path(), path);
    }

    void openRequestsReachThePanel() {
        zya::UndoController::instance();
        const QString path = makeProject(folder, QStringLiteral("open.zya2"));
        ResourceWidget panel;
        HistoryListView* list = panel.historyList();
        QVERIFY(list);
        QCOMPARE(list->parentWidget(), panel.page(ResourceWidget::PageWorks));
        list->prependProject(path);
        QSignalSpy fromList(list, &HistoryListView::signal_openProject);
        QSignalSpy fromPanel(&panel, &ResourceWidget::sig_openProject);
        HistoryItemWidget* row = list->itemWidget(0);
        row->findChild<QAction*>("action_edit")->trigger();
        emit row->findChild<QLabel*>("label_openProject")->linkActivated(QStringLiteral("ignored"));
        emit row->findChild<QLabel*>("label_open")->linkActivated(QStringLiteral("open"));
        QTest::mouseDClick(row, Qt::LeftButton);
        QCOMPARE(fromList.count(), 4);
        for (const QList<QVariant>& call : fromList)
            QCOMPARE(call.at(0).toString(), path);
        QCOMPARE(fromPanel.count(), 0); // queued: the row finishes its click first
        QTRY_COMPARE(fromPanel.count(), 4);
        QCOMPARE(fromPanel.at(0).at(0).toString(), path);
    }
};

KORVEL_GUI_TEST_MAIN(TestHistoryListView)
#include "tst_historylist_view.moc"
