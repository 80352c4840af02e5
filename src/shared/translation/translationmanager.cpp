#include "shared/translation/translationmanager.h"

#include <QCoreApplication>
#include <QString>
#include <QTranslator>

namespace mirrel::shared {

TTranslationManager::TTranslationManager() = default;

TTranslationManager::~TTranslationManager() {
    removeTranslation();
}

bool TTranslationManager::loadTranslation(const QString& name, const QString& directory) {
    removeTranslation();
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(name, directory)) {
        return false;
    }
    QCoreApplication::installTranslator(translator.get());
    m_pTranslator = std::move(translator);
    return true;
}

void TTranslationManager::removeTranslation() {
    if (m_pTranslator) {
        QCoreApplication::removeTranslator(m_pTranslator.get());
        m_pTranslator.reset();
    }
}

} // namespace mirrel::shared
