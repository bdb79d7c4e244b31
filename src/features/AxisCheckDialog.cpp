#include "features/AxisCheckDialog.h"

#include "sensors/AccelerometerDriver.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

AxisCheckDialog::AxisCheckDialog(sensors::AccelerometerDriver* driver,
                                 std::function<std::optional<sensors::Acceleration>()> latest,
                                 QWidget* parent)
    : QDialog(parent), driver_(driver), latest_(latest), check_(latest) {
    setWindowTitle(QStringLiteral("Check axes"));
    setObjectName(QStringLiteral("axisCheck"));
    auto* layout = new QVBoxLayout(this);
    instruction_ = new QLabel(this);
    instruction_->setWordWrap(true);
    instruction_->setObjectName(QStringLiteral("instruction"));
    reading_ = new QLabel(this);
    reading_->setObjectName(QStringLiteral("reading"));
    reading_->setFont(QFont(QStringLiteral("DejaVu Sans Mono")));
    problem_ = new QLabel(this);
    problem_->setWordWrap(true);
    problem_->setObjectName(QStringLiteral("problem"));
    layout->addWidget(instruction_);
    layout->addWidget(reading_);
    layout->addWidget(problem_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    close_ = new QPushButton(QStringLiteral("Cancel"), this);
    close_->setObjectName(QStringLiteral("close"));
    measure_ = new QPushButton(QStringLiteral("Measure"), this);
    measure_->setObjectName(QStringLiteral("measure"));
    measure_->setDefault(true);
    buttons->addWidget(close_);
    buttons->addWidget(measure_);
    layout->addLayout(buttons);
    // A fixed width lets the wrapped instructions take the height they need (see fitToText).
    setFixedWidth(340);

    connect(close_, &QPushButton::clicked, this, &QDialog::reject);
    connect(measure_, &QPushButton::clicked, this, [this] {
        check_.capture();
        showStep();
    });
    connect(&check_, &AxisCheck::stepChanged, this, [this] {
        if (check_.step() == AxisCheck::Step::Done) {
            sensors::AxisMap stored;
            QString error;
            if (AxisCheck::apply(*driver_, *check_.correction(), &stored, &error))
                stored_ = stored.toString();
            else
                problem_->setText(error);
        }
        showStep();
    });
    connect(&readingTimer_, &QTimer::timeout, this, &AxisCheckDialog::showReading);
    readingTimer_.start(100);
    showStep();
    showReading();
}

void AxisCheckDialog::showStep() {
    showStepText();
    fitToText();
}

void AxisCheckDialog::showStepText() {
    if (!driver_ || !driver_->axisMap()) {
        instruction_->setText(
            QStringLiteral("The axes of %1 cannot be turned: it reports in the device's axes "
                           "already. The check is for built-in sensors and controllers.")
                .arg(driver_ ? driver_->description() : QStringLiteral("this source")));
        measure_->hide();
        close_->setText(QStringLiteral("Close"));
        return;
    }
    if (check_.step() == AxisCheck::Step::Done) {
        instruction_->setText(stored_.isEmpty()
                                  ? check_.instruction()
                                  : QStringLiteral("Done: the axis map %1 is stored for %2 and "
                                                   "used from now on.")
                                        .arg(stored_, driver_->description()));
        measure_->hide();
        close_->setText(QStringLiteral("Close"));
        problem_->setText(QString());
        return;
    }
    const int number = check_.step() == AxisCheck::Step::FaceUp ? 1 : 2;
    instruction_->setText(QStringLiteral("Step %1 of 2. %2 Then press Measure.")
                              .arg(number)
                              .arg(check_.instruction()));
    problem_->setText(check_.problem());
    measure_->setEnabled(!check_.isCapturing());
    measure_->setText(check_.isCapturing() ? QStringLiteral("Measuring…")
                                           : QStringLiteral("Measure"));
}

void AxisCheckDialog::fitToText() {
    const QMargins margins = layout()->contentsMargins();
    const int textWidth = width() - margins.left() - margins.right();
    for (QLabel* label : {instruction_, problem_})
        label->setMinimumHeight(label->text().isEmpty() ? 0 : label->heightForWidth(textWidth));
    adjustSize();
}

void AxisCheckDialog::showReading() {
    // A reading that rounds to zero is zero, not "-0.00".
    const auto shown = [](double g) {
        return QString::number(std::abs(g) < 0.005 ? 0.0 : g, 'f', 2);
    };
    const std::optional<sensors::Acceleration> r = latest_ ? latest_() : std::nullopt;
    reading_->setText(
        r ? QStringLiteral("X %1  Y %2  Z %3 g").arg(shown(r->x), shown(r->y), shown(r->z))
          : QStringLiteral("no reading yet"));
}
