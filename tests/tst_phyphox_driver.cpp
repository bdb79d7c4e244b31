#include "FakePhone.h"
#include "sensors/PhyphoxDriver.h"

#include <QSignalSpy>
#include <QTest>
#include <array>
#include <cmath>
#include <memory>

using sensors::kStandardGravity;
using sensors::parsePhyphoxAnswer;
using sensors::parsePhyphoxConfig;
using sensors::PhyphoxDriver;
using Kind = sensors::AccelerometerDriver::MessageKind;

namespace {

int messagesContaining(const QSignalSpy& spy, const QString& part) {
    int count = 0;
    for (const QList<QVariant>& arguments : spy)
        count += arguments.first().toString().contains(part);
    return count;
}

} // namespace

class PhyphoxDriverTest : public QObject {
    Q_OBJECT
private slots:
    void parsesAnswer();
    void refusesMalformedAnswer_data();
    void refusesMalformedAnswer();
    void followsRunningMeasurement();
    void startsPausedPhone();
    void survivesPhoneGoingAway();
    void saysWhatWasWrongWithAnswer();
    void readsExperimentDescription_data();
    void readsExperimentDescription();
    void followsThePhone_data();
    void followsThePhone();
    void refusesUnusableAddress();
    void boundsWhatThePhoneSends_data();
    void boundsWhatThePhoneSends();

private:
    std::unique_ptr<PhyphoxDriver> startedDriver(const FakePhone& phone, QSignalSpy** spy);
};

void PhyphoxDriverTest::parsesAnswer() {
    // Buffers caught mid-append differ in length; a NaN from the phone arrives as null.
    const QByteArray body = R"({"buffer": {
        "acc_time": {"size": 0, "updateMode": "partial", "buffer": [1.0, 1.01, 1.02, 1.03]},
        "accX": {"size": 0, "updateMode": "partial", "buffer": [0, null, 1.5, 2]},
        "accY": {"size": 0, "updateMode": "partial", "buffer": [0, 0, -2.5]},
        "accZ": {"size": 0, "updateMode": "partial", "buffer": [9.80665, 9.8, 0, 0, 7]}},
        "status": {"session": "7f3a", "measuring": true, "timedRun": false, "countDown": 0}})";
    QString error;
    const auto answer = parsePhyphoxAnswer(body, &error);
    QVERIFY2(answer, qPrintable(error));
    QVERIFY(answer->measuring);
    QCOMPARE(answer->session, QStringLiteral("7f3a"));
    QCOMPARE(answer->readings.size(), std::size_t(2));
    QCOMPARE(answer->readings[0].z, -1.0); // face up: +9.81 m/s² on Android is -1 g here
    QCOMPARE(answer->readings[1].timestamp, 1.02);
    QCOMPARE(answer->readings[1].x, -1.5 / kStandardGravity);
    QCOMPARE(answer->readings[1].y, 2.5 / kStandardGravity);
}

void PhyphoxDriverTest::refusesMalformedAnswer_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("why");

    const QByteArray status = R"("status": {"session": "s", "measuring": true})";
    const QByteArray buffers = R"("buffer": {"acc_time": {"buffer": [1]}, "accX": {"buffer": [1]},
                                             "accY": {"buffer": [1]}, "accZ": {"buffer": [1]}})";
    QTest::newRow("not JSON") << QByteArray("{\"buffer\": {") << "the answer is not JSON";
    QTest::newRow("HTML page") << QByteArray("<html>phyphox</html>") << "not JSON";
    QTest::newRow("array") << QByteArray("[1, 2]") << "not a JSON object";
    QTest::newRow("no status") << "{" + buffers + "}"
                               << "no \"status\" object";
    QTest::newRow("measuring as text") << "{" + buffers + R"(, "status": {"measuring": "yes"}})"
                                       << "\"measuring\"";
    QTest::newRow("no buffers") << "{" + status + "}"
                                << "no \"buffer\" object";
    QTest::newRow("other experiment")
        << "{" + status + R"(, "buffer": {"illum": {"buffer": [300]}}})"
        << "no buffer \"acc_time\"";
    QTest::newRow("buffer not an array")
        << "{" + status +
               R"(, "buffer": {"acc_time": {"buffer": 5}, "accX": {"buffer": []},
                               "accY": {"buffer": []}, "accZ": {"buffer": []}}})"
        << "\"acc_time\" has no \"buffer\" array";
    QTest::newRow("text in a buffer")
        << "{" + status +
               R"(, "buffer": {"acc_time": {"buffer": [1]}, "accX": {"buffer": ["1"]},
                               "accY": {"buffer": [1]}, "accZ": {"buffer": [1]}}})"
        << "\"accX\" holds something other than numbers";
}

