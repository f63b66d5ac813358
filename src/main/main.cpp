#include "command-line-export.h"
#include "desktop-integration.h"
#include "farm-render.h"
#include "graphics/headless.h"
#include "crash-handler.h"
#include "values/transtranslate.h"
#include "zyapp.h"
#include "zytranslator.h"
#include "render/audio/audio-frame-data.h"
#include "render/frame-types.h"
#include "render/preview-requests.h"
#include "setting/setting-dialog.h"
#include "values/cache-folder.h"
#include "values/value-init.h"

#include "media/media.h"

#include <QIcon>
#include <QStringList>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Standard descriptors the caller closed ("korvel --export ... >&- 2>&-")
// are taken by /dev/null before anything else opens a file: else the log
// or the display's connection would get their numbers, and progress text
// and messages would be written into those.
__attribute__((constructor(101))) void keepStandardDescriptorsTaken() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

void registerMetaTypes() {
    qRegisterMetaType<MoveType>("MoveType");
    qRegisterMetaType<EditType>("EditType");
    qRegisterMetaType<int64_t>("int64_t");
    qRegisterMetaType<QList<VFrameInfo>>("QList<VFrameInfo>");
    qRegisterMetaType<AudioFrameData>("AudioFrameData");
    qRegisterMetaType<QList<AudioFrameData>>("QList<AudioFrameData>");
}

// Ends the process if what is left of the shutdown (the windows and their
// workers going) takes longer than kShutdownLimitMs: what still runs then
// is a worker that cannot be stopped, stuck in the kernel.
void armShutdownWatchdog(int status) {
    static constexpr int kShutdownLimitMs = 5000;
    std::thread([status] {
        std::this_thread::sleep_for(std::chrono::milliseconds(kShutdownLimitMs));
        LOGE("shutdown: a worker is still busy after %d s; Korvel ends without it", kShutdownLimitMs / 1000);
        std::_Exit(status);
    }).detach();
}

// Qt gives up with a fatal message, and abort(), when no window system or
// EGL display opens as the application object is made: no crash, but a
// machine without a display (or with one out of reach). The user gets the
// reason and status 3, as an export without a graphics device does.
QtMessageHandler g_logHandler = nullptr;
bool g_starting = true;

void endWithoutDisplay(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (g_logHandler)
        g_logHandler(type, context, message);
    if (type != QtFatalMsg || !g_starting)
        return;
    const char* display = std::getenv("DISPLAY");
    std::fprintf(stderr,
                 "korvel: no display or graphics device could be opened; Qt could not start (DISPLAY=%s): %s\n"
                 "korvel: the editor needs a desktop session; korvel --export runs without one when DISPLAY "
                 "and WAYLAND_DISPLAY are unset (OpenGL from EGL, package libegl-mesa0)\n",
                 display ? display : "", qUtf8Printable(message.simplified()));
    std::_Exit(3);
}

// Around the making of the application object.
void watchStart() { g_logHandler = qInstallMessageHandler(endWithoutDisplay); }
void started() { g_starting = false; }

} // namespace

