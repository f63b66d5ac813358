// The project archive: a folder with the project file and a copy of every
// media file it uses, stored by relative paths so that the folder can move.
// One per application object, GUI thread only.
#pragma once

#include "archive-copier.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class ArchivedProcessDialog;
class ZyApp;
class QTimer;

class ProjectArchive : public QObject {
    Q_OBJECT
public:
    explicit ProjectArchive(ZyApp* app);
    // An archive still copying is told to stop and waited for; the progress
    // window goes with it.
    ~ProjectArchive() override;

    // Archives the open project into path (target folder + "/" + name): the
    // folder <folder>/<name up to its first dot> holds that name's ".zya2"
    // and a "resource" folder with one copy of every media file. The media
    // are copied on a pool thread behind the modal progress window; the
    // project file is then written on the GUI thread by finish(). False
    // (with a message) when it could not start.
    bool start(const QString& path);
    bool isRunning() const { return m_job != nullptr; }
    // Tells a running copy to stop and waits for its thread.
    void stop();
    // The copying ended: writes the project file beside the copies, closes
    // the progress window and reports what failed. Emits finished.
    void finish(const QString& projectFile);

    // A save into an archive folder that start() did not prepare: the copies
    // are made now, below folder, for the writers that follow. False when
    // the copies are already there (a save from finish()).
    bool copyNowFor(const QString& folder);
    // After that save: the copies are forgotten.
    void endCopies();

    // How the writers store a media path in an archive's project file: its
    // copy, relative to folder (or its own path when it has none).
    std::function<QString(const QString&)> pathWriter();
    // During an archive save: the copy of a media file inside the archive
    // (absolute), or the file's own absolute path when it has none. Outside
    // one, copies the file into the application's archive folder now.
    QString copyOf(const QString& mediaPath);

    // The files the last archive could not copy, "path: reason" each.
    QStringList failures() const { return m_failures; }
    // The progress window, made by the first archive.
    ArchivedProcessDialog* progressDialog() const;

    // True when path (absolute) lies below folder.
    static bool insideFolder(const QString& path, const QString& folder);

signals:
    // complete is false when files are missing from the archive or its
    // project file could not be written.
    void finished(QString projectFile, bool complete);

private:
    // A save's writers first run in Collect to name the media, then in
    // Write to store their copies.
    enum class Phase { None, Collect, Write };
    struct Job;

    QStringList collectMedia();
    void showProgress();
    void join();
    void reportFailures();
    void removeCopies(const Job& job);
    void setFailures(const QList<archive::Failure>& failures);

    ZyApp* m_app;
    Phase m_phase = Phase::None;
    QStringList m_collected;          // Collect: the paths the writers named
    QHash<QString, QString> m_copies; // Write: media path -> its copy
    QStringList m_failures;
    std::shared_ptr<Job> m_job; // shared with its pool thread
    QPointer<ArchivedProcessDialog> m_dialog;
    QTimer* m_ticker = nullptr;
    bool m_autoSaveBefore = false;
};