void PhyphoxDriverTest::refusesMalformedAnswer() {
    QFETCH(QByteArray, body);
    QFETCH(QString, why);
    QString error;
    QVERIFY(!parsePhyphoxAnswer(body, &error));
    QVERIFY2(error.contains(why), qPrintable(error));
}

std::unique_ptr<PhyphoxDriver> PhyphoxDriverTest::startedDriver(const FakePhone& phone,
                                                                QSignalSpy** spy) {
    auto driver = std::make_unique<PhyphoxDriver>(phone.url());
    driver->setRetryDelays(0.01, 0.05);
    driver->setRequestTimeout(0.5);
    driver->setSilenceAfter(1.0);
    *spy = new QSignalSpy(driver.get(), &PhyphoxDriver::statusMessage);
    QString error;
    if (!driver->start(&error))
        qWarning("%s", qPrintable(error));
    return driver;
}

// The phone samples `g` along its X axis (in g, the device convention) and the driver
// shows it within a few polls.
bool showsNext(FakePhone& phone, PhyphoxDriver& driver, double& t, double g) {
    t += 0.01;
    phone.sample(t, -g * kStandardGravity, 0.0, 0.0);
    return QTest::qWaitFor([&] {
        const auto reading = driver.read(0.0);
        return reading && std::abs(reading->x - g) < 1e-6;
    });
}

void PhyphoxDriverTest::followsRunningMeasurement() {
    FakePhone phone;
    phone.measuring = true;
    QVERIFY(phone.listen());
    QSignalSpy* spyPointer = nullptr;
    auto driver = startedDriver(phone, &spyPointer);
    std::unique_ptr<QSignalSpy> messages(spyPointer);

    double t = 0.0;
    QVERIFY(showsNext(phone, *driver, t, 0.25));
    QCOMPARE(driver->read(5.0)->timestamp, 5.0); // the service's time, not the phone's
    QVERIFY(showsNext(phone, *driver, t, -1.0));
    // Only the newest value of each buffer is asked for, never a buffer copy.
    QCOMPARE(phone.requests.first(), QStringLiteral("/config"));
    QCOMPARE(phone.requests.last(), QStringLiteral("/get?accX&accY&accZ&acc_time"));
    QCOMPARE(phone.startCommands, 0);
    QCOMPARE(messages->count(), 0);
}

void PhyphoxDriverTest::startsPausedPhone() {
    FakePhone phone;
    QVERIFY(phone.listen());
    QSignalSpy* spyPointer = nullptr;
    auto driver = startedDriver(phone, &spyPointer);
    std::unique_ptr<QSignalSpy> messages(spyPointer);

    QTRY_COMPARE(phone.startCommands, 1);
    QCOMPARE(messagesContaining(*messages, QStringLiteral("was not measuring")), 1);
    QVERIFY(!driver->read(0.0));
    phone.sample(0.5, 0, 0, -9.80665);
    QTRY_VERIFY(driver->read(0.0));
    QCOMPARE(driver->read(0.0)->z, 1.0);
    QCOMPARE(phone.startCommands, 1);
}

void PhyphoxDriverTest::survivesPhoneGoingAway() {
    FakePhone phone;
    phone.measuring = true;
    QVERIFY(phone.listen());
    const quint16 port = phone.port();
    QSignalSpy* spyPointer = nullptr;
    auto driver = startedDriver(phone, &spyPointer);
    std::unique_ptr<QSignalSpy> messages(spyPointer);
    double t = 0.0;
    QVERIFY(showsNext(phone, *driver, t, 1.0));

    phone.disappear();
    QTRY_VERIFY(!driver->read(0.0));
    QTest::qWait(300); // several retries, each refused
    QCOMPARE(messages->count(), 1);
    QVERIFY2(messages->first().first().toString().contains(QStringLiteral("Lost the phone")),
             qPrintable(messages->first().first().toString()));
    QCOMPARE(messages->first().at(1).value<Kind>(), Kind::Lost);

    // The app was restarted meanwhile: a new session whose clock starts again at zero.
    phone.open(FakePhone::accelerationWithG());
    phone.measuring = true;
    QVERIFY(phone.listen(port));
    t = 0.0;
    QVERIFY(showsNext(phone, *driver, t, -1.0));
    QVERIFY(showsNext(phone, *driver, t, 0.0));
    QCOMPARE(messages->count(), 2);
    QVERIFY(messages->last().first().toString().contains(QStringLiteral("is back")));
    QCOMPARE(messages->last().at(1).value<Kind>(), Kind::Back);
}