int main(int argc, char** argv) {
    // Installer hooks: exactly one argument, no window.
    if (argc == 2 && std::strcmp(argv[1], "--uninstall") == 0) {
        bg::iface()->configClear();
        bg::iface()->configSave();
        LOGE("------ uninstall: 卸载，清除配置");
        desktop::removeEarlierDesktopFiles();
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--install") == 0) {
        LOGE("------ install: 安装后第一次运行");
        desktop::removeEarlierDesktopFiles();
        return 0;
    }

    // Asked what Korvel takes, wherever among the arguments: said on the
    // terminal, no window, no display needed.
    const auto asked = [argc, argv](const char* option) {
        for (int i = 1; i < argc; ++i)
            if (std::strcmp(argv[i], option) == 0)
                return true;
        return false;
    };
    if (asked("--help") || asked("-h")) {
        std::printf("usage: korvel [PROJECT.zya2 | PROJECT.zya] [--hwaccel auto|none]\n"
                    "  opens the editor, with the project if one is named\n\n%s\n\n%s\n\n"
                    "  --hwaccel auto|none: for this run, decode video on the graphics card where it can, or "
                    "never (default: the settings' \"Hardware decoding\")\n",
                    qUtf8Printable(exportUsage()), qUtf8Printable(farmUsage()));
        return 0;
    }
    if (asked("--version")) {
        std::printf("Korvel %s\n", ZyApp::kVersion);
        return 0;
    }

    // --hwaccel auto|none serves the editor and --export alike, in any place.
    std::string hwaccelError;
    if (!hwaccel::takeOption(argc, argv, &hwaccelError)) {
        std::fprintf(stderr, "%s\n", hwaccelError.c_str());
        return 2;
    }

    bg::InitBridge(argc, argv);
    bg::atExit(bg::UninitBridge);
    bg::iface()->setServiceSetting("version", ZyApp::kVersion);
    bg::iface()->setServiceSetting("build_date", ZyApp::kBuildDate);
    crash::install(ZyApp::kVersion);
    crash::takePreviousReport();
    hwaccel::apply();

    registerMetaTypes();

    // The engine's context moves between the render and export threads.
    QCoreApplication::setAttribute(Qt::AA_DontCheckOpenGLContextThreadAffinity);
    QCoreApplication::setOrganizationName(QStringLiteral("Korvel"));
    QCoreApplication::setApplicationName(QStringLiteral("Korvel"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(ZyApp::kVersion));
    // Ties the windows to the launcher entry (Wayland's app id); on X11 the
    // entry names the window class, which Qt takes from the application name.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(desktop::kAppId));
    int status = 0;
    // A "finish now" (SIGUSR1) that comes before the export listens for it
    // must not end the process, as its default action would.
    if (argc >= 2 && (std::strcmp(argv[1], "--export") == 0 || std::strcmp(argv[1], "--farm") == 0))
        std::signal(SIGUSR1, SIG_IGN);
    if (argc >= 2 && std::strcmp(argv[1], "--farm") == 0) {
        QStringList arguments;
        for (int i = 2; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        FarmCommand command;
        QString error;
        if (!parseFarmCommand(arguments, &command, &error)) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(error));
            return 2;
        }
        if (gs::prepareHeadlessPlatform())
            LOGD("farm: no display; drawing without one");
        QCoreApplication::setApplicationName(QStringLiteral("Korvel-farm-%1").arg(QCoreApplication::applicationPid()));
        watchStart();
        ZyApp app(argc, argv);
        started();
        app.setInteractive(false);
        status = runFarmCommand(command);
        LOGD("Korvel farm render ended with status %d", status);
        return status;
    }
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
        // Without a display, OpenGL comes from EGL with no window system at all.
        if (gs::prepareHeadlessPlatform())
            LOGD("export: no display; drawing without one");
        // A name of its own: an editor that is open does not stop a scripted export.
        QCoreApplication::setApplicationName(
            QStringLiteral("Korvel-export-%1").arg(QCoreApplication::applicationPid()));
        watchStart();
        ZyApp app(argc, argv);
        started();
        ZyTransLator translator;
        app.installTranslator(&translator);
        app.setInteractive(false);
        TransTranslate::instance();
        status = runExportCommand(command);
        LOGD("Korvel export ended with status %d", status);
        return status;
    }
    {
        watchStart();
        ZyApp app(argc, argv);
        started();
        auto* translator = new ZyTransLator;
        app.installTranslator(translator);
        if (app.isSecondary()) {
            LOGD("Korvel is already running; this start ends here");
            delete translator;
            return 0;
        }
        TransTranslate::instance();
        startCachePruning();
        if (!app.initialize()) {
            delete translator;
            return -1;
        }
        const QIcon themeIcon = QIcon::fromTheme(QString::fromLatin1(desktop::kAppId));
        if (!themeIcon.isNull())
            app.setWindowIcon(themeIcon);
        new DesktopIntegration(&app);
        QStringList arguments = app.arguments();
        arguments.removeFirst();
        app.startSession(arguments);
        // A signal during a start-up question ended only that question.
        status = app.endRequested() ? 0 : app.exec();
        // From here on the program only ends: a new start need not wait for
        // it, and a worker stuck in a media file (a hung network share) may
        // not keep it alive.
        app.releaseGuard();
        ff::interruptAllMedia();
        armShutdownWatchdog(status);
        delete translator;
    }
    LOGD("Korvel ended with status %d", status);
    return status;
}
