#pragma once

#include <QStringList>
#include <QWidget>

class QButtonGroup;
class QHBoxLayout;

namespace screens {

// A row of mutually exclusive segments, counted from 0. At most one is selected;
// selectedSegmentIndex() is kNoSegment when none is.
class SegmentedControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QStringList segments READ segments WRITE setSegments)
    Q_PROPERTY(int selectedSegmentIndex READ selectedSegmentIndex WRITE setSelectedSegmentIndex
                   NOTIFY valueChanged)
public:
    static constexpr int kNoSegment = -1;

    explicit SegmentedControl(QWidget* parent = nullptr);

    QStringList segments() const { return titles_; }
    void setSegments(const QStringList& titles);
    int numberOfSegments() const { return static_cast<int>(titles_.size()); }

    int selectedSegmentIndex() const { return selected_; }
    // An index outside 0..numberOfSegments()-1 selects no segment.
    void setSelectedSegmentIndex(int index);

signals:
    // Sent when the user picks a segment (not for setSelectedSegmentIndex()).
    void valueChanged(int index);

private:
    QHBoxLayout* layout_;
    QButtonGroup* group_;
    QStringList titles_;
    int selected_ = kNoSegment;
};

} // namespace screens