void PhyphoxDriverTest::saysWhatWasWrongWithAnswer() {
    FakePhone phone;
    phone.measuring = true;
    QVERIFY(phone.listen());
    phone.sample(0.01, 0, 0, 9.80665);
    phone.garbage = R"({"buffer": {"acc_time": )";
    QSignalSpy* spyPointer = nullptr;
    auto driver = startedDriver(phone, &spyPointer);
    std::unique_ptr<QSignalSpy> messages(spyPointer);

    QTRY_VERIFY(phone.requests.size() >= 8);
    QVERIFY(!driver->read(0.0));
    QCOMPARE(messages->count(), 1); // said once, not at every retry
    QVERIFY2(messages->first().first().toString().contains(QStringLiteral("not JSON")),
             qPrintable(messages->first().first().toString()));

    phone.garbage.clear();
    QTRY_VERIFY(driver->read(0.0));
}

void PhyphoxDriverTest::readsExperimentDescription_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("buffers"); // x y z t, empty without an acceleration input
    QTest::addColumn<bool>("withGravity");

    QTest::newRow("Acceleration with g")
        << QByteArray(R"({"title": "Acceleration with g", "localTitle": "Beschleunigung mit g",
            "inputs": [{"source": "accelerometer", "outputs": [{"x": "accX"}, {"y": "accY"},
            {"z": "accZ"}, {"abs": "acc"}, {"t": "acc_time"}]}]})")
        << "Beschleunigung mit g"
        << "accX accY accZ acc_time" << true;
    QTest::newRow("simple experiment with both, gravity preferred")
        << QByteArray(R"({"title": "Mine", "inputs": [
            {"source": "linear_acceleration", "outputs": [{"x": "lin_accX"}, {"y": "lin_accY"},
             {"z": "lin_accZ"}, {"t": "lin_acc_time"}]},
            {"source": "location", "outputs": [{"lat": "locLat"}]},
            {"source": "accelerometer", "outputs": [{"x": "accX"}, {"y": "accY"},
             {"z": "accZ"}, {"t": "accT"}]}]})")
        << "Mine"
        << "accX accY accZ accT" << true;
    QTest::newRow("linear acceleration only")
        << QByteArray(R"json({"title": "Acceleration (without g)", "inputs": [
            {"source": "linear_acceleration", "outputs": {"x": "linX", "y": "linY",
             "z": "linZ", "t": "lin_time"}}]})json")
        << "Acceleration (without g)"
        << "linX linY linZ lin_time" << false;
    QTest::newRow("no acceleration")
        << QByteArray(R"({"title": "Light", "inputs": [{"source": "light",
            "outputs": [{"x": "illum"}, {"t": "light_time"}]}, {"source": "bluetooth"}]})")
        << "Light" << QString() << true;
    QTest::newRow("accelerometer without a time buffer")
        << QByteArray(R"({"title": "Odd", "inputs": [{"source": "accelerometer",
            "outputs": [{"x": "accX"}, {"y": "accY"}, {"z": "accZ"}]}]})")
        << "Odd" << QString() << true;
}

