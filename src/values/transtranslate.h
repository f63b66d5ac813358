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
    // The name itself when it is one of the fourteen, else the dissolve's:
    // what a file's transition is drawn as.
    QString drawable(const QString& name) const;
    // (name, key) pairs in the library's order.
    QList<QPair<QString, QString>> allTransitions() const { return m_table; }

private:
    TransTranslate();
    QList<QPair<QString, QString>> m_table;
};
