// `TfActions`: the "Actions" dialog of the monitoring service, opened from
// the level settings dialog: the command and webhook URL run on "silence
// alarm" and on "sound restored", the commands' time limit, the recovery
// time and the days the journal keeps. "OK" checks the entries, writes them
// to the store and hands them to OnApply. GUI thread only.
#pragma once

#include "monitoring/MMMonitorSettings.h"

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TfActions : public QDialog {
    Q_OBJECT
public:
    explicit TfActions(QWidget* parent = nullptr);

    void setStore(TSettingsAccess* store) { mStore = store; }
    // Shows the values (clamped to the controls' ranges).
    void setValues(const TMonitorSettings& s);
    TMonitorSettings Values() const;
    // The entries' first fault, empty when they are fine.
    QString Check() const;

    std::function<void(const TMonitorSettings&)> OnApply;

    QLineEdit* ed_alarm_command;
    QLineEdit* ed_alarm_url;
    QLineEdit* ed_restored_command;
    QLineEdit* ed_restored_url;
    QSpinBox* sp_time_limit;
    QSpinBox* sp_recovery;
    QSpinBox* sp_journal_days;
    QLabel* lab_error;
    QPushButton* btn_ok;
    QPushButton* btn_cancel;

    // "OK": checks, writes, applies and closes; stays open on a fault.
    bool Accept();

private:
    TSettingsAccess* mStore = nullptr;
};
