#include "values/whole-write.h"

bool writeWhole(QFileDevice& file, const char* data, qint64 size) {
    for (qint64 done = 0; done < size;) {
        const qint64 wrote = file.write(data + done, size - done);
        if (wrote <= 0)
            return false;
        done += wrote;
    }
    return true;
}
