#include "support/messagecapture.h"

#include <QMutexLocker>

#include <atomic>

namespace testsupport {

namespace {

std::atomic<TMessageCapture*> activeCapture{nullptr};

} // namespace

TMessageCapture::TMessageCapture() {
    activeCapture = this;
    m_previous = qInstallMessageHandler(&TMessageCapture::handler);
}

TMessageCapture::~TMessageCapture() {
    qInstallMessageHandler(m_previous);
    activeCapture = nullptr;
}

QStringList TMessageCapture::messages(QtMsgType type) const {
    const QMutexLocker lock(&m_mutex);
    QStringList result;
    for (const auto& message : m_messages) {
        if (message.first == type) {
            result << message.second;
        }
    }
    return result;
}

void TMessageCapture::clear() {
    const QMutexLocker lock(&m_mutex);
    m_messages.clear();
}

void TMessageCapture::handler(QtMsgType type, const QMessageLogContext&, const QString& message) {
    TMessageCapture* capture = activeCapture;
    if (!capture) {
        return;
    }
    const QMutexLocker lock(&capture->m_mutex);
    capture->m_messages.append({type, message});
}

} // namespace testsupport
