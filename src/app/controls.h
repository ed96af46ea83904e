// The state of the main window's controls as the procedures see them.
//
// The procedures read and write these properties; every change is passed on
// to the view (the Qt layer), which shows it at once.  All positions and
// sizes are pixels of the main window's client area.
#pragma once

#include <string>

namespace velmora {

enum class Ctl {
    cmdPlay,
    cmdReview,
    frReviewTime,
    lblReviewTime,
    lblSpeed,
    SpeedScrollBar,
    oMediaPlayer,
    oCaptured,  // indexed 0..50
    lblHider,
    cmdReviewPictures,
    mnuZoom100,
    mnuZoom200,
    mnuZoomFit,
};

enum class Prop { Visible, Enabled, Value, Caption, ToolTip, Geometry, Checked };

class Control;

class ViewSink {
public:
    virtual ~ViewSink() = default;
    virtual void controlChanged(const Control& control, Prop prop) = 0;
};

class Control {
public:
    Control(Ctl id, int index = 0) : id_(id), index_(index) {}

    Ctl id() const { return id_; }
    int index() const { return index_; }
    void setSink(ViewSink* sink) { sink_ = sink; }

    bool visible() const { return visible_; }
    bool enabled() const { return enabled_; }
    double left() const { return left_; }
    double top() const { return top_; }
    double width() const { return width_; }
    double height() const { return height_; }
    const std::string& caption() const { return caption_; }
    const std::string& toolTip() const { return toolTip_; }
    // cmdPlay: 0 released, 1 pressed; SpeedScrollBar: 0..2;
    // cmdReview: the image shown (see ReviewPicture).
    int value() const { return value_; }
    bool checked() const { return checked_; }

    void setVisible(bool v) { change(visible_, v, Prop::Visible); }
    void setEnabled(bool v) { change(enabled_, v, Prop::Enabled); }
    void setLeft(double v) { change(left_, v, Prop::Geometry); }
    void setTop(double v) { change(top_, v, Prop::Geometry); }
    void setWidth(double v) { change(width_, v, Prop::Geometry); }
    void setHeight(double v) { change(height_, v, Prop::Geometry); }
    void setCaption(const std::string& v) { change(caption_, v, Prop::Caption); }
    void setToolTip(const std::string& v) { change(toolTip_, v, Prop::ToolTip); }
    void setValue(int v) { change(value_, v, Prop::Value); }
    void setChecked(bool v) { change(checked_, v, Prop::Checked); }

    // Sets the design-time state without notifying the view.
    void design(double l, double t, double w, double h, bool visible, bool enabled,
                std::string caption = {}) {
        left_ = l, top_ = t, width_ = w, height_ = h;
        visible_ = visible, enabled_ = enabled, caption_ = std::move(caption);
    }

private:
    template <typename T>
    void change(T& field, const T& v, Prop prop) {
        if (field == v) return;
        field = v;
        if (sink_) sink_->controlChanged(*this, prop);
    }

    Ctl id_;
    int index_;
    ViewSink* sink_ = nullptr;
    bool visible_ = true;
    bool enabled_ = true;
    double left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    std::string caption_;
    std::string toolTip_;
    int value_ = 0;
    bool checked_ = false;
};

// The three images of the review button, in the order cmdReviewPictures holds them.
enum ReviewPicture { kReviewIdle = 0, kReviewForward = 1, kReviewBack = 2 };

// Key codes as the keyboard handlers see them.
namespace key {
inline constexpr int F4 = 115;
inline constexpr int F5 = 116;
inline constexpr int F6 = 117;
inline constexpr int F7 = 118;
}  // namespace key

// Mouse buttons.
namespace mouse {
inline constexpr int Left = 1;
inline constexpr int Right = 2;
inline constexpr int Middle = 4;
}  // namespace mouse

}  // namespace velmora
