// QK42RT.dll as a host sees it: loaded with LoadLibrary, its twenty functions found by name
// and by ordinal.
#pragma once

#include <windows.h>

#include <string>

#include "qk42rt.h"

namespace qk42rt_wintest {

struct Functions {
    decltype(&QK42RT_InitPort) InitPort = nullptr;
    decltype(&QK42RT_ReadUnit) ReadUnit = nullptr;
    decltype(&QK42RT_SetUnit) SetUnit = nullptr;
    decltype(&QK42RT_ReadFlow) ReadFlow = nullptr;
    decltype(&QK42RT_ReadSetpoint) ReadSetpoint = nullptr;
    decltype(&QK42RT_ReadMaxflow) ReadMaxflow = nullptr;
    decltype(&QK42RT_ReadIntflow) ReadIntflow = nullptr;
    decltype(&QK42RT_ReadInttime) ReadInttime = nullptr;
    decltype(&QK42RT_IntControl) IntControl = nullptr;
    decltype(&QK42RT_ReadRatioTotal) ReadRatioTotal = nullptr;
    decltype(&QK42RT_SetRatioTotal) SetRatioTotal = nullptr;
    decltype(&QK42RT_ControlRatioTotal) ControlRatioTotal = nullptr;
    decltype(&QK42RT_ReadOnOff) ReadOnOff = nullptr;
    decltype(&QK42RT_SetOnOff) SetOnOff = nullptr;
    decltype(&QK42RT_SetSetpoint) SetSetpoint = nullptr;
    decltype(&QK42RT_SetMaxflow) SetMaxflow = nullptr;
    decltype(&QK42RT_ReadVersion) ReadVersion = nullptr;
    decltype(&QK42RT_SetDisplay) SetDisplay = nullptr;
    decltype(&QK42RT_ClosePort) ClosePort = nullptr;
    decltype(&QK42RT_SetKeyLock) SetKeyLock = nullptr;
};

// Loads the DLL and resolves every function by name and by ordinal. Prints one line per
// function that is missing or whose two addresses differ, and clears `all_resolved` then.
// Returns nullptr only when the DLL does not load.
HMODULE load_library(const std::string& path, Functions& out, bool& all_resolved);

}  // namespace qk42rt_wintest
