#include "app/SettingsTable.h"

#include "desktop/SettingsStore.h"
#include "screens/DialogStyle.h"
#include "ui_Wobblestar.h"

#include <QDir>
#include <QGuiApplication>
#include <QMessageBox>
#include <QSettings>
#include <cstdint>

namespace app {

namespace {

// The on/off keys hold 1 or 0; like a one-byte boolean, any non-zero low byte means on.
bool readFlag(const QSettings& store, const char* key) {
    const QVariant value = store.value(QLatin1String(key));
    const QString text = value.toString().trimmed();
    if (text == u"true")
        return true;
    return static_cast<std::int8_t>(value.toInt()) != 0;
}

} // namespace

QString SettingsTable::restore() {
    using Kind = desktop::ExpectedKey::Kind;
    const desktop::StoreCheck check = desktop::checkSettingsStore({
        {QLatin1String(kLogKey), Kind::Text},
        {QLatin1String(kRateKey), Kind::Integer},
        {QStringLiteral("x"), Kind::Flag},
        {QStringLiteral("y"), Kind::Flag},
        {QStringLiteral("z"), Kind::Flag},
        {QStringLiteral("f"), Kind::Flag},
        {QLatin1String(kPeriodKey), Kind::Integer},
        {QLatin1String(kSkinKey), Kind::Integer},
    });

    const QSettings store;
    ui_.recordingText->setPlainText(store.value(QLatin1String(kLogKey)).toString());
    ui_.segmentcontroller->setSelectedSegmentIndex(store.value(QLatin1String(kRateKey)).toInt());
    ui_.xAxis->setOn(readFlag(store, "x"));
    ui_.yAxis->setOn(readFlag(store, "y"));
    ui_.zAxis->setOn(readFlag(store, "z"));
    ui_.Filter->setOn(readFlag(store, "f"));
    ui_.segment->setSelectedSegmentIndex(store.value(QLatin1String(kPeriodKey)).toInt());
    ui_.design->setSelectedSegmentIndex(store.value(QLatin1String(kSkinKey)).toInt());
    return check.message;
}

void SettingsTable::showMessage(const QString& message, QWidget* window, const QString& title) {
    if (message.isEmpty())
        return;
    qWarning("wobblestar: %s", qPrintable(message));
    if (QGuiApplication::platformName() == u"offscreen")
        return;
    auto* box = new QMessageBox(QMessageBox::Warning, title, message, QMessageBox::Ok,
                                screens::dialogParent(window));
    screens::dressDialog(box);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

bool SettingsTable::save(QString* error) const {
    QSettings store;
    store.setValue(QLatin1String(kRateKey), ui_.segmentcontroller->selectedSegmentIndex());
    store.setValue(QLatin1String(kSkinKey), ui_.design->selectedSegmentIndex());
    store.setValue(QStringLiteral("x"), ui_.xAxis->isOn() ? 1 : 0);
    store.setValue(QStringLiteral("y"), ui_.yAxis->isOn() ? 1 : 0);
    store.setValue(QStringLiteral("z"), ui_.zAxis->isOn() ? 1 : 0);
    store.setValue(QStringLiteral("f"), ui_.Filter->isOn() ? 1 : 0);
    QString reason;
    if (desktop::syncSettings(store, &reason))
        return true;
    // The controls keep the choices, so they hold for this run all the same.
    *error = QObject::tr("The settings could not be written to %1: %2. They apply until "
                         "Wobblestar quits.")
                 .arg(QDir::toNativeSeparators(store.fileName()), reason);
    return false;
}

void SettingsTable::storePeriod(int index) {
    QSettings().setValue(QLatin1String(kPeriodKey), index);
}

bool SettingsTable::storeLog(const QString& log, QString* error) {
    QSettings store;
    store.setValue(QLatin1String(kLogKey), log);
    QString reason;
    if (desktop::syncSettings(store, &reason))
        return true;
    *error = QObject::tr("The log could not be written to %1: %2. It stays on screen, and will "
                         "be gone after a restart unless you save it to a file.")
                 .arg(QDir::toNativeSeparators(store.fileName()), reason);
    return false;
}

int SettingsTable::sampleRateIndex() {
    const int rate = QSettings().value(QLatin1String(kRateKey)).toInt();
    return rate >= 0 && rate <= 2 ? rate : 0;
}

} // namespace app
