#include "launcher/ui/downloadsettingsdialog.h"

#include "launcher/settings/downloadratesetting.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>

namespace mirrel::launcher {

TDownloadSettingsDialog::TDownloadSettingsDialog(std::shared_ptr<TDownloadRateSetting> pSetting,
                                                 QWidget* pParent)
    : QDialog(pParent)
    , m_pSetting(std::move(pSetting))
    , m_pRateField(new QLineEdit(this)) {
    setWindowTitle(QStringLiteral("Settings"));
    m_pRateField->setValidator(new QIntValidator(0, 1000 * 1000 * 1000, m_pRateField));
    m_pRateField->setPlaceholderText(QStringLiteral("no limit"));
    m_pRateField->setText(m_pSetting->userText());
    auto* pLayout = new QFormLayout(this);
    pLayout->addRow(QStringLiteral("Download speed limit (KiB/s):"), m_pRateField);
    auto* pHint =
        new QLabel(QStringLiteral("Empty or 0: the limit of launchersettings.ini applies, if any."), this);
    pHint->setWordWrap(true);
    pLayout->addRow(pHint);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &TDownloadSettingsDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &TDownloadSettingsDialog::reject);
    pLayout->addRow(pButtons);
}

void TDownloadSettingsDialog::accept() {
    if (m_pSetting->setUserText(m_pRateField->text())) {
        QDialog::accept();
    }
}

} // namespace mirrel::launcher
