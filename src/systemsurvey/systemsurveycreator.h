#pragma once

#include "systemsurvey/systemsurvey.h"

#include <memory>

namespace systemsurvey {

class TSystemSurveyValueRetriever;

// Fills a survey record from the answers of a value retriever.
class TSystemSurveyCreator {
public:
    explicit TSystemSurveyCreator(std::shared_ptr<TSystemSurveyValueRetriever> pValueRetriever);
    virtual ~TSystemSurveyCreator();

    // Asks for monitors, operating system, memory, processor and graphics
    // adapters, in this order.
    virtual TSystemSurvey create() const;

private:
    std::shared_ptr<TSystemSurveyValueRetriever> m_pValueRetriever;
};

} // namespace systemsurvey
