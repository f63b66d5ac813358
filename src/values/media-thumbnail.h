// Where the small preview picture of a media file is kept: the library
// writes it when the file is added, the timeline's clips read it.
#pragma once

#include <QString>

// A PNG in the temporary folder named after the file's whole absolute path,
// so two files with the same name in different folders keep their own.
QString mediaThumbnailPath(const QString& mediaPath);