void PhyphoxDriverTest::readsExperimentDescription() {
    QFETCH(QByteArray, body);
    QFETCH(QString, title);
    QFETCH(QString, buffers);
    QFETCH(bool, withGravity);
    QString error;
    const auto experiment = parsePhyphoxConfig(body, &error);
    QVERIFY2(experiment, qPrintable(error));
    QCOMPARE(experiment->title, title);
    QCOMPARE(bool(experiment->acceleration), !buffers.isEmpty());
    if (!experiment->acceleration)
        return;
    const auto& input = *experiment->acceleration;
    QCOMPARE(QStringList({input.x, input.y, input.z, input.t}).join(QLatin1Char(' ')), buffers);
    QCOMPARE(input.withGravity, withGravity);

    // Old phones answer `/config` with their web page.
    QVERIFY(!parsePhyphoxConfig("<!DOCTYPE html><html></html>", &error));
    QVERIFY(!parsePhyphoxConfig(R"({"result": false})", &error));
}

namespace {
enum Scenario {
    Follow,              // readings follow the phone
    PausedAtConnect,     // started once, and said so
    Clear,               // the clear button, then play: a clock from 0 in the same session
    ClockRestarts,       // times go back while measuring
    UserPause,           // paused on the phone and stays so
    TimedRunEnds,        // a timed run that ends stays ended
    Switch,              // Inclination opened, then Acceleration with g again
    NoAcceleration,      // an experiment without acceleration, then one with
    Silent,              // measuring, but no new reading
    HttpError,           // the phone answers 500 once
    Trickle,             // an answer trickling in a byte at a time
    Oversized,           // an answer of 5 MB with its length declared
    OversizedUndeclared, // the same without a Content-Length
};
} // namespace

void PhyphoxDriverTest::followsThePhone_data() {
    QTest::addColumn<int>("platform");
    QTest::addColumn<QString>("experiment");
    QTest::addColumn<bool>("answersConfig");
    QTest::addColumn<int>("scenario");
    QTest::addColumn<QString>("message"); // what the user reads; empty: nothing at all
    QTest::addColumn<Kind>("kind");

    const int android = int(FakePhone::Platform::Android), ios = int(FakePhone::Platform::IOS);
    const QString withG = QStringLiteral("with g");
    const QString gravityNote = QStringLiteral("do not include gravity");
    QTest::newRow("Android, with g")
        << android << withG << true << int(Follow) << QString() << Kind::Notice;
    QTest::newRow("iOS, with g") << ios << withG << true << int(Follow) << QString()
                                 << Kind::Notice;
    QTest::newRow("phone without /config")
        << android << withG << false << int(Follow) << QString() << Kind::Notice;
    QTest::newRow("Inclination (accT)")
        << android << "inclination" << true << int(Follow) << QString() << Kind::Notice;
    QTest::newRow("Android, without g")
        << android << "without g" << true << int(Follow) << gravityNote << Kind::Notice;
    QTest::newRow("Android, simple linear")
        << android << "simple linear" << true << int(Follow) << gravityNote << Kind::Notice;
    QTest::newRow("iOS, simple linear")
        << ios << "simple linear" << true << int(Follow) << gravityNote << Kind::Notice;
    QTest::newRow("paused at connect") << android << withG << true << int(PausedAtConnect)
                                       << "was not measuring; starting it" << Kind::Notice;
    QTest::newRow("Android, clear")
        << android << withG << true << int(Clear) << "Paused on the phone" << Kind::Lost;
    QTest::newRow("iOS, clear") << ios << withG << true << int(Clear) << "Paused on the phone"
                                << Kind::Lost;
    QTest::newRow("clock restarts")
        << android << withG << true << int(ClockRestarts) << QString() << Kind::Notice;
    QTest::newRow("user pause") << android << withG << true << int(UserPause)
                                << "Paused on the phone" << Kind::Lost;
    QTest::newRow("timed run ends") << ios << withG << true << int(TimedRunEnds)
                                    << "Timed run over: paused on the phone" << Kind::Lost;
    QTest::newRow("switch to Inclination and back")
        << android << withG << true << int(Switch) << "was not measuring" << Kind::Notice;
    QTest::newRow("Light, then with g")
        << ios << "light" << true << int(NoAcceleration)
        << "runs \"Light\", which measures no acceleration" << Kind::Lost;
    QTest::newRow("silent") << android << withG << true << int(Silent) << "is silent" << Kind::Lost;
    QTest::newRow("HTTP 500") << android << withG << true << int(HttpError) << "answered HTTP 500"
                              << Kind::Notice;
    QTest::newRow("trickle") << android << withG << true << int(Trickle) << "not answering"
                             << Kind::Lost;
    QTest::newRow("5 MB declared")
        << ios << withG << true << int(Oversized) << "larger than 4 MB" << Kind::Notice;
    QTest::newRow("5 MB undeclared") << android << withG << true << int(OversizedUndeclared)
                                     << "larger than 4 MB" << Kind::Notice;
}

