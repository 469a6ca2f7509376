#include "monitoring/qt/uActions.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QSpinBox* MakeSpin(QWidget* parent, int lo, int hi, const QString& suffix)
{
    auto* s = new QSpinBox(parent);
    s->setRange(lo, hi);
    s->setSuffix(suffix);
    return s;
}

QString CheckCommand(const QString& what, const QLineEdit* e)
{
    std::string error;
    const std::string text = e->text().toStdString();
    if (!text.empty() && SplitCommandLine(text, &error).empty() && !error.empty())
        return what + ": " + QString::fromStdString(error);
    return {};
}

QString CheckUrl(const QString& what, const QLineEdit* e)
{
    const QString text = e->text().trimmed();
    if (text.isEmpty()) return {};
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != "http" && scheme != "https") || url.host().isEmpty())
        return what + ": expected an http:// or https:// address";
    return {};
}

}  // namespace

TfActions::TfActions(QWidget* parent) : QDialog(parent)
{
    setObjectName("fActions");
    setWindowTitle("Actions");
    auto* v = new QVBoxLayout(this);

    auto* alarm = new QGroupBox(" Silence alarm ", this);
    auto* af = new QFormLayout(alarm);
    ed_alarm_command = new QLineEdit(alarm);
    ed_alarm_url = new QLineEdit(alarm);
    af->addRow("Run command", ed_alarm_command);
    af->addRow("POST to URL", ed_alarm_url);
    v->addWidget(alarm);

    auto* restored = new QGroupBox(" Sound restored ", this);
    auto* rf = new QFormLayout(restored);
    ed_restored_command = new QLineEdit(restored);
    ed_restored_url = new QLineEdit(restored);
    rf->addRow("Run command", ed_restored_command);
    rf->addRow("POST to URL", ed_restored_url);
    v->addWidget(restored);

    auto* other = new QGroupBox(" Monitoring ", this);
    auto* of = new QFormLayout(other);
    sp_time_limit = MakeSpin(other, 1, 3600, " s");
    sp_recovery = MakeSpin(other, 0, 3600, " s");
    sp_journal_days = MakeSpin(other, 1, 36500, " days");
    of->addRow("Command time limit", sp_time_limit);
    of->addRow("Recovery time", sp_recovery);
    of->addRow("Keep journal", sp_journal_days);
    v->addWidget(other);

    auto* hint = new QLabel("Commands run without a shell, with TARVOLIN_EVENT, TARVOLIN_STRIP, TARVOLIN_LABEL,\n"
                            "TARVOLIN_LEVEL_DB, TARVOLIN_SILENT_SECONDS and TARVOLIN_TIME set.",
                            this);
    v->addWidget(hint);
    lab_error = new QLabel(this);
    lab_error->setStyleSheet("color: #c00000");
    v->addWidget(lab_error);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    btn_ok = new QPushButton("OK", this);
    btn_cancel = new QPushButton("Cancel", this);
    btn_ok->setDefault(true);
    buttons->addWidget(btn_ok);
    buttons->addWidget(btn_cancel);
    v->addLayout(buttons);
    connect(btn_ok, &QPushButton::clicked, this, [this] { Accept(); });
    connect(btn_cancel, &QPushButton::clicked, this, &QDialog::reject);

    setValues(TMonitorSettings{});
    resize(560, sizeHint().height());
}

void TfActions::setValues(const TMonitorSettings& s)
{
    ed_alarm_command->setText(QString::fromStdString(s.Actions.AlarmCommand));
    ed_alarm_url->setText(QString::fromStdString(s.Actions.AlarmUrl));
    ed_restored_command->setText(QString::fromStdString(s.Actions.RestoredCommand));
    ed_restored_url->setText(QString::fromStdString(s.Actions.RestoredUrl));
    sp_time_limit->setValue(s.Actions.TimeLimitSeconds);
    sp_recovery->setValue(s.RecoverySeconds);
    sp_journal_days->setValue(s.JournalDays);
    lab_error->clear();
}

TMonitorSettings TfActions::Values() const
{
    TMonitorSettings s;
    s.Actions.AlarmCommand = ed_alarm_command->text().toStdString();
    s.Actions.AlarmUrl = ed_alarm_url->text().trimmed().toStdString();
    s.Actions.RestoredCommand = ed_restored_command->text().toStdString();
    s.Actions.RestoredUrl = ed_restored_url->text().trimmed().toStdString();
    s.Actions.TimeLimitSeconds = sp_time_limit->value();
    s.RecoverySeconds = sp_recovery->value();
    s.JournalDays = sp_journal_days->value();
    return s;
}

QString TfActions::Check() const
{
    for (const QString& fault : {CheckCommand("Silence alarm command", ed_alarm_command),
                                 CheckUrl("Silence alarm URL", ed_alarm_url),
                                 CheckCommand("Sound restored command", ed_restored_command),
                                 CheckUrl("Sound restored URL", ed_restored_url)})
        if (!fault.isEmpty()) return fault;
    return {};
}

bool TfActions::Accept()
{
    const QString fault = Check();
    lab_error->setText(fault);
    if (!fault.isEmpty()) return false;
    const TMonitorSettings s = Values();
    if (mStore) WriteMonitorSettings(*mStore, s);
    if (OnApply) OnApply(s);
    accept();
    return true;
}
