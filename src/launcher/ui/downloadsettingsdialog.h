#pragma once

#include <QDialog>

#include <memory>

class QLineEdit;

namespace mirrel::launcher {

class TDownloadRateSetting;

// The small settings box of the window's footer: the player's download speed limit in KiB/s.
// Accepting stores it (an empty field or 0 gives the decision back to the settings file).
class TDownloadSettingsDialog : public QDialog {
    Q_OBJECT

public:
    TDownloadSettingsDialog(std::shared_ptr<TDownloadRateSetting> pSetting, QWidget* pParent);

    QLineEdit* rateField() const { return m_pRateField; }

    void accept() override;

private:
    std::shared_ptr<TDownloadRateSetting> m_pSetting;
    QLineEdit* m_pRateField = nullptr;
};

} // namespace mirrel::launcher
