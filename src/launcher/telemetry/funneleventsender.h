#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QSettings;

namespace mirrel::launcher {

// Reports a user's milestones (launcher started, package downloaded, package verified) to the
// maker's funnel service. Every report carries the user's device identifier, created on the first
// report and kept in the user's settings store and in a small file of the shared data directory,
// and whether this milestone is reported for the first time. Reports are fire-and-forget: the
// answer is only logged. GUI thread only.
class TFunnelEventSender : public QObject {
    Q_OBJECT

public:
    using TSettingsStoreFactory = std::function<std::unique_ptr<QSettings>()>;
    using TTextProvider = std::function<QString()>;
    using TUrlProvider = std::function<QUrl()>;

    // The providers are asked at every report, so a configuration loaded after construction is
    // seen. Without a funnel address nothing is attempted.
    TFunnelEventSender(QString FunnelSettingsKey, TTextProvider AccountGroupKey, TUrlProvider FunnelUrl,
                       QObject* parent = nullptr);
    ~TFunnelEventSender() override;

    void setFunnelUrlProvider(TUrlProvider FunnelUrl);
    // Milliseconds without a received byte after which a report fails (30 s unless set).
    void setTransferStallTimeout(int Milliseconds);
    // The store that keeps the device identifier and the first-time flags; the user's own store of
    // the launcher (userSettingsStore) unless replaced.
    void setSettingsStoreFactory(TSettingsStoreFactory Factory);
    // Switched off, no report is sent and no device identifier is created or written.
    void setEnabled(bool Enabled) { m_Enabled = Enabled; }
    bool isEnabled() const { return m_Enabled; }

    void sendFunnelEvent(const QString& Step, const QString& FirstTimeKey);

    // The launcher's settings store in the user's scope.
    static std::unique_ptr<QSettings> userSettingsStore();
    // The device identifier file other programs of the maker read.
    static QString sharedIdentifierFilePath();
    // The request body of one report.
    static QByteArray funnelEventDocument(const QString& Step, bool First, const QString& DeviceIdentifier,
                                          const QString& AccountGroupKey);

    // Hands the report to the application object's sendFunnelEvent, reached through Qt's meta-object
    // system so that the engine does not depend on the application layer. Without such an
    // application object the step is only logged.
    static void sendThroughApplication(const QString& Step, const QString& FirstTimeKey);

private:
    QString deviceIdentifier(QSettings& Store) const;
    static void writeSharedIdentifierFile(const QString& DeviceIdentifier);
    void post(const QUrl& FunnelUrl, const QString& Step, const QByteArray& Body);

    const QString m_FunnelSettingsKey;
    TTextProvider m_AccountGroupKey;
    TUrlProvider m_FunnelUrl;
    TSettingsStoreFactory m_SettingsStoreFactory;
    int m_TransferStallTimeout;
    bool m_Enabled = true;
};

} // namespace mirrel::launcher