void PhyphoxDriverTest::followsThePhone() {
    QFETCH(int, platform);
    QFETCH(QString, experiment);
    QFETCH(bool, answersConfig);
    QFETCH(int, scenario);
    QFETCH(QString, message);
    QFETCH(Kind, kind);

    const auto phonePlatform = FakePhone::Platform(platform);
    const QHash<QString, FakePhone::Experiment> experiments = {
        {QStringLiteral("with g"), FakePhone::accelerationWithG()},
        {QStringLiteral("without g"), FakePhone::accelerationWithoutG()},
        {QStringLiteral("inclination"), FakePhone::inclination()},
        {QStringLiteral("simple linear"), FakePhone::simpleLinear(phonePlatform)},
        {QStringLiteral("light"), FakePhone::light()}};
    FakePhone phone(experiments.value(experiment));
    phone.platform = phonePlatform;
    phone.answersConfig = answersConfig;
    phone.measuring = scenario != PausedAtConnect;
    if (scenario == TimedRunEnds)
        phone.timedRun = true;
    if (scenario == HttpError)
        phone.failNextGets = 1;
    QVERIFY(phone.listen());
    QSignalSpy* spyPointer = nullptr;
    auto driver = startedDriver(phone, &spyPointer);
    std::unique_ptr<QSignalSpy> messages(spyPointer);
    auto said = [&] {
        for (const QList<QVariant>& arguments : *messages)
            if (arguments.at(0).toString().contains(message) &&
                arguments.at(1).value<Kind>() == kind)
                return true;
        return false;
    };
    auto lastKind = [&] { return messages->last().at(1).value<Kind>(); };

    double t = 0.0;
    if (scenario == NoAcceleration) {
        QTRY_VERIFY(said());
        QVERIFY(!driver->read(0.0));
        phone.open(FakePhone::accelerationWithG());
    }
    // A phone that was not measuring gets its start command first; samples come after.
    QTRY_VERIFY(phone.measuring);
    if (scenario == Silent || scenario == Trickle) {
        phone.trickleMs = scenario == Trickle ? 50 : 0;
        QVERIFY(showsNext(phone, *driver, t, 0.25) || scenario == Trickle);
        QTRY_VERIFY(said());
        QVERIFY(!driver->read(0.0));
        phone.trickleMs = 0;
    }
    if (scenario == Oversized || scenario == OversizedUndeclared) {
        phone.declareOversize = scenario == Oversized;
        phone.oversizedAnswers = 5 * 1024 * 1024;
        QTRY_VERIFY(said());
        QCOMPARE(driver->refusedAnswers(), 1);
    }
    QVERIFY(showsNext(phone, *driver, t, 0.25));
    QVERIFY(showsNext(phone, *driver, t, -0.5));
    const QStringList names = {phone.requests.filter(QStringLiteral("/get?")).last()};

    switch (Scenario(scenario)) {
    case Clear:
        phone.clear();
        QTRY_VERIFY(said());
        QVERIFY(!driver->read(0.0));
        QTest::qWait(100);
        QCOMPARE(phone.startCommands, 0);
        phone.measuring = true; // play, on the phone
        t = 0.0;
        QVERIFY(showsNext(phone, *driver, t, 0.75));
        QCOMPARE(lastKind(), Kind::Back);
        break;
    case ClockRestarts:
        t = 0.0;
        QVERIFY(showsNext(phone, *driver, t, 0.75));
        break;
    case UserPause:
    case TimedRunEnds:
        phone.measuring = false;
        QTRY_VERIFY(said());
        QVERIFY(!driver->read(0.0));
        QTest::qWait(200);
        QCOMPARE(phone.startCommands, 0);
        QVERIFY(!driver->read(0.0));
        phone.measuring = true;
        QVERIFY(showsNext(phone, *driver, t, 0.75));
        QCOMPARE(lastKind(), Kind::Back);
        break;
    case Switch:
        phone.open(FakePhone::inclination());
        QTRY_VERIFY(phone.measuring);
        t = 0.0;
        QVERIFY(showsNext(phone, *driver, t, 0.75));
        QVERIFY(phone.requests.contains(QStringLiteral("/get?accX&accY&accZ&accT")));
        phone.open(FakePhone::accelerationWithG());
        QTRY_VERIFY(phone.measuring);
        t = 0.0;
        QVERIFY(showsNext(phone, *driver, t, 1.0));
        // Each experiment opened is started once, as at connecting, and said so.
        QCOMPARE(phone.startCommands, 2);
        QCOMPARE(messagesContaining(*messages, message), 2);
        QCOMPARE(messages->count(), 2); // a switch is no fault
        return;
    case Silent:
    case Trickle:
    case NoAcceleration:
        QCOMPARE(lastKind(), Kind::Back);
        break;
    case HttpError:
        QCOMPARE(phone.requests.count(QStringLiteral("/config")), 2);
        break;
    case PausedAtConnect:
        QCOMPARE(phone.startCommands, 1);
        break;
    case Follow:
    case Oversized:
    case OversizedUndeclared:
        break;
    }

    if (message.isEmpty()) {
        QCOMPARE(messages->count(), 0);
    } else {
        QVERIFY2(said(), qPrintable(message));
        QCOMPARE(messagesContaining(*messages, message), 1); // said once
    }
    if (!answersConfig)
        QCOMPARE(names.first(), QStringLiteral("/get?accX&accY&accZ&acc_time"));
}

