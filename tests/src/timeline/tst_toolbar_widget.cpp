// The editing toolbar: undo and redo following the history, the auto-align
// switch with its one-time hint, Shift toggling, the inverted zoom slider,
// the play-head time, export on an empty timeline and the enabling rules.
#include "support/test-main.h"
#include "timeline/toolbar-widget.h"
#include "undo/undo-controller.h"
#include "values/value-init.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QUndoCommand>

#include <memory>

namespace {

class SetValue : public QUndoCommand {
public:
    SetValue(int* target, int value) : m_target(target), m_old(*target), m_new(value) {}
    void redo() override { *m_target = m_new; }
    void undo() override { *m_target = m_old; }

private:
    int* m_target;
    int m_old;
    int m_new;
};

std::string configText(const char* key) {
    std::string text;
    return bg::iface()->configGet(key, &text) ? text : std::string("(absent)");
}

} // namespace

class TestToolBarWidget : public QObject {
    Q_OBJECT

    std::unique_ptr<ToolBarWidget> bar;
    QTimer boxWatcher;
    QStringList boxesSeen;
    QMessageBox::ButtonRole answer = QMessageBox::AcceptRole;

    QToolButton* button(const char* name) { return bar->findChild<QToolButton*>(name); }
    QCheckBox* autoAlign() { return bar->findChild<QCheckBox*>("checkBox_auto_align"); }
    QSlider* slider() { return bar->findChild<QSlider*>("horizontalSlider_scale"); }
    QLabel* timeLabel() { return bar->findChild<QLabel*>("label_time"); }

    // Answers any message box the toolbar opens, so no test waits on one.
    void answerBoxes() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        boxesSeen << box->text();
        for (QAbstractButton* b : box->buttons())
            if (box->buttonRole(b) == answer) {
                b->click();
                return;
            }
        box->reject();
    }

