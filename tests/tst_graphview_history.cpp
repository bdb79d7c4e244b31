#include "app/GraphView.h"

#include <QTest>
#include <cmath>

namespace {

// Counts redraw requests instead of scheduling paints.
class CountingGraphView : public app::GraphView {
public:
    void setNeedsDisplay() override { ++requests; }
    int requests = 0;
};

double newestX(const app::GraphView& view) {
    return view.historyValue(
        (view.nextSlot() + app::GraphView::kHistoryLength - 1) % app::GraphView::kHistoryLength, 0);
}

} // namespace

class GraphViewHistoryTest : public QObject {
    Q_OBJECT
private slots:
    void newViewIsAllZero();
    void ringWrapsAfter150Samples();
    void filterSequence_data();
    void filterSequence();
    void filterResetsOnEveryCall_data();
    void filterResetsOnEveryCall();
    void unfilteredValuesStoredExactly_data();
    void unfilteredValuesStoredExactly();
    void redrawRequestedOnlyWhileUpdating();
};

void GraphViewHistoryTest::newViewIsAllZero() {
    app::GraphView view;
    QCOMPARE(view.nextSlot(), 0u);
    QVERIFY(!view.filteringIsEnabled());
    QVERIFY(!view.updatingIsEnabled());
    for (std::uint32_t slot = 0; slot < app::GraphView::kHistoryLength; ++slot)
        for (unsigned axis = 0; axis < 3; ++axis)
            QCOMPARE(view.historyValue(slot, axis), 0.0);
}

void GraphViewHistoryTest::ringWrapsAfter150Samples() {
    app::GraphView view;
    view.updateHistoryWithX(1.0f, 2.0f, 3.0f);
    QCOMPARE(view.nextSlot(), 1u);
    QCOMPARE(view.historyValue(0, 2), 3.0);
    for (int i = 1; i < 150; ++i)
        view.updateHistoryWithX(static_cast<float>(i), 0.0f, 0.0f);
    QCOMPARE(view.nextSlot(), 0u);
    view.updateHistoryWithX(-7.5f, 0.0f, 0.0f);
    QCOMPARE(view.nextSlot(), 1u);
    QCOMPARE(view.historyValue(0, 0), -7.5);
    QCOMPARE(view.historyValue(149, 0), 149.0);
}

void GraphViewHistoryTest::filterSequence_data() {
    QTest::addColumn<float>("input");
    QTest::addColumn<int>("step");
    QTest::addColumn<double>("stored");
    QTest::addColumn<double>("state");
    // A steady input c is stored as c * 0.9^n while the low-pass state rises towards c.
    QTest::newRow("1 g, first") << 1.0f << 1 << 0.9 << 0.1;
    QTest::newRow("1 g, second") << 1.0f << 2 << 0.81 << 0.19;
    QTest::newRow("1 g, third") << 1.0f << 3 << 0.729 << 0.271;
    QTest::newRow("-2 g, third") << -2.0f << 3 << -1.458 << -0.542;
    QTest::newRow("1 g, twentieth") << 1.0f << 20 << std::pow(0.9, 20) << 1.0 - std::pow(0.9, 20);
}

void GraphViewHistoryTest::filterSequence() {
    QFETCH(float, input);
    QFETCH(int, step);
    QFETCH(double, stored);
    QFETCH(double, state);
    app::GraphView view;
    view.setFilteringEnabled(true);
    for (int i = 0; i < step; ++i)
        view.updateHistoryWithX(input, 0.0f, 0.0f);
    QVERIFY(std::abs(newestX(view) - stored) < 1e-12);
    QVERIFY(std::abs(view.filterState(0) - state) < 1e-12);
    QCOMPARE(view.filterState(1), 0.0);
}

void GraphViewHistoryTest::filterResetsOnEveryCall_data() {
    QTest::addColumn<bool>("before");
    QTest::addColumn<bool>("after");
    QTest::newRow("on, then on again") << true << true;
    QTest::newRow("on, then off") << true << false;
    QTest::newRow("on, off, on") << true << true;
}

void GraphViewHistoryTest::filterResetsOnEveryCall() {
    QFETCH(bool, before);
    QFETCH(bool, after);
    app::GraphView view;
    view.setFilteringEnabled(before);
    for (int i = 0; i < 5; ++i)
        view.updateHistoryWithX(1.0f, -1.0f, 0.5f);
    QVERIFY(view.filterState(0) != 0.0);
    const std::uint32_t slot = view.nextSlot();
    const double kept = view.historyValue(0, 0);

    if (QByteArray(QTest::currentDataTag()) == "on, off, on")
        view.setFilteringEnabled(false);
    view.setFilteringEnabled(after);
    for (unsigned axis = 0; axis < 3; ++axis)
        QCOMPARE(view.filterState(axis), 0.0);
    QCOMPARE(view.nextSlot(), slot);
    QCOMPARE(view.historyValue(0, 0), kept);

    view.updateHistoryWithX(1.0f, 0.0f, 0.0f);
    // Filtering restarts from a zero state (0.9 of the input); unfiltered stores it as it is.
    QCOMPARE(newestX(view), after ? 1.0 - 0.1 : 1.0);
}

void GraphViewHistoryTest::unfilteredValuesStoredExactly_data() {
    QTest::addColumn<float>("value");
    QTest::newRow("beyond +3 g") << 4.5f;
    QTest::newRow("beyond -3 g") << -12.25f;
    QTest::newRow("float that is not a short decimal") << 0.1f;
}

void GraphViewHistoryTest::unfilteredValuesStoredExactly() {
    QFETCH(float, value);
    app::GraphView view;
    view.updateHistoryWithX(value, value, value);
    for (unsigned axis = 0; axis < 3; ++axis)
        QCOMPARE(view.historyValue(0, axis), static_cast<double>(value));
    for (unsigned axis = 0; axis < 3; ++axis)
        QCOMPARE(view.filterState(axis), 0.0);
}

void GraphViewHistoryTest::redrawRequestedOnlyWhileUpdating() {
    CountingGraphView view;
    view.updateHistoryWithX(1.0f, 1.0f, 1.0f);
    QCOMPARE(view.requests, 0);
    QCOMPARE(view.nextSlot(), 1u);
    view.setUpdatingIsEnabled(true);
    QCOMPARE(view.requests, 0); // switching it on asks for nothing by itself
    view.updateHistoryWithX(1.0f, 1.0f, 1.0f);
    view.updateHistoryWithX(1.0f, 1.0f, 1.0f);
    QCOMPARE(view.requests, 2);
    view.setUpdatingIsEnabled(false);
    view.updateHistoryWithX(1.0f, 1.0f, 1.0f);
    QCOMPARE(view.requests, 2);
    QCOMPARE(view.nextSlot(), 4u);
}

QTEST_MAIN(GraphViewHistoryTest)
#include "tst_graphview_history.moc"
