// Starts and stops voice-over recording into a new WAV file in the
// recordings folder ("mic.dir"), and tells the timeline where the dub clip
// begins and which file it ends with. GUI thread only.
#pragma once

#include "render/frame-types.h"

#include <QObject>
#include <QString>

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
    // The setting that names the take being recorded, empty when none: one
    // still named at start was cut off by a crash.
    static constexpr const char* kUnfinishedTakeKey = "record.unfinished";

public slots:
    void slot_recordError();
    void slot_recordStop();

signals:
    void sig_audioSourceItem(bool start, QString path, bool error);
    void sig_frameRequest(MoveType type, EditType edit, int64_t times, int64_t fps);
    // The user interface is to switch the recording off.
    void sig_controlRecord();

private:
    RecordThread* m_thread = nullptr;
    QString m_path;     // the file the timeline is told of; empty after an error at the start
    QString m_filePath; // the file being written
    bool m_error = false;
    bool m_recording = false;
};
