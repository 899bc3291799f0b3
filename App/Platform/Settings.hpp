#pragma once
// The program's settings: one INI file read and written through QSettings.
// INI keeps no types ("true" comes back as text), so every read goes through a
// typed reader that accepts what an earlier run or a hand edit leaves there and
// answers "absent" for a value of the wrong type; callers then use their
// default. Every write reaches the file at once. Main thread only.
#include <QSettings>
#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvik {

class Settings {
public:
    // The file at `file`; it need not exist yet and is created on the first write.
    explicit Settings(const QString& file);

    // The standard store: $XDG_CONFIG_HOME/Tarvik/Tarvik.conf.
    static std::unique_ptr<Settings> standard();
    // The older settings domain: $XDG_CONFIG_HOME/local.tarvik.app.conf, or null
    // when that file does not exist or cannot be read (the domain "cannot be opened").
    static std::unique_ptr<Settings> legacy();

    bool contains(const std::string& key) const;
    std::optional<bool> boolean(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;
    std::optional<double> number(const std::string& key) const;
    std::optional<std::vector<std::string>> stringList(const std::string& key) const;

    void setBoolean(const std::string& key, bool value);
    void setString(const std::string& key, const std::string& value);
    void setNumber(const std::string& key, double value);
    void setStringList(const std::string& key, const std::vector<std::string>& value);
    void remove(const std::string& key);

    QString fileName() const { return settings_.fileName(); }

private:
    void write(const std::string& key, const QVariant& value);

    QSettings settings_;
};

}  // namespace tarvik
