#pragma once

#include "app/maker.h"
#include "ui/common/clicktracker.h"

#include <QDialog>

class QLabel;

namespace powerlog {

class Desktop;

// The about window: version, description, donation and bug-report links.
class AboutWindow : public QDialog
{
    Q_OBJECT
public:
    // A link whose address is empty is not shown.
    AboutWindow(const QString& languageCode, const QString& versionText, Desktop& desktop,
                QWidget* parent = nullptr, MakerAddresses addresses = configuredMakerAddresses());

    // The address a bug report is written to, with its subject.
    QUrl bugReportUrl() const;

    static QString descriptionText(const QString& languageCode);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void openDonationPage();
    void writeBugReport();

private:
    void showTexts(const QString& languageCode);
    void placeBottomRight();

    QString m_versionText;
    MakerAddresses m_addresses;
    Desktop& m_desktop;
    QLabel* m_versionLabel = nullptr;
    QLabel* m_descriptionLabel = nullptr;
    QLabel* m_donationLink = nullptr;
    QLabel* m_bugReportLink = nullptr;
    QLabel* m_donationPicture = nullptr;
    ClickTracker m_clicks;
};

} // namespace powerlog
