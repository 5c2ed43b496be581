// Checks a filter's parameter before any of the user's files is touched, by
// the library's own rules and in its own words: the filter runs once on a
// one-pixel image in a private temporary directory. The library checks
// parameters only after decoding an input, so without this a batch of twenty
// files would be decoded twenty times to print the same refusal twenty times.
#ifndef IMGFILTER_CLI_PARAMETER_CHECK_H
#define IMGFILTER_CLI_PARAMETER_CHECK_H

#include <string>

#include "commands.h"

// false with the library's message in *message when it refuses the value.
// true when it accepts it, and also when the trial could not be set up (no
// temporary directory): the real calls then report a refusal themselves.
bool parameter_accepted(const filter_command& command, const param_value& value, std::string* message);

#endif
