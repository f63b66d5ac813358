#include "kept-copies.h"

#include "value/interface.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

constexpr const char* kNewestKey = "autoSaveKept";
constexpr const char* kNewestOwnerKey = "autoSaveKeptProject";
constexpr const char* kEarlierKey = "autoSaveKeptEarlier";
// More would only be copies of copies: the oldest are forgotten (their
// files stay where they lie).
constexpr int kMostKept = 20;

} // namespace

namespace keptcopies {

QList<KeptCopy> read() {
    QList<KeptCopy> all;
    const auto take = [&all](const QString& copy, const QString& owner) {
        const bool known = std::any_of(all.cbegin(), all.cend(), [&](const KeptCopy& k) { return k.copy == copy; });
        if (!copy.isEmpty() && !known)
            all.append({copy, owner});
    };
    take(QString::fromStdString(bg::configText(kNewestKey)), QString::fromStdString(bg::configText(kNewestOwnerKey)));
    const QByteArray earlier = QByteArray::fromStdString(bg::configText(kEarlierKey));
    const QJsonArray list = QJsonDocument::fromJson(earlier).array();
    if (!earlier.isEmpty() && list.isEmpty())
        LOGW("recovery: the list of copies put off (%s) cannot be read", kEarlierKey);
    for (const QJsonValue& entry : list)
        take(entry.toObject().value(QStringLiteral("copy")).toString(),
             entry.toObject().value(QStringLiteral("project")).toString());
    return all;
}

void write(const QList<KeptCopy>& copies) {
    bg::iface()->configSet(kNewestKey, copies.isEmpty() ? std::string() : copies.first().copy.toStdString());
    bg::iface()->configSet(kNewestOwnerKey, copies.isEmpty() ? std::string() : copies.first().owner.toStdString());
    QJsonArray earlier;
    for (int i = 1; i < copies.size() && i < kMostKept; ++i)
        earlier.append(QJsonObject {{QStringLiteral("copy"), copies[i].copy}, {QStringLiteral("project"), copies[i].owner}});
    bg::iface()->configSet(kEarlierKey, earlier.isEmpty() ? std::string()
                                                          : QJsonDocument(earlier).toJson(QJsonDocument::Compact).toStdString());
    bg::iface()->configSave();
}

QStringList paths(const QList<KeptCopy>& copies) {
    QStringList all;
    for (const KeptCopy& k : copies)
        all.append(k.copy);
    return all;
}

} // namespace keptcopies
