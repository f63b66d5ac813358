#include "render/record/record-manager.h"

#include "render/record/record-thread.h"
#include "render/record/wav-encoder.h"
#include "value/interface.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <utility>

RecordManager::RecordManager(QObject* parent) : QObject(parent) {
    qRegisterMetaType<MoveType>("MoveType");
    qRegisterMetaType<EditType>("EditType");
    qRegisterMetaType<int64_t>("int64_t");
}

RecordManager::~RecordManager() {
    if (m_recording)
        RecordAudio(false);
}

QString RecordManager::recordFolder() {
    QString folder = QString::fromStdString(bg::configText("mic.dir"));
    if (folder.isEmpty()) {
        folder = QDir::homePath() + QStringLiteral("/Korvel");
        bg::iface()->configSet("mic.dir", folder.toStdString());
        bg::iface()->configSave();
    }
    if (!QDir().mkpath(folder))
        LOGW("record: cannot create the recordings folder %s", folder.toUtf8().constData());
    return folder;
}

void RecordManager::RecordAudio(bool start) {
    if (start) {
        if (m_recording)
            return;
        m_path = recordFolder() + QStringLiteral("/") + QUuid::createUuid().toString(QUuid::WithBraces) +
                 QStringLiteral(".wav");
        m_filePath = m_path;
        m_error = false;
        m_full = false;
        m_recording = true;
        emit sig_audioSourceItem(true, m_path, false);
        m_thread = new RecordThread(m_path, this);
        RecordThread* thread = m_thread;
        const uint64_t generation = ++m_generation;
        // One request moves the head by every frame owed when it is handled.
        connect(m_thread, &RecordThread::sig_frameRequest, this, [this, thread, generation] {
            if (generation != m_generation || m_thread != thread)
                return; // the take has ended; its last frames were given then
            if (const int64_t owed = thread->takeOwedFrames(); owed > 0)
                emit sig_frameRequest(MoveStep, EditRecording, owed, 30);
        });
        connect(m_thread, &RecordThread::sig_recordError, this, &RecordManager::slot_recordError);
        connect(m_thread, &RecordThread::sig_recordStop, this, &RecordManager::slot_recordStop);
        connect(m_thread, &RecordThread::sig_recordFull, this, &RecordManager::slot_recordFull);
        m_thread->start();
        // Until a saved project holds the take, the next start looks for it:
        // a crash now leaves a whole file that no project names.
        QStringList takes = unfinishedTakes();
        takes.append(m_path);
        setUnfinishedTakes(takes);
        LOGD("record: recording into %s", m_path.toUtf8().constData());
        return;
    }
    if (!m_recording)
        return;
    m_thread->stop(); // stops the capture and closes the file
    // The head ends where the take does.
    const int64_t owed = m_thread->takeOwedFrames();
    delete m_thread;
    m_thread = nullptr;
    ++m_generation;
    if (owed > 0)
        emit sig_frameRequest(MoveStep, EditRecording, owed, 30);
    // A file without a single sample (no microphone, or stopped at once)
    // makes no clip: nothing would play, and the file is of no use.
    const QFileInfo file(m_filePath);
    const QString written = m_filePath;
    if (file.exists() && file.size() <= wav::WavEncoder::kPlainHeaderBytes) {
        LOGD("record: nothing was captured; %s removed", m_filePath.toUtf8().constData());
        QFile::remove(m_filePath);
        m_path.clear();
    } else if (!file.exists()) {
        m_path.clear();
    }
    m_filePath.clear();
    m_recording = false;
    // A take with sound stays named until the project holding it is saved.
    QStringList takes = unfinishedTakes();
    if (m_path.isEmpty())
        takes.removeAll(written);
    else
        m_takes.append(m_path);
    setUnfinishedTakes(takes);
    emit sig_audioSourceItem(false, m_path, m_error);
    if (std::exchange(m_full, false))
        emit sig_recordCutShort(m_path); // empty when nothing could be kept
}

QStringList RecordManager::unfinishedTakes() {
    return QString::fromStdString(bg::configText(kUnfinishedTakeKey)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void RecordManager::setUnfinishedTakes(const QStringList& takes) {
    const std::string text = takes.join(QLatin1Char('\n')).toStdString();
    if (text == bg::configText(kUnfinishedTakeKey))
        return;
    bg::iface()->configSet(kUnfinishedTakeKey, text);
    bg::iface()->configSave();
}

void RecordManager::forgetStoppedTakes() {
    if (m_takes.isEmpty())
        return;
    QStringList takes = unfinishedTakes();
    for (const QString& take : qAsConst(m_takes))
        takes.removeAll(take);
    m_takes.clear();
    setUnfinishedTakes(takes);
}

void RecordManager::slot_recordError() {
    m_path.clear();
    m_error = true;
    emit sig_controlRecord();
}

void RecordManager::slot_recordFull() {
    if (!m_recording || m_full)
        return;
    // Stopped as the user stops it: the take lands with what the file holds.
    m_full = true;
    emit sig_controlRecord();
}

void RecordManager::slot_recordStop() {
    m_error = true;
    emit sig_controlRecord();
}
