#include "commands.h"

#include "imgfilter.h"

const filter_command k_commands[] = {
    {"vignette", "darken towards the corners", param_kind::real, "--strength",
     "0 to 1 is the darkening at the corners (1 = black); above 1 up to 100 a percentage; above 100 acts as 100; "
     "negative fails",
     "0.5",
     "Multiplies each pixel's colour by 1 - r^2 * strength, r being the distance from the centre over the\n"
     "distance to a corner. Alpha is kept.",
     [](const char* in, const char* out, const param_value& v) { return imgfilter_vignette(in, out, v.real); }},
};

const std::size_t k_command_count = sizeof k_commands / sizeof k_commands[0];
