#include "config-store.h"

#include "interface.h"
#include "paths.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

namespace bg {

namespace {

QString iniText(const QVariant& v) {
    // Unquoted texts with commas come back from the ini reader as lists.
    if (v.type() == QVariant::StringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

} // namespace

void ConfigStore::loadLocked() {
    if (m_loaded)
        return;
    m_loaded = true;
    m_path = configDirectory() + "/korvel.ini";
    if (!QFileInfo::exists(QString::fromStdString(m_path)))
        return;
    QSettings ini(QString::fromStdString(m_path), QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    // A damaged line loses that line, not every setting: what the reader
    // took is used, and the file as it was is kept beside it before a save
    // writes over it.
    for (const QString& key : ini.allKeys())
        m_values[key.toStdString()] = iniText(ini.value(key)).toStdString();
    if (ini.status() != QSettings::NoError) {
        m_damaged = true;
        LOGW("configuration file %s is damaged; the %d settings that could be read are used", m_path.c_str(),
             int(m_values.size()));
    }
}

void ConfigStore::keepDamagedFileLocked() {
    if (!m_damaged)
        return;
    m_damaged = false;
    const QString path = QString::fromStdString(m_path);
    QString kept = path + QStringLiteral(".damaged");
    for (int n = 2; QFileInfo::exists(kept) && n < 100; ++n)
        kept = path + QStringLiteral(".damaged-%1").arg(n);
    if (QFile::copy(path, kept))
        LOGW("configuration file %s was damaged; it is kept as it was in %s", m_path.c_str(),
             kept.toUtf8().constData());
    else
        LOGE("configuration file %s was damaged and cannot be kept aside; it is written anew", m_path.c_str());
}

bool ConfigStore::get(const std::string& key, std::string* text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    loadLocked();
    auto it = m_values.find(key);
    if (it == m_values.end())
        return false;
    if (text)
        *text = it->second;
    return true;
}

void ConfigStore::set(const std::string& key, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    loadLocked();
    m_values[key] = text;
}

void ConfigStore::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    loadLocked();
    m_values.clear();
}

bool ConfigStore::save() {
    std::lock_guard<std::mutex> lock(m_mutex);
    loadLocked();
    if (!makeDirectory(configDirectory())) {
        LOGE("configuration folder %s cannot be created", configDirectory().c_str());
        return false;
    }
    keepDamagedFileLocked();
    // QSettings writes through a temporary file and renames it, so a crash
    // during the save leaves the previous file whole.
    QSettings ini(QString::fromStdString(m_path), QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    ini.clear();
    for (const auto& [key, text] : m_values)
        ini.setValue(QString::fromStdString(key), QString::fromStdString(text));
    ini.sync();
    if (ini.status() != QSettings::NoError) {
        LOGE("configuration file %s cannot be written", m_path.c_str());
        return false;
    }
    return true;
}

std::string ConfigStore::filePath() {
    std::lock_guard<std::mutex> lock(m_mutex);
    loadLocked();
    return m_path;
}

} // namespace bg
