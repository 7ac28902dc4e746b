// What the window's COM 1..COM 4 tooltips say on Windows: which device that COM name is, or that it is
// absent and where the serial adapter is instead, with how to get it there.
#pragma once

#include <string>
#include <vector>

#include "serial/port_info.h"

// `number` is 1..4; `ports` the ports present, as listPorts() gives them.
std::string portTip(int number, const std::vector<PortInfo>& ports);
