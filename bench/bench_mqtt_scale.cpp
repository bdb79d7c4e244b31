// Many devices on one broker: 50 simulated devices publish 120 Hz readings in 0.2 s batches to
// a Mosquitto broker on this machine; one subscriber reads one device, one subscribes to all.
// Prints, per subscriber, the latency from a reading's measurement to its delivery by the
// source (which includes the source's playback delay), and from a batch's publication to its
// arrival; the CPU of broker, publishers and each subscriber; and the messages lost.
//
//   bench_mqtt_scale [--devices 50] [--seconds 20]
//
// It runs its parts as processes of its own (itself with --role), so that each one's CPU is its
// own.

#include "sensors/MqttClient.h"
#include "sensors/MqttDriver.h"
#include "sensors/ReadingBatch.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using sensors::Acceleration;
using sensors::kStandardGravity;

namespace {

constexpr double kRate = 120.0;
constexpr double kBatch = 0.2;

double unixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double processCpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0.0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // utime and stime are the 14th and 15th fields; the split starts at the 3rd.
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / sysconf(_SC_CLK_TCK);
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

sensors::MqttAddress address(quint16 port, const QString& topic) {
    QString error;
    return *sensors::MqttAddress::parse(
        QStringLiteral("mqtt://127.0.0.1:%1/%2").arg(port).arg(topic), &error);
}

// Device d's reading i: measured at start + i / 120 s, its X telling i (m/s², Android's sign).
int publish(quint16 port, int devices, double seconds, double start) {
    std::vector<std::unique_ptr<sensors::MqttClient>> clients;
    QString error;
    for (int d = 0; d < devices; ++d) {
        clients.push_back(
            std::make_unique<sensors::MqttClient>(address(port, QStringLiteral("x"))));
        clients.back()->start(&error);
    }
    std::vector<sensors::ReadingBatch> batches(devices);
    for (int d = 0; d < devices; ++d) {
        batches[d].deviceId = QStringLiteral("d%1").arg(d, 2, 10, QLatin1Char('0'));
        batches[d].sessionId = QStringLiteral("bench");
    }
    long next = 0;
    qint64 sent = 0, refused = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const long upTo = long((unixNow() - start) * kRate);
        for (int d = 0; d < devices; ++d) {
            sensors::ReadingBatch& batch = batches[d];
            batch.readings.clear();
            for (long i = next; i <= upTo; ++i)
                batch.readings.push_back(
                    Acceleration{i * 1e-3 / kStandardGravity, 0.0, -1.0, start + i / kRate});
            if (clients[d]->publish(QStringLiteral("devices/") + batch.deviceId,
                                    sensors::encodeReadingBatch(batch)))
                ++sent;
            else
                ++refused;
            ++batch.messageId;
        }
        next = upTo + 1;
    });
    // Start at the first whole batch after the clients had time to connect.
    QThread::msleep(std::max(0, int((start - unixNow()) * 1000)));
    tick.start(int(kBatch * 1000));
    QTimer::singleShot(int(seconds * 1000), qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    std::printf("publishers sent %lld refused %lld cpu %.2f\n", sent, refused, cpuSeconds());
    return 0;
}

