#include "shared/singleinstance/firstinstancetester.h"

#include "platform/instancelock.h"

#include <QFile>
#include <QString>

namespace shared {

FirstInstanceTester::FirstInstanceTester(const QString& key)
    : m_pGuard(std::make_unique<platform::TInstanceLock>(QFile::encodeName(key).toStdString()))
    , m_IsFirstInstance(m_pGuard->isHeld()) {}

FirstInstanceTester::~FirstInstanceTester() = default;

} // namespace shared
