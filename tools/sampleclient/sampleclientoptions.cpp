#include "sampleclient/sampleclientoptions.h"

#include <QtGlobal>

#include <cmath>

namespace sampleclient {

namespace {

// Seconds as text ("5", "0.5") in milliseconds; -1 for anything else.
int millisecondsFromSeconds(const QString& Text) {
    bool Ok = false;
    const double Seconds = Text.toDouble(&Ok);
    if (!Ok || Seconds < 0 || Seconds > 86400) {
        return -1;
    }
    return static_cast<int>(std::lround(Seconds * 1000));
}

} // namespace

TSampleClientOptions TSampleClientOptions::fromEnvironment(bool Headless) {
    TSampleClientOptions Options;
    Options.RecordFile = qEnvironmentVariable("VANTOR_SAMPLE_CLIENT_RECORD");

    const QString ExitAfter = qEnvironmentVariable("VANTOR_SAMPLE_CLIENT_EXIT_AFTER");
    if (!ExitAfter.isEmpty()) {
        Options.ExitAfterMs = millisecondsFromSeconds(ExitAfter);
    } else if (Headless) {
        Options.ExitAfterMs = DefaultHeadlessSeconds * 1000;
    }

    const QString Announce = qEnvironmentVariable("VANTOR_SAMPLE_CLIENT_ANNOUNCE");
    if (Announce == QLatin1String("never")) {
        Options.AnnounceDelayMs = -1;
    } else if (!Announce.isEmpty()) {
        bool Ok = false;
        const int Delay = Announce.toInt(&Ok);
        Options.AnnounceDelayMs = Ok && Delay >= 0 ? Delay : 0;
    }
    bool CodeOk = false;
    const int Code = qEnvironmentVariable("VANTOR_SAMPLE_CLIENT_EXIT_CODE").toInt(&CodeOk);
    Options.ExitCode = CodeOk && Code >= 0 && Code <= 255 ? Code : 0;
    return Options;
}

} // namespace sampleclient
