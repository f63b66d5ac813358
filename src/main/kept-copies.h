// Automatic copies the recovery question was put off for: each is offered
// again at a later start, one a start, the most recently put off first.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

struct KeptCopy {
    QString copy;  // the automatic copy
    QString owner; // the project file it was made of; empty when untitled
};

namespace keptcopies {

// The newest is stored under "autoSaveKept" and "autoSaveKeptProject" (as
// earlier versions stored their one copy), the others under
// "autoSaveKeptEarlier". Copies whose files are not there now stay listed
// (their disk may only be unmounted); the oldest beyond twenty are forgotten.
QList<KeptCopy> read();
// Stores the list (newest first) and saves the settings.
void write(const QList<KeptCopy>& copies);
QStringList paths(const QList<KeptCopy>& copies);

} // namespace keptcopies
