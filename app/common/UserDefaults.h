#pragma once

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <memory>
#include <optional>

// Keys of the application's user-defaults domain.
namespace SettingsKey {
inline constexpr char inputUID[] = "inputUID";
inline constexpr char outputUID[] = "outputUID";
inline constexpr char voice[] = "voice";
inline constexpr char model[] = "model";
inline constexpr char company[] = "company";
inline constexpr char instructions[] = "instructions";
inline constexpr char voiceStyle[] = "voiceStyle";
inline constexpr char voiceEQ[] = "voiceEQ";
inline constexpr char interventionMicUID[] = "interventionMicUID";
inline constexpr char interventionOutputUID[] = "interventionOutputUID";
inline constexpr char recordingEnabled[] = "recordingEnabled";
inline constexpr char keySaved[] = "keySaved";
inline constexpr char phonePreviousInput[] = "phonePreviousInput";
inline constexpr char phonePreviousOutput[] = "phonePreviousOutput";
inline constexpr char realtimeURL[] = "realtimeURL";
} // namespace SettingsKey

// The user defaults on QSettings. Stored as a small JSON file so that a value keeps its type
// (string, bool, data), as user defaults do: a "recordingEnabled" that is not a bool reads as absent.
class UserDefaults {
public:
    // Opens (or creates on first write) the defaults file at `filePath`.
    explicit UserDefaults(const QString& filePath);
    ~UserDefaults();

    std::optional<QString> string(const char* key) const;
    QString string(const char* key, const QString& fallback) const;
    std::optional<bool> boolean(const char* key) const;
    std::optional<QByteArray> data(const char* key) const;
    bool contains(const char* key) const;

    void setString(const char* key, const QString& value);
    void setBool(const char* key, bool value);
    void setData(const char* key, const QByteArray& value);
    void remove(const char* key);
    void sync();

    QSettings& settings() { return *m_settings; }

private:
    std::unique_ptr<QSettings> m_settings;
};
