#include "launcher/package/packagebuild.h"

#include "launcher/package/packageconfigurationreader.h"

namespace mirrel::launcher {

TPackageBuild::TPackageBuild() = default;
TPackageBuild::~TPackageBuild() = default;
TPackageBuild::TPackageBuild(TPackageBuild&&) noexcept = default;
TPackageBuild& TPackageBuild::operator=(TPackageBuild&&) noexcept = default;

} // namespace mirrel::launcher
