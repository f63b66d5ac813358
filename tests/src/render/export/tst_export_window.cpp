// The export settings window and the progress dialog, driven through their
// controls: what reaches the export callback, what is refused and with which
// message, what is remembered, and what the progress dialog shows and does.
#include "render/export/export-param-widget.h"
#include "render/export/export-process-dialog.h"
#include "support/test-main.h"
#include "value/interface.h"

#include <QApplication>
#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QCheckBox>
#include <QTimer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

class TestExportWindow : public QObject {
    Q_OBJECT

    QTimer boxWatcher;
    QStringList boxesSeen; // "title|text" of every box answered
    bool answerYes = false;
    QString folderToChoose;
    QString folder;

    void answerBoxes() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* chooser = qobject_cast<QFileDialog*>(modal)) {
            korvel::test::chooseInFileDialog(chooser, folderToChoose);
            return;
        }
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box)
            return;
        boxesSeen << box->windowTitle() + '|' + box->text();
        if (answerYes && box->button(QMessageBox::Yes))
            box->button(QMessageBox::Yes)->click();
        else if (box->button(QMessageBox::No))
            box->button(QMessageBox::No)->click();
        else
            box->button(QMessageBox::Ok)->click();
    }

    template <typename T> static T* child(QWidget* w, const char* name) {
        T* c = w->findChild<T*>(QString::fromLatin1(name));
        if (!c)
            qFatal("no %s", name);
        return c;
    }

    struct Window {
        std::unique_ptr<ExportParamWidget> widget;
        QList<MVParams> received;
    };

    std::unique_ptr<Window> shownWindow() {
        auto w = std::make_unique<Window>();
        Window* raw = w.get();
        w->widget = std::make_unique<ExportParamWidget>([raw](MVParams* p) { raw->received << *p; });
        w->widget->showForExport();
        if (!QTest::qWaitForWindowExposed(w->widget.get()))
            qFatal("the export window was not shown");
        if (!ExportParamWidget::advancedShown())
            QTest::mouseClick(child<QPushButton>(w->widget.get(), "pushButton_premium"), Qt::LeftButton);
        return w;
    }

    static void setName(QWidget* w, const QString& name) {
        auto* edit = child<QLineEdit>(w, "lineEdit_name");
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        // QTest types ASCII only; other characters arrive as typed text would.
        bool ascii = true;
        for (const QChar c : name)
            ascii = ascii && c.unicode() < 128;
        if (ascii)
            QTest::keyClicks(edit, name);
        else
            edit->insert(name);
    }
    static void setFolderText(QWidget* w, const QString& text) {
        auto* edit = child<QLineEdit>(w, "lineEdit_path");
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }
    static void clickExport(QWidget* w) {
        QTest::mouseClick(child<QPushButton>(w, "pushButton_export"), Qt::LeftButton);
    }

