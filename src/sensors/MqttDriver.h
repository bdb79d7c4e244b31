#pragma once

#include "sensors/BatchSource.h"
#include "sensors/MqttClient.h"
#include "sensors/Sources.h"

#include <memory>

namespace sensors {

// Readings published to an MQTT topic in the phones' batch schema (see ReadingBatch), e.g. by a
// sensor logger on a phone or by another Wobblestar's --publish:
//   mqtt://[USER[:PASSWORD]@]HOST[:PORT]/TOPIC[?device=ID][&password-file=PATH]
// The topic may hold wildcards (phones/#). Of several devices on it, `device=` or the first
// heard is read, and the others are listed. A lost broker is said, tried again with a growing
// delay, and its return said.
class MqttDriver final : public BatchSource {
    Q_OBJECT
public:
    // `mqtt:` and `mqtts:` as --source takes them.
    static SourceKind sourceKind(bool tls);

    explicit MqttDriver(MqttAddress address, QObject* parent = nullptr);

    QString description() const override;
    bool start(QString* error) override;

protected:
    QString origin() const override;

private:
    MqttAddress address_;
    std::unique_ptr<MqttClient> client_;
    bool everConnected_ = false;
    QString lostReason_;
};

// The device ids publishing to the topic of `url` within `seconds`, one line each, for
// --list-sources; one line saying why when the broker cannot be asked. Runs an event loop.
QStringList listBrokerDevices(const QString& url, double seconds = BatchSource::kSeenWithin);

} // namespace sensors
