#include "launcher/download/stoprequest.h"

namespace mirrel::launcher {

TRunStopped::TRunStopped()
    : std::runtime_error("the run was stopped") {}

void TStopRequest::throwIfRequested() const {
    if (m_Requested) {
        throw TRunStopped();
    }
}

} // namespace mirrel::launcher
