// The property panels on their own: loading a clip sends nothing, every
// edit carries the panel's full map and the changed field, the one-shot size
// command, the volume drag, the subtitle font's text form and colours, and
// the transition's alignment controls.
#include "menu/image-menu.h"
#include "menu/sound-source-menu.h"
#include "menu/subtitle-menu.h"
#include "menu/trans-menu.h"
#include "menu/video-menu.h"
#include "support/test-main.h"
#include "values/value-init.h"
#include "values/value-qt.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTextEdit>
#include <QTimer>
#include <QWheelEvent>

#include <functional>
#include <memory>

namespace {

struct Edit {
    MenuType type;
    bg::ValueMap map;
    std::string datatype;
};

// Collects a panel's edits.
class EditLog : public QObject {
public:
    explicit EditLog(AbstractMenu* menu) {
        connect(menu, &AbstractMenu::sig_updateData, this,
                [this](MenuType type, bg::ValueMap map, std::string datatype) {
                    edits.push_back({type, map, datatype});
                });
    }
    std::vector<Edit> edits;
};

bg::ValueMap visualMap() {
    bg::ValueMap map;
    map["uuid"] = bg::Value(std::string("{clip}"));
    map["path"] = bg::Value(std::string("/media/holiday.mp4"));
    map["X"] = bg::Value(12.7);
    map["Y"] = bg::Value(-4.2);
    map["W"] = bg::Value(640.0);
    map["H"] = bg::Value(360.0);
    map["rotate"] = bg::Value(30);
    map["transparent"] = bg::Value(200);
    map["size"] = bg::ValueQt(QSize(1920, 1080));
    map["rect"] = bg::ValueQt(QRect(10, 20, 800, 600));
    map["strech"] = bg::Value(0);
    map["temperature"] = bg::Value(-5);
    map["saturation"] = bg::Value(6);
    map["hue"] = bg::Value(7);
    map["contrast"] = bg::Value(8);
    map["bright"] = bg::Value(9);
    map["highlight"] = bg::Value(10);
    map["volume"] = bg::Value(99);
    map["mute"] = bg::Value(true);
    map["font"] = bg::Value(QFont("Sans", 36).toString().toStdString());
    map["color"] = bg::Value(std::string("#ff0000"));
    map["backgroundcolor"] = bg::Value(std::string("#00ff00"));
    map["content"] = bg::Value(std::string("Hello"));
    map["backgroundtransparent"] = bg::Value(40);
    map["direction"] = bg::Value(1);
    map["type"] = bg::Value(std::string("clip_box"));
    map["duration"] = bg::Value(1500);
    map["value"] = bg::Value(3);
    return map;
}

template <typename T> T* child(QWidget* parent, const char* name) {
    T* w = parent->findChild<T*>(QLatin1String(name));
    if (!w)
        qWarning("no child %s", name);
    return w;
}

// Answers the next colour dialog with colour (or cancels it with an invalid one).
void answerColorDialog(const QColor& colour) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, colour] {
        auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        poll->stop();
        poll->deleteLater();
        if (colour.isValid()) {
            dialog->setCurrentColor(colour);
            dialog->accept();
        } else {
            dialog->reject();
        }
    });
    poll->start(20);
}

} // namespace

