#include "main/setting/setting-dialog.h"

#include "capture/device-enumerator.h"
#include "main/qssmanager.h"
#include "main/zyapp.h"
#include "media/media.h"
#include "value/interface.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

namespace {

constexpr const char* kChinese = "简体中文";
constexpr const char* kEnglish = "English";
constexpr const char* kLanguageKey = "IsEnglish";
constexpr const char* kMicKey = "Micphone";
constexpr const char* kDeviceIdKey = "DeviceId";
constexpr const char* kDefaultDevice = "default";

// The desktop's sound settings: the first program found, with its arguments.
struct SoundSettingsProgram {
    const char* name;
    QStringList arguments;
};

bool g_hwaccelFromCommandLine = false; // this run's command line chose
bool g_hwaccelCommandLineAuto = true;

} // namespace

namespace hwaccel {

bool takeOption(int& argc, char** argv, std::string* error) {
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const char* value = nullptr;
        if (std::strcmp(argv[i], "--hwaccel") == 0) {
            if (i + 1 >= argc) {
                *error = "--hwaccel needs a value: auto or none";
                return false;
            }
            value = argv[++i];
        } else if (std::strncmp(argv[i], "--hwaccel=", 10) == 0) {
            value = argv[i] + 10;
        } else {
            argv[kept++] = argv[i];
            continue;
        }
        if (std::strcmp(value, "auto") != 0 && std::strcmp(value, "none") != 0) {
            *error = std::string("--hwaccel ") + value + " is not usable: auto or none";
            return false;
        }
        g_hwaccelFromCommandLine = true;
        g_hwaccelCommandLineAuto = std::strcmp(value, "auto") == 0;
    }
    argc = kept;
    argv[argc] = nullptr;
    return true;
}

bool storedAuto() {
    // "none" as the command line says it means off as well.
    const std::string stored = bg::configText(kConfigKey, "auto");
    return stored != "off" && stored != "none";
}

void apply() {
    const bool automatic = g_hwaccelFromCommandLine ? g_hwaccelCommandLineAuto : storedAuto();
    ff::setHardwareDecoding(automatic ? ff::HardwareDecoding::Auto : ff::HardwareDecoding::None);
}

QStringList childOption() {
    const bool automatic = g_hwaccelFromCommandLine ? g_hwaccelCommandLineAuto : storedAuto();
    return {QStringLiteral("--hwaccel"), automatic ? QStringLiteral("auto") : QStringLiteral("none")};
}

void store(bool automatic) {
    bg::iface()->configSet(kConfigKey, automatic ? "auto" : "off");
    if (!bg::iface()->configSave())
        LOGW("the hardware decoding setting could not be saved to %s", bg::iface()->configFilePath().c_str());
    apply();
}

} // namespace hwaccel

