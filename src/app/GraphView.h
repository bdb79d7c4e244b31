#pragma once

#include "drawing/Layer.h"
#include "drawing/View.h"

#include <cstdint>

namespace app {

// The graph screen's view: the last 150 samples of X, Y and Z in three strips, with an optional
// high-pass filter, and the smoothed G-force readout.
//
// Samples arrive through updateHistoryWithX() (up to 120 per second). Each is filtered or not,
// stored in a fixed ring, and, while updating is enabled, followed by one redraw request.
// A new view has every field zero: an empty ring, filter state 0, both flags off.
class GraphView : public drawing::View {
    Q_OBJECT
public:
    static constexpr std::uint32_t kHistoryLength = 150;
    static constexpr unsigned kAxisCount = 3;
    // A strip spans ±kFullScale g: +kFullScale on its top edge, -kFullScale on its bottom edge.
    static constexpr double kFullScale = 3.0;
    // The filter's first-order low-pass: the new sample's weight and the old state's.
    static constexpr double kNewSampleWeight = 0.1;
    static constexpr double kOldStateWeight = 0.9;

    explicit GraphView(QWidget* parent = nullptr);

    // Stores one sample in g (0.0 for an axis that is switched off). With filtering on, stores
    // the input minus a first-order low-pass of it (kNewSampleWeight, kOldStateWeight).
    void updateHistoryWithX(float x, float y, float z);

    // Sets the flag and resets the low-pass state to 0.0, on every call. The ring is kept.
    void setFilteringEnabled(bool flag);
    bool filteringIsEnabled() const { return filteringIsEnabled_ != 0; }

    // Whether each stored sample requests a redraw. Setting it requests none by itself.
    void setUpdatingIsEnabled(bool flag) { updatingIsEnabled_ = flag ? 1 : 0; }
    bool updatingIsEnabled() const { return updatingIsEnabled_ != 0; }

    // The ring slot the next sample overwrites, which holds the oldest sample.
    std::uint32_t nextSlot() const { return nextIndex; }
    double historyValue(std::uint32_t slot, unsigned axis) const { return history[slot][axis]; }
    // The low-pass state of an axis in g; 0.0 while filtering is off.
    double filterState(unsigned axis) const { return acceleration[axis]; }

    // Draws the three strips, then the readout over them. `rect` is not consulted: the whole
    // view is drawn from its bounds.
    void drawRect(drawing::DrawingContext& context, drawing::Rect rect) override;
    // Draws one strip: the samples of `axis` (0..2; any other index draws nothing) from slot
    // `fromIndex` on, oldest at the left edge, newest at the right, over its background and grid
    // and under its labels. Values beyond ±kFullScale are drawn beyond the strip's edges. The grid
    // (with the zero line and edges) and the labels depend only on `bounds`; they are drawn as
    // layers, which the screen's painter keeps from frame to frame.
    void drawHistory(std::uint32_t axis, std::uint32_t fromIndex, drawing::DrawingContext& context,
                     drawing::Rect bounds);

protected:
    // Only the rows the traces reach, now and as last drawn, and a readout whose text changed:
    // the strips' grounds, grids and labels stay as they are, and a calm trace is a thin band.
    QRegion regionToRedraw() const override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Rows of the view, in points, from top to bottom; empty when top > bottom.
    struct Band {
        float top = 0.0f;
        float bottom = -1.0f;
    };
    // The rows the trace of `axis` reaches, the stroke's width and miters included.
    Band traceBand(unsigned axis) const;
    QString readoutText(unsigned axis) const;

    // The strip of axis i for a view of the given size.
    static drawing::Rect stripRect(unsigned axis, float width, float height);
    void drawBackground(drawing::DrawingContext& context, drawing::Rect bounds) const;
    void drawGrid(drawing::DrawingContext& context, drawing::Rect bounds) const;
    void drawTrace(std::uint32_t axis, std::uint32_t fromIndex, drawing::DrawingContext& context,
                   drawing::Rect bounds) const;
    void drawLabels(std::uint32_t axis, drawing::DrawingContext& context,
                    drawing::Rect bounds) const;
    void drawReadout(drawing::DrawingContext& context) const;

    std::uint32_t nextIndex = 0;
    double acceleration[kAxisCount] = {};
    double history[kHistoryLength][kAxisCount] = {};
    // One-byte flags: any non-zero value counts as true.
    std::int8_t filteringIsEnabled_ = 0;
    std::int8_t updatingIsEnabled_ = 0;

    // Per strip, what lies under its trace (grid, zero line, edges) and over it (labels, axis
    // name). Per strip, so a trace that leaves its strip is stacked under the next strip's
    // grid and labels, as the strips are drawn in order.
    drawing::Layer gridLayers_[kAxisCount];
    drawing::Layer labelLayers_[kAxisCount];

    // What the screen may still show from earlier frames, for regionToRedraw(); nothing is
    // known before the first full drawing at the current size.
    QSize drawnSize_;
    Band drawnBands_[kAxisCount];
    QString drawnReadouts_[kAxisCount];
};

} // namespace app
