#include "values/whole-write.h"

#include <QFileInfo>

QString writtenPath(const QString& path) {
    QFileInfo file(path);
    for (int hops = 0; hops < 40 && file.isSymLink(); ++hops)
        file.setFile(file.symLinkTarget());
    return file.absoluteFilePath();
}

bool writeWhole(QFileDevice& file, const char* data, qint64 size) {
    for (qint64 done = 0; done < size;) {
        const qint64 wrote = file.write(data + done, size - done);
        if (wrote <= 0)
            return false;
        done += wrote;
    }
    return true;
}
