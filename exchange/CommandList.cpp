#include "exchange/CommandList.h"

namespace kestrune {

std::optional<TCommandLine> NextCommand(TCommandFileReader &file)
{
    while (auto line = file.ReadLine()) {
        if (auto command = ParseCommandLine(*line))
            return command;
    }
    return std::nullopt;
}

} // namespace kestrune
