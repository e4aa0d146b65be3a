#pragma once

#include <QByteArray>
#include <array>
#include <optional>
#include <vector>

class UserDefaults;

// The user's nine-band equaliser setting for the AI voice, kept in the user defaults as JSON
// {"enabled": bool, "gains": [dB, …]}.
struct VoiceEQSettings {
    static constexpr int kBandCount = 9;
    static constexpr float kMaxGainDb = 12.0f;
    // Band centres in hertz.
    static constexpr std::array<float, kBandCount> frequencies{63,   125,  250,  500,  1000,
                                                               2000, 4000, 8000, 10000};

    bool enabled = false;
    std::vector<float> gains = std::vector<float>(kBandCount, 0.0f);

    // Exactly nine gains the chain may use: missing or non-finite entries give 0, the rest are
    // clamped to ±12 dB.
    std::vector<float> safeGains() const;

    // The JSON form; nothing when a gain has no JSON form (infinite or not a number).
    std::optional<QByteArray> encoded() const;
    // Both keys required with their types; nothing otherwise. Gains are taken as stored.
    static std::optional<VoiceEQSettings> decoded(const QByteArray& json);

    // The stored setting with safe gains, or the default when absent or unreadable.
    static VoiceEQSettings load(const UserDefaults& defaults);
    // Writes the JSON under "voiceEQ"; a setting that cannot be encoded writes nothing.
    void save(UserDefaults& defaults) const;

    bool operator==(const VoiceEQSettings&) const = default;
};
