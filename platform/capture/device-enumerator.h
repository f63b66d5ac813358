// The sound server's capture sources and playback sinks, and its default
// source and sink, kept up to date from a subscription to the server's
// source, sink and server changes (PulseAudio's asynchronous API on its own
// threaded main loop).
//
// The object lives on the thread that creates it; its signals are emitted
// there (the loop thread's notices are queued to it). Construction waits a
// bounded time for the server; without one the lists stay empty, a log
// line says why, and the enumerator keeps trying to connect in the
// background so that a server that appears later is picked up.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

namespace cap {

struct AudioDevice {
    QString id;   // the server's name of the source or sink ("alsa_input.pci-…")
    QString name; // its description, as the desktop shows it
};

class DeviceEnumerator : public QObject {
    Q_OBJECT

public:
    // How long construction and Update() wait for the server at most.
    static constexpr int kTimeoutMs = 2000;

    explicit DeviceEnumerator(QObject* parent = nullptr);
    ~DeviceEnumerator() override; // unsubscribes and disconnects

    bool isConnected() const;
    // Capture sources that can record (monitors of sinks are left out), in
    // the server's order.
    QList<AudioDevice> inputDevices() const;
    QList<AudioDevice> outputDevices() const;
    // The server's default source and sink; empty when unknown.
    QString defaultInputId() const;
    QString defaultOutputId() const;

public slots:
    // Reads both lists again (bounded wait); emits DeviceCollectionChanged.
    void Update();
    // Store the id and emit the matching signal.
    void OnDefaultInputDeviceChanged(QString deviceId);
    void OnDefaultOutputDeviceChanged(QString deviceId);

signals:
    void DefaultInputDeviceChanged();
    void DefaultOutputDeviceChanged();
    void DeviceCollectionChanged();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace cap
