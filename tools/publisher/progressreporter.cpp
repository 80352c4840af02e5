#include "publisher/progressreporter.h"

#include "publisher/bytetext.h"

#include <QString>

#include <unistd.h>

namespace publisher {

namespace {

constexpr int BarWidth = 30;

QString durationText(qint64 Seconds) {
    const QString MinutesAndSeconds = QStringLiteral("%1:%2")
                                          .arg(Seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                                          .arg(Seconds % 60, 2, 10, QLatin1Char('0'));
    return Seconds >= 3600 ? QStringLiteral("%1:%2").arg(Seconds / 3600).arg(MinutesAndSeconds)
                           : MinutesAndSeconds;
}

} // namespace

TProgressReporter::TProgressReporter(std::FILE* OutputStream, bool ReportingEnabled)
    : Stream(OutputStream)
    , Enabled(ReportingEnabled && OutputStream != nullptr) {
    Clock.start();
}

TProgressReporter::~TProgressReporter() {
    finish();
}

bool TProgressReporter::isTerminal(std::FILE* Stream) {
    return Stream && ::isatty(::fileno(Stream)) == 1;
}

void TProgressReporter::update(quint64 BytesDone, quint64 BytesTotal) {
    if (!Enabled) {
        return;
    }
    const double Fraction =
        BytesTotal == 0 ? 1.0 : static_cast<double>(BytesDone) / static_cast<double>(BytesTotal);
    const int Filled = static_cast<int>(Fraction * BarWidth);
    const double Seconds = static_cast<double>(Clock.elapsed()) / 1000.0;
    const double Rate = Seconds > 0 ? static_cast<double>(BytesDone) / Seconds : 0.0;
    QString Line = QStringLiteral("\r[%1%2] %3% %4 / %5, %6 MB/s")
                       .arg(QString(Filled, QLatin1Char('#')), QString(BarWidth - Filled, QLatin1Char('.')))
                       .arg(static_cast<int>(Fraction * 100), 3)
                       .arg(byteText(BytesDone), byteText(BytesTotal))
                       .arg(Rate / 1e6, 0, 'f', 1);
    // An estimate from the first moments only jumps around; wait for a basis.
    if (Seconds >= 1.0 && Fraction >= 0.01 && BytesDone < BytesTotal) {
        Line +=
            QStringLiteral(", %1 left")
                .arg(durationText(static_cast<qint64>(static_cast<double>(BytesTotal - BytesDone) / Rate)));
    }
    Line += QStringLiteral("\x1b[K");
    std::fputs(Line.toLocal8Bit().constData(), Stream);
    std::fflush(Stream);
    Shown = true;
}

void TProgressReporter::finish() {
    if (Shown) {
        std::fputs("\r\x1b[K", Stream);
        std::fflush(Stream);
        Shown = false;
    }
}

} // namespace publisher
