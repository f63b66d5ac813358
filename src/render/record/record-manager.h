// Starts and stops voice-over recording into a new WAV file in the
// recordings folder ("mic.dir"), and tells the timeline where the dub clip
// begins and which file it ends with. GUI thread only.
#pragma once

#include "render/frame-types.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>

class RecordThread;

class RecordManager : public QObject {
    Q_OBJECT

public:
    explicit RecordManager(QObject* parent = nullptr);
    ~RecordManager() override; // stops a running recording

    void RecordAudio(bool start);
    bool isRecording() const { return m_recording; }
    QString currentPath() const { return m_path; }
    bool hadError() const { return m_error; }

    // The recordings folder: "mic.dir", else the home folder + "/Korvel"
    // (written back when missing); created when it does not exist.
    static QString recordFolder();
    // The setting that names the takes recorded since the project was last
    // saved (one path a line), empty when none: a take still named at start
    // was cut off by a crash, or the crash came before a save held it.
    static constexpr const char* kUnfinishedTakeKey = "record.unfinished";
    static QStringList unfinishedTakes();
    // The project was saved, or closed by the user's choice: the takes this
    // session stopped are no longer at risk. The one recording stays named.
    void forgetStoppedTakes();

public slots:
    void slot_recordError();
    void slot_recordStop();
    void slot_recordFull();

signals:
    void sig_audioSourceItem(bool start, QString path, bool error);
    void sig_frameRequest(MoveType type, EditType edit, int64_t times, int64_t fps);
    // The user interface is to switch the recording off.
    void sig_controlRecord();
    // The take stopped by itself: its file took no more sound (a full disk).
    // The clip holds what was written (path; empty when nothing was), and
    // the user is to be told.
    void sig_recordCutShort(QString path);

private:
    static void setUnfinishedTakes(const QStringList& takes);

    RecordThread* m_thread = nullptr;
    uint64_t m_generation = 0; // counts takes, so a late request of an ended one is dropped
    QStringList m_takes; // stopped this session and still named in the settings
    QString m_path;     // the file the timeline is told of; empty after an error at the start
    QString m_filePath; // the file being written
    bool m_error = false;
    bool m_full = false; // the file took no more sound
    bool m_recording = false;
};
