// Qt's own messages in the log file: a qWarning from a widget, a GL context
// that cannot be made, a style sheet that does not parse.
#include "interface.h"

#include <QMessageLogContext>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace bg {

namespace {

// The handler that was installed before ours: it still prints the message
// (to standard error, or into a test's record of messages).
std::atomic<QtMessageHandler> g_previous {nullptr};

void handleQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    int level = LOG_DEBUG;
    char letter = 'D';
    switch (type) {
    case QtDebugMsg:
    case QtInfoMsg:
        break;
    case QtWarningMsg:
        level = LOG_WARNING;
        letter = 'W';
        break;
    case QtCriticalMsg:
    case QtFatalMsg:
        level = LOG_ERROR;
        letter = 'E';
        break;
    }
    Interface* log = iface();
    if (level < LOG_DEBUG || log->debugLogging()) {
        QString text = message;
        text.replace(QLatin1Char('\n'), QLatin1Char(' '));
        if (context.category && std::strcmp(context.category, "default") != 0)
            text = QString::fromUtf8(context.category) + QStringLiteral(": ") + text;
        const char* file = context.file ? sourceBaseName(context.file) : "qt";
        char head[512];
        std::snprintf(head, sizeof head, "%s[%c][bg] %s %-4d: \"", logTime().c_str(), letter, file,
                      context.file ? context.line : 0);
        log->logToFile(level, head + text.toStdString() + "\"\n");
    }
    QtMessageHandler previous = g_previous.load();
    if (previous)
        previous(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

} // namespace

void installQtMessageLog() {
    QtMessageHandler previous = qInstallMessageHandler(handleQtMessage);
    if (previous != handleQtMessage)
        g_previous = previous;
}

} // namespace bg
