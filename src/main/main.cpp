#include "command-line-export.h"
#include "crash-handler.h"
#include "transtranslate.h"
#include "zyapp.h"
#include "zytranslator.h"
#include "render/audio/audio-frame-data.h"
#include "render/frame-types.h"
#include "render/preview-requests.h"
#include "values/value-init.h"

#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

void registerMetaTypes() {
    qRegisterMetaType<MoveType>("MoveType");
    qRegisterMetaType<EditType>("EditType");
    qRegisterMetaType<int64_t>("int64_t");
    qRegisterMetaType<QList<VFrameInfo>>("QList<VFrameInfo>");
    qRegisterMetaType<AudioFrameData>("AudioFrameData");
    qRegisterMetaType<QList<AudioFrameData>>("QList<AudioFrameData>");
}

} // namespace

int main(int argc, char** argv) {
    // Installer hooks: exactly one argument, no window.
    if (argc == 2 && std::strcmp(argv[1], "--uninstall") == 0) {
        bg::iface()->configClear();
        bg::iface()->configSave();
        LOGE("------ uninstall: 卸载，清除配置");
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--install") == 0) {
        LOGE("------ install: 安装后第一次运行");
        return 0;
    }

    bg::InitBridge(argc, argv);
    bg::atExit(bg::UninitBridge);
    bg::iface()->setServiceSetting("version", ZyApp::kVersion);
    bg::iface()->setServiceSetting("build_date", ZyApp::kBuildDate);
    crash::install(ZyApp::kVersion);
    crash::takePreviousReport();

    registerMetaTypes();

    // The engine's context moves between the render and export threads.
    QCoreApplication::setAttribute(Qt::AA_DontCheckOpenGLContextThreadAffinity);
    QCoreApplication::setOrganizationName(QStringLiteral("Korvel"));
    QCoreApplication::setApplicationName(QStringLiteral("Korvel"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(ZyApp::kVersion));
    int status = 0;
    if (argc >= 2 && std::strcmp(argv[1], "--export") == 0) {
        QStringList arguments;
        for (int i = 2; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        ExportCommand command;
        QString error;
        if (!parseExportCommand(arguments, &command, &error)) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(error));
            return 2;
        }
        // A name of its own: an editor that is open does not stop a scripted export.
        QCoreApplication::setApplicationName(
            QStringLiteral("Korvel-export-%1").arg(QCoreApplication::applicationPid()));
        ZyApp app(argc, argv);
        ZyTransLator translator;
        app.installTranslator(&translator);
        app.setInteractive(false);
        TransTranslate::instance();
        status = runExportCommand(command);
        LOGD("Korvel export ended with status %d", status);
        return status;
    }
    {
        ZyApp app(argc, argv);
        auto* translator = new ZyTransLator;
        app.installTranslator(translator);
        if (app.isSecondary()) {
            LOGD("Korvel is already running; this start ends here");
            delete translator;
            return 0;
        }
        TransTranslate::instance();
        if (!app.initialize()) {
            delete translator;
            return -1;
        }
        QStringList arguments = app.arguments();
        arguments.removeFirst();
        app.startSession(arguments);
        status = app.exec();
        delete translator;
    }
    LOGD("Korvel ended with status %d", status);
    return status;
}
