#include "HandBack.h"

namespace handback {

void RunLaunchStage(WinApi&, ProgramState&) {}

}  // namespace handback
