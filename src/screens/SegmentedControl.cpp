#include "screens/SegmentedControl.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QToolButton>

namespace screens {

SegmentedControl::SegmentedControl(QWidget* parent)
    : QWidget(parent), layout_(new QHBoxLayout(this)), group_(new QButtonGroup(this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
    group_->setExclusive(true);
    connect(group_, &QButtonGroup::idClicked, this, [this](int id) {
        selected_ = id;
        emit valueChanged(id);
    });
}

void SegmentedControl::setSegments(const QStringList& titles) {
    for (QAbstractButton* button : group_->buttons()) {
        group_->removeButton(button);
        delete button;
    }
    titles_ = titles;
    for (int index = 0; index < titles_.size(); ++index) {
        auto* button = new QToolButton(this);
        button->setText(titles_[index]);
        button->setCheckable(true);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        button->setObjectName(QStringLiteral("segment%1").arg(index));
        button->setProperty("position", index == 0                    ? "first"
                                        : index == titles_.size() - 1 ? "last"
                                                                      : "middle");
        group_->addButton(button, index);
        layout_->addWidget(button);
    }
    setSelectedSegmentIndex(selected_);
}

void SegmentedControl::setSelectedSegmentIndex(int index) {
    if (index < 0 || index >= numberOfSegments())
        index = kNoSegment;
    selected_ = index;
    if (index == kNoSegment) {
        // An exclusive group cannot uncheck its last checked button.
        group_->setExclusive(false);
        for (QAbstractButton* button : group_->buttons())
            button->setChecked(false);
        group_->setExclusive(true);
    } else {
        group_->button(index)->setChecked(true);
    }
}

} // namespace screens