SettingDialog::SettingDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SettingDialog"));
    setWindowTitle(tr("settingdialog.settings"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowModality(Qt::ApplicationModal);
    buildForm();
    auto* qss = new QssManager(this, true);
    qss->loadStyleSheet(QStringLiteral(":/qss/setting-dialog.css"));
    const double scale = QssManager::dpiScale();
    resize(int(330 * scale), int(100 * scale));

    const QString language = QString::fromStdString(bg::configText(kLanguageKey, kChinese));
    const int languageIndex = m_language->findText(language);
    m_language->setCurrentIndex(languageIndex < 0 ? 0 : languageIndex);

    m_devices = new cap::DeviceEnumerator(this);
    connect(m_devices, &cap::DeviceEnumerator::DefaultInputDeviceChanged, this,
            &SettingDialog::slot_defaultInputDeviceChanged);
    connect(m_devices, &cap::DeviceEnumerator::DeviceCollectionChanged, this,
            &SettingDialog::slot_deviceCollecttionChanged);
    fillMicrophones();
    m_hwaccel->setCurrentIndex(hwaccel::storedAuto() ? 0 : 1);

    ZyApp* app = ZyApp::instance();
    m_useSystemProxy->setChecked(app && app->useSystemProxy());
    on_checkBox_use_system_proxy_clicked(m_useSystemProxy->isChecked());

    connect(m_language, &QComboBox::textActivated, this, &SettingDialog::on_comboBox_lauguage_activated);
    connect(m_mic, &QComboBox::textActivated, this, &SettingDialog::on_comboBox_mic_activated);
    connect(m_hwaccel, qOverload<int>(&QComboBox::activated), this, &SettingDialog::on_comboBox_hwaccel_activated);
    connect(m_soundSettings, &QToolButton::clicked, this, &SettingDialog::on_toolButton_mic_clicked);
    connect(m_useSystemProxy, &QCheckBox::clicked, this, &SettingDialog::on_checkBox_use_system_proxy_clicked);
}

SettingDialog::~SettingDialog() = default;

void SettingDialog::buildForm() {
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;

    auto* languageLabel = new QLabel(tr("settingdialog.ChooseLanguage"), this);
    languageLabel->setObjectName(QStringLiteral("label_language"));
    m_language = new QComboBox(this);
    m_language->setObjectName(QStringLiteral("comboBox_lauguage"));
    m_language->setView(new QListView(m_language));
    m_language->addItems({QString::fromUtf8(kChinese), QLatin1String(kEnglish)});
    grid->addWidget(languageLabel, 0, 0);
    grid->addWidget(m_language, 0, 1, 1, 2);

    auto* micLabel = new QLabel(tr("settingdialog.mic"), this);
    micLabel->setObjectName(QStringLiteral("label_mic"));
    m_mic = new QComboBox(this);
    m_mic->setObjectName(QStringLiteral("comboBox_mic"));
    m_mic->setView(new QListView(m_mic));
    m_mic->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_mic->setMinimumContentsLength(12);
    m_soundSettings = new QToolButton(this);
    m_soundSettings->setObjectName(QStringLiteral("toolButton_mic"));
    m_soundSettings->setText(QStringLiteral("…"));
    m_soundSettings->setToolTip(tr("settingdialog.SoundSettings"));
    grid->addWidget(micLabel, 1, 0);
    grid->addWidget(m_mic, 1, 1);
    grid->addWidget(m_soundSettings, 1, 2);

    auto* hwaccelLabel = new QLabel(tr("settingdialog.HardwareDecoding"), this);
    hwaccelLabel->setObjectName(QStringLiteral("label_hwaccel"));
    m_hwaccel = new QComboBox(this);
    m_hwaccel->setObjectName(QStringLiteral("comboBox_hwaccel"));
    m_hwaccel->setView(new QListView(m_hwaccel));
    m_hwaccel->addItems({tr("settingdialog.HardwareAuto"), tr("settingdialog.HardwareOff")});
    m_hwaccel->setToolTip(tr("settingdialog.HardwareHint"));
    grid->addWidget(hwaccelLabel, 2, 0);
    grid->addWidget(m_hwaccel, 2, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);

    auto* network = new QGroupBox(tr("settingdialog.Network"), this);
    network->setObjectName(QStringLiteral("groupBox_network"));
    auto* networkLayout = new QGridLayout(network);
    m_useSystemProxy = new QCheckBox(tr("settingdialog.system"), network);
    m_useSystemProxy->setObjectName(QStringLiteral("checkBox_use_system_proxy"));
    m_urlLabel = new QLabel(QStringLiteral("代理网址："), network);
    m_urlLabel->setObjectName(QStringLiteral("label_proxy_url"));
    m_portLabel = new QLabel(QStringLiteral("代理端口："), network);
    m_portLabel->setObjectName(QStringLiteral("label_proxy_port"));
    m_url = new QLineEdit(network);
    m_url->setObjectName(QStringLiteral("lineEdit_proxy_url"));
    m_url->setPlaceholderText(tr("settingdialog.proxyurl"));
    m_port = new QLineEdit(network);
    m_port->setObjectName(QStringLiteral("lineEdit_proxy_port"));
    m_port->setPlaceholderText(tr("settingdialog.proxyport"));
    networkLayout->addWidget(m_useSystemProxy, 0, 0, 1, 2);
    networkLayout->addWidget(m_urlLabel, 1, 0);
    networkLayout->addWidget(m_url, 1, 1);
    networkLayout->addWidget(m_portLabel, 2, 0);
    networkLayout->addWidget(m_port, 2, 1);
    // Only the check box is offered; the hidden fields still carry the values applied on close.
    for (QWidget* w : {static_cast<QWidget*>(m_urlLabel), static_cast<QWidget*>(m_portLabel),
                       static_cast<QWidget*>(m_url), static_cast<QWidget*>(m_port)})
        w->hide();
    layout->addWidget(network);
}

void SettingDialog::fillMicrophones() {
    m_mic->clear();
    m_micIds.clear();
    m_mic->addItem(tr("settingdialog.defaultMic"));
    int longest = 0;
    for (const cap::AudioDevice& device : m_devices->inputDevices()) {
        // Two sources may share a description; each item must still name one device.
        QString shown = device.name;
        if (m_micIds.contains(shown) || shown == m_mic->itemText(0))
            shown = QStringLiteral("%1 (%2)").arg(device.name, device.id);
        m_micIds.insert(shown, device.id);
        m_mic->addItem(shown);
        longest = std::max(longest, int(shown.size()));
    }
    // Wide enough for the device names (counted in "X" widths, which hold
    // any common letter), so they show whole; only a name beyond reason is
    // elided, and its pop-up row still shows all of it.
    m_mic->setMinimumContentsLength(std::clamp(longest, 12, 48));
    const QString chosen = QString::fromStdString(bg::configText(kMicKey, kDefaultDevice));
    const int index = m_mic->findText(chosen);
    m_mic->setCurrentIndex(index < 0 ? 0 : index);
}

void SettingDialog::showHint(const QString& text) {
    QMessageBox box(QMessageBox::Information, tr("settingdialog.Hint"), text, QMessageBox::Ok);
    box.button(QMessageBox::Ok)->setText(tr("settingdialog.Ok"));
    box.exec();
}

void SettingDialog::on_comboBox_lauguage_activated(QString arg1) {
    bg::iface()->configSet(kLanguageKey, arg1.toStdString());
    bg::iface()->configSave();
    // Also for the language already in use: the user learns when it applies.
    showHint(tr("settingdialog.EnableByRestart"));
}

void SettingDialog::on_comboBox_mic_activated(QString arg1) {
    bg::iface()->configSet(kMicKey, arg1.toStdString());
    const bool isDefault = m_mic->currentIndex() == 0 || !m_micIds.contains(arg1);
    bg::iface()->configSet(kDeviceIdKey, isDefault ? kDefaultDevice : m_micIds.value(arg1).toStdString());
    bg::iface()->configSave();
}

void SettingDialog::on_comboBox_hwaccel_activated(int index) {
    hwaccel::store(index == 0);
}

void SettingDialog::on_toolButton_mic_clicked() {
    const SoundSettingsProgram programs[] = {
        {"pavucontrol", {}},
        {"gnome-control-center", {QStringLiteral("sound")}},
    };
    for (const SoundSettingsProgram& program : programs) {
        const QString path = QStandardPaths::findExecutable(QLatin1String(program.name));
        if (path.isEmpty())
            continue;
        if (QProcess::startDetached(path, program.arguments))
            return;
        LOGW("the sound settings program %s did not start", qUtf8Printable(path));
    }
    LOGW("no sound settings program (pavucontrol, gnome-control-center) was found");
    showHint(tr("settingdialog.NoSoundSettings"));
}

void SettingDialog::slot_defaultInputDeviceChanged() {
    LOGE("============>defaultInputDeviceChanged");
}

void SettingDialog::slot_deviceCollecttionChanged() {
    fillMicrophones();
}

QStringList SettingDialog::splitProxy(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() == 2)
        return parts;
    return {text, QString()};
}

