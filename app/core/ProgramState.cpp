#include "app/core/ProgramState.h"

ProgramState& Program() {
    static ProgramState state;
    return state;
}

std::string DateRangeExpression(const std::string& begin, const std::string& end) {
    return "(DTOS(Date) >= \"" + begin + "\") .and. (DTOS(Date) <= \"" + end + "\")";
}