private slots:
    void initTestCase() {
        QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        boxWatcher.setInterval(20);
        connect(&boxWatcher, &QTimer::timeout, this, &TestExportWindow::answerBoxes);
        boxWatcher.start();
    }
    void init() {
        bg::iface()->configClear();
        boxesSeen.clear();
        answerYes = false;
        folder = korvel::test::workFolder(QStringLiteral("export"));
        bg::iface()->configSet("export_default_path", folder.toStdString());
    }

    void presetsFollowTheSceneSize() {
        auto w = shownWindow();
        auto* sizes = child<QComboBox>(w->widget.get(), "comboBox_resolution");
        const QStringList presets = ExportParamWidget::presetSizes();
        w->widget->slot_updateSceneSize(1366, 768);
        QStringList expected = QStringList{"1366 x 768"} + presets;
        QStringList shown;
        for (int i = 0; i < sizes->count(); ++i)
            shown << sizes->itemText(i);
        QCOMPARE(shown, expected);
        QCOMPARE(sizes->currentText(), QStringLiteral("1366 x 768"));
        QVERIFY(child<QLabel>(w->widget.get(), "label_srcSize")->text().contains(QStringLiteral("1366 x 768")) ||
                child<QLabel>(w->widget.get(), "label_srcSize")->text() == QStringLiteral("exportmvwindow.SrcSize"));
        // A later project of a preset size drops the old project's entry.
        w->widget->slot_updateSceneSize(1920, 1080);
        QCOMPARE(sizes->count(), presets.size());
        QCOMPARE(sizes->currentText(), QStringLiteral("1920 x 1080"));
    }

    void recommendedBitRate_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("fps");
        QTest::addColumn<int>("kbps");
        QTest::newRow("1080p25") << 1920 << 1080 << 25 << 5000;
        QTest::newRow("720p30") << 1280 << 720 << 30 << 2700;
        QTest::newRow("480p30") << 640 << 480 << 30 << 900;
        QTest::newRow("smallest") << 96 << 96 << 5 << 100;
    }
    void recommendedBitRate() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, fps);
        QFETCH(int, kbps);
        QCOMPARE(ExportParamWidget::recommendedBitRate(width, height, fps), kbps);
    }

    void refusesWhatCannotBeExported_data() {
        QTest::addColumn<QString>("folderText");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty name") << QString() << QString() << "exportmvwindow.NameEmpty";
        QTest::newRow("colon") << QString() << "a:b" << "historyitemwidget.NameList";
        QTest::newRow("full-width question mark") << QString() << QString("why") + QChar(0xFF1F)
                                                  << "historyitemwidget.NameList";
        QTest::newRow("missing folder") << "/no/such/folder/" << "clip" << "exportmvwindow.dirNoneExist";
        QTest::newRow("a file, not a folder") << "FILE" << "clip" << "exportmvwindow.dirNoneExist";
        QTest::newRow("path too long") << QString() << QString(300, QChar(0x00E9)) << "exportmvwindow.PathTooLong";
        // Its hidden name while it is written would pass 255 bytes.
        QTest::newRow("name too long") << QString() << QString(240, 'a') << "exportmvwindow.NameTooLong";
    }
    void refusesWhatCannotBeExported() {
        QFETCH(QString, folderText);
        QFETCH(QString, name);
        QFETCH(QString, message);
        auto w = shownWindow();
        if (folderText == QLatin1String("FILE")) {
            folderText = folder + "/plain.txt";
            QFile f(folderText);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        if (!folderText.isEmpty())
            setFolderText(w->widget.get(), folderText);
        setName(w->widget.get(), name);
        clickExport(w->widget.get());
        QCOMPARE(boxesSeen.size(), 1);
        QVERIFY2(boxesSeen.first().contains(message), qPrintable(boxesSeen.first()));
        QVERIFY(w->received.isEmpty());
        QVERIFY(w->widget->isVisible()); // the user can correct and retry
    }

    void asksBeforeReplacingAFile() {
        auto w = shownWindow();
        setName(w->widget.get(), "taken");
        QFile existing(folder + "/taken.mp4");
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("keep me");
        existing.close();
        clickExport(w->widget.get());
        QCOMPARE(boxesSeen.size(), 1);
        QVERIFY(boxesSeen.first().contains("exportmvwindow.FileExists"));
        QVERIFY(w->received.isEmpty());
        answerYes = true;
        clickExport(w->widget.get());
        QCOMPARE(w->received.size(), 1);
        QCOMPARE(QString::fromUtf8(w->received.first().filePath), folder + "/taken.mp4");
    }

    // Return exports and Escape closes, as in any dialog.
    void returnExportsAndEscapeCloses() {
        auto w = shownWindow();
        setName(w->widget.get(), "by-keys");
        // Without a window manager the window is made the active one here.
        QApplication::setActiveWindow(w->widget.get());
        QTest::keyClick(child<QLineEdit>(w->widget.get(), "lineEdit_name"), Qt::Key_Return);
        QCOMPARE(w->received.size(), 1);
        w->widget->showForExport();
        QVERIFY(QTest::qWaitForWindowExposed(w->widget.get()));
        QApplication::setActiveWindow(w->widget.get());
        QTest::keyClick(child<QLineEdit>(w->widget.get(), "lineEdit_name"), Qt::Key_Escape);
        QVERIFY(!w->widget->isVisible());
        QCOMPARE(w->received.size(), 1);
        // In an open list both keys are the list's: Return picks, Escape
        // closes the list, and the window neither exports nor closes.
        w->widget->showForExport();
        QVERIFY(QTest::qWaitForWindowExposed(w->widget.get()));
        QApplication::setActiveWindow(w->widget.get());
        auto* extension = child<QComboBox>(w->widget.get(), "comboBox_extension");
        extension->setCurrentText(".mp4");
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            extension->showPopup();
            QTRY_VERIFY(QApplication::activePopupWidget());
            QTest::keyClick(extension->view(), Qt::Key_Up);
            QTest::keyClick(extension->view(), key);
            QTRY_VERIFY(!QApplication::activePopupWidget());
            QVERIFY(w->widget->isVisible());
            QCOMPARE(w->received.size(), 1);
        }
        QCOMPARE(extension->currentText(), QString(".mp3"));
    }

    // The user's own subtitles beside a new export are asked about too;
    // a name typed with its extension keeps one; and an export to a file
    // that an export waiting or running writes is refused.
    void protectsTheFilesOfOthers() {
        auto w = shownWindow();
        auto* srt = child<QCheckBox>(w->widget.get(), "checkBox_srt");
        srt->setChecked(true);
        setName(w->widget.get(), "film.mp4");
        QFile own(folder + "/film.srt");
        QVERIFY(own.open(QIODevice::WriteOnly));
        own.close();
        clickExport(w->widget.get());
        QCOMPARE(boxesSeen.size(), 1);
        QVERIFY2(boxesSeen.first().contains("exportmvwindow.FileExists"), qPrintable(boxesSeen.first()));
        QVERIFY(w->received.isEmpty());
        answerYes = true;
        clickExport(w->widget.get());
        QCOMPARE(w->received.size(), 1);
        QCOMPARE(QString::fromUtf8(w->received.first().filePath), folder + "/film.mp4");

        // Refused with one message, nothing exported.
        auto refused = [&](const QString& name, const char* message) {
            boxesSeen.clear();
            setName(w->widget.get(), name);
            clickExport(w->widget.get());
            QCOMPARE(boxesSeen.size(), 1);
            QVERIFY2(boxesSeen.first().contains(message), qPrintable(boxesSeen.first()));
            QCOMPARE(w->received.size(), 1);
        };
        w->widget->setOutputInUse([this](const QString& path) { return path == folder + "/busy.mp4"; });
        w->widget->showForExport();
        refused("busy", "exportmvwindow.OutputInUse");
        // Another export's subtitles, which this one would write over.
        w->widget->setOutputInUse([this](const QString& path) { return path == folder + "/titled.srt"; });
        refused("titled", "exportmvwindow.OutputInUse");
        // One of the project's own files is refused before anything starts.
        w->widget->setReadByProject([this](const QString& path) { return path == folder + "/clip.mp4"; });
        refused("clip", "exportmvwindow.ReadByProject");
    }

    void fillsTheRecord_data() {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("fps");
        QTest::addColumn<QString>("size"); // empty: custom 640 x 360
        QTest::addColumn<int>("bitRateChoice"); // -1: custom 3000
        QTest::addColumn<QString>("playRate");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("bitRate");
        QTest::addColumn<int>("keyFrames");
        QTest::addColumn<double>("rate");
        QTest::newRow("mp4 recommend") << ".mp4" << "25" << "1920 x 1080" << 2 << "1.0" << 1920 << 1080 << 5000 << 25
                                       << 1.0;
        QTest::newRow("avi size minimum") << ".avi" << "15" << "640 x 480" << 1 << "2.0" << 640 << 480 << 0 << 120
                                          << 2.0;
        QTest::newRow("mp4 film rate") << ".mp4" << "24" << "1280 x 720" << 0 << "1.0" << 1280 << 720 << 0 << 24
                                       << 1.0;
        QTest::newRow("mp4 custom") << ".mp4" << "30" << "" << -1 << "0.5" << 640 << 360 << 3000 << 30 << 0.5;
        QTest::newRow("mp3 quality") << ".mp3" << "30" << "1280 x 720" << 0 << "1.25" << 1280 << 720 << 0 << 30
                                     << 1.25;
    }
    void fillsTheRecord() {
        QFETCH(QString, extension);
        QFETCH(QString, fps);
        QFETCH(QString, size);
        QFETCH(int, bitRateChoice);
        QFETCH(QString, playRate);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, bitRate);
        QFETCH(int, keyFrames);
        QFETCH(double, rate);
        auto w = shownWindow();
        QWidget* win = w->widget.get();
        // A folder typed without its trailing "/" still holds the file.
        setFolderText(win, folder);
        setName(win, "clip");
        child<QComboBox>(win, "comboBox_extension")->setCurrentText(extension);
        child<QComboBox>(win, "comboBox_fps")->setCurrentText(fps);
        child<QComboBox>(win, "comboBox_playRate")->setCurrentText(playRate);
        if (size.isEmpty()) {
            QTest::mouseClick(child<QRadioButton>(win, "radioButton_resolution_custom"), Qt::LeftButton);
            QVERIFY(child<QSpinBox>(win, "spinBox_width")->isEnabled());
            QVERIFY(!child<QComboBox>(win, "comboBox_resolution")->isEnabled());
            child<QSpinBox>(win, "spinBox_width")->setValue(640);
            child<QSpinBox>(win, "spinBox_height")->setValue(360);
        } else {
            child<QComboBox>(win, "comboBox_resolution")->setCurrentText(size);
        }
        if (bitRateChoice < 0) {
            QTest::mouseClick(child<QRadioButton>(win, "radioButton_rate_custom"), Qt::LeftButton);
            auto* spin = child<QSpinBox>(win, "spinBox_bitrate");
            QVERIFY(spin->isEnabled());
            spin->setValue(3000);
        } else {
            child<QComboBox>(win, "comboBox_bitrate")->setCurrentIndex(bitRateChoice);
        }
        clickExport(win);
        QVERIFY2(boxesSeen.isEmpty(), qPrintable(boxesSeen.join('\n')));
        QCOMPARE(w->received.size(), 1);
        const MVParams& p = w->received.first();
        QCOMPARE(QString::fromUtf8(p.filePath), folder + "/clip" + extension);
        QCOMPARE(int(p.audioOnly), extension == ".mp3" ? 1 : 0);
        QCOMPARE(int(p.gif), 0);
        QCOMPARE(p.frameRate, fps.toInt());
        QCOMPARE(p.keyFrameInterval, keyFrames);
        QCOMPARE(p.width, width);
        QCOMPARE(p.height, height);
        QCOMPARE(p.bitRate, bitRate);
        QCOMPARE(p.playRate, rate);
        QCOMPARE(p.channels, 2);
        QCOMPARE(p.reserved, 0);
        QVERIFY(!win->isVisible());
    }

    void remembersTheChosenFolder() {
        const QString chosen = korvel::test::workFolder(QStringLiteral("chosen"));
        {
            auto w = shownWindow();
            folderToChoose = chosen;
            QTest::mouseClick(child<QPushButton>(w->widget.get(), "pushButton_path"), Qt::LeftButton);
            QCOMPARE(w->widget->folder(), chosen);
            QCOMPARE(child<QLineEdit>(w->widget.get(), "lineEdit_path")->text(), chosen + "/");
        }
        QCOMPARE(QString::fromStdString(bg::configText("export_default_path")), chosen);
        ExportParamWidget again(nullptr);
        QCOMPARE(again.folder(), chosen);
        // A saved folder that has gone falls back to one that exists.
        QVERIFY(QDir(chosen).removeRecursively());
        ExportParamWidget later(nullptr);
        QVERIFY(QFileInfo(later.folder()).isDir());
    }

    void progressShowsDoneOfTotal_data() {
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<QString>("text");
        QTest::newRow("unknown total") << qint64(5) << qint64(0) << 0 << 1 << "";
        QTest::newRow("half") << qint64(150) << qint64(300) << 150 << 300 << " 150 / 300";
        QTest::newRow("past the end") << qint64(310) << qint64(300) << 300 << 300 << " 300 / 300";
        QTest::newRow("beyond int") << qint64(1) << (qint64(1) << 33) << 0 << int((qint64(1) << 33) / 8)
                                    << QString(" 1 / %1").arg(qint64(1) << 33);
    }
    void progressShowsDoneOfTotal() {
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QFETCH(int, value);
        QFETCH(int, maximum);
        QFETCH(QString, text);
        ExportProcessDialog dialog(nullptr);
        dialog.progress(done, total);
        QCOMPARE(dialog.value(), value);
        QCOMPARE(dialog.maximum(), maximum);
        QCOMPARE(dialog.progressText(), QStringLiteral("exportmvdialog.Time") + text);
    }

    void doneAndCloseStopTheExportOnce() {
        int stops = 0;
        ExportProcessDialog dialog([&stops] { ++stops; });
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::mouseClick(dialog.findChild<QPushButton*>("pushButton_acheive"), Qt::LeftButton);
        QCOMPARE(stops, 1);
        QVERIFY(!dialog.isVisible());
        dialog.show();
        dialog.close();
        QCOMPARE(stops, 1);

        int later = 0;
        ExportProcessDialog ended([&later] { ++later; });
        ended.setFolderOpener([](const QString&) { return true; });
        ended.show();
        ExportResult ok;
        ok.ok = true;
        ok.path = folder + "/none-needed.mp4";
        QFile(ok.path).open(QIODevice::WriteOnly);
        ended.finished(ok);
        ended.close(); // after the end nothing is left to stop
        QCOMPARE(later, 0);
    }

    // The export runs beside the editor: the window is not modal, and
    // "Running in the background" puts it aside without stopping anything
    // or minimising the editor.
    void runningInTheBackgroundPutsTheWindowAside() {
        QList<bg::Value> seen;
        const int handle = bg::iface()->subscribe(
            "showMini", [&seen](const std::string&, const bg::Value& v, const bg::Interface::Reply&) { seen << v; });
        int stops = 0;
        ExportProcessDialog dialog([&stops] { ++stops; });
        QSignalSpy aside(&dialog, &ExportProcessDialog::sig_putAside);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(!QApplication::activeModalWidget());
        QTest::mouseClick(dialog.findChild<QPushButton*>("pushButton_runback"), Qt::LeftButton);
        bg::iface()->unsubscribe(handle);
        QVERIFY(seen.isEmpty());
        QCOMPARE(aside.size(), 1);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(stops, 0); // the export goes on
    }

    void finishedShowsTheOutcome_data() {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("fileLeft");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<QString>("message");
        QTest::newRow("written") << true << true << QString() << true << QString();
        QTest::newRow("failed, nothing left") << false << false << "disk full" << false << "exportmvwindow.WriteFail";
        QTest::newRow("failed, partial file") << false << true << "disk full" << false << "exportmvwindow.WriteFail";
        QTest::newRow("ok but no file") << true << false << QString() << false << "exportmvwindow.fileinexistenError";
    }
    void finishedShowsTheOutcome() {
        QFETCH(bool, ok);
        QFETCH(bool, fileLeft);
        QFETCH(QString, reason);
        QFETCH(bool, opened);
        QFETCH(QString, message);
        QStringList shown;
        ExportProcessDialog dialog(nullptr);
        dialog.setFolderOpener([&shown](const QString& path) {
            shown << path;
            return true;
        });
        dialog.show();
        ExportResult result;
        result.ok = ok;
        result.reason = reason;
        result.path = folder + "/out.mp4";
        if (fileLeft) {
            QFile f(result.path);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        dialog.finished(result);
        QCOMPARE(shown, opened ? QStringList{result.path} : QStringList());
        if (message.isEmpty()) {
            QVERIFY(boxesSeen.isEmpty());
        } else {
            QCOMPARE(boxesSeen.size(), 1);
            QVERIFY2(boxesSeen.first().contains(message), qPrintable(boxesSeen.first()));
        }
        QVERIFY(!dialog.isVisible());
    }
};

KORVEL_GUI_TEST_MAIN(TestExportWindow)
#include "tst_export_window.moc"
