#include "values/transtranslate.h"
#include "main/zytranslator.h"
#include "support/test-main.h"
#include "values/value-init.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QtTest>

class TestTranslation : public QObject {
    Q_OBJECT
private slots:
    void bothFilesCarryTheSameKeys();
    void everyKeyUsedInTheCodeExists();
    void languageFollowsTheSetting_data();
    void languageFollowsTheSetting();
    void missingKeyShowsTheKey();
    void transitionTable();
};

void TestTranslation::bothFilesCarryTheSameKeys() {
    auto zh = ZyTransLator::loadTable(ZyTransLator::kChineseFile);
    auto en = ZyTransLator::loadTable(ZyTransLator::kEnglishFile);
    QVERIFY(!zh.isEmpty());
    QStringList zhKeys = zh.keys(), enKeys = en.keys();
    zhKeys.sort();
    enKeys.sort();
    QCOMPARE(zhKeys, enKeys);
    for (const QString& key : zhKeys) {
        QVERIFY2(!zh.value(key).isEmpty(), qPrintable("empty Chinese text: " + key));
        QVERIFY2(!en.value(key).isEmpty(), qPrintable("empty English text: " + key));
        // Placeholders the code fills must be in both languages.
        for (const char* placeholder : {"%1", "%2", "%3"})
            QCOMPARE(zh.value(key).contains(placeholder), en.value(key).contains(placeholder));
    }
    // Escapes inside the texts are turned into the characters they name.
    QCOMPARE(en.value("Mainwindow.restart"),
             QString("Detects that you have an unfinished project last time, whether to continue?\n%1"));
}

void TestTranslation::everyKeyUsedInTheCodeExists() {
    auto en = ZyTransLator::loadTable(ZyTransLator::kEnglishFile);
    // tr("area.Key"), translate("Context", "area.Key") and <string>area.Key</string> in forms.
    const QRegularExpression patterns[] = {
        QRegularExpression(R"(\btr\(\s*"([^"]+)\")"),
        QRegularExpression(R"(\btranslate\(\s*"[^"]*"\s*,\s*"([^"]+)\")"),
        QRegularExpression(R"(<string>([A-Za-z_][\w-]*\.[\w.-]+)</string>)"),
    };
    QStringList missing;
    int found = 0;
    QDirIterator it(QStringLiteral(KORVEL_SOURCE_DIR "/src"), {"*.cpp", "*.h", "*.ui"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        for (const auto& pattern : patterns) {
            auto matches = pattern.globalMatch(text);
            while (matches.hasNext()) {
                QString key = matches.next().captured(1);
                ++found;
                if (!en.contains(key))
                    missing << QFileInfo(file.fileName()).fileName() + ": " + key;
            }
        }
    }
    for (const auto& entry : TransTranslate::instance()->allTransitions()) {
        ++found;
        if (!en.contains(entry.second))
            missing << "transition table: " + entry.second;
    }
    QVERIFY(found >= 18);
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join('\n')));
}

void TestTranslation::languageFollowsTheSetting_data() {
    QTest::addColumn<QString>("setting");
    QTest::addColumn<bool>("english");
    QTest::newRow("absent") << QString() << false;
    QTest::newRow("English") << "English" << true;
    QTest::newRow("Chinese") << "简体中文" << false;
    QTest::newRow("lower case is not English") << "english" << false;
}

void TestTranslation::languageFollowsTheSetting() {
    QFETCH(QString, setting);
    QFETCH(bool, english);
    bg::iface()->configClear();
    if (!setting.isNull())
        bg::iface()->configSet("IsEnglish", setting.toStdString());
    ZyTransLator translator;
    QCOMPARE(translator.isEnglish(), english);
    QCOMPARE(bg::iface()->runtimeValue("language").toStdString(), std::string(english ? "en" : "zh"));
    QCOMPARE(translator.translate("MainWindow", "MainWindow.Hint"), english ? QString("Hint") : QString("提示"));
}

void TestTranslation::missingKeyShowsTheKey() {
    bg::iface()->configSet("IsEnglish", "English");
    ZyTransLator translator;
    QCoreApplication::installTranslator(&translator);
    QCOMPARE(QCoreApplication::translate("Anything", "global_info.Clip_Radial"), QString("Radial Wipe"));
    QCOMPARE(QCoreApplication::translate("Anything", "nowhere.NoSuchKey"), QString("nowhere.NoSuchKey"));
    QCoreApplication::removeTranslator(&translator);
}

void TestTranslation::transitionTable() {
    TransTranslate* table = TransTranslate::instance();
    auto all = table->allTransitions();
    QCOMPARE(all.size(), 14);
    QCOMPARE(all.first().first, QString("clip_cross"));
    QCOMPARE(all.last().first, QString("clip_radial"));
    QCOMPARE(table->keyToName("global_info.Clip_Centre"), QString("scale_in"));
    QCOMPARE(table->nameToKey("trans_move"), QString("global_info.Clip_Move"));
    QVERIFY(table->keyToName("global_info.Nothing").isEmpty());
    // The English names the transition library shows.
    auto en = ZyTransLator::loadTable(ZyTransLator::kEnglishFile);
    const QStringList names = {"Iris Cross", "Barn Doors", "Iris Box", "Band Wipe", "Translation",
                               "Lateral Erase", "Overlap_White", "Iris Circle", "Iris Centre",
                               "Venetian Blinds", "Overlap_Black", "Scale_Boxes", "Overlap_Cross",
                               "Radial Wipe"};
    for (int i = 0; i < all.size(); ++i)
        QCOMPARE(en.value(all[i].second), names[i]);
}

KORVEL_TEST_MAIN(TestTranslation)
#include "tst_translation.moc"
