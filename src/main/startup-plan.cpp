#include "startup-plan.h"

#include <QDateTime>
#include <QFileInfo>
#include <QStandardPaths>

StartupPlan planStartup(const QString& autoSavePath, const QStringList& arguments) {
    StartupPlan plan;
    if (!autoSavePath.isEmpty() && QFileInfo(autoSavePath).isFile())
        plan.recoveryPath = autoSavePath;
    if (!arguments.isEmpty()) {
        QFileInfo file(arguments.first());
        QString suffix = file.suffix();
        if (file.isFile() && (suffix == QLatin1String("zya") || suffix == QLatin1String("zya2")))
            plan.projectToOpen = file.absoluteFilePath();
    }
    return plan;
}

QString untitledProjectPath() {
    QDateTime now = QDateTime::currentDateTime();
    return QStandardPaths::writableLocation(QStandardPaths::HomeLocation) + QLatin1String("/zy_") +
           now.toString(QStringLiteral("yyyyMMdd")) + QLatin1Char('_') + now.toString(QStringLiteral("HHmmss"));
}
