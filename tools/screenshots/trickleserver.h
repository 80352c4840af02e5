#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;
class QTimer;

namespace screenshots {

// A web server on 127.0.0.1 that answers pictures at once and every address
// below "/chunks/" slowly, a slice per tick, so that a download stays in
// progress with a steady rate while the window is photographed.
class TTrickleServer : public QObject {
    Q_OBJECT

public:
    TTrickleServer(qint64 BytesPerSecond, qint64 ChunkSize, QObject* pParent = nullptr);
    ~TTrickleServer() override;

    bool start();
    QUrl url(const QString& Path) const;
    void addFile(const QString& Path, const QByteArray& Content) { m_Files.insert(Path, Content); }

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* pSocket);
    void onTick();
    void answerFile(QTcpSocket* pSocket, const QString& Path);

    QTcpServer m_Server;
    QTimer* m_pTicker;
    QMap<QString, QByteArray> m_Files;
    QMap<QTcpSocket*, qint64> m_Trickling;
    qint64 m_BytesPerTick;
    qint64 m_ChunkSize;
};

} // namespace screenshots