class TestPropertyMenus : public QObject {
    Q_OBJECT

private slots:
    void loadingNeverSendsAnEdit_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("picture") << 0;
        QTest::newRow("video") << 1;
        QTest::newRow("dub") << 2;
        QTest::newRow("subtitle") << 3;
        QTest::newRow("audio") << 4;
        QTest::newRow("transition") << 5;
    }
    void loadingNeverSendsAnEdit() {
        QFETCH(int, kind);
        std::unique_ptr<AbstractMenu> menu;
        switch (kind) {
        case 0:
            menu = std::make_unique<ImageMenu>();
            break;
        case 1:
            menu = std::make_unique<VideoMenu>();
            break;
        case 2:
            menu = std::make_unique<AudioMenu>();
            break;
        case 3:
            menu = std::make_unique<SubtitleMenu>();
            break;
        case 4:
            menu = std::make_unique<MusicMenu>();
            break;
        default:
            menu = std::make_unique<TransMenu>();
            break;
        }
        menu->show();
        EditLog log(menu.get());
        menu->UpdateData(visualMap());
        bg::ValueMap other = visualMap();
        other["volume"] = bg::Value(3);
        other["mute"] = bg::Value(false);
        other["content"] = bg::Value(std::string("Other"));
        other["font"] = bg::Value(QFont("Serif", 12, QFont::Bold, true).toString().toStdString());
        other["value"] = bg::Value(10);
        menu->UpdateData(other);
        QCoreApplication::processEvents();
        QCOMPARE(int(log.edits.size()), 0);
    }

    void visualPanelShowsAndSendsTheWholeMap() {
        VideoMenu menu;
        menu.show();
        menu.UpdateData(visualMap());
        QCOMPARE(child<QSpinBox>(&menu, "videoX")->value(), 12); // doubles shown as whole pixels
        QCOMPARE(child<QSpinBox>(&menu, "videoY")->value(), -4);
        QCOMPARE(child<QLabel>(&menu, "videoVolumeLabel")->text(), QString("99"));
        QCOMPARE(child<QLineEdit>(&menu, "videoName")->text(), QString("holiday.mp4"));
        QCOMPARE(menu.clipRect(), QRect(10, 20, 800, 600));
        QCOMPARE(menu.sourceSize(), QSize(1920, 1080));
        QVERIFY(child<QRadioButton>(&menu, "radioButton_fill")->isChecked()); // strech 0

        EditLog log(&menu);
        auto* angle = child<QSpinBox>(&menu, "videoAngle");
        // A wheel turn over a box nobody is editing leaves it alone (the panel scrolls).
        QWheelEvent wheel(QPointF(5, 5), angle->mapToGlobal(QPoint(5, 5)), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(angle, &wheel);
        QCOMPARE(angle->value(), 30);
        angle->setValue(-90);
        emit angle->editingFinished();
        QCOMPARE(int(log.edits.size()), 1);
        const Edit& e = log.edits[0];
        QCOMPARE(e.type, MenuVideo);
        QCOMPARE(e.datatype, std::string("rotate"));
        QCOMPARE(e.map.get("rotate").toInt(), -90);
        QCOMPARE(e.map.get("X").type(), int16_t(bg::VT_DOUBLE));
        QCOMPARE(e.map.get("X").toDouble(), 12.0);
        QCOMPARE(bg::toQRect(e.map.get("rect")), QRect(10, 20, 800, 600));
        QCOMPARE(e.map.get("highlight").toInt(), 10);
        QCOMPARE(e.map.get("mute").toBool(), true);
        QCOMPARE(e.map.get("volume").toInt(), 99);

        // The picture panel has no sound and sends type 0.
        ImageMenu image;
        image.UpdateData(visualMap());
        EditLog imageLog(&image);
        emit child<QSpinBox>(&image, "imageX")->editingFinished();
        QCOMPARE(imageLog.edits.at(0).type, MenuPicture);
        QVERIFY(!imageLog.edits.at(0).map.contains("volume"));
    }

    void sizeCommandsTravelWithExactlyOneEdit() {
        VideoMenu menu;
        menu.UpdateData(visualMap());
        EditLog log(&menu);
        child<QPushButton>(&menu, "initialSize")->click();
        emit child<QSpinBox>(&menu, "videoWidth")->editingFinished();
        child<QPushButton>(&menu, "selfAdaption")->click();
        child<QPushButton>(&menu, "stretch")->click();
        QCOMPARE(int(log.edits.size()), 4);
        QCOMPARE(log.edits[0].datatype, std::string("sizeType"));
        QCOMPARE(log.edits[0].map.get("sizeType").toInt(), 1);
        QCOMPARE(log.edits[1].datatype, std::string("W"));
        QCOMPARE(log.edits[1].map.get("sizeType").toInt(), 0);
        QCOMPARE(log.edits[2].datatype, std::string("strech"));
        QCOMPARE(log.edits[2].map.get("strech").toInt(), 1);
        QCOMPARE(log.edits[2].map.get("sizeType").toInt(), 3);
        QCOMPARE(log.edits[3].datatype, std::string("strech"));
        QCOMPARE(log.edits[3].map.get("strech").toInt(), 0);
        QCOMPARE(log.edits[3].map.get("sizeType").toInt(), 2);
        QCOMPARE(menu.sizeType(), 0);
        // The fit buttons of the cropping page follow the last fit.
        QVERIFY(child<QRadioButton>(&menu, "radioButton_fill")->isChecked());
        child<QRadioButton>(&menu, "radioButton_keepRate")->click();
        QCOMPARE(log.edits.back().datatype, std::string("strech"));
        QCOMPARE(log.edits.back().map.get("strech").toInt(), 1);
        QCOMPARE(log.edits.back().map.get("sizeType").toInt(), 0);
    }

    void volumeDragSendsOneEditPerStep_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("slider");
        QTest::addColumn<QString>("label");
        QTest::newRow("video") << 1 << int(MenuVideo) << "videoVolumeSlider"
                               << "videoVolumeLabel";
        QTest::newRow("dub") << 2 << int(MenuDub) << "audioVolumeSlider"
                             << "audioVolumeLabel";
        QTest::newRow("audio") << 4 << int(MenuAudio) << "audioVolumeSlider"
                               << "audioVolumeLabel";
    }
    void volumeDragSendsOneEditPerStep() {
        QFETCH(int, kind);
        QFETCH(int, type);
        QFETCH(QString, slider);
        QFETCH(QString, label);
        std::unique_ptr<AbstractMenu> menu;
        if (kind == 1)
            menu = std::make_unique<VideoMenu>();
        else if (kind == 2)
            menu = std::make_unique<AudioMenu>();
        else
            menu = std::make_unique<MusicMenu>();
        menu->UpdateData(visualMap());
        EditLog log(menu.get());
        auto* s = menu->findChild<QSlider*>(slider);
        QVERIFY(s);
        QCOMPARE(s->maximum(), 128);
        s->setSliderDown(true);
        for (int i = 0; i < 3; ++i)
            s->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        s->setSliderDown(false);
        QCOMPARE(int(log.edits.size()), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(int(log.edits[size_t(i)].type), type);
            QCOMPARE(log.edits[size_t(i)].datatype, std::string("volume"));
            QCOMPARE(log.edits[size_t(i)].map.get("volume").toInt(), 100 + i);
        }
        QCOMPARE(menu->findChild<QLabel*>(label)->text(), QString("102"));
        // Mute goes out on its own.
        menu->findChild<QCheckBox*>()->click();
        QCOMPARE(log.edits.back().datatype, std::string("mute"));
        QCOMPARE(log.edits.back().map.get("mute").toBool(), false);
    }

    void subtitleFontTravelsAsText() {
        SubtitleMenu menu;
        menu.show();
        bg::ValueMap map = visualMap();
        QFont font("Sans", 36);
        font.setWeight(63); // DemiBold counts as bold
        font.setItalic(true);
        map["font"] = bg::Value(font.toString().toStdString());
        menu.UpdateData(map);
        QVERIFY(child<QPushButton>(&menu, "pushButton_bold")->isChecked());
        QVERIFY(child<QPushButton>(&menu, "pushButton_italic")->isChecked());
        QVERIFY(!child<QPushButton>(&menu, "pushButton_underline")->isChecked());
        QCOMPARE(child<QComboBox>(&menu, "comboBox_fontSize")->currentText(), QString("36"));

        EditLog log(&menu);
        child<QPushButton>(&menu, "pushButton_underline")->click();
        QCOMPARE(int(log.edits.size()), 1);
        QCOMPARE(log.edits[0].datatype, std::string("font"));
        QFont sent;
        QVERIFY(sent.fromString(QString::fromStdString(log.edits[0].map.get("font").toStdString())));
        QCOMPARE(sent.pointSize(), 36);
        QCOMPARE(sent.weight(), 75);
        QVERIFY(sent.italic());
        QVERIFY(sent.underline());
        QVERIFY(!sent.strikeOut());
        QCOMPARE(log.edits[0].map.get("color").toStdString(), std::string("#ff0000"));
        QCOMPARE(log.edits[0].map.get("content").toStdString(), std::string("Hello"));

        // Bold off again is a plain 50. A size the list lacks (a template
        // made at 60) shows as it is, and the next edit keeps it.
        child<QPushButton>(&menu, "pushButton_bold")->click();
        sent.fromString(QString::fromStdString(log.edits.back().map.get("font").toStdString()));
        QCOMPARE(sent.weight(), 50);
        auto* sizes = child<QComboBox>(&menu, "comboBox_fontSize");
        for (int size : {37, 60}) {
            map["font"] = bg::Value(QFont("Sans", size).toString().toStdString());
            menu.UpdateData(map);
            QCOMPARE(sizes->currentText(), QString::number(size));
            QCOMPARE(sizes->count(), 22); // one size beyond the list at a time
        }
        child<QPushButton>(&menu, "pushButton_bold")->click();
        sent.fromString(QString::fromStdString(log.edits.back().map.get("font").toStdString()));
        QCOMPARE(sent.pointSize(), 60);
        // Any size can be typed; what is not a size is not taken.
        sizes->lineEdit()->selectAll();
        QTest::keyClicks(sizes->lineEdit(), "4x0");
        QTest::keyClick(sizes->lineEdit(), Qt::Key_Return);
        sent.fromString(QString::fromStdString(log.edits.back().map.get("font").toStdString()));
        QCOMPARE(sent.pointSize(), 40);
        QCOMPARE(sizes->currentText(), QString("40"));
        // A size half typed is none: bold then keeps the last one.
        sizes->lineEdit()->selectAll();
        QTest::keyClicks(sizes->lineEdit(), "0");
        child<QPushButton>(&menu, "pushButton_bold")->click();
        sent.fromString(QString::fromStdString(log.edits.back().map.get("font").toStdString()));
        QCOMPARE(sent.pointSize(), 40);

        // Typing sends the text; the refresh that follows keeps the cursor.
        auto* text = child<QTextEdit>(&menu, "textEdit");
        text->moveCursor(QTextCursor::End);
        QTest::keyClicks(text, "!");
        QCOMPARE(log.edits.back().datatype, std::string("content"));
        QCOMPARE(log.edits.back().map.get("content").toStdString(), std::string("Hello!"));
        map["content"] = bg::Value(std::string("Hello!"));
        menu.UpdateData(map);
        QCOMPARE(text->textCursor().position(), 6);
    }

    // The wheel over the font size list while scrolling down the panel
    // scrolls the panel; the size changes only once the list has the focus.
    void wheelScrollsThePanelPastItsFields() {
        SubtitleMenu menu;
        menu.resize(300, 200); // smaller than its page: the page scrolls
        menu.show();
        QVERIFY(QTest::qWaitForWindowExposed(&menu));
        menu.UpdateData(visualMap());
        EditLog log(&menu);
        auto* sizes = child<QComboBox>(&menu, "comboBox_fontSize");
        auto* bar = menu.findChild<QScrollArea*>()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        const int before = sizes->currentIndex();
        auto turn = [&](int steps) {
            const QPoint at = sizes->rect().center();
            QWheelEvent wheel(at, sizes->mapToGlobal(at), QPoint(), QPoint(0, -120 * steps), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(sizes, &wheel);
        };
        turn(1);
        QCOMPARE(sizes->currentIndex(), before);
        QVERIFY(bar->value() > 0);
        QVERIFY(log.edits.empty());
        QApplication::setActiveWindow(&menu);
        sizes->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(sizes->hasFocus());
        turn(1);
        QVERIFY(sizes->currentIndex() != before);
        QCOMPARE(int(log.edits.size()), 1);

        // A long text scrolls itself under the wheel, not the panel.
        auto* text = child<QTextEdit>(&menu, "textEdit");
        text->setPlainText(QString("line\n").repeated(200));
        QScrollBar* textBar = text->verticalScrollBar();
        QTRY_VERIFY(textBar->maximum() > 0);
        textBar->setValue(0);
        const int panelAt = bar->value();
        const QPoint at = text->viewport()->rect().center();
        QWheelEvent wheel(at, text->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(text->viewport(), &wheel);
        QVERIFY(textBar->value() > 0);
        QCOMPARE(bar->value(), panelAt);
    }

    void subtitleColourIsSentOnlyWhenItChanges() {
        SubtitleMenu menu;
        menu.show();
        menu.UpdateData(visualMap());
        EditLog log(&menu);
        auto* button = child<QPushButton>(&menu, "pushButton_color");
        answerColorDialog(QColor("#ff0000")); // the same red
        button->click();
        answerColorDialog(QColor()); // cancelled
        button->click();
        QCOMPARE(int(log.edits.size()), 0);
        answerColorDialog(QColor("#3366cc"));
        button->click();
        QCOMPARE(int(log.edits.size()), 1);
        QCOMPARE(log.edits[0].datatype, std::string("color"));
        QCOMPARE(log.edits[0].map.get("color").toStdString(), std::string("#3366cc"));
        QCOMPARE(button->styleSheet(), QString("QPushButton {background-color: #3366cc; border: 0px;}"));
        answerColorDialog(QColor("#101010"));
        child<QPushButton>(&menu, "pushButton_background")->click();
        QCOMPARE(log.edits.back().datatype, std::string("backgroundcolor"));
        QCOMPARE(log.edits.back().map.get("backgroundcolor").toStdString(), std::string("#101010"));
    }

    void transitionAlignmentFollowsItsSlider() {
        TransMenu menu;
        menu.show();
        menu.UpdateData(visualMap());
        auto* align = child<QComboBox>(&menu, "comboBox_align");
        auto* slider = child<QSlider>(&menu, "horizontalSlider_align");
        auto* type = child<QComboBox>(&menu, "comboBox_type");
        QCOMPARE(type->currentIndex(), 2); // clip_box, third in the library
        QCOMPARE(slider->value(), 3);
        QCOMPARE(align->currentIndex(), int(TransMenu::SplitCustom));

        EditLog log(&menu);
        align->setCurrentIndex(TransMenu::SplitCenter);
        QCOMPARE(slider->value(), 5);
        QCOMPARE(int(log.edits.size()), 1);
        QCOMPARE(log.edits[0].type, MenuTransition);
        QCOMPARE(log.edits[0].datatype, std::string());
        QCOMPARE(log.edits[0].map.get("value").toInt(), 5);
        QCOMPARE(log.edits[0].map.get("type").toStdString(), std::string("clip_box"));
        QCOMPARE(log.edits[0].map.get("duration").toInt(), 1500);

        slider->setValue(7);
        emit slider->sliderReleased();
        QCOMPARE(align->currentIndex(), int(TransMenu::SplitCustom));
        QCOMPARE(log.edits.back().map.get("value").toInt(), 7);
        slider->setValue(10);
        emit slider->sliderReleased();
        QCOMPARE(align->currentIndex(), int(TransMenu::SplitEnd));

        // The handle dragged to the left puts the transition earlier, as
        // the timeline lies: all of it before the cut.
        slider->setValue(5);
        QStyleOptionSlider option;
        option.initFrom(slider);
        option.orientation = slider->orientation();
        option.minimum = slider->minimum();
        option.maximum = slider->maximum();
        option.upsideDown = slider->invertedAppearance();
        option.sliderPosition = option.sliderValue = slider->value();
        const QPoint handle =
            slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider).center();
        QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, handle);
        QMouseEvent move(QEvent::MouseMove, QPoint(0, handle.y()), slider->mapToGlobal(QPoint(0, handle.y())),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(slider, &move);
        QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(0, handle.y()));
        QCOMPARE(log.edits.back().map.get("value").toInt(), 10);
        QCOMPARE(align->currentIndex(), int(TransMenu::SplitEnd));

        // The kind is sent by its own name, whatever the box shows.
        type->setCurrentIndex(0);
        QCOMPARE(log.edits.back().map.get("type").toStdString(), std::string("clip_cross"));

        // A transition with one clip has nothing to align.
        bg::ValueMap lone = visualMap();
        lone["direction"] = bg::Value(0);
        menu.UpdateData(lone);
        QVERIFY(!align->isEnabled());
        QVERIFY(!slider->isEnabled());
        QCOMPARE(child<QLabel>(&menu, "label_direction")->text(),
                 QString("translation_source_menu.independent"));
        lone["direction"] = bg::Value(-1);
        menu.UpdateData(lone);
        QVERIFY(align->isEnabled());
        QCOMPARE(child<QLabel>(&menu, "label_direction")->text(), QString("translation_source_menu.left"));
    }
};

KORVEL_GUI_TEST_MAIN(TestPropertyMenus)
#include "tst_property_menus.moc"
