// A player for builds without libmpv: nothing ever opens.
#pragma once

#include <QWidget>

#include "playback/player_port.h"

namespace velmora {

class NullPlayer : public QWidget, public PlayerPort {
public:
    explicit NullPlayer(QWidget* parent = nullptr) : QWidget(parent) {
        setAutoFillBackground(true);
        QPalette pal = palette();
        pal.setColor(QPalette::Window, Qt::black);
        setPalette(pal);
    }

    void setFileName(const std::string& /*path*/) override {
        error_ = "No player is available to open this file.";
    }
    std::string fileName() const override { return {}; }
    double currentPosition() const override { return 0; }
    void setCurrentPosition(double /*seconds*/) override {}
    std::string errorDescription() const override { return error_; }
    int playState() const override { return play_state::kNoMedia; }
    void setSlowSpeed(bool /*slow*/) override {}
    void play() override {}
    void pause() override {}
    int naturalWidth() const override { return 239; }
    int naturalHeight() const override { return 251; }

private:
    std::string error_;
};

}  // namespace velmora
