// The New project dialog as the user meets it: the refusals and their
// messages, the write probe, the overwrite question, the resolutions and
// the locked flag that reach the create call, the even-only size boxes and
// the simplified editor beside the program.
#include "support/test-main.h"

#include "resource/project/createproject-dialog.h"
#include "resource/project/custom-spinbox.h"
#include "resource/project/icon-text-button.h"
#include "value/interface.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>
#include <QTranslator>

#include <memory>
#include <unistd.h>

namespace {

struct CreateCall {
    QString path;
    int width;
    int height;
    bool locked;
};

enum FolderKind { GoodFolder, MissingFolder, FileAsFolder, UnwritableFolder };

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// The English texts, so messages read (and fill their %1) as the user sees them.
class EnglishTexts : public QTranslator {
public:
    EnglishTexts() {
        QSettings ini(QStringLiteral(":/language/en-Us-new.ini"), QSettings::IniFormat);
        ini.setIniCodec("UTF-8");
        for (const QString& key : ini.allKeys()) {
            const QVariant v = ini.value(key);
            m_texts.insert(key, v.type() == QVariant::StringList ? v.toStringList().join(',') : v.toString());
        }
    }
    bool isEmpty() const override { return m_texts.isEmpty(); }
    QString translate(const char*, const char* source, const char*, int) const override {
        return m_texts.value(QString::fromUtf8(source));
    }
    QString text(const QString& key) const {
        return m_texts.value(key, QStringLiteral("(no text for %1)").arg(key));
    }

private:
    QHash<QString, QString> m_texts;
};

} // namespace

Q_DECLARE_METATYPE(FolderKind)

class TestCreateProjectDialog : public QObject {
    Q_OBJECT

    EnglishTexts english;
    QTimer boxWatcher;
    QStringList boxesSeen;
    QMessageBox::ButtonRole answer = QMessageBox::AcceptRole;
    QList<CreateCall> calls;
    bool createResult = true;
    std::unique_ptr<CreateProjectDialog> dialog;

    template <typename T> T* child(const char* name) {
        T* widget = dialog->findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("no %s in the dialog", name);
        return widget;
    }

    void makeDialog() {
        dialog =
            std::make_unique<CreateProjectDialog>([this](const QString& path, int w, int h, bool locked) {
                calls.append({path, w, h, locked});
                return createResult;
            });
        dialog->show();
    }
    void fill(const QString& name, const QString& folder) {
        child<QLineEdit>("lineEdit_name")->setText(name);
        child<QLineEdit>("lineEdit_path")->setText(folder);
    }
    void create() { child<QPushButton>("pushButton_create")->click(); }

    // Answers the message box on top with the chosen role, so nothing waits.
    void answerBoxes() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        boxesSeen << box->text();
        for (QAbstractButton* b : box->buttons()) {
            if (box->buttonRole(b) == answer) {
                b->click();
                return;
            }
        }
        box->reject();
    }

