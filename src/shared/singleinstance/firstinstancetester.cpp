#include "shared/singleinstance/firstinstancetester.h"

#include "platform/namedfilemapping.h"

#include <QString>

namespace shared {

FirstInstanceTester::FirstInstanceTester(const QString& key)
    : m_pGuard(std::make_unique<platform::TNamedFileMapping>(key.toUtf8().constData(), true))
    , m_IsFirstInstance(m_pGuard->holdsObject()) {}

FirstInstanceTester::~FirstInstanceTester() = default;

} // namespace shared
