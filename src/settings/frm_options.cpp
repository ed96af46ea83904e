#include "settings/frm_options.h"

#include "base/convert.h"
#include "base/errors.h"

namespace velmora {

void FrmOptions::ensureLoaded() {
    if (loaded_) return;
    loaded_ = true;
    selected_ = 1;  // the designed choice, "0.1 sec"
    Form_Load();
}

bool FrmOptions::optionSelected(int index) {
    ensureLoaded();
    return selected_ == index;
}

void FrmOptions::selectOption(int index) {
    if (index < 0 || index >= static_cast<int>(kCaptions.size()))
        RAISE_ERROR("Control array element '" + std::to_string(index) + "' doesn't exist");
    selected_ = index;
}

void FrmOptions::Form_Load() {
    reportInMessageBox(desktop_, "frmOptions: ", [&] {
        const std::string s = settings_.GetConfigValue("FrameTime");
        if (!s.empty()) selectOption(toInt16(toDouble(s)));
    });
}

void FrmOptions::OKButton_Click() {
    reportInMessageBox(desktop_, "frmOptions: ", [&] {
        for (int i = 0; i < static_cast<int>(kCaptions.size()); ++i)
            if (selected_ == i) settings_.SetConfigValue("FrameTime", std::to_string(i));
    });
}

}  // namespace velmora
