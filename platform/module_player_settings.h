// The render settings that the real-time player and the offline renderer both
// apply to a freshly loaded module, so that both produce the same sound:
// endless repetition, linear interpolation, normal volume ramping and the
// show's output gain. Platform code only (includes libopenmpt).
#pragma once

#include <libopenmpt/libopenmpt.h>

#include "platform/module_player.h"

namespace platform {

inline void applyShowSettings(openmpt_module* module) {
    openmpt_module_set_repeat_count(module, -1);
    openmpt_module_set_render_param(module, OPENMPT_MODULE_RENDER_INTERPOLATIONFILTER_LENGTH,
                                    PLAYER_INTERPOLATION);
    openmpt_module_set_render_param(module, OPENMPT_MODULE_RENDER_VOLUMERAMPING_STRENGTH,
                                    PLAYER_VOLUME_RAMPING);
    openmpt_module_set_render_param(module, OPENMPT_MODULE_RENDER_MASTERGAIN_MILLIBEL,
                                    PLAYER_GAIN_MILLIBEL);
}

} // namespace platform
