#include "App/Platform/Settings.hpp"

#include <QFileInfo>
#include <cmath>

#include "App/Platform/AppPaths.hpp"
#include "Core/Platform/NumberFormat.hpp"

namespace tarvik {

namespace {

QString qkey(const std::string& key) {
    return QString::fromStdString(key);
}

}  // namespace

Settings::Settings(const QString& file) : settings_(file, QSettings::IniFormat) {}

std::unique_ptr<Settings> Settings::standard() {
    return std::make_unique<Settings>(AppPaths::configDirectory() + "/Tarvik/Tarvik.conf");
}

std::unique_ptr<Settings> Settings::legacy() {
    const QString file = AppPaths::configDirectory() + "/local.tarvik.app.conf";
    const QFileInfo info(file);
    // An unreadable file would read as empty and the import be marked done.
    if (!info.isFile() || !info.isReadable()) return nullptr;
    return std::make_unique<Settings>(file);
}

bool Settings::contains(const std::string& key) const {
    return settings_.contains(qkey(key));
}

std::optional<bool> Settings::boolean(const std::string& key) const {
    const QVariant value = settings_.value(qkey(key));
    if (value.typeId() == QMetaType::Bool) return value.toBool();
    if (value.typeId() != QMetaType::QString) return std::nullopt;
    const QString text = value.toString().trimmed().toLower();
    if (text == "true" || text == "1") return true;
    if (text == "false" || text == "0") return false;
    return std::nullopt;
}

std::optional<std::string> Settings::string(const std::string& key) const {
    const QVariant value = settings_.value(qkey(key));
    // A one-element list comes back from INI as a plain text; a real list is not a text.
    if (value.typeId() != QMetaType::QString) return std::nullopt;
    return value.toString().toStdString();
}

std::optional<double> Settings::number(const std::string& key) const {
    const QVariant value = settings_.value(qkey(key));
    std::optional<double> number;
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Int ||
        value.typeId() == QMetaType::LongLong)
        number = value.toDouble();
    else if (value.typeId() == QMetaType::QString)
        // The C locale's reading: the application's own locale may use a decimal comma.
        number = numbers::parseDouble(value.toString().trimmed().toStdString());
    // "nan" or "inf" would reach ffmpeg as a loudness target: not a number here.
    if (number && !std::isfinite(*number)) return std::nullopt;
    return number;
}

std::optional<std::vector<std::string>> Settings::stringList(const std::string& key) const {
    if (!settings_.contains(qkey(key))) return std::nullopt;
    const QVariant value = settings_.value(qkey(key));
    std::vector<std::string> list;
    // INI writes an empty list as an invalid value and a one-element list as a text.
    if (!value.isValid()) return list;
    if (value.typeId() == QMetaType::QString) {
        list.push_back(value.toString().toStdString());
        return list;
    }
    if (value.typeId() != QMetaType::QStringList) return std::nullopt;
    for (const QString& entry : value.toStringList()) list.push_back(entry.toStdString());
    return list;
}

void Settings::setBoolean(const std::string& key, bool value) {
    write(key, value);
}

void Settings::setString(const std::string& key, const std::string& value) {
    write(key, QString::fromStdString(value));
}

void Settings::setNumber(const std::string& key, double value) {
    write(key, QString::fromStdString(numbers::shortest(value)));
}

void Settings::setStringList(const std::string& key, const std::vector<std::string>& value) {
    QStringList list;
    for (const std::string& entry : value) list.append(QString::fromStdString(entry));
    write(key, list);
}

void Settings::remove(const std::string& key) {
    settings_.remove(qkey(key));
    settings_.sync();
}

void Settings::write(const std::string& key, const QVariant& value) {
    settings_.setValue(qkey(key), value);
    settings_.sync();
}

}  // namespace tarvik