private slots:
    void initTestCase() {
        boxWatcher.setInterval(20);
        connect(&boxWatcher, &QTimer::timeout, this, &TestToolBarWidget::answerBoxes);
        boxWatcher.start();
    }

    void init() {
        bg::iface()->configClear();
        boxesSeen.clear();
        answer = QMessageBox::AcceptRole;
        bar = std::make_unique<ToolBarWidget>();
        QVERIFY(button("pushButton_undo") && button("pushButton_redo") && button("pushButton_split") &&
                button("pushButton_audio") && button("pushButton_edit") && button("pushButton_subtitle") &&
                button("pushButton_clear") && button("pushButton_export") && autoAlign() && slider() &&
                timeLabel());
    }
    void cleanup() {
        bar.reset();
        zya::UndoController::destroyInstance();
    }

    void startsWithEditingButtonsDisabled() {
        QVERIFY(!button("pushButton_undo")->isEnabled());
        QVERIFY(!button("pushButton_redo")->isEnabled());
        QVERIFY(!button("pushButton_split")->isEnabled());
        QVERIFY(!button("pushButton_edit")->isEnabled());
        QVERIFY(button("pushButton_clear")->isEnabled());
        QVERIFY(button("pushButton_audio")->isCheckable());
        QCOMPARE(timeLabel()->text(), QStringLiteral("00:00:00,00"));

        QSignalSpy split(bar.get(), &ToolBarWidget::sig_splitSourceItem);
        QTest::mouseClick(button("pushButton_split"), Qt::LeftButton);
        QCOMPARE(split.count(), 0);
        bar->slot_splitButtonEnable(true);
        bar->slot_editButtonEnable(true);
        bar->slot_clearButtonEnable(false);
        QVERIFY(button("pushButton_split")->isEnabled());
        QVERIFY(button("pushButton_edit")->isEnabled());
        QVERIFY(!button("pushButton_clear")->isEnabled());
        QTest::mouseClick(button("pushButton_split"), Qt::LeftButton);
        QCOMPARE(split.count(), 1);
    }

    void undoRedoFollowHistory() {
        int value = 0;
        auto* undo = zya::UndoController::instance();
        undo->stack.push(new SetValue(&value, 7));
        QCOMPARE(value, 7);
        QVERIFY(button("pushButton_undo")->isEnabled());
        QVERIFY(!button("pushButton_redo")->isEnabled());

        QSignalSpy ui(bar.get(), &ToolBarWidget::sig_opertorUi);
        QTest::mouseClick(button("pushButton_undo"), Qt::LeftButton);
        QCOMPARE(value, 0);
        QVERIFY(!button("pushButton_undo")->isEnabled());
        QVERIFY(button("pushButton_redo")->isEnabled());
        QCOMPARE(ui.count(), 1);
        QCOMPARE(ui.at(0).at(1).toBool(), true);

        QTest::mouseClick(button("pushButton_redo"), Qt::LeftButton);
        QCOMPARE(value, 7);
        QVERIFY(button("pushButton_undo")->isEnabled());
        QVERIFY(!button("pushButton_redo")->isEnabled());
    }

    void hintShownOnceAfterNoPrompts() {
        QSignalSpy aligned(bar.get(), &ToolBarWidget::sig_autoAlign);
        QTRY_COMPARE(aligned.count(), 1); // the start-up report
        answer = QMessageBox::RejectRole; // "No prompts"
        autoAlign()->click();
        QCOMPARE(boxesSeen.size(), 1);
        QCOMPARE(boxesSeen.at(0), bar->tr("toolbar_form.DragAlign"));
        QCOMPARE(configText("autoAlignHint"), std::string("0"));
        QCOMPARE(configText("autoAlign"), std::string("1"));
        QCOMPARE(aligned.last().at(0).toBool(), true);

        autoAlign()->click(); // off: never a hint
        QCOMPARE(configText("autoAlign"), std::string("0"));
        autoAlign()->click();
        QCOMPARE(boxesSeen.size(), 1);
        QVERIFY(autoAlign()->isChecked());

        // Written to the file, so a restart keeps it.
        QFile file(QString::fromStdString(bg::iface()->configFilePath()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("autoAlignHint"));
    }

    void okKeepsTheHint() {
        autoAlign()->click();
        autoAlign()->click();
        autoAlign()->click();
        QCOMPARE(boxesSeen.size(), 2);
        QCOMPARE(configText("autoAlignHint"), std::string("(absent)"));
    }

    void startReadsStoredSwitch() {
        bar.reset();
        bg::configSetBool("autoAlign", true);
        bar = std::make_unique<ToolBarWidget>();
        QSignalSpy aligned(bar.get(), &ToolBarWidget::sig_autoAlign);
        QTRY_COMPARE(aligned.count(), 1);
        QCOMPARE(aligned.at(0).at(0).toBool(), true);
        QVERIFY(autoAlign()->isChecked());
    }

    void shiftTogglesWithoutHint() {
        QSignalSpy aligned(bar.get(), &ToolBarWidget::sig_autoAlign);
        QTRY_COMPARE(aligned.count(), 1);
        bar->toggleAutoAlign(); // Shift pressed
        QVERIFY(autoAlign()->isChecked());
        QCOMPARE(aligned.last().at(0).toBool(), true);
        QCOMPARE(configText("autoAlign"), std::string("1"));
        bar->toggleAutoAlign(); // released
        QVERIFY(!autoAlign()->isChecked());
        QCOMPARE(aligned.last().at(0).toBool(), false);
        QCOMPARE(configText("autoAlign"), std::string("0"));
        QCOMPARE(aligned.count(), 3);
        QVERIFY(boxesSeen.isEmpty());
    }

    void zoomSliderIsInverted() {
        QSlider* s = slider();
        QCOMPARE(s->maximum() - s->value(), 12);
        QSignalSpy level(bar.get(), &ToolBarWidget::sig_scaleSliderValue);
        QTest::keyClick(s, Qt::Key_Right); // right zooms in: a lower level
        QCOMPARE(level.count(), 1);
        QCOMPARE(level.at(0).at(0).toInt(), 11);
        s->setValue(s->maximum());
        QCOMPARE(level.last().at(0).toInt(), 0);

        level.clear();
        bar->slot_scaleSliderValueChanged(20); // the view zoomed: no echo
        QCOMPARE(s->value(), s->maximum() - 20);
        QCOMPARE(level.count(), 0);
    }

    void timeText_data() {
        QTest::addColumn<qint64>("frame");
        QTest::addColumn<QString>("text");
        QTest::newRow("65") << qint64(65) << "00:00:02,05";
        QTest::newRow("11 h") << qint64(1234560) << "11:25:52,00";
    }
    void timeText() {
        QFETCH(qint64, frame);
        bar->slot_showTime(frame, frame + 10);
        QTEST(timeLabel()->text(), "text");
        QCOMPARE(bar->length(), int64_t(frame + 10));
    }

    void exportNeedsContent() {
        QSignalSpy shown(bar.get(), &ToolBarWidget::sig_showExport);
        QTest::mouseClick(button("pushButton_export"), Qt::LeftButton);
        QCOMPARE(boxesSeen, QStringList{bar->tr("exportmvwindow.CantBeEmpty")});
        QCOMPARE(shown.count(), 0);
        bar->slot_showTime(0, 30);
        QTest::mouseClick(button("pushButton_export"), Qt::LeftButton);
        QCOMPARE(shown.count(), 1);
        QCOMPARE(boxesSeen.size(), 1);
    }
};

KORVEL_GUI_TEST_MAIN(TestToolBarWidget)
#include "tst_toolbar_widget.moc"
