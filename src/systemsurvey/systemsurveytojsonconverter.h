#pragma once

class QJsonDocument;

namespace systemsurvey {

struct TSystemSurvey;

// Writes a survey record as the document the survey service reads.
class TSystemSurveyToJsonConverter {
public:
    virtual ~TSystemSurveyToJsonConverter();

    // Members the service treats as unknown when missing are left out rather
    // than sent empty: "release" when there is none, "vendorId" when it is 0,
    // "deviceId" and "driverVersion" without a driver version.
    virtual QJsonDocument convert(const TSystemSurvey& Survey) const;
};

} // namespace systemsurvey
