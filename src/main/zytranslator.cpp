#include "zytranslator.h"

#include "value/interface.h"

#include <QSettings>
#include <QStringList>

ZyTransLator::ZyTransLator(QObject* parent) : QTranslator(parent) {
    std::string language = bg::configText("IsEnglish", "简体中文");
    m_english = language == "English";
    bg::iface()->setRuntimeValue("language", bg::Value(m_english ? "en" : "zh"));
    m_texts = loadTable(QString::fromLatin1(m_english ? kEnglishFile : kChineseFile));
    if (m_texts.isEmpty())
        LOGE("translation table for %s is missing or empty", m_english ? "English" : "Chinese");
}

QHash<QString, QString> ZyTransLator::loadTable(const QString& path) {
    QHash<QString, QString> table;
    QSettings ini(path, QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    for (const QString& key : ini.allKeys()) {
        QVariant v = ini.value(key);
        // An unquoted text with commas reads as a list; it is still one text.
        table.insert(key, v.type() == QVariant::StringList ? v.toStringList().join(QLatin1Char(',')) : v.toString());
    }
    return table;
}

QString ZyTransLator::translate(const char* context, const char* sourceText, const char* disambiguation,
                                int n) const {
    auto it = m_texts.constFind(QString::fromUtf8(sourceText));
    if (it != m_texts.constEnd())
        return it.value();
    return QTranslator::translate(context, sourceText, disambiguation, n);
}
