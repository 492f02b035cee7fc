#pragma once

#include "app/settings.h"

#include <QString>
#include <QWidget>
#include <functional>

class QComboBox;
class QLabel;
class QPushButton;

namespace powerlog {

class MeterFinder;
struct FoundMeter;

// The options' group of the readings' source: the load-control unit or an energy meter, the
// meter's address, and the search for the meters that answer. The address is typed, or chosen
// among the meters found; an address that is no meter's goes back to the one in force.
class MeterSourceGroup : public QWidget
{
    Q_OBJECT
public:
    // `store` keeps a changed setting as the options window does; without a finder the search
    // button stays disabled.
    MeterSourceGroup(Settings& settings, MeterFinder* finder,
                     std::function<void(Setting, const QVariant&)> store, QWidget* parent);

    static constexpr int kHeight = 76;

    void loadSettings();
    void setLanguage(const QString& code);
    // The typed address, as the window closes or the field loses the focus.
    void applyWhere();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void sourceChosen(int position);
    void showSearch();

    Settings& m_settings;
    MeterFinder* m_finder;
    std::function<void(Setting, const QVariant&)> m_store;
    QString m_languageCode;
    bool m_searchFailed = false;
    int m_asked = 0;

    QComboBox* m_sourceList = nullptr;
    QLabel* m_whereLabel = nullptr;
    QComboBox* m_whereList = nullptr; // editable: typed, or one of the meters found
    QPushButton* m_findButton = nullptr;
    QLabel* m_searchLabel = nullptr;
};

} // namespace powerlog
