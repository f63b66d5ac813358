// What the sound tests share: recording the null sink of the private sound
// server, finding a tone in a recording, and a sound server of the test's
// own that it can kill and bring back.
#pragma once

#include "support/test-main.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QVector>

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace soundcheck {

constexpr int kRate = 44100;
constexpr int kChannels = 2;

// True when a sound server is given (scripts/test-env exports one).
inline bool haveServer() {
    return !qEnvironmentVariableIsEmpty("PULSE_SERVER");
}

// Interleaved 16-bit stereo of a sine tone.
inline QByteArray sine(double frequency, int frames, double amplitude = 8000, int64_t startFrame = 0) {
    QByteArray out(frames * kChannels * 2, Qt::Uninitialized);
    auto* s = reinterpret_cast<int16_t*>(out.data());
    for (int i = 0; i < frames; ++i) {
        auto v =
            int16_t(std::lround(amplitude * std::sin(2 * M_PI * frequency * double(startFrame + i) / kRate)));
        s[2 * i] = v;
        s[2 * i + 1] = v;
    }
    return out;
}

// Amplitude of one frequency in the left channel of frames [from, from + count) (Goertzel).
inline double toneAmplitude(const int16_t* pcm, int count, double frequency) {
    const double w = 2 * M_PI * frequency / kRate;
    const double coeff = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (int i = 0; i < count; ++i) {
        double s0 = pcm[i * kChannels] + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return 2 * std::sqrt(std::max(power, 0.0)) / count;
}

inline double rms(const int16_t* pcm, int count) {
    double sum = 0;
    for (int i = 0; i < count; ++i)
        sum += double(pcm[i * kChannels]) * pcm[i * kChannels];
    return count > 0 ? std::sqrt(sum / count) : 0;
}

struct ToneReport {
    int toneMs = 0;  // length of the 50 ms windows the tone rules
    int soundMs = 0; // length of the windows with any sound at all
    double peakAmplitude = 0;
};

// Windows of 50 ms in which the frequency carries most of the sound.
inline ToneReport findTone(const QByteArray& recording, double frequency) {
    constexpr int kWindow = kRate / 20;
    const auto* pcm = reinterpret_cast<const int16_t*>(recording.constData());
    const int frames = int(recording.size() / (kChannels * 2));
    ToneReport report;
    for (int at = 0; at + kWindow <= frames; at += kWindow) {
        const int16_t* w = pcm + size_t(at) * kChannels;
        const double level = rms(w, kWindow);
        if (level < 100)
            continue;
        report.soundMs += 50;
        const double a = toneAmplitude(w, kWindow, frequency);
        report.peakAmplitude = std::max(report.peakAmplitude, a);
        // A pure tone of amplitude a has an RMS of a / sqrt(2).
        if (a / std::sqrt(2.0) > 0.7 * level)
            report.toneMs += 50;
    }
    return report;
}

// Records what the null sink "korvel_null" of the server in PULSE_SERVER plays.
class MonitorRecorder {
public:
    bool start(const QString& server = QString()) {
        QStringList args = {"-d",           "korvel_null.monitor", "--raw", "--format=s16le", "--rate=44100",
                            "--channels=2", "--latency-msec=20"};
        if (!server.isEmpty())
            args << "-s" << server;
        m_process.start("parec", args);
        if (!m_process.waitForStarted(3000))
            return false;
        // parec connects on its own time; the first bytes tell it is recording.
        QElapsedTimer t;
        t.start();
        while (m_process.bytesAvailable() == 0 && t.elapsed() < 3000)
            m_process.waitForReadyRead(50);
        m_data = m_process.readAll();
        return !m_data.isEmpty();
    }
    // Everything recorded since start().
    QByteArray stop() {
        // A last moment so that what was just played reaches the monitor.
        QThread::msleep(150);
        m_data += m_process.readAll();
        m_process.terminate();
        m_process.waitForFinished(3000);
        m_data += m_process.readAll();
        return m_data;
    }
    ~MonitorRecorder() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

private:
    QProcess m_process;
    QByteArray m_data;
};

// Runs a command and keeps its chatter out of the test's output.
inline int runQuiet(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// A sound server of the test's own, with the same null sink as the shared
// one, which the test may kill and start again at the same address.
class PrivateServer {
public:
    explicit PrivateServer(const QString& name) : m_folder(korvel::test::workFolder(name)) {
        QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    ~PrivateServer() { kill(); }

    QString address() const { return "unix:" + m_folder + "/pulse.sock"; }

    bool start() {
        QFile::remove(m_folder + "/pulse.sock");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", m_folder);
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start("pulseaudio",
                        {"-n", "--daemonize=no", "--exit-idle-time=-1", "--system=no", "--use-pid-file=no",
                         "--log-target=file:" + m_folder + "/pa.log", "-L",
                         "module-native-protocol-unix socket=" + m_folder + "/pulse.sock auth-anonymous=1",
                         "-L", "module-null-sink sink_name=korvel_null"});
        if (!m_process.waitForStarted(3000))
            return false;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000) {
            if (runQuiet("pactl", {"-s", address(), "info"}) == 0) {
                runQuiet("pactl", {"-s", address(), "set-default-sink", "korvel_null"});
                return true;
            }
            QThread::msleep(50);
        }
        return false;
    }
    // Gone at once, as a crashed server is.
    void kill() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(3000);
    }

private:
    QString m_folder;
    QProcess m_process;
};

// Points this process's sound clients at another server while in scope.
class ServerOverride {
public:
    explicit ServerOverride(const QByteArray& address) : m_saved(qgetenv("PULSE_SERVER")) {
        qputenv("PULSE_SERVER", address);
    }
    ~ServerOverride() { qputenv("PULSE_SERVER", m_saved); }

private:
    QByteArray m_saved;
};

} // namespace soundcheck
