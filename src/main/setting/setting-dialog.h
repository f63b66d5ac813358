// The settings dialog: interface language (effective at the next start),
// the microphone for voice-over recording, hardware decoding (for files
// opened from then on) and the network proxy.
//
// GUI thread only. The dialog owns its widgets and its device enumerator;
// it reads and writes the configuration store ("IsEnglish", "Micphone",
// "DeviceId", "hardware_decoding", "use_system_proxy", "proxy_url",
// "proxy_port") and saves it after each change, and applies the proxy to the
// running program through the application object when it closes.
#pragma once

#include <QDialog>
#include <QMap>
#include <QString>
#include <QStringList>

#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QToolButton;

namespace cap {
class DeviceEnumerator;
}

// Hardware decoding of video: "auto" or "off" in the configuration store,
// unless this run's command line chose with --hwaccel auto|none, which then
// holds until the program ends.
namespace hwaccel {
constexpr const char* kConfigKey = "hardware_decoding";
// Takes "--hwaccel VALUE" or "--hwaccel=VALUE" out of the arguments (any
// place); false, with the reason, when the value is neither auto nor none.
bool takeOption(int& argc, char** argv, std::string* error);
// Sets the media decoder to the command line's choice, else the stored one.
void apply();
// The stored choice (true: auto), and storing one (applied unless the
// command line chose).
bool storedAuto();
void store(bool automatic);
// What this run decodes with (the command line's choice, else the stored
// one), as the option that makes a child process do the same.
QStringList childOption();
} // namespace hwaccel

class SettingDialog : public QDialog {
    Q_OBJECT
public:
    explicit SettingDialog(QWidget* parent = nullptr);
    ~SettingDialog() override;

    // A proxy text split into address and port: "host:port" gives both, any
    // other text (no ':' or several) is all address and an empty port.
    static QStringList splitProxy(const QString& text);

    // Closing by any road (close button, Escape, done()) applies and stores the proxy first.
    void done(int result) override;

private slots:
    void on_comboBox_lauguage_activated(QString arg1);
    void on_comboBox_mic_activated(QString arg1);
    void on_comboBox_hwaccel_activated(int index);
    void on_toolButton_mic_clicked();
    void slot_defaultInputDeviceChanged();
    void slot_deviceCollecttionChanged();
    void on_checkBox_use_system_proxy_clicked(bool checked);

private:
    void buildForm();
    void fillMicrophones();
    void applyProxy();
    void showHint(const QString& text);

    QComboBox* m_language = nullptr;
    QComboBox* m_mic = nullptr;
    QComboBox* m_hwaccel = nullptr; // automatic, off
    QToolButton* m_soundSettings = nullptr;
    QCheckBox* m_useSystemProxy = nullptr;
    QLabel* m_urlLabel = nullptr;
    QLabel* m_portLabel = nullptr;
    QLineEdit* m_url = nullptr;
    QLineEdit* m_port = nullptr;
    cap::DeviceEnumerator* m_devices = nullptr; // child of the dialog
    QMap<QString, QString> m_micIds;           // shown name -> the server's source name
};
