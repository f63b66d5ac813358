// The translator: texts are written in the code as keys (area.Name) and
// looked up in one ini table of the configured language.
#pragma once

#include <QHash>
#include <QString>
#include <QTranslator>

class ZyTransLator : public QTranslator {
    Q_OBJECT
public:
    static constexpr const char* kChineseFile = ":/language/zh-cn-new.ini";
    static constexpr const char* kEnglishFile = ":/language/en-Us-new.ini";

    // Chooses the language from "IsEnglish" (only "English" selects English)
    // and loads its table; sets the runtime value "language" to "en" or "zh".
    explicit ZyTransLator(QObject* parent = nullptr);

    QString translate(const char* context, const char* sourceText, const char* disambiguation = nullptr,
                      int n = -1) const override;
    bool isEmpty() const override { return m_texts.isEmpty(); }

    bool isEnglish() const { return m_english; }
    // Key -> text of one translation file; a later duplicate replaces an earlier one.
    static QHash<QString, QString> loadTable(const QString& path);

private:
    QHash<QString, QString> m_texts;
    bool m_english = false;
};