void PhyphoxDriverTest::refusesUnusableAddress() {
    for (const char* address : {"ftp://phone:8080", "http://", "not a url at all"}) {
        PhyphoxDriver driver{QUrl(QLatin1String(address), QUrl::StrictMode)};
        QString error;
        QVERIFY2(!driver.start(&error), address);
        QVERIFY(error.contains(QStringLiteral("expected http://HOST:PORT")));
    }
}

void PhyphoxDriverTest::boundsWhatThePhoneSends_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message"); // said exactly once however often it recurs
    QTest::addColumn<Kind>("kind");

    QTest::newRow("endless chunked answer") << "endless"
                                            << "larger than 4 MB" << Kind::Notice;
    QTest::newRow("redirect to another host")
        << "redirect"
        << "redirected to http://127.0.0.1:1/elsewhere (HTTP 302)" << Kind::Lost;
    QTest::newRow("connection lost mid-answer") << "cut"
                                                << "mid-answer" << Kind::Lost;
}

void PhyphoxDriverTest::boundsWhatThePhoneSends() {
    QFETCH(QString, fault);
    QFETCH(QString, message);
    QFETCH(Kind, kind);
    FakePhone phone;
    phone.measuring = true;
    phone.sample(0.01, 0, 0, 9.80665);
    phone.endlessChunks = fault == u"endless";
    phone.redirectTo = fault == u"redirect" ? "http://127.0.0.1:1/elsewhere" : QByteArray();
    phone.cutMidAnswer = fault == u"cut";
    QVERIFY(phone.listen());
    QSignalSpy* spyPointer = nullptr;
    auto driver = startedDriver(phone, &spyPointer);
    std::unique_ptr<QSignalSpy> messages(spyPointer);
    // Time enough to read past the size limit on a busy machine, so that it is the size that
    // ends each answer.
    driver->setRequestTimeout(10.0);

    QTRY_VERIFY(phone.requests.filter(QStringLiteral("/get")).size() >= 4);
    QVERIFY(!driver->read(0.0));
    QCOMPARE(messagesContaining(*messages, message), 1);
    QCOMPARE(messages->count(), 1);
    QCOMPARE(messages->first().at(1).value<Kind>(), kind);
    if (phone.endlessChunks) {
        QVERIFY(driver->refusedAnswers() >= 2);
        // Each endless answer is cut off near the limit, not read on for ever.
        QVERIFY2(phone.streamedBytes / driver->refusedAnswers() < 24 * 1024 * 1024,
                 qPrintable(QString::number(phone.streamedBytes)));
    }

    phone.endlessChunks = phone.cutMidAnswer = false;
    phone.redirectTo.clear();
    double t = 0.01;
    QVERIFY(showsNext(phone, *driver, t, 0.5));
}

QTEST_GUILESS_MAIN(PhyphoxDriverTest)
#include "tst_phyphox_driver.moc"
