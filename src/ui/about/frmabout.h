#pragma once

#include "app/maker.h"
#include "ui/main/clicktracker.h"

#include <QDialog>

class QLabel;

namespace powerlog {

class Desktop;

// The about window: version, description, donation and bug-report links.
class FrmAbout : public QDialog
{
    Q_OBJECT
public:
    // A link whose address is empty is not shown.
    FrmAbout(const QString& languageCode, const QString& versionText, Desktop& desktop,
             QWidget* parent = nullptr, MakerAddresses addresses = configuredMakerAddresses());

    void Llink_Click();
    void Ipaypal_Click();
    void Llink2_Click();
    void cmdOK_Click();

    // The address a bug report is written to, with its subject.
    QUrl bugReportUrl() const;

    static QString descriptionText(const QString& languageCode);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load(const QString& languageCode);
    void placeBottomRight();

    QString m_versionText;
    MakerAddresses m_addresses;
    Desktop& m_desktop;
    QLabel* m_donate = nullptr;
    QLabel* m_report = nullptr;
    QLabel* m_paypal = nullptr;
    ClickTracker m_clicks;
};

} // namespace powerlog
