// Runs pactl against the test's sound server: true when it succeeded; its
// trimmed standard output goes to out. A failure is printed with pactl's words.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QtGlobal>

namespace korvel::test {

inline bool pactl(const QStringList& args, QByteArray* out = nullptr) {
    QProcess p;
    p.start(QStringLiteral("pactl"), args);
    if (!p.waitForFinished(10000) || p.exitCode() != 0) {
        qWarning("pactl %s: %s", qPrintable(args.join(' ')), p.readAllStandardError().constData());
        return false;
    }
    if (out)
        *out = p.readAllStandardOutput().trimmed();
    return true;
}

} // namespace korvel::test