// A source as Wobblestar reads it, polled at 120 Hz as the accelerometer service does.
int subscribe(quint16 port, const QString& topic, double seconds, double start) {
    QString error;
    sensors::MqttDriver driver(address(port, topic));
    driver.start(&error);
    sensors::MqttClient observer(address(port, topic));
    std::vector<double> arrivals;
    qint64 messages = 0;
    QObject::connect(&observer, &sensors::MqttClient::message,
                     [&](const QString&, const QByteArray& payload) {
                         ++messages;
                         QString why;
                         if (auto batch = sensors::parseReadingBatch(payload, &why);
                             batch && !batch->readings.empty())
                             arrivals.push_back(unixNow() - batch->readings.back().timestamp);
                     });
    const bool observe = topic.endsWith(u'#');
    if (observe) {
        observer.subscribe(topic);
        observer.start(&error);
    }
    std::vector<double> latencies;
    long last = -1;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto reading = driver.read(0.0);
        if (!reading)
            return;
        const long i = std::lround(reading->x * kStandardGravity / 1e-3);
        if (i == last)
            return;
        last = i;
        latencies.push_back(unixNow() - (start + i / kRate));
    });
    tick.start(int(1000 / kRate));
    const double cpuBefore = cpuSeconds();
    QTimer::singleShot(int(seconds * 1000), qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    std::printf("subscriber %s delivered %zu readings, reading-to-delivery p50 %.0f ms p99 %.0f "
                "ms, dropped %d, cpu %.2f s",
                qPrintable(topic), latencies.size(), 1000 * percentile(latencies, 0.5),
                1000 * percentile(latencies, 0.99), driver.droppedReadings(),
                cpuSeconds() - cpuBefore);
    if (observe)
        std::printf("; all messages: %lld received, publish-to-arrival p50 %.1f ms p99 %.1f ms",
                    messages, 1000 * percentile(arrivals, 0.5), 1000 * percentile(arrivals, 0.99));
    std::printf("\n");
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption role(QStringLiteral("role"), QString(), QStringLiteral("R"));
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("P"));
    const QCommandLineOption topic(QStringLiteral("topic"), QString(), QStringLiteral("T"));
    const QCommandLineOption start(QStringLiteral("start"), QString(), QStringLiteral("S"));
    const QCommandLineOption devices(QStringLiteral("devices"), QString(), QStringLiteral("N"),
                                     QStringLiteral("50"));
    const QCommandLineOption seconds(QStringLiteral("seconds"), QString(), QStringLiteral("S"),
                                     QStringLiteral("20"));
    parser.addOptions({role, port, topic, start, devices, seconds});
    parser.process(application);
    const double duration = parser.value(seconds).toDouble();
    if (parser.value(role) == u"publish")
        return publish(quint16(parser.value(port).toUInt()), parser.value(devices).toInt(),
                       duration, parser.value(start).toDouble());
    if (parser.value(role) == u"subscribe")
        return subscribe(quint16(parser.value(port).toUInt()), parser.value(topic), duration,
                         parser.value(start).toDouble());

    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 brokerPort = probe.serverPort();
    probe.close();
    QTemporaryDir folder;
    QFile config(folder.filePath(QStringLiteral("mosquitto.conf")));
    config.open(QIODevice::WriteOnly);
    config.write("allow_anonymous true\npersistence false\nlistener " +
                 QByteArray::number(brokerPort) + " 127.0.0.1\n");
    config.close();
    QProcess broker;
    broker.start(
        QStandardPaths::findExecutable(QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin")}),
        {QStringLiteral("-c"), config.fileName()});
    broker.waitForStarted();
    for (int i = 0; i < 50; ++i) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), brokerPort);
        if (socket.waitForConnected(100))
            break;
    }
    const double begin = unixNow() + 2.0;
    auto part = [&](const QStringList& arguments) {
        auto* process = new QProcess(&application);
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(QCoreApplication::applicationFilePath(),
                       arguments + QStringList{"--port", QString::number(brokerPort), "--start",
                                               QString::number(begin, 'f', 3)});
        return process;
    };
    const double cpuBroker = processCpuSeconds(broker.processId());
    QProcess* one = part({"--role", "subscribe", "--topic", "devices/d07", "--seconds",
                          QString::number(duration + 4)});
    QProcess* all = part({"--role", "subscribe", "--topic", "devices/#", "--seconds",
                          QString::number(duration + 4)});
    QProcess* publishers = part({"--role", "publish", "--devices", parser.value(devices),
                                 "--seconds", QString::number(duration)});
    for (QProcess* process : {publishers, one, all})
        process->waitForFinished(int(duration + 30) * 1000);
    std::printf("broker cpu %.2f s over %.0f s (%.1f %%)\n",
                processCpuSeconds(broker.processId()) - cpuBroker, duration,
                100 * (processCpuSeconds(broker.processId()) - cpuBroker) / duration);
    broker.terminate();
    broker.waitForFinished();
    return 0;
}
