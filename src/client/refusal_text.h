#pragma once

#include "model/controller_settings.h"
#include "model/timer_value.h"

#include <optional>
#include <string>

// What veltractl and the Python module say when a value is refused. The
// panel's checks speak to an operator in front of its boxes ("Hours number
// must be less than 6! Please retype."); a script's user is told the valid
// range or choices and the value given instead ("delay hours must be 0 to 5,
// not 6"). The panel keeps its own texts: the client turns them into these
// where a refusal leaves it, here and nowhere else.
namespace veltra {

// The user's words for `panelText`, a refusal of the panel's checks (one of
// msg::...); `given` is the value as the caller gave it (a name, a count),
// left out when empty. Any other text is returned as it is.
std::string refusalText(const std::string& panelText, const std::string& given = {});

// The same for a refusal of `value`, the `timer` ("delay" or "exposure") being set.
std::string timerRefusalText(const std::string& panelText, const std::string& timer, const TimerValue& value);

// The first value of `s` the download's checks refuse, in those words, with
// the setting's value; none when all of them may go out.
std::optional<std::string> downloadRefusal(const ControllerSettings& s);

// A failure of the panel's .cfg loader for the file at `path`, in the user's
// words: a file that is not one (or is cut short) changed nothing. Any other
// text is returned as it is.
std::string configFileText(const std::string& panelText, const std::string& path);

}  // namespace veltra
