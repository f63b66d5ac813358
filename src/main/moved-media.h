#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// A project folder moved or copied elsewhere with its media (a project on a
// USB stick, a folder renamed) keeps the media's old absolute paths. This
// finds the media again where the move took them: a missing OLD/rel that
// lies at projectFolder/rel now, OLD being the folder the project was moved
// from (it is gone from its place), found as the one that explains the most
// missing files. Files that
// lay outside that folder stay missing. Returns each missing path that was
// found, to where it lies now.
QHash<QString, QString> findMovedMedia(const QStringList& missing, const QString& projectFolder);
