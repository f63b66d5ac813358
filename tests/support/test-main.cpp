#include "test-main.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>

#include <cstdio>
#include <dlfcn.h>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <unistd.h>

namespace korvel::test {

namespace {
std::string g_runFolder;

void removeRunFolder() {
    if (!g_runFolder.empty() && !std::getenv("KORVEL_KEEP_TEST_FOLDERS"))
        QDir(QString::fromStdString(g_runFolder)).removeRecursively();
}
} // namespace

void prepareEnvironment(const char* testName) {
    std::string pattern = QDir::tempPath().toStdString() + "/korvel-" + testName + "-XXXXXX";
    char* made = mkdtemp(pattern.data());
    if (!made) {
        std::fprintf(stderr, "cannot create the test folder %s\n", pattern.c_str());
        std::exit(1);
    }
    g_runFolder = made;
    for (const char* sub : {"/config", "/state", "/home", "/work"})
        QDir().mkpath(QString::fromStdString(g_runFolder + sub));
    setenv("KORVEL_CONFIG_DIR", (g_runFolder + "/config").c_str(), 1);
    setenv("KORVEL_STATE_DIR", (g_runFolder + "/state").c_str(), 1);
    setenv("HOME", (g_runFolder + "/home").c_str(), 1);
    // Tests watch for debug lines (a decoder opened, the program ready), and
    // so do the korvel processes they start.
    setenv("KORVEL_DEBUG", "1", 1);
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_STATE_HOME");
    unsetenv("XDG_CACHE_HOME"); // the cache goes under the private home
    unsetenv("KORVEL_CACHE_DIR");
    // The desktop's recent files live there.
    unsetenv("XDG_DATA_HOME");
    std::atexit(removeRunFolder);
}

QString runFolder() { return QString::fromStdString(g_runFolder); }

QString workFolder(const QString& name) {
    QString path = runFolder() + "/work/" + name;
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    return path;
}

bool chooseInFileDialog(QFileDialog* dialog, const QString& path) {
    static QPointer<QFileDialog> seen;
    static int ticks = 0;
    if (seen != dialog) {
        seen = dialog;
        ticks = 0;
    }
    ++ticks;
    const QString wanted = QFileInfo(path).absoluteFilePath();
    const QStringList chosen = dialog->selectedFiles();
    if (ticks < 3 || chosen.size() != 1 || QFileInfo(chosen.first()).absoluteFilePath() != wanted) {
        if (ticks % 50 == 0)
            qWarning("file dialog: %s chosen after %d tries, %s wanted", qUtf8Printable(chosen.join(", ")), ticks,
                     qUtf8Printable(wanted));
        // The dialog lists its folder on a thread of its own, and may reset
        // the name typed meanwhile: the folder and then the name are set
        // again until they hold.
        dialog->setDirectory(QFileInfo(path).isDir() ? path : QFileInfo(wanted).absolutePath());
        dialog->selectFile(path);
        if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            name && !QFileInfo(path).isDir())
            name->setText(QFileInfo(wanted).fileName());
        return false;
    }
    QMetaObject::invokeMethod(dialog, "accept");
    seen = nullptr;
    return true;
}

bool environmentRequired() { return std::getenv("KORVEL_TEST_ENV") || std::getenv("CI"); }

void requireDisplay() {
    const char* display = std::getenv("DISPLAY");
    if (display && *display) {
        // Mesa's driver is unloaded before the leak check runs, which turns its
        // allocations into reports nobody can name; keep it resident.
        dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NODELETE);
        return;
    }
    if (environmentRequired()) {
        std::fprintf(stderr, "FAIL: this test needs an X display (run it under scripts/test-env)\n");
        std::exit(1);
    }
    std::fprintf(stderr, "SKIP: no X display; run under scripts/test-env\n");
    std::exit(77);
}

QByteArray captureStderr(const std::function<void()>& fn) {
    std::fflush(stderr);
    int saved = dup(STDERR_FILENO);
    char path[] = "/tmp/korvel-stderr-XXXXXX";
    int fd = mkstemp(path);
    dup2(fd, STDERR_FILENO);
    fn();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    QByteArray text;
    lseek(fd, 0, SEEK_SET);
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, int(n));
    close(fd);
    unlink(path);
    return text;
}

} // namespace korvel::test
