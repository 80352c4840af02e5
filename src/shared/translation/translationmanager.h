#pragma once

#include <memory>

class QString;
class QTranslator;

namespace mirrel::shared {

// Owns the one translator installed in the application; installing another
// replaces (and deletes) the previous one.
class TTranslationManager {
public:
    TTranslationManager();
    ~TTranslationManager();

    TTranslationManager(const TTranslationManager&) = delete;
    TTranslationManager& operator=(const TTranslationManager&) = delete;

    // Loads "<name>.qm" (Qt's lookup rules) from the directory and installs it.
    // Any earlier translator is removed first; returns whether one was installed.
    bool loadTranslation(const QString& name, const QString& directory);

    bool hasTranslation() const { return m_pTranslator != nullptr; }

private:
    void removeTranslation();

    std::unique_ptr<QTranslator> m_pTranslator;
};

} // namespace mirrel::shared
