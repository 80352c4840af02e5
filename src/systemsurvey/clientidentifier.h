#pragma once

#include <QString>
#include <QStringList>

namespace systemsurvey {

// Identifies this machine to the survey service without revealing anything
// about it: the SHA-1 digest (40 lowercase hex characters) of a fixed salt
// followed by the hardware addresses of all network interfaces. Worked out on
// first use and kept for the rest of the process.
QString clientIdentifier();

// The identifier for the given hardware address texts, in the given order;
// empty texts add nothing.
QString clientIdentifierFor(const QStringList& HardwareAddresses);

} // namespace systemsurvey
