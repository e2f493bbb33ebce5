#include "serial/Rfc2217Stream.h"

#include <algorithm>

namespace kestrune {

bool TComPortOutbox::Add(std::string_view Bytes)
{
    if (Bytes.size() > MaxPending - Pending().size())
        return false;
    FBytes.append(Bytes);
    return true;
}

void TComPortOutbox::Sent(std::size_t Count)
{
    FFirst += std::min(Count, FBytes.size() - FFirst);
    if (FFirst == FBytes.size()) {
        FBytes.clear();
        FFirst = 0;
    } else if (FFirst >= FBytes.size() - FFirst) {
        FBytes.erase(0, FFirst);
        FFirst = 0;
    }
}

std::string TComPortInput::Take(const char *Bytes, std::size_t Size, std::string &Data)
{
    FSubnegs.clear();
    FCodec.Decode(Bytes, Size, Data, FSubnegs);
    std::string owed = FCodec.TakeReplies();
    for (const TTelnetSubneg &subneg : FSubnegs)
        owed += FState.Take(subneg);
    return owed;
}

} // namespace kestrune