void SettingDialog::on_checkBox_use_system_proxy_clicked(bool checked) {
    m_url->setEnabled(!checked);
    m_port->setEnabled(!checked);
    ZyApp* app = ZyApp::instance();
    if (checked) {
        const QString system = app ? QString::fromUtf8(app->systemProxy()) : QString();
        qDebug() << "[get_System_Proxy]:" << system;
        const QStringList parts = splitProxy(system);
        m_url->setText(parts.at(0));
        m_port->setText(parts.at(1));
    } else {
        m_url->setText(app ? QString::fromUtf8(app->proxyUrl()) : QString());
        m_port->setText(app ? QString::fromUtf8(app->proxyPort()) : QString());
    }
}

void SettingDialog::applyProxy() {
    const QString url = m_url->text().trimmed();
    const QString port = m_port->text().trimmed();
    const bool useSystem = m_useSystemProxy->isChecked();
    if (ZyApp* app = ZyApp::instance()) {
        app->setUseSystemProxy(useSystem);
        if (!useSystem)
            app->setProxy(url.toUtf8(), port.toUtf8());
        // Start-up reads these keys; without them the choice would last only
        // until the program ends. The manual address is kept while the system
        // proxy is in use, so unticking later brings it back.
        bg::configSetBool("use_system_proxy", app->useSystemProxy());
        bg::iface()->configSet("proxy_url", app->proxyUrl().toStdString());
        bg::iface()->configSet("proxy_port", app->proxyPort().toStdString());
        if (!bg::iface()->configSave())
            LOGW("the proxy settings could not be saved to %s", bg::iface()->configFilePath().c_str());
    }
    m_url->setText(url);
    m_port->setText(port);
}

void SettingDialog::done(int result) {
    applyProxy();
    QDialog::done(result);
}
