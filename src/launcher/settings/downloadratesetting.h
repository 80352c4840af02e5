#pragma once

#include <QString>

#include <memory>

namespace shared {
class TRateLimiter;
}

namespace mirrel::launcher {

// The download speed limit in force: the player's own value from the user's settings store when
// one is set, else "downloadRateLimit" of the launcher's settings file. Every change reaches the
// shared limiter at once. GUI thread only.
class TDownloadRateSetting {
public:
    static constexpr const char* UserSettingsKey = "downloadRateLimit";

    TDownloadRateSetting(int SettingsFileKiBPerSecond, std::shared_ptr<::shared::TRateLimiter> pLimiter);

    // Kibibytes per second; 0 means no limit.
    int kibPerSecond() const;
    // The player's own value as text, or an empty text when the settings file decides.
    QString userText() const;
    // Stores the player's value; "0" or an empty text removes it, so the settings file decides
    // again. False (nothing changes) for a text that is no whole number of at least 0.
    bool setUserText(const QString& Text);

private:
    void apply() const;

    const int m_SettingsFileKiBPerSecond;
    std::shared_ptr<::shared::TRateLimiter> m_pLimiter;
};

} // namespace mirrel::launcher