private slots:
    void initTestCase() {
        QVERIFY(!english.isEmpty());
        QCoreApplication::installTranslator(&english);
        boxWatcher.setInterval(20);
        connect(&boxWatcher, &QTimer::timeout, this, &TestCreateProjectDialog::answerBoxes);
        boxWatcher.start();
        QFile::remove(CreateProjectDialog::simplifiedEditorPath());
    }
    void init() {
        bg::iface()->configClear();
        boxesSeen.clear();
        calls.clear();
        answer = QMessageBox::AcceptRole;
        createResult = true;
        makeDialog();
    }
    void cleanup() { dialog.reset(); }
    void cleanupTestCase() { QFile::remove(CreateProjectDialog::simplifiedEditorPath()); }

    void refusesWithAMessage_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<FolderKind>("folderKind");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("staysOpen");
        QTest::newRow("empty name") << "" << GoodFolder << "newprojectdialog.NameEmpty" << true;
        QTest::newRow("blank name") << "   " << GoodFolder << "newprojectdialog.NameEmpty" << true;
        QTest::newRow("colon") << "a:b" << GoodFolder << "newprojectdialog.NameForbidden" << true;
        QTest::newRow("slash") << "a/b" << GoodFolder << "newprojectdialog.NameForbidden" << true;
        QTest::newRow("full-width question mark")
            << QString::fromUtf8("what？") << GoodFolder << "newprojectdialog.NameForbidden" << true;
        QTest::newRow("missing folder") << "p" << MissingFolder << "newprojectdialog.dirNoneExist" << true;
        QTest::newRow("folder is a file") << "p" << FileAsFolder << "newprojectdialog.PathNone" << false;
        QTest::newRow("unwritable folder")
            << "p" << UnwritableFolder << "newprojectdialog.WriteForbidden" << true;
    }
    void refusesWithAMessage() {
        QFETCH(QString, name);
        QFETCH(FolderKind, folderKind);
        QFETCH(QString, message);
        QFETCH(bool, staysOpen);
        QString folder = korvel::test::workFolder(QStringLiteral("refusal"));
        if (folderKind == MissingFolder) {
            folder += QStringLiteral("/gone");
        } else if (folderKind == FileAsFolder) {
            folder += QStringLiteral("/file.txt");
            writeFile(folder, "x");
        } else if (folderKind == UnwritableFolder) {
            // Permissions do not stop root; nothing can be created in /proc.
            if (geteuid() == 0)
                folder = QStringLiteral("/proc");
            else
                QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        }
        fill(name, folder);
        create();
        QVERIFY(calls.isEmpty());
        QString expected = english.text(message);
        if (message == QLatin1String("newprojectdialog.NameForbidden"))
            expected += QString::fromUtf8(": \\/:*?\"<>|？");
        else if (folderKind == FileAsFolder)
            expected = expected.arg(folder + QStringLiteral("/p.zya2"));
        else if (folderKind == UnwritableFolder)
            expected = expected.arg(folder);
        QCOMPARE(boxesSeen, QStringList{expected});
        if (folderKind == UnwritableFolder && folder != QLatin1String("/proc"))
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(dialog->isVisible(), staysOpen);
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
    }

    void asksBeforeOverwriting_data() {
        QTest::addColumn<int>("reply");
        QTest::addColumn<bool>("created");
        QTest::newRow("OK overwrites") << int(QMessageBox::AcceptRole) << true;
        QTest::newRow("Cancel keeps the file") << int(QMessageBox::RejectRole) << false;
    }
    void asksBeforeOverwriting() {
        QFETCH(int, reply);
        QFETCH(bool, created);
        const QString folder = korvel::test::workFolder(QStringLiteral("overwrite"));
        const QString target = folder + QStringLiteral("/old.zya2");
        writeFile(target, "<Tamsel/>");
        answer = QMessageBox::ButtonRole(reply);
        fill(QStringLiteral("old"), folder);
        create();
        QCOMPARE(boxesSeen, QStringList{english.text(QStringLiteral("newprojectdialog.AskOverwrite"))});
        QCOMPARE(calls.size(), created ? 1 : 0);
        if (created)
            QCOMPARE(calls[0].path, target);
        QCOMPARE(dialog->isVisible(), !created);
        QCOMPARE(readFile(target), QByteArray("<Tamsel/>")); // the dialog itself never writes it
    }

    void resolutionReachesTheCreateCall_data() {
        QTest::addColumn<QString>("radio");
        QTest::addColumn<int>("sizeRow");
        QTest::addColumn<QString>("typedWidth");
        QTest::addColumn<QString>("typedHeight");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("locked");
        QTest::newRow("default follows the first video") << "radioButton_default" << -1 << ""
                                                         << "" << 1920 << 1080 << false;
        QTest::newRow("portrait 1080 x 1920") << "radioButton_select" << 5 << ""
                                              << "" << 1080 << 1920 << true;
        QTest::newRow("320 x 240") << "radioButton_select" << 0 << ""
                                   << "" << 320 << 240 << true;
        QTest::newRow("custom odd sizes become even") << "radioButton_custom" << -1 << "1281"
                                                      << "721" << 1280 << 720 << true;
    }
    void resolutionReachesTheCreateCall() {
        QFETCH(QString, radio);
        QFETCH(int, sizeRow);
        QFETCH(QString, typedWidth);
        QFETCH(QString, typedHeight);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, locked);
        const QString folder = korvel::test::workFolder(QStringLiteral("resolution"));
        auto* sizes = child<QComboBox>("comboBox_size");
        auto* spinWidth = child<CustomSpinBox>("spinBox_width");
        auto* spinHeight = child<CustomSpinBox>("spinBox_height");
        QVERIFY(!sizes->isEnabled() && !spinWidth->isEnabled() && !spinHeight->isEnabled());
        child<QRadioButton>(radio.toLatin1().constData())->click();
        QCOMPARE(sizes->isEnabled(), radio == QLatin1String("radioButton_select"));
        QCOMPARE(spinWidth->isEnabled(), radio == QLatin1String("radioButton_custom"));
        if (sizeRow >= 0)
            sizes->setCurrentIndex(sizeRow);
        for (auto [box, text] : {std::pair{spinWidth, typedWidth}, std::pair{spinHeight, typedHeight}}) {
            if (text.isEmpty())
                continue;
            box->selectAll();
            QTest::keyClicks(box, text);
            box->interpretText();
        }
        // A name with a dot is a name like any other.
        fill(QStringLiteral("my.cut"), folder);
        create();
        QVERIFY2(boxesSeen.isEmpty(), qPrintable(boxesSeen.join('\n')));
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls[0].path, folder + QStringLiteral("/my.cut.zya2"));
        QCOMPARE(calls[0].width, width);
        QCOMPARE(calls[0].height, height);
        QCOMPARE(calls[0].locked, locked);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QVERIFY(!dialog->isVisible());
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList()); // no probe left behind
    }

    void failedCreateKeepsTheDialogOpen() {
        createResult = false;
        fill(QStringLiteral("p"), korvel::test::workFolder(QStringLiteral("failed")));
        create();
        QCOMPARE(calls.size(), 1);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
    }

    void writeProbeLeavesTheUsersFileAlone() {
        const QString folder = korvel::test::workFolder(QStringLiteral("probe"));
        writeFile(folder + QStringLiteral("/ZyTestFile.txt"), "the user's notes");
        fill(QStringLiteral("p"), folder);
        create();
        QCOMPARE(calls.size(), 1);
        QCOMPARE(readFile(folder + QStringLiteral("/ZyTestFile.txt")), QByteArray("the user's notes"));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("ZyTestFile.txt")});
    }

    void sizeBoxesHoldEvenValuesOnly_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("value");
        QTest::newRow("1081 gives 1080") << "1081" << 1080;
        QTest::newRow("91 gives 90") << "91" << 90;
        QTest::newRow("even stays") << "1440" << 1440;
    }
    void sizeBoxesHoldEvenValuesOnly() {
        QFETCH(QString, typed);
        QFETCH(int, value);
        child<QRadioButton>("radioButton_custom")->click();
        auto* box = child<CustomSpinBox>("spinBox_height");
        box->selectAll();
        QTest::keyClicks(box, typed);
        box->interpretText();
        QCOMPARE(box->value(), value);
        QCOMPARE(box->text(), QString::number(value));
    }

    void sizeBoxesStepByTwoWithinTheirRange() {
        auto* box = child<CustomSpinBox>("spinBox_width");
        QCOMPARE(box->value(), 1920);
        box->stepUp();
        QCOMPARE(box->value(), 1922);
        box->setValue(91); // set by code: pulled down like typed text
        QCOMPARE(box->value(), 90);
        box->stepDown();
        QCOMPARE(box->value(), 90);
        box->setValue(5000);
        QCOMPARE(box->value(), 2560);
        QCOMPARE(child<CustomSpinBox>("spinBox_height")->maximum(), 1440);
    }

    void startsInTheRememberedFolder_data() {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("exists");
        QTest::newRow("nothing stored") << false << false;
        QTest::newRow("stored folder") << true << true;
        QTest::newRow("stored folder is gone") << true << false;
    }
    void startsInTheRememberedFolder() {
        QFETCH(bool, stored);
        QFETCH(bool, exists);
        const QString folder = korvel::test::workFolder(QStringLiteral("remembered"));
        const QString path = exists ? folder : folder + QStringLiteral("/gone");
        if (stored)
            bg::iface()->configSet("create_default_path", path.toStdString());
        makeDialog();
        QCOMPARE(child<QLineEdit>("lineEdit_path")->text(), exists ? folder : QDir::homePath());
        QCOMPARE(CreateProjectDialog::defaultProjectName(QDateTime(QDate(2025, 5, 15), QTime(13, 45, 1))),
                 QStringLiteral("zy_20250515_134501"));
    }

    void advanceButtonFoldsTheResolutions() {
        auto* advance = child<IconTextButton>("pushButton_advance");
        auto* resolution = child<QWidget>("widget_resolution");
        QVERIFY(resolution->isVisible());
        const QPixmap open = advance->currentPixmap();
        advance->click();
        QVERIFY(!resolution->isVisible());
        QVERIFY(advance->currentPixmap().cacheKey() != open.cacheKey());
        advance->click();
        QVERIFY(resolution->isVisible());
        // A button with one picture shows it in every state.
        IconTextButton plain(QStringLiteral("x"));
        QPixmap only(8, 8);
        plain.setPixmaps(only);
        plain.setCheckable(true);
        plain.setChecked(true);
        QCOMPARE(plain.currentPixmap().cacheKey(), only.cacheKey());
        plain.setEnabled(false);
        QCOMPARE(plain.currentPixmap().cacheKey(), only.cacheKey());
    }

    // Absent, the check box cannot be ticked and says why; installed, it
    // takes the fields away; gone again by the time Create is pressed, the
    // failure is told and the dialog stays.
    void simplifiedEditorOnlyWhereItIsInstalled() {
        const QString program = CreateProjectDialog::simplifiedEditorPath();
        QVERIFY(!QFileInfo::exists(program));
        auto* single = child<QCheckBox>("checkBox_single");
        QVERIFY(!single->isEnabled());
        QCOMPARE(single->toolTip(), english.text(QStringLiteral("newprojectdialog.SingleMissing")));
        QTest::mouseClick(single, Qt::LeftButton);
        QVERIFY(!single->isChecked());

        writeFile(program, "#!/bin/sh\nexit 0\n");
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        makeDialog();
        single = child<QCheckBox>("checkBox_single");
        QVERIFY(single->isEnabled());
        QVERIFY(single->toolTip().isEmpty());
        child<QRadioButton>("radioButton_select")->click();
        single->click();
        for (const char* name :
             {"lineEdit_name", "lineEdit_path", "pushButton_browse", "radioButton_custom", "comboBox_size"})
            QVERIFY2(!child<QWidget>(name)->isEnabled(), name);
        QVERIFY(QFile::remove(program));
        create();
        QCOMPARE(boxesSeen, QStringList{english.text(QStringLiteral("newprojectdialog.SingleInvalid"))});
        QVERIFY(calls.isEmpty());
        QVERIFY(dialog->isVisible());
        single->click();
        QVERIFY(child<QLineEdit>("lineEdit_name")->isEnabled());
        QVERIFY(child<QComboBox>("comboBox_size")->isEnabled());
        QVERIFY(!child<CustomSpinBox>("spinBox_width")->isEnabled());
    }

    // Last: the program ends its event loop here.
    void simplifiedEditorStartsAndTheProgramEnds() {
        const QString program = CreateProjectDialog::simplifiedEditorPath();
        const QString out = korvel::test::workFolder(QStringLiteral("wixley")) + QStringLiteral("/args");
        writeFile(program, "#!/bin/sh\nprintf '%s' \"$*\" > \"$WIXLEY_ARGS\"\n");
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        qputenv("WIXLEY_ARGS", out.toLocal8Bit());
        makeDialog(); // sees the program
        child<QCheckBox>("checkBox_single")->click();
        QTimer::singleShot(0, this, [this] { create(); });
        QTimer::singleShot(20000, qApp, &QCoreApplication::quit); // a guard only
        QElapsedTimer clock;
        clock.start();
        QCoreApplication::exec();
        QVERIFY(clock.elapsed() < 15000);
        QVERIFY(boxesSeen.isEmpty());
        QVERIFY(calls.isEmpty());
        QTRY_VERIFY(QFileInfo(out).size() > 0);
        QCOMPARE(readFile(out), QByteArray("--launched-by-Korvel"));
    }
};

KORVEL_GUI_TEST_MAIN(TestCreateProjectDialog)
#include "tst_createproject_dialog.moc"
