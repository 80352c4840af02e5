#include "launcher/ui/hintpicturefetcher.h"

#include "shared/network/mirrorset.h"
#include "shared/widgets/servertext.h"

#include <QBuffer>
#include <QDebug>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPixmap>
#include <QPointer>
#include <QTimer>

namespace mirrel::launcher {

namespace {

const qint64 MaxPictureBytes = 8 * 1024 * 1024;
const int MaxPictureSide = 4096;
// Set on a reply that this fetcher cut short, which has said why in the log already.
const char* const CutShortProperty = "hintPictureCutShort";

// A picture is decoded only when its header names a size a tile can use: a small file that
// claims a huge canvas would take gigabytes once decoded.
QPixmap decodePicture(const QByteArray& Data, const QString& ImageUrl) {
    QBuffer buffer;
    buffer.setData(Data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > MaxPictureSide || size.height() > MaxPictureSide) {
        qWarning() << "Hint picture refused, it is no picture of at most" << MaxPictureSide
                   << "pixels a side:" << ImageUrl << size;
        return QPixmap();
    }
    return QPixmap::fromImageReader(&reader);
}

bool isCutShort(const QNetworkReply* pReply) {
    return pReply->property(CutShortProperty).toBool();
}

void cutShort(QNetworkReply* pReply) {
    pReply->setProperty(CutShortProperty, true);
    if (pReply->isRunning()) {
        pReply->abort();
    }
}

// Also for a body that arrived in one piece before anyone could look at it.
void refuseAsTooLarge(QNetworkReply* pReply, const QString& ImageUrl) {
    if (isCutShort(pReply)) {
        return;
    }
    qWarning() << "Hint picture refused, it is larger than" << MaxPictureBytes << "bytes:" << ImageUrl;
    cutShort(pReply);
}

} // namespace

THintPictureFetcher::THintPictureFetcher(QObject* pParent)
    : QObject(pParent)
    , m_pManager(new QNetworkAccessManager(this)) {
    m_pManager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

THintPictureFetcher::~THintPictureFetcher() = default;

void THintPictureFetcher::fetch(const QString& ImageUrl, const QSize& ScaledSize, QObject* pRecipient,
                                TDelivery Deliver) {
    const QUrl address(ImageUrl);
    if (!shared::isWebAddress(address)) {
        if (!ImageUrl.isEmpty()) {
            qWarning() << "Hint picture not fetched, it is no web address:" << ImageUrl;
        }
        return;
    }
    ++m_PendingCount;
    fetchFrom(m_pMirrors ? m_pMirrors->addressesFor(address) : QList<QUrl>{address}, ImageUrl, ScaledSize,
              QPointer<QObject>(pRecipient), Deliver);
}

void THintPictureFetcher::fetchFrom(QList<QUrl> Addresses, const QString& ImageUrl, const QSize& ScaledSize,
                                    const QPointer<QObject>& Recipient, const TDelivery& Deliver) {
    if (Recipient.isNull()) {
        --m_PendingCount;
        return;
    }
    QNetworkReply* pReply = m_pManager->get(QNetworkRequest(Addresses.front()));
    watchSize(pReply, ImageUrl);
    watchTime(pReply, ImageUrl);
    // Queued: the recipient is half destroyed while it announces it.
    connect(
        Recipient, &QObject::destroyed, pReply, [pReply] { cutShort(pReply); }, Qt::QueuedConnection);
    connect(pReply, &QNetworkReply::finished, this,
            [this, pReply, Addresses, ImageUrl, ScaledSize, Recipient, Deliver] {
                pReply->deleteLater();
                const QUrl served = Addresses.front();
                if (!Recipient.isNull() && worthAnotherAddress(pReply, Addresses)) {
                    qWarning() << "Hint picture not received from" << served << pReply->errorString()
                               << "- trying the next server";
                    if (m_pMirrors) {
                        m_pMirrors->recordFailure(served);
                    }
                    fetchFrom(Addresses.mid(1), ImageUrl, ScaledSize, Recipient, Deliver);
                    return;
                }
                --m_PendingCount;
                if (Recipient.isNull()) {
                    return;
                }
                if (m_pMirrors && pReply->error() == QNetworkReply::NoError) {
                    m_pMirrors->recordSuccess(served);
                }
                const QPixmap picture = pictureOf(pReply, ImageUrl, ScaledSize);
                if (!picture.isNull()) {
                    Deliver(picture);
                }
            });
}

bool THintPictureFetcher::worthAnotherAddress(const QNetworkReply* pReply, const QList<QUrl>& Addresses) {
    if (Addresses.size() < 2 || isCutShort(pReply)) {
        return false;
    }
    const QNetworkReply::NetworkError error = pReply->error();
    const bool connectionFailed = error > QNetworkReply::NoError &&
                                  error < QNetworkReply::ProxyConnectionRefusedError &&
                                  error != QNetworkReply::OperationCanceledError;
    return connectionFailed || pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() >= 500;
}

// An endless or huge body is cut off as soon as it passes the limit, never read into memory: the
// reply buffers at most one byte more than the limit, and the announced or received amount decides.
void THintPictureFetcher::watchSize(QNetworkReply* pReply, const QString& ImageUrl) {
    pReply->setReadBufferSize(MaxPictureBytes + 1);
    connect(pReply, &QNetworkReply::metaDataChanged, pReply, [pReply, ImageUrl] {
        if (pReply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > MaxPictureBytes) {
            refuseAsTooLarge(pReply, ImageUrl);
        }
    });
    connect(pReply, &QNetworkReply::downloadProgress, pReply,
            [pReply, ImageUrl](qint64 Received, qint64 Total) {
                if (Received > MaxPictureBytes || Total > MaxPictureBytes) {
                    refuseAsTooLarge(pReply, ImageUrl);
                }
            });
}

void THintPictureFetcher::watchTime(QNetworkReply* pReply, const QString& ImageUrl) {
    auto* pTimeLimit = new QTimer(pReply);
    pTimeLimit->setSingleShot(true);
    connect(pTimeLimit, &QTimer::timeout, pReply, [pReply, ImageUrl] {
        if (pReply->isRunning()) {
            qWarning() << "Hint picture not received in time:" << ImageUrl;
            cutShort(pReply);
        }
    });
    pTimeLimit->start(m_TimeoutMs);
}

QPixmap THintPictureFetcher::pictureOf(QNetworkReply* pReply, const QString& ImageUrl,
                                       const QSize& ScaledSize) {
    if (pReply->bytesAvailable() > MaxPictureBytes) {
        refuseAsTooLarge(pReply, ImageUrl);
    }
    if (isCutShort(pReply)) {
        return QPixmap();
    }
    if (pReply->error() != QNetworkReply::NoError) {
        qWarning() << "Hint picture not received:" << ImageUrl << pReply->errorString();
        return QPixmap();
    }
    const QPixmap picture = decodePicture(pReply->readAll(), ImageUrl);
    if (picture.isNull()) {
        return picture;
    }
    return picture.scaled(ScaledSize, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
}

} // namespace mirrel::launcher
