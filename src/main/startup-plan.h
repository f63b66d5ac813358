// What the start-up does after the window is up: offer a pending auto-save
// copy for recovery, or open the project named on the command line.
#pragma once

#include <QString>
#include <QStringList>

struct StartupPlan {
    QString recoveryPath;  // an auto-save copy to offer; empty when none
    QString projectToOpen; // the command-line project; empty when none
};

// autoSavePath: the stored "autoSavePath". arguments: the command line
// without the program name. A pending copy is offered first; the command-line
// project opens when the copy is not taken up. Only the first argument
// counts, and only an existing .zya or .zya2 file.
StartupPlan planStartup(const QString& autoSavePath, const QStringList& arguments);

// The untitled project path at start-up: <home>/zy_yyyyMMdd_HHmmss.
QString untitledProjectPath();
