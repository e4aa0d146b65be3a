#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
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

// The user defaults, kept as a small JSON file so that a value keeps its type (string, bool, data), as
// user defaults do: a "recordingEnabled" that is not a bool reads as absent. Changes are written once
// per event-loop turn (and by `sync` and the destructor) through the private writer: 0600 in a 0700
// folder, flushed, renamed into place. Main thread only.
class UserDefaults {
public:
    // Reads the defaults file at `filePath`; a missing or broken one gives no values. Created on the
    // first write.
    explicit UserDefaults(const QString& filePath);
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    std::optional<QString> string(const char* key) const;
    QString string(const char* key, const QString& fallback) const;
    std::optional<bool> boolean(const char* key) const;
    std::optional<QByteArray> data(const char* key) const;
    bool contains(const char* key) const;

    void setString(const char* key, const QString& value);
    void setBool(const char* key, bool value);
    void setData(const char* key, const QByteArray& value);
    void remove(const char* key);
    // Writes pending changes now.
    void sync();

    QStringList keys() const { return m_values.keys(); }
    QVariant value(const QString& key) const { return m_values.value(key); }

private:
    void set(const char* key, const QVariant& value);
    void scheduleWrite();

    QString m_path;
    QVariantMap m_values;
    bool m_dirty = false;
    bool m_writeScheduled = false;
    // Receiver of the deferred write; a write queued for a destroyed object never runs.
    std::unique_ptr<QObject> m_context = std::make_unique<QObject>();
};
