// The fourteen transitions: internal name <-> translation key.
#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

class TransTranslate : public QObject {
    Q_OBJECT
public:
    // The process-wide table, made on first use.
    static TransTranslate* instance();

    QString nameToKey(const QString& name) const;
    // Empty when the key names no transition.
    QString keyToName(const QString& key) const;
    // (name, key) pairs in the library's order.
    QList<QPair<QString, QString>> allTransitions() const { return m_table; }

private:
    TransTranslate();
    QList<QPair<QString, QString>> m_table;
};
