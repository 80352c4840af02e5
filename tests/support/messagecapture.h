#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace testsupport {

// Collects every Qt message of the process while it lives (one at a time), so a
// test can check that exactly the expected warnings were logged and no others.
// The handler that was installed before is restored afterwards.
class TMessageCapture {
public:
    TMessageCapture();
    ~TMessageCapture();
    TMessageCapture(const TMessageCapture&) = delete;
    TMessageCapture& operator=(const TMessageCapture&) = delete;

    QStringList messages(QtMsgType type) const;
    QStringList warnings() const { return messages(QtWarningMsg); }
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);

    mutable QMutex m_mutex;
    QList<QPair<QtMsgType, QString>> m_messages;
    QtMessageHandler m_previous = nullptr;
};

} // namespace testsupport
